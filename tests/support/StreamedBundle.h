#pragma once
// A bundle as engines from 2019.4 write it: LZ4HC data in one block holding three nodes, the
// block info LZ4-compressed at the start (flags 0x43). Its first assets file holds a DXT5 texture
// whose pixels stream from the bundle's own ".resS" entry; a second assets file holds text.
#include <filesystem>

namespace kestrel::test {

inline constexpr const char* kStreamedOwner = "CAB-main";
inline constexpr const char* kStreamedSecond = "CAB-second";

// Writes the bundle to `path`.
void WriteStreamedTextureBundle(const std::filesystem::path& path);

} // namespace kestrel::test
