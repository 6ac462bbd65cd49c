// Converts arbitrary bytes as the body of a Texture2D, Cubemap or ProceduralTexture with every
// texture converter: any input must end in written files, an alert or a KestrelError, never in a
// crash, a hang or an out-of-bounds access. The first byte chooses the class, the texture format
// and the byte order, the second the engine version (older files, or one of the layouts of 5.5
// and later); the rest is the object's body.
#include "assets/ConverterInput.h"
#include "common/Error.h"
#include "common/Localization.h"
#include "common/Reporter.h"
#include "io/ByteSource.h"
#include "texture/TextureExport.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Variant {
    int32_t classId;
    int32_t format;
};

// Uncompressed, block-compressed, crunched and PVRTC/ETC formats, and a format no table knows.
constexpr std::array<Variant, 12> kVariants = {{
    {28, 4},
    {28, 10},
    {28, 12},
    {28, 28},
    {28, 34},
    {89, 5},
    {186, 12},
    {28, 999},
    {28, 25},
    {28, 26},
    {28, 56},
    {89, 24},
}};

// An older file, then one version inside each layout row of the newer engines.
constexpr std::array<const char*, 10> kVersions = {{
    "4.6.0f1",
    "5.6.3f1",
    "2017.1.0f1",
    "2017.4.0f1",
    "2018.4.0f1",
    "2019.4.0f1",
    "2020.1.0f1",
    "2021.3.0f1",
    "2022.3.0f1",
    "6000.0.0f1",
}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                             ("kestrel_fuzz_texexp_" + std::to_string(getpid()));
    const Variant variant = kVariants[data[0] % kVariants.size()];
    const bool bigEndian = (data[0] & 0x80) != 0;

    kestrel::AssetsFile assets;
    assets.header.BigEndianFlag = bigEndian ? 1 : 0;
    const char* version = kVersions[data[1] % kVersions.size()];
    assets.header.engineVersion = version;
    assets.header.formatVersion = version[0] == '4' ? 15 : 22;
    kestrel::ObjectRow row;
    row.ClassID = variant.classId;
    assets.items.rows.push_back(row);
    assets.items.ExportName.push_back("t.tex");
    assets.items.types.push_back({"Texture2D", variant.format});
    const std::string outputBaseDir = dir.string() + "/";
    kestrel::SilentReporter reporter;
    const kestrel::InterfaceTexts text = kestrel::MakeLocalization(false);
    const kestrel::ConverterContext context{
        assets,   kestrel::ResourcePlaces{outputBaseDir, outputBaseDir, "level0", {}},
        reporter, text,
        false,    false,
        {}};

    auto body = std::make_shared<kestrel::MemorySource>(
        "fuzz", std::vector<uint8_t>(data + 2, data + size));
    const kestrel::Endian order = bigEndian ? kestrel::Endian::Big : kestrel::Endian::Little;
    for (auto convert :
         {kestrel::ExportTextureDDS, kestrel::ExportTextureKTX, kestrel::ExportTexturePVR,
          kestrel::ExportTextureCRN, kestrel::ExportProceduralTextureDDS}) {
        try {
            convert(kestrel::ConverterInput{context, kestrel::Reader(body, order),
                                            "Unity_Assets_Files/level0/Textures/", "t.tex", 0});
        } catch (const kestrel::KestrelError&) {
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
