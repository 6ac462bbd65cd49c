#pragma once
// The picture codecs of the mobile texture formats (PVRTC, ETC, ETC2, EAC, ATC, ASTC), one row a
// engine texture format number.
#include "image/DecodedImage.h"

#include <cstdint>

namespace kestrel::image {

struct MobileFormatCodec {
    int32_t format = 0; // engine TextureFormat number
    const char* name = "";
    ChannelSet channels = ChannelSet::kRgba;
    LevelDecoder decoder = nullptr;     // 8-bit RGBA, or float RGBA for HDR formats
    LevelEncoder encoder = nullptr;     // nullptr: the format is not written
    LevelDecoder wideDecoder = nullptr; // 16-bit RGBA keeping every stored value (EAC), or nullptr
    uint8_t blockWidth = 4;
    uint8_t blockHeight = 4;
    uint8_t blockBytes = 8;
    uint8_t minBlocks = 1; // blocks along each side at least (PVRTC pads small levels to 2 x 2)
    bool hdr = false;
};

// The codec of a texture format, or nullptr when it is not a mobile format.
const MobileFormatCodec* FindMobileCodec(int32_t format);

// Bytes of one width x height level of the format.
uint64_t MobileLevelBytes(const MobileFormatCodec& codec, uint32_t width, uint32_t height);

} // namespace kestrel::image
