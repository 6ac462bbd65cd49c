#pragma once
// Shared by the bundle reader's source files; not part of the container's interface.
#include "bundle/BundleReader.h"
#include "io/Reader.h"
#include "io/Writer.h"

#include <cstdint>
#include <string>

namespace kestrel::bundle_detail {

// Raises a KestrelError in the shape every reader error has: file, offset, what went wrong.
[[noreturn]] void Damaged(const std::string& file, uint64_t offset, const std::string& what);

// Creates the working copy through the options of `info` (see ContainerOptions), sets
// info.workFileName and info.madeWorkCopy. declaredSize: the copy's size as the archive declares
// it, UINT64_MAX when unknown.
std::unique_ptr<OutputFile> CreateWorkCopy(ContainerInfo& info, uint64_t declaredSize);

// Tells the options' progress callback how much of the copy is written.
void ReportCopyProgress(const ContainerInfo& info, uint64_t done, uint64_t total);

// Writes a big-endian 32-bit or 64-bit value at pos of an output file.
void PutU32BE(OutputFile& out, uint64_t pos, uint32_t value);
void PutU64BE(OutputFile& out, uint64_t pos, uint64_t value);

// Copies [pos, pos + size) of the source to the end of the output file, streaming.
void CopyRange(const std::shared_ptr<const ByteSource>& source, uint64_t pos, uint64_t size,
               OutputFile& out);

// Raises unless every entry lies inside [dataStart, dataEnd) of the working file.
void CheckEntriesInside(const BundleStructure& bundle, uint64_t dataEnd, const std::string& file);

// UnityRaw / UnityWeb (formats 1 to 3) from the position after the format version: header, level
// pairs, LZMA decompression into the ".TEMP" copy when compressed, entry list.
void ReadRawWeb(Reader& r, ContainerInfo& info, BundleStructure& bundle);

// Inner file names are read whole up to this many bytes: the engine sets no limit of its own, and
// the paths made from them are cut to the file system's name limit where they are made.
constexpr uint64_t kMaxInnerNameLength = 64 * 1024;

constexpr uint64_t AlignUp16(uint64_t n) {
    return (n + 15) & ~uint64_t{15};
}

// True for the UnityFS layout of the engines from 2019.4 on: formats 7 and 8, and format 6 when
// the engine version in the header is 2019.4 or later.
bool UsesModernLayout(uint32_t formatVersion, const std::string& engineVersion);

// After the flags of a modern UnityFS header: refuses encrypted bundles, decides what bit 0x200
// means (bundle.blocksPadded) and steps over the zero padding up to a multiple of 16.
void ReadModernFlags(Reader& r, BundleStructure& bundle);

// The header bytes followed by the uncompressed block info of a modern UnityFS bundle (block
// info at the start or the end, stored, LZ4 or LZMA); sets blocksStart, blockInfoPos,
// blockInfoAtEnd and blockInfoRewritten.
std::vector<uint8_t> ModernBlockInfoImage(Reader& r, BundleStructure& bundle);

// Format 6 (UnityFS) from the position after the format version: header, block info, block
// decompression into the ".TEMP" copy when anything is compressed, node list.
void ReadFormat6(Reader& r, ContainerInfo& info, BundleStructure& bundle);

} // namespace kestrel::bundle_detail
