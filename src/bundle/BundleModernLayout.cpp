// The UnityFS layout of the engines from 2019.4 on. Against format 6 as Unity 5 wrote it: the
// header is padded with zeros to a multiple of 16 before the block info (always in formats 7 and
// 8, and in format 6 when the padding is there), the flags are bits rather than a byte count
// (0x3F compression of the block info, 0x80 block info at the end of the file), and bit 0x200
// means either that the data blocks start on a multiple of 16 or, in engines before 2020.3.34,
// 2021.3.2 and 2022.1.1, that the bundle is encrypted.
#include "bundle/BundleDetail.h"
#include "codec/Codecs.h"
#include "common/Error.h"
#include "io/ByteStreams.h"

#include <charconv>

namespace kestrel::bundle_detail {

namespace {

constexpr uint32_t kCompressionMask = 0x3F;
constexpr uint32_t kInfoAtEndBit = 0x80;
constexpr uint32_t kPaddingOrOldEncryptionBit = 0x200;
constexpr uint32_t kNewEncryptionBit = 0x400;
constexpr uint8_t kUncompressedFlag = 0x40;

struct EngineNumbers {
    int year = 0;
    int minor = 0;
    int patch = 0;
    bool valid = false;
};

// "2020.3.33f1" gives 2020, 3, 33; a text that does not start with three numbers is not valid.
EngineNumbers ParseEngineVersion(const std::string& text) {
    EngineNumbers v;
    const char* p = text.data();
    const char* end = p + text.size();
    int* parts[3] = {&v.year, &v.minor, &v.patch};
    for (int i = 0; i < 3; ++i) {
        const auto [next, ec] = std::from_chars(p, end, *parts[i]);
        if (ec != std::errc() || next == p) return v;
        p = next;
        if (i < 2) {
            if (p == end || *p != '.') return v;
            ++p;
        }
    }
    v.valid = true;
    return v;
}

bool AtLeast(const EngineNumbers& v, int year, int minor, int patch) {
    if (v.year != year) return v.year > year;
    if (v.minor != minor) return v.minor > minor;
    return v.patch >= patch;
}

// Bit 0x200 pads the blocks from 2020.3.34, 2021.3.2 and 2022.1.1 on (and in every later
// engine); before, it marked encryption. An engine version that cannot be read (stripped
// bundles) is taken as a current engine.
bool BitMeansPadding(const EngineNumbers& v) {
    if (!v.valid) return true;
    switch (v.year) {
    case 2020:
        return AtLeast(v, 2020, 3, 34);
    case 2021:
        return AtLeast(v, 2021, 3, 2);
    case 2022:
        return AtLeast(v, 2022, 1, 1);
    default:
        return v.year > 2022;
    }
}

std::string Hex(uint32_t value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    return "0x" + std::string(digits, end);
}

} // namespace

bool UsesModernLayout(uint32_t formatVersion, const std::string& engineVersion) {
    if (formatVersion >= 7) return true;
    const EngineNumbers v = ParseEngineVersion(engineVersion);
    return formatVersion == 6 && v.valid && AtLeast(v, 2019, 4, 0);
}

void ReadModernFlags(Reader& r, BundleStructure& b) {
    const uint64_t flagsPos = r.Pos() - 4;
    const EngineNumbers v = ParseEngineVersion(b.EngineVersion);
    const bool padding = BitMeansPadding(v);
    const uint32_t encryptionBit = padding ? kNewEncryptionBit : kPaddingOrOldEncryptionBit;
    if ((b.flagsWord & encryptionBit) != 0) {
        Damaged(r.Name(), flagsPos,
                "the bundle is encrypted (header flags " + Hex(b.flagsWord) + ", engine " +
                    b.EngineVersion + "); encrypted bundles cannot be opened");
    }
    b.blocksPadded = padding && (b.flagsWord & kPaddingOrOldEncryptionBit) != 0;

    const uint64_t aligned = AlignUp16(r.Pos());
    if (b.FormatVersion >= 7) {
        r.Seek(aligned, "header padding");
        return;
    }
    // Format 6 of these engines pads too, with zero bytes; other bytes are the block info.
    uint8_t pad[16] = {};
    const uint64_t count = aligned - r.Pos();
    if (r.Fits(count)) {
        const uint64_t at = r.Pos();
        r.Bytes(pad, count, "header padding");
        for (uint64_t i = 0; i < count; ++i) {
            if (pad[i] != 0) {
                r.Seek(at);
                return;
            }
        }
    }
}

std::vector<uint8_t> ModernBlockInfoImage(Reader& r, BundleStructure& b) {
    auto& fs = b.FS;
    const uint32_t compression = b.flagsWord & kCompressionMask;
    b.blockInfoAtEnd = (b.flagsWord & kInfoAtEndBit) != 0;
    const uint64_t packedSize = BlockBytesInArchive(fs.CompressedBlockInfoSize);
    if (packedSize > r.End() - std::min(b.headerEnd, r.End())) {
        Damaged(r.Name(), b.afterVersionsPos + 8, "block info larger than the file");
    }
    b.blockInfoPos = b.blockInfoAtEnd ? r.End() - packedSize : b.headerEnd;

    r.Seek(0);
    std::vector<uint8_t> image = r.Bytes(b.headerEnd, "header");
    Reader info = r.Sub(b.blockInfoPos, packedSize, "block info");
    try {
        if (compression == 0) {
            const std::vector<uint8_t> stored = info.Bytes(packedSize, "block info");
            image.insert(image.end(), stored.begin(), stored.end());
        } else if (compression == 2 || compression == 3) {
            const std::vector<uint8_t> packed = info.Bytes(packedSize, "compressed block info");
            LZ4DecodeBlock(packed, fs.CompressedBlockInfoSize, fs.UncompressedBlockInfoSize, image);
        } else if (compression == 1) {
            SourceInput in(r.Source(), b.blockInfoPos, b.blockInfoPos + packedSize);
            VectorOutput sink(image);
            LZMADecodeStream(in, sink, fs.UncompressedBlockInfoSize);
        } else {
            Damaged(r.Name(), b.afterVersionsPos + 16,
                    "block info compression " + std::to_string(compression) + " is unknown");
        }
    } catch (const KestrelError& e) {
        if (compression == 0 || compression > 3) throw;
        Damaged(r.Name(), b.blockInfoPos, e.what());
    }
    b.blockInfoRewritten = compression != 0 || b.blockInfoAtEnd;
    if (b.blockInfoRewritten) {
        // The working copy holds the block info stored after the header.
        b.savedFlags[3] = kUncompressedFlag;
        if (b.blockInfoAtEnd) fs.Flags[3] = kUncompressedFlag;
    }
    b.blocksStart = b.blockInfoAtEnd ? b.headerEnd : b.headerEnd + packedSize;
    if (b.blocksPadded) b.blocksStart = AlignUp16(b.blocksStart);
    return image;
}

} // namespace kestrel::bundle_detail
