#pragma once
// One lookup over every picture codec: the desktop formats (uncompressed, DXT, BC4-BC7) and the
// mobile ones (ETC, EAC, ASTC, PVRTC, ATC).
#include "image/DecodedImage.h"

#include <cstdint>
#include <optional>

namespace kestrel::image {

struct PictureCodec {
    int32_t format = 0;
    ChannelSet channels = ChannelSet::kRgba;
    LevelDecoder decode = nullptr;
    LevelEncoder encode = nullptr; // nullptr: the format is not written
    bool floatValues = false;      // decodes to float RGBA: the picture file is EXR
    bool halfFloat = false;        // its EXR file keeps halves
};

// The codec of an engine texture format, or nullopt when no decoder knows it.
std::optional<PictureCodec> FindPictureCodec(int32_t format);

// Bytes of one width x height level of the format (whole blocks for block formats).
uint64_t PictureLevelBytes(int32_t format, uint32_t width, uint32_t height);

} // namespace kestrel::image
