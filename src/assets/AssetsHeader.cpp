#include "assets/AssetsParser.h"

#include "container/Reader.h"

#include <charconv>

namespace kestrel {

namespace {

// The fixed part of every assets header: metadata size, file size, format version, data offset.
constexpr uint64_t kFixedHeaderSize = 16;

// Formats 5 to 8 keep their metadata (endianness byte, engine version, platform, types, object
// table) at the end of the file: at fileSize - metadataSize from the start of the assets file.
constexpr int32_t kFirstTrailingMetadataFormat = 5;
constexpr int32_t kFirstLeadingMetadataFormat = 9;

// The engine generation that wrote a format whose header carries no usable version text.
int32_t FallbackEngineMajor(int32_t formatVersion) {
    switch (formatVersion) {
    case 5:
    case 6:
        return 2; // these formats carry no version text at all
    case 9:
    case 14:
        return 4;
    case 15:
        return 5;
    default:
        return 0;
    }
}

// Reads the endianness byte, engine version and platform of a format 5 to 8 file, whose metadata
// sits at the end. False when the header's sizes do not place it inside the data, which means
// the data is no assets file of these formats.
bool ReadTrailingMetadataHeader(Reader& r, uint64_t assetsBase, uint32_t metadataSize,
                                AssetsFile& out) {
    const uint64_t fileSize = out.headerFileSize;
    if (metadataSize == 0 || metadataSize > fileSize || assetsBase + fileSize > r.End()) {
        return false;
    }
    r.Seek(assetsBase + fileSize - metadataSize, "metadata");
    out.header.BigEndianFlag = r.U8("endianness");
    r.SetOrder(out.header.BigEndianFlag == 1 ? Endian::Big : Endian::Little);
    if (out.header.formatVersion >= 7) out.header.engineVersion = r.CString(16, "engine version");
    if (out.header.formatVersion >= 8) out.header.targetPlatform = r.U32("target platform");
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
    if (formatVersion >= kFirstTrailingMetadataFormat && formatVersion <= 9) return {5, 1, 2, 3, 4};
    if (formatVersion == 14) return {6, 2, 3, 4, 5};
    if (formatVersion == 15) return {7, 2, 3, 4, 5};
    // Formats 10 to 13 were short-lived pre-release layouts (32-bit path IDs, a different type
    // record); no table is read for them, as for the formats after 15.
    return {};
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

    if (format >= kFirstTrailingMetadataFormat && format < kFirstLeadingMetadataFormat) {
        if (!ReadTrailingMetadataHeader(r, assetsBase, metadataSize, out)) return;
    } else {
        // The endianness byte and three reserved zero bytes, taken as one little-endian word.
        out.header.BigEndianFlag = r.U32LE("endianness");
        r.SetOrder(out.header.BigEndianFlag == 1 ? Endian::Big : Endian::Little);
        out.header.engineVersion = r.CString(16, "engine version");
        out.header.targetPlatform = r.U32("target platform");
    }
    out.header.afterPlatformPos = r.Pos();
    out.header.EngineMajorVersion = EngineMajorVersionOf(out.header.engineVersion, format);
    out.layout = RowLayoutFor(format);
}

} // namespace kestrel
