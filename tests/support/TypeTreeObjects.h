#pragma once
#include "assets/AssetsTypes.h"
#include "io/ByteOrder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

// The nodes of a MonoBehaviour-like type tree with a field of every kind the engines write:
//   PPtr<GameObject> m_GameObject, UInt8 m_Enabled (aligned), PPtr<MonoScript> m_Script,
//   string m_Name, vector m_Entries of {string m_Key, string m_Localized, int m_Count,
//   float m_Weight, bool m_Flag (aligned)}, vector m_Bytes of UInt8, vector m_Values of float,
//   map m_Map of pair<string, int>, double m_Ratio, SInt64 m_Big, UInt16 m_Small (aligned),
//   SInt8 m_Tiny, char m_Letter, UInt32 m_Mask, unsigned long long m_Huge, short m_Short
//   (aligned), TypelessData m_Blob.
std::vector<TypeTreeNode> MonoBehaviourLikeTree();

// What a MonoBehaviour-like object holds; `entries` sets the length of m_Entries.
struct MonoBehaviourLike {
    std::string name = "Dialogue";
    std::vector<std::pair<std::string, std::string>> entries = {{"greeting", "Hello"},
                                                                {"farewell", "Bye"}};
    std::vector<uint8_t> bytes = {1, 2, 3};
    std::vector<float> values = {0.5f, -1.25f};
    std::vector<std::pair<std::string, int32_t>> map = {{"a", 1}};
    std::vector<uint8_t> blob = {9, 8, 7, 6, 5};
};

// The object's bytes by MonoBehaviourLikeTree, in the given byte order.
std::vector<uint8_t> MonoBehaviourLikeBody(const MonoBehaviourLike& object,
                                           Endian order = Endian::Little);

} // namespace kestrel::test
