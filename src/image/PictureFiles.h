#pragma once
// Picture files of decoded planes: PNG (through libspng) for 8- and 16-bit pictures and EXR
// (through OpenEXR) for float ones. Files hold the top row first; planes keep the engine's stored
// order (bottom row first), so both directions turn the rows. Writes appear complete under
// their name or not at all.
#include "image/DecodedImage.h"

#include <filesystem>

namespace kestrel::image {

// The largest edge a picture file may declare: bigger files are refused before any pixel is
// read.
inline constexpr uint32_t kMaxPictureEdge = 16384;

// Gray for kGray, gray + alpha for kAlpha (the gray of white Alpha8 pictures), RGB for kRgb and
// kGrayGreen (blue 0), RGBA for kRgba; 16 bits a sample for kRgba16 planes, else 8 (float planes
// are clamped to 0..1). compressionLevel: zlib's 0..9.
void WritePng(const ImagePlane& plane, ChannelSet channels, const std::filesystem::path& path,
              int compressionLevel);
// Any PNG colour type and depth, as RGBA: kRgba16 for 16-bit files, else kRgba8.
ImagePlane ReadPng(const std::filesystem::path& path);

// Channels R (kGray), R G (kGrayGreen), R G B (kRgb) or R G B A, as halves or as floats.
void WriteExr(const ImagePlane& plane, ChannelSet channels, const std::filesystem::path& path,
              bool halfValues);
// R, G, B and A as kRgbaFloat; absent channels are 0 (A: 1). A luminance-only file's Y is R.
ImagePlane ReadExr(const std::filesystem::path& path);

} // namespace kestrel::image
