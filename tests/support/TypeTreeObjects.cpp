#include "support/TypeTreeObjects.h"

#include "io/Writer.h"

namespace kestrel::test {

namespace {

constexpr uint32_t kAlign = 0x4000;

void AddString(std::vector<TypeTreeNode>& nodes, uint8_t level, const char* name) {
    nodes.push_back({level, -1, 0, "string", name});
    nodes.push_back({uint8_t(level + 1), -1, kAlign, "Array", "Array"});
    nodes.push_back({uint8_t(level + 2), 4, 0, "int", "size"});
    nodes.push_back({uint8_t(level + 2), 1, 0, "char", "data"});
}

void AddPPtr(std::vector<TypeTreeNode>& nodes, const char* type, const char* name) {
    nodes.push_back({1, 12, 0, type, name});
    nodes.push_back({2, 4, 0, "int", "m_FileID"});
    nodes.push_back({2, 8, 0, "SInt64", "m_PathID"});
}

void AddVector(std::vector<TypeTreeNode>& nodes, const char* name, uint32_t flags) {
    nodes.push_back({1, -1, 0, "vector", name});
    nodes.push_back({2, -1, flags, "Array", "Array"});
    nodes.push_back({3, 4, 0, "int", "size"});
}

void String(Writer& w, const std::string& s) {
    w.U32(static_cast<uint32_t>(s.size()));
    w.Bytes(s);
    w.Align4();
}

void PPtr(Writer& w, int32_t file, int64_t path) {
    w.I32(file);
    w.U64(static_cast<uint64_t>(path));
}

} // namespace

std::vector<TypeTreeNode> MonoBehaviourLikeTree() {
    std::vector<TypeTreeNode> n;
    n.push_back({0, -1, 0, "MonoBehaviour", "Base"});
    AddPPtr(n, "PPtr<GameObject>", "m_GameObject");
    n.push_back({1, 1, kAlign, "UInt8", "m_Enabled"});
    AddPPtr(n, "PPtr<MonoScript>", "m_Script");
    AddString(n, 1, "m_Name");
    AddVector(n, "m_Entries", 0);
    n.push_back({3, -1, 0, "LocalizedEntry", "data"});
    AddString(n, 4, "m_Key");
    AddString(n, 4, "m_Localized");
    n.push_back({4, 4, 0, "int", "m_Count"});
    n.push_back({4, 4, 0, "float", "m_Weight"});
    n.push_back({4, 1, kAlign, "bool", "m_Flag"});
    AddVector(n, "m_Bytes", kAlign);
    n.push_back({3, 1, 0, "UInt8", "data"});
    AddVector(n, "m_Values", 0);
    n.push_back({3, 4, 0, "float", "data"});
    n.push_back({1, -1, 0, "map", "m_Map"});
    n.push_back({2, -1, 0, "Array", "Array"});
    n.push_back({3, 4, 0, "int", "size"});
    n.push_back({3, -1, 0, "pair", "data"});
    AddString(n, 4, "first");
    n.push_back({4, 4, 0, "int", "second"});
    n.push_back({1, 8, 0, "double", "m_Ratio"});
    n.push_back({1, 8, 0, "SInt64", "m_Big"});
    n.push_back({1, 2, kAlign, "UInt16", "m_Small"});
    n.push_back({1, 1, 0, "SInt8", "m_Tiny"});
    n.push_back({1, 1, 0, "char", "m_Letter"});
    n.push_back({1, 4, kAlign, "UInt32", "m_Mask"});
    n.push_back({1, 8, 0, "unsigned long long", "m_Huge"});
    n.push_back({1, 2, kAlign, "short", "m_Short"});
    n.push_back({1, -1, 0, "TypelessData", "m_Blob"});
    n.push_back({2, 4, 0, "int", "size"});
    n.push_back({2, 1, 0, "UInt8", "data"});
    return n;
}

std::vector<uint8_t> MonoBehaviourLikeBody(const MonoBehaviourLike& object, Endian order) {
    Writer w(order);
    PPtr(w, 0, 1234);
    w.U8(1);
    w.Align4();
    PPtr(w, 1, -5);
    String(w, object.name);
    w.U32(static_cast<uint32_t>(object.entries.size()));
    for (size_t i = 0; i < object.entries.size(); ++i) {
        String(w, object.entries[i].first);
        String(w, object.entries[i].second);
        w.I32(static_cast<int32_t>(i) * 7 - 3);
        w.F32(0.1f * static_cast<float>(i));
        w.U8(i % 2);
        w.Align4();
    }
    w.U32(static_cast<uint32_t>(object.bytes.size()));
    w.Bytes(object.bytes.data(), object.bytes.size());
    w.Align4();
    w.U32(static_cast<uint32_t>(object.values.size()));
    for (const float v : object.values)
        w.F32(v);
    w.U32(static_cast<uint32_t>(object.map.size()));
    for (const auto& [key, value] : object.map) {
        String(w, key);
        w.I32(value);
    }
    w.U64(0x3FD5555555555555ull); // 1/3
    w.U64(0x8000000000000000ull); // the least SInt64
    w.U16(65535);
    w.Align4();
    w.U8(0x80); // -128
    w.U8('K');
    w.U32(0xDEADBEEF);
    w.Align4();
    w.U64(~uint64_t{0});
    w.U16(static_cast<uint16_t>(-2));
    w.Align4();
    w.U32(static_cast<uint32_t>(object.blob.size()));
    w.Bytes(object.blob.data(), object.blob.size());
    return w.Take();
}

} // namespace kestrel::test
