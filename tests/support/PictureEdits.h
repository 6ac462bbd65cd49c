#pragma once
// Edits of exported texture pictures as a user makes them, and how close a picture is to what
// was drawn: for the PNG/EXR import tests.
#include "image/DecodedImage.h"

#include <filesystem>

namespace kestrel::test {

// The rectangle the edits draw: columns and rows 2 to 9 of the picture, top row first.
inline constexpr uint32_t kDrawnFrom = 2;
inline constexpr uint32_t kDrawnTo = 9;

// Fills the rectangle with opaque red: ImageMagick's convert for a PNG file, the project's EXR
// reader and writer for an EXR file (ImageMagick reads no EXR here). False when convert fails.
bool DrawRedRectangle(const std::filesystem::path& picture);

// The picture's pixels as floats 0..1 (16-bit and 8-bit files alike), rows in stored order
// (bottom row first), as the project's readers give them.
image::ImagePlane ReadPictureAsFloat(const std::filesystem::path& picture);

// PSNR (dB, 0..1 values) between two planes over the channels a picture of the channel set
// keeps, within the rectangle only (`rectangleOnly`) or over the whole picture; infinity when
// equal. Planes of different sizes give -1.
double PictureChannelsPsnr(const image::ImagePlane& a, const image::ImagePlane& b,
                           image::ChannelSet channels, bool rectangleOnly);

// The plane with the rectangle filled with opaque red, as the edit draws it.
image::ImagePlane WithRedRectangle(image::ImagePlane plane);

} // namespace kestrel::test
