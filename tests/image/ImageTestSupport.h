#pragma once
// Test pictures, DDS files and the independent decoders (ImageMagick, Pillow) the image tests
// compare with.
#include "image/DecodedImage.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::test {

// A smooth picture with edges, a gradient of alpha and some noise: "natural enough" for the
// block encoders. kRgbaFloat pictures reach up to 4.0 in RGB.
image::ImagePlane TestPicture(uint32_t width, uint32_t height, image::PixelKind kind);

// Bytes from a fixed pseudo-random sequence.
std::vector<uint8_t> ScrambledBytes(size_t count, uint32_t seed);

// A DDS file of one level of `format` (the project's own DDS header) holding `level`, with the
// byte order the DDS pixel format row expects.
void WriteDds(const std::filesystem::path& path, int32_t format, uint32_t width, uint32_t height,
              std::vector<uint8_t> level);

enum class Tool { kImageMagick, kPillow };
// The file's first picture as 8-bit RGBA rows (top row of the file first), or empty when the
// tool could not read it.
std::vector<uint8_t> ReadWithTool(Tool tool, const std::filesystem::path& path);

// The largest difference of the given channels (bit c for channel c) between two RGBA8 buffers.
int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t mask);
double Psnr(const image::ImagePlane& a, const image::ImagePlane& b, uint32_t channels);

} // namespace kestrel::test
