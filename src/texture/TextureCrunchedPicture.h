#pragma once
// Crunched textures as pictures: their data is decompressed by the crunch tool (beside the
// program) into a DDS file of the format the data was crunched from, whose base level is decoded
// as any texture of that format is.
#include "image/DecodedImage.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace kestrel {

// The format crunched data decompresses to: DXT1, DXT5, ETC_RGB4 or ETC2_RGBA8.
int32_t CrunchedBaseFormat(int32_t crunchedFormat);

// The base level of `crunched` (a texture's first image) as pixels, rows as stored. The tool's
// files are made beside `scratchBeside` under hidden temporary names and removed. nullopt when
// the tool is absent; raises a KestrelError naming the tool when it fails or writes no DDS of the
// texture's size and base format.
std::optional<image::ImagePlane> DecodeCrunched(const std::filesystem::path& executableDir,
                                                int32_t crunchedFormat,
                                                std::span<const uint8_t> crunched, uint32_t width,
                                                uint32_t height,
                                                const std::filesystem::path& scratchBeside);

} // namespace kestrel
