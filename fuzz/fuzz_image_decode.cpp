// Random bytes and sizes into every desktop format decoder, and the decoded planes back through
// the encoders of the cheap formats: nothing may crash or read out of bounds, and a level of the
// wrong size must be refused with a KestrelError.
#include "common/Error.h"
#include "image/DesktopCodecs.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    constexpr int32_t kFormats[] = {1,  2,  3,  4,  5,  7,  9,  10, 11, 12, 13, 14, 15,
                                    16, 17, 18, 19, 20, 22, 24, 25, 26, 27, 62, 63};
    const auto* codec = kestrel::image::FindDesktopCodec(kFormats[data[0] % std::size(kFormats)]);
    const uint32_t width = 1 + data[1] % 64, height = 1 + data[2] % 64;
    const bool exact = (data[3] & 1) != 0; // else the rest as it is, usually the wrong size
    std::vector<uint8_t> level(data + 4, data + size);
    const uint64_t expected = kestrel::image::LevelByteSize(*codec, width, height);
    if (exact) level.resize(expected, 0x5A);
    try {
        kestrel::image::ImagePlane plane;
        codec->decode(level, width, height, plane);
        if (plane.width != width || plane.height != height) __builtin_trap();
        if (codec->blockBytes == 0 || codec->format == 10 || codec->format == 25) {
            std::vector<uint8_t> again(expected);
            codec->encode(plane, again);
        }
    } catch (const kestrel::KestrelError&) {
        if (level.size() == expected) __builtin_trap(); // a level of the right size must decode
    }
    return 0;
}
