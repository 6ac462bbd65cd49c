#pragma once
// Edits of exported texture pictures as a user makes them, and how close a picture is to what
// was drawn: for the PNG/EXR import tests.
#include "image/DecodedImage.h"
#include "support/TempDir.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

// Lossy formats keep the drawn rectangle within this; without it the rectangle scores below
// 7 dB against red. ETC's half blocks share one hue, so a red edge across them costs the most
// (16 dB on gradients).
inline constexpr double kLossyRectanglePsnr = 15.0;

// What is wrong with a picture exported after the rectangle was drawn into `drawn` and imported
// into a texture of the format: "" when the rectangle is there and the picture is `drawn`, both
// exactly for uncompressed formats, else within kLossyRectanglePsnr.
std::string DrawnRectangleProblem(const std::filesystem::path& exported,
                                  const image::ImagePlane& drawn, int32_t format);

// The picture the PNG export wrote for an object in an inner file's export tree (PNG or EXR,
// below Textures or Cubemap, in a streamed texture's resource directory too); empty when none.
std::filesystem::path ExportedPicture(const std::filesystem::path& tree,
                                      const std::string& exportName);

// The raw files that differ between two exports: those of `edited` must, every other must not.
std::vector<std::string> RawFileProblems(const NamedFiles& before, const NamedFiles& after,
                                         const std::vector<std::string>& edited);

} // namespace kestrel::test
