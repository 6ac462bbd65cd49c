#pragma once
// The engine texture formats of desktop platforms that Kestrel decodes to pictures and encodes
// back: one row each, looked up by the engine's TextureFormat number.
#include "image/DecodedImage.h"

#include <cstdint>

namespace kestrel::image {

struct FormatCodec {
    int32_t format = 0;
    ChannelSet channels = ChannelSet::kRgba;
    PixelKind kind = PixelKind::kRgba8; // what the decoder produces
    LevelDecoder decode = nullptr;
    LevelEncoder encode = nullptr; // nullptr: not encoded
    uint8_t blockWidth = 1;        // 1 x 1 for pixel formats
    uint8_t blockHeight = 1;
    uint8_t blockBytes = 0;   // block formats
    uint8_t bitsPerPixel = 0; // pixel formats
    bool halfFloat = false;   // float formats that store halves (EXR files keep halves)
};

// The row of a format, or nullptr when it is not one of these.
const FormatCodec* FindDesktopCodec(int32_t format);

// Bytes of one width x height level: whole blocks for block formats. Raises a KestrelError when
// the size does not fit in 64 bits.
uint64_t LevelByteSize(const FormatCodec& codec, uint32_t width, uint32_t height);

} // namespace kestrel::image
