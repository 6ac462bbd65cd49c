#include "assets/AssetsParser.h"

#include "common/Error.h"
#include "io/Reader.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace kestrel {

namespace {

// The fixed part of every assets header: metadata size, file size, format version, data offset.
constexpr uint64_t kFixedHeaderSize = 16;

// The engine generation that wrote a format whose header carries no usable version text.
int32_t FallbackEngineMajor(int32_t formatVersion) {
    switch (formatVersion) {
    case 5:
    case 6:
        return 2;
    case 7:
    case 8:
        return 3;
    case 9:
    case 14:
        return 4;
    case 15:
        return 5;
    default:
        return 0;
    }
}

bool ReadWideSizes(Reader& r, uint64_t assetsBase, AssetsFile& out) {
    if (!r.Fits(28)) return false;
    out.metadataSizeField = {r.Pos(), 4};
    r.Skip(4, "metadata size");
    out.fileSizeField = {r.Pos(), 8};
    out.fileSize = r.U64BE("file size");
    out.dataOffsetField = {r.Pos(), 8};
    const uint64_t dataOffset = r.U64BE("data offset");
    r.Skip(8, "reserved header bytes");
    if (dataOffset > r.End() - assetsBase) return false;
    out.headerFileSize = static_cast<uint32_t>(std::min<uint64_t>(out.fileSize, UINT32_MAX));
    out.DataOffset = assetsBase + dataOffset;
    return true;
}

// Formats 5 to 8 keep their metadata at the end of the file: it starts at file size minus
// metadata size with the endianness byte, then the engine version text (format 7 on) and the
// target platform (format 8 on). Data whose sizes do not place such a block inside it is no
// assets file.
bool ReadTrailingHeader(Reader& r, uint64_t assetsBase, uint32_t metadataSize, AssetsFile& out) {
    const uint64_t innerSize = r.End() - assetsBase;
    const uint64_t fileSize = out.headerFileSize;
    if (fileSize > innerSize || fileSize <= kFixedHeaderSize || metadataSize == 0 ||
        metadataSize > fileSize - kFixedHeaderSize)
        return false;
    const uint64_t metadataStart = assetsBase + fileSize - metadataSize;
    r.Seek(metadataStart, "metadata");
    const uint8_t endianness = r.U8("endianness");
    if (endianness > 1) return false;
    out.header.BigEndianFlag = endianness;
    out.metadataStart = metadataStart;
    r.SetOrder(out.header.DataOrder());
    const int32_t format = out.header.formatVersion;
    if (format >= 7) out.header.engineVersion = r.CString(64, "engine version");
    if (format >= 8) out.header.targetPlatform = r.U32("target platform");
    return true;
}

} // namespace

int32_t EngineMajorVersionOf(const std::string& engineVersion, int32_t formatVersion) {
    const size_t dot = engineVersion.find('.');
    if (dot != std::string::npos && dot != 0) {
        const char* first = engineVersion.data();
        const char* last = first + dot;
        if (*first == '+') ++first;
        int32_t major = 0;
        const auto [end, ec] = std::from_chars(first, last, major);
        if (ec == std::errc() && end == last && first != last) return major;
    }
    return FallbackEngineMajor(formatVersion);
}

RowLayout RowLayoutFor(int32_t formatVersion) {
    if (formatVersion <= 9) return {5, 1, 2, 3, 4};
    if (formatVersion == 14) return {6, 2, 3, 4, 5};
    if (formatVersion == 15) return {7, 2, 3, 4, 5};
    // Formats 10 to 13 were short-lived pre-release layouts (32-bit path IDs, a different type
    // record); no table is read for them, as for the formats after 15.
    return {};
}

bool ObjectTableIsRead(int32_t formatVersion) {
    if (formatVersion >= 16) return formatVersion <= 22;
    return formatVersion >= 5 && RowLayoutFor(formatVersion).wordCount != 0;
}

void ReadAssetsHeader(const std::shared_ptr<const ByteSource>& work, uint64_t assetsBase,
                      AssetsFile& out) {
    out = AssetsFile{};
    Reader r(work);
    if (assetsBase > r.End() || r.End() - assetsBase < kFixedHeaderSize + 4) return;
    r.Seek(assetsBase, "assets header");
    const uint32_t metadataSize = r.U32BE("metadata size");
    out.headerFileSize = r.U32BE("file size");
    out.header.formatVersion = static_cast<int32_t>(r.U32BE("format version"));
    out.DataOffset = assetsBase + r.U32BE("data offset");
    const int32_t format = out.header.formatVersion;
    out.fileSize = out.headerFileSize;
    out.metadataSizeField = {assetsBase, 4};
    out.fileSizeField = {assetsBase + 4, 4};
    out.dataOffsetField = {assetsBase + 12, 4};
    if (format >= 5 && format <= 8) {
        bool read = false;
        try {
            read = ReadTrailingHeader(r, assetsBase, metadataSize, out);
        } catch (const KestrelError&) {
            // A version text without its end: a resource file whose words look like a header.
        }
        if (!read) {
            out.header = Unity_Structure{};
            out.header.formatVersion = format;
            out.metadataStart = 0;
            return;
        }
        out.header.afterPlatformPos = r.Pos();
        out.header.EngineMajorVersion = EngineMajorVersionOf(out.header.engineVersion, format);
        out.layout = RowLayoutFor(format);
        return;
    }
    // The endianness byte and three reserved zero bytes, taken as one little-endian word.
    out.header.BigEndianFlag = r.U32LE("endianness");
    // Format 22 repeats the sizes after the endianness word with 64-bit file size and data offset
    // (still big-endian), then 8 reserved bytes. Data that does not hold them is no assets file.
    if (format >= 22 && !ReadWideSizes(r, assetsBase, out)) return;
    r.SetOrder(out.header.DataOrder());
    try {
        out.header.engineVersion = r.CString(16, "engine version");
        out.header.targetPlatform = r.U32("target platform");
    } catch (const KestrelError&) {
        // Too short for an assets header: a small resource file, listed as one item.
        out.header.engineVersion.clear();
        return;
    }
    out.header.afterPlatformPos = r.Pos();
    out.header.EngineMajorVersion = EngineMajorVersionOf(out.header.engineVersion, format);
    out.layout = RowLayoutFor(format);
}

} // namespace kestrel
