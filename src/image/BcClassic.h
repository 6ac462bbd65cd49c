#pragma once
// The S3TC family and its one- and two-channel relatives: DXT1 (BC1), DXT3 (BC2), DXT5 (BC3),
// BC4 and BC5. Decoded here; encoded through libsquish.
#include "image/DecodedImage.h"

#include <cstdint>
#include <span>

namespace kestrel::image {

void DecodeDxt1(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodeDxt3(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodeDxt5(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodeBc4(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodeBc5(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);

void EncodeDxt1(const ImagePlane& in, std::span<uint8_t> out);
void EncodeDxt3(const ImagePlane& in, std::span<uint8_t> out);
void EncodeDxt5(const ImagePlane& in, std::span<uint8_t> out);
void EncodeBc4(const ImagePlane& in, std::span<uint8_t> out);
void EncodeBc5(const ImagePlane& in, std::span<uint8_t> out);

} // namespace kestrel::image
