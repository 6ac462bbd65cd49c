// Feeds arbitrary bytes to every mobile texture decoder: the first byte picks the format, the
// next two the level's width and height; the rest is the level's data. Any input must decode or
// end in a KestrelError, never in a crash, a hang or an out-of-bounds access.
#include "common/Error.h"
#include "image/MobileCodecs.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace {

constexpr std::array<int32_t, 34> kFormats{30, 31, 32, 33, 34, 35, 36, 41, 42, 43, 44, 45,
                                           46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57,
                                           58, 59, 60, 61, 66, 67, 68, 69, 70, 71};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const std::span<const uint8_t> bytes(data, size);
    const auto* codec = kestrel::image::FindMobileCodec(kFormats[bytes[0] % kFormats.size()]);
    const uint32_t width = bytes[1] % 64;
    const uint32_t height = bytes[2] % 64;
    std::span<const uint8_t> level = bytes.subspan(3);
    // Mostly whole levels, so that the block decoding itself is reached.
    const uint64_t expected = kestrel::image::MobileLevelBytes(*codec, width, height);
    if (level.size() > expected) level = level.first(expected);
    kestrel::image::ImagePlane plane;
    try {
        codec->decoder(level, width, height, plane);
        if (codec->wideDecoder != nullptr) codec->wideDecoder(level, width, height, plane);
    } catch (const kestrel::KestrelError&) {
    }
    return 0;
}
