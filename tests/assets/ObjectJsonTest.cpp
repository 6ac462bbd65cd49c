#include "assets/ObjectJson.h"
#include "assets/AssetsParser.h"
#include "assets/FileTypeTrees.h"
#include "common/Error.h"
#include "support/AssetsBuilder.h"
#include "support/TypeTreeObjects.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <bit>
#include <functional>

using namespace kestrel;
using namespace kestrel::test;

namespace {

Reader ObjectReader(const std::vector<uint8_t>& bytes, Endian order) {
    return Reader(std::make_shared<MemorySource>("object", bytes), order);
}

std::string Json(const TypeTree& tree, const std::vector<uint8_t>& bytes, Endian order) {
    return ObjectToJson(tree, ObjectReader(bytes, order));
}

std::string ErrorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const KestrelError& e) {
        return e.what();
    }
    return "";
}

TEST(ObjectJson, BothByteOrdersGiveOneTextAndTheirOwnBytesBack) {
    const TypeTree tree(MonoBehaviourLikeTree());
    const std::vector<uint8_t> little = MonoBehaviourLikeBody({}, Endian::Little);
    const std::vector<uint8_t> big = MonoBehaviourLikeBody({}, Endian::Big);
    const std::string text = Json(tree, little, Endian::Little);
    EXPECT_EQ(Json(tree, big, Endian::Big), text);
    EXPECT_EQ(JsonToObject(tree, text, Endian::Little), little);
    EXPECT_EQ(JsonToObject(tree, text, Endian::Big), big);

    const auto doc = nlohmann::ordered_json::parse(text);
    EXPECT_EQ(doc.begin().key(), "m_GameObject"); // the tree's order
    EXPECT_EQ(doc["m_GameObject"],
              nlohmann::ordered_json::parse(R"({"m_FileID":0,"m_PathID":1234})"));
    EXPECT_EQ(doc["m_Script"]["m_PathID"], -5);
    EXPECT_EQ(doc["m_Entries"][1]["m_Localized"], "Bye");
    EXPECT_EQ(doc["m_Bytes"], "AQID");
    EXPECT_EQ(doc["m_Blob"], "CQgHBgU=");
    EXPECT_EQ(doc["m_Big"], INT64_MIN);
    EXPECT_EQ(doc["m_Huge"], UINT64_MAX);
    EXPECT_EQ(doc["m_Tiny"], -128);
    EXPECT_EQ(doc["m_Map"][0]["first"], "a");
    EXPECT_NE(text.find("\"m_Ratio\": 0.3333333333333333,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"m_Values\": [0.5, -1.25]"), std::string::npos) << text;
}

// A file written by the archive builder in big-endian: its type list read back, an object read by
// its tree, and written back from its JSON text.
TEST(ObjectJson, BuilderFileInBigEndian) {
    AssetsSpec plan;
    plan.formatVersion = 21;
    plan.bigEndian = true;
    plan.typeTrees = true;
    plan.engineVersion = "2019.4.1f1";
    std::vector<uint8_t> body = {0x12, 0x34, 0x56, 0x78};
    plan.objects.push_back({49, "hero", body});
    const auto source = std::make_shared<MemorySource>("big.assets", BuildAssetsFile(plan));
    const AssetsFile file = ParseAssets(source, 0, {});
    const FileTypeTrees trees = ReadFileTypeTrees(source, 0, file);
    const ObjectRow& row = file.items.rows.at(0);
    const TypeTree* tree = trees.TreeOf(file, row);
    ASSERT_NE(tree, nullptr);
    const Reader object =
        Reader(source, Endian::Big).Sub(file.DataOffset + row.ObjOffset, row.ObjSize, "object");
    const std::string text = ObjectToJson(*tree, object);
    EXPECT_EQ(nlohmann::json::parse(text),
              nlohmann::json::parse(R"({"m_Name":"hero","m_Width":305419896})"));
    std::vector<uint8_t> stored(row.ObjSize);
    Reader(object).Bytes(stored.data(), stored.size(), "object");
    EXPECT_EQ(JsonToObject(*tree, text, Endian::Big), stored);
}

TEST(ObjectJson, FloatsKeepTheirBits) {
    const std::vector<TypeTreeNode> nodes = {
        {0, -1, 0, "Floats", "Base"}, {1, 4, 0, "float", "f"}, {1, 8, 0, "double", "d"}};
    const TypeTree tree(nodes);
    struct Case {
        uint32_t f;
        uint64_t d;
        std::string fText;
        std::string dText;
    };
    const Case cases[] = {
        {0x00000000, 0x0000000000000000, "0.0", "0.0"},
        {0x80000000, 0x8000000000000000, "-0.0", "-0.0"},
        {0x3DCCCCCD, 0x3FB999999999999A, "0.1", "0.1"},
        {0x00000001, 0x0000000000000001, "1e-45", "5e-324"},
        {0x7F7FFFFF, 0x7FEFFFFFFFFFFFFF, "3.4028235e+38", "1.7976931348623157e+308"},
        {0x7F800000, 0xFFF0000000000000, "\"Infinity\"", "\"-Infinity\""},
        {0x7FC00000, 0x7FF8000000000000, "\"NaN\"", "\"NaN\""},
        {0x7FC00001, 0xFFF8000000000000, "\"NaN:0x7fc00001\"", "\"NaN:0xfff8000000000000\""},
        {0x4B000001, 0x4330000000000001, "8388609.0", "4503599627370497.0"},
    };
    for (const Case& c : cases) {
        Writer w;
        w.U32(c.f);
        w.U64(c.d);
        const std::string text = Json(tree, w.Data(), Endian::Little);
        EXPECT_EQ(text, "{\n  \"f\": " + c.fText + ",\n  \"d\": " + c.dText + "\n}\n");
        EXPECT_EQ(JsonToObject(tree, text, Endian::Little), w.Data()) << c.fText;
    }
}

TEST(ObjectJson, BadJsonNamesTheField) {
    const TypeTree tree(MonoBehaviourLikeTree());
    MonoBehaviourLike object;
    object.entries.assign(4, {"key", "value"});
    const std::string text = Json(tree, MonoBehaviourLikeBody(object), Endian::Little);
    using Doc = nlohmann::ordered_json;
    struct Case {
        const char* what;
        std::function<void(Doc&)> edit;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"missing field", [](Doc& d) { d["m_Entries"][3].erase("m_Localized"); },
         "JSON field m_Entries[3].m_Localized: missing"},
        {"unknown field", [](Doc& d) { d["m_Extra"] = 1; },
         "JSON field (root): unknown field \"m_Extra\""},
        {"string for a number", [](Doc& d) { d["m_Entries"][1]["m_Count"] = "7"; },
         "JSON field m_Entries[1].m_Count: an integer was expected, not string"},
        {"out of range", [](Doc& d) { d["m_Enabled"] = 300; },
         "JSON field m_Enabled: 300 is out of range for UInt8"},
        {"negative unsigned", [](Doc& d) { d["m_Mask"] = -1; },
         "JSON field m_Mask: -1 is out of range for UInt32"},
        {"fraction for an integer", [](Doc& d) { d["m_Short"] = 1.5; },
         "JSON field m_Short: an integer was expected, not number"},
        {"float out of range", [](Doc& d) { d["m_Values"][1] = 1e300; },
         "JSON field m_Values[1]: 1e+300 is out of range for float"},
        {"wrong element kind", [](Doc& d) { d["m_Values"] = Doc::array({"x"}); },
         "JSON field m_Values[0]: \"x\" is no number"},
        {"bool for a float", [](Doc& d) { d["m_Values"] = Doc::array({true}); },
         "JSON field m_Values[0]: a number was expected, not boolean"},
        {"object for a struct array", [](Doc& d) { d["m_Entries"] = Doc::object(); },
         "JSON field m_Entries: an array was expected, not object"},
        {"bad base64", [](Doc& d) { d["m_Blob"] = "AQI@"; }, "JSON field m_Blob: not base64"},
        {"bad byte-string base64",
         [](Doc& d) {
             d["m_Name"] = {{"$bytes", "A"}};
         },
         "JSON field m_Name: \"$bytes\" is not base64"},
        {"bad NaN", [](Doc& d) { d["m_Ratio"] = "NaN:0x1"; },
         "JSON field m_Ratio: \"NaN:0x1\" is no number"},
        {"string for a PPtr", [](Doc& d) { d["m_Script"] = "x"; },
         "JSON field m_Script: an object was expected, not string"},
    };
    for (const Case& c : cases) {
        Doc doc = Doc::parse(text);
        c.edit(doc);
        EXPECT_EQ(ErrorOf([&] { JsonToObject(tree, doc.dump(), Endian::Little); }), c.error)
            << c.what;
    }
    const std::string cut =
        ErrorOf([&] { JsonToObject(tree, text.substr(0, 200), Endian::Little); });
    EXPECT_TRUE(cut.starts_with("Not a JSON text: ")) << cut;
}

TEST(ObjectJson, CountsAreCheckedBeforeAnythingIsSized) {
    const TypeTree tree(MonoBehaviourLikeTree());
    std::vector<uint8_t> bytes = MonoBehaviourLikeBody({});
    bytes.resize(48); // cut inside m_Entries, whose count (at 40) becomes 2^31 + 2
    bytes[43] = 0x80;
    const std::string error = ErrorOf([&] { Json(tree, bytes, Endian::Little); });
    EXPECT_NE(error.find("unexpected end of data"), std::string::npos) << error;
    EXPECT_NE(error.find("(m_Entries)"), std::string::npos) << error;
    std::vector<uint8_t> longer = MonoBehaviourLikeBody({});
    longer.push_back(0);
    EXPECT_NE(ErrorOf([&] { Json(tree, longer, Endian::Little); }).find("bytes follow"),
              std::string::npos);
}

} // namespace

namespace {

void AddText(std::vector<TypeTreeNode>& n, uint8_t level, const char* name) {
    n.push_back({level, -1, 0x4000, "string", name});
    n.push_back({uint8_t(level + 1), -1, 0x4000, "Array", "Array"});
    n.push_back({uint8_t(level + 2), 4, 0, "int", "size"});
    n.push_back({uint8_t(level + 2), 1, 0, "char", "data"});
}

// A MonoBehaviour with a managed references registry: version 2 lists its objects in a vector
// with their IDs, version 1 runs them up to the terminator.
std::vector<TypeTreeNode> RegistryTree(bool version1) {
    std::vector<TypeTreeNode> n = {{0, -1, 0, "MonoBehaviour", "Base"},
                                   {1, 4, 0, "int", "m_Value"},
                                   {1, -1, 0x4000, "ManagedReferencesRegistry", "references"},
                                   {2, 4, 0, "int", "version"}};
    const uint8_t object = version1 ? 2 : 4;
    if (!version1) {
        n.push_back({2, -1, 0, "vector", "RefIds"});
        n.push_back({3, -1, 0x4000, "Array", "Array"});
        n.push_back({4, 4, 0, "int", "size"});
    }
    n.push_back({object, -1, 0, "ReferencedObject", version1 ? "00000000" : "data"});
    if (!version1) n.push_back({uint8_t(object + 1), 8, 0, "SInt64", "rid"});
    n.push_back({uint8_t(object + 1), -1, 0, "ReferencedManagedType", "type"});
    AddText(n, object + 2, "class");
    AddText(n, object + 2, "ns");
    AddText(n, object + 2, "asm");
    n.push_back({uint8_t(object + 1), 0, 0, "ReferencedObjectData", "data"});
    return n;
}

void Text(Writer& w, const std::string& s) {
    w.U32(static_cast<uint32_t>(s.size()));
    w.Bytes(s);
    w.Align4();
}

TEST(ObjectJson, ManagedReferencesThroughTheFilesReferenceTypes) {
    std::vector<ReferenceType> types(1);
    std::vector<TypeTreeNode> item = {{0, -1, 0, "Item", "Base"}};
    AddText(item, 1, "m_Text");
    item.push_back({1, 4, 0, "int", "m_Count"});
    types[0].className = "Item";
    types[0].nameSpace = "Game";
    types[0].assembly = "Assembly-CSharp";
    types[0].tree = TypeTree(item);
    const FieldContext context{types};
    for (const bool version1 : {false, true}) {
        const TypeTree tree(RegistryTree(version1));
        Writer w(Endian::Big);
        w.I32(7);
        w.I32(version1 ? 1 : 2);
        if (!version1) w.I32(2);
        const auto object = [&](int64_t rid, const char* cls, const char* ns, const char* as) {
            if (!version1) w.U64(static_cast<uint64_t>(rid));
            Text(w, cls);
            Text(w, ns);
            Text(w, as);
        };
        object(1, "Item", "Game", "Assembly-CSharp");
        Text(w, "Привет");
        w.I32(3);
        if (version1) {
            object(0, "Terminus", "UnityEngine.DMAT", "FAKE_ASM");
        } else {
            object(-2, "", "", ""); // a null reference: no data
        }
        const std::string text = ObjectToJson(tree, ObjectReader(w.Data(), Endian::Big), context);
        const auto doc = nlohmann::json::parse(text);
        const auto& objects = doc["references"][version1 ? "00000000" : "RefIds"];
        ASSERT_EQ(objects.size(), 2u) << text;
        EXPECT_EQ(objects[0]["data"]["m_Text"], "Привет");
        EXPECT_EQ(objects[0]["data"]["m_Count"], 3);
        EXPECT_TRUE(objects[1]["data"].is_null());
        EXPECT_EQ(JsonToObject(tree, text, Endian::Big, context), w.Data());
        EXPECT_NE(ErrorOf([&] {
                      ObjectToJson(tree, ObjectReader(w.Data(), Endian::Big));
                  }).find("no reference type of the file is Game.Item (Assembly-CSharp)"),
                  std::string::npos);
    }
}

} // namespace
