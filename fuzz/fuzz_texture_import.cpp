// Imports arbitrary bytes as the DDS, KTX, PVR or CRN picture of a small texture, the DDS picture
// of a procedural texture, or the picture of a texture of the newer engines (read by a layout row,
// pixels inside or streamed into a resource file); the first byte chooses. Any input must end in
// a rebuilt object, an alert or a KestrelError, never in a crash, a hang or an out-of-bounds
// access.
#include "common/Error.h"
#include "io/ByteSource.h"
#include "io/Writer.h"
#include "texture/TextureImport.h"
#include "texture/TextureLayouts.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class SilentReporter : public kestrel::Reporter {
public:
    void Notice(const std::string&) override {}
    void Alert(const std::string&) override {}
    void ProgressLine(const std::string&) override {}
    void Progress(int) override {}
    void Breathe() override {}
};

// A 4 x 4 texture of the given format in the has-mipmaps-flag layout, 16 bytes of pixels.
std::vector<uint8_t> TextureBody(int32_t format) {
    kestrel::Writer w(kestrel::Endian::Little);
    for (int32_t v : {4, 4, 16, format})
        w.I32(v);
    w.Zeros(4); // has-mipmaps flag and 3 flag bytes
    w.I32(1);   // image count
    w.Zeros(28);
    w.I32(16);
    w.Zeros(16);
    return w.Take();
}

// A 4 x 4 ARGB32 procedural texture: head, 64 bytes of pixels, tail.
std::vector<uint8_t> ProceduralBody() {
    kestrel::Writer w(kestrel::Endian::Little);
    w.Zeros(60);
    w.I32(64);
    w.Zeros(64);
    for (int32_t v : {4, 4, 0, 5, 0, 0})
        w.I32(v);
    return w.Take();
}

const kestrel::TextureLayoutRow& ModernRow() {
    return *kestrel::TextureLayoutFor(kestrel::ParseEngineVersion("2022.3.9f1"));
}

// A 4 x 4 texture of the 2022.3 layout: 16 bytes of pixels inside, or streamed from offset 0 of
// "level0.resS".
std::vector<uint8_t> ModernBody(int32_t format, bool streamed) {
    using kestrel::TexField;
    kestrel::Writer w(kestrel::Endian::Little);
    for (const TexField f : ModernRow().fields.View()) {
        switch (f) {
        case TexField::Bool:
            w.U8(0);
            break;
        case TexField::Align:
            w.Align4();
            break;
        case TexField::String:
        case TexField::ByteArray:
            w.U32(0);
            break;
        case TexField::Width:
        case TexField::Height:
            w.I32(4);
            break;
        case TexField::CompleteImageSize:
            w.I32(16);
            break;
        case TexField::Format:
            w.I32(format);
            break;
        case TexField::MipFlag:
            w.U8(0);
            break;
        case TexField::MipCount:
        case TexField::ImageCount:
            w.I32(1);
            break;
        case TexField::ImageData:
            w.I32(streamed ? 0 : 16);
            if (!streamed) w.Zeros(16);
            break;
        case TexField::StreamData32:
        case TexField::StreamData64:
            if (f == TexField::StreamData64)
                w.U64(0);
            else
                w.U32(0);
            w.U32(streamed ? 16 : 0);
            w.U32(streamed ? 11 : 0);
            if (streamed) w.Bytes("level0.resS");
            w.Align4();
            break;
        default:
            w.U32(0);
            break;
        }
    }
    return w.Take();
}

struct Target {
    void (*importer)(const kestrel::TextureImportInput&);
    std::shared_ptr<kestrel::MemorySource> body;
    bool modern = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kestrel_fuzz_tex_" + std::to_string(getpid()));
    static const Target targets[] = {
        {kestrel::ImportTextureDDS,
         std::make_shared<kestrel::MemorySource>("fuzz", TextureBody(12))},
        {kestrel::ImportTextureKTX,
         std::make_shared<kestrel::MemorySource>("fuzz", TextureBody(34))},
        {kestrel::ImportTexturePVR,
         std::make_shared<kestrel::MemorySource>("fuzz", TextureBody(34))},
        {kestrel::ImportTextureCRN,
         std::make_shared<kestrel::MemorySource>("fuzz", TextureBody(28))},
        {kestrel::ImportProceduralDDS,
         std::make_shared<kestrel::MemorySource>("fuzz", ProceduralBody())},
        {kestrel::ImportTextureDDS,
         std::make_shared<kestrel::MemorySource>("fuzz", ModernBody(25, false)), true},
        {kestrel::ImportTextureDDS,
         std::make_shared<kestrel::MemorySource>("fuzz", ModernBody(12, true)), true},
        {kestrel::ImportTextureKTX,
         std::make_shared<kestrel::MemorySource>("fuzz", ModernBody(56, true)), true},
    };
    if (size == 0) return 0;
    const Target& target = targets[data[0] % std::size(targets)];
    std::filesystem::create_directories(dir);
    // The resource file of the streamed ones, 16 bytes, as it was before each run.
    std::ofstream(dir / "level0.resS", std::ios::binary | std::ios::trunc)
        .write("0123456789abcdef", 16);
    const auto picture = dir / "in.pic";
    const auto rebuilt = dir / "rebuilt.bin";
    std::ofstream(picture, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    SilentReporter reporter;
    try {
        kestrel::TextureImportInput in{
            {}, kestrel::Reader(target.body), picture, rebuilt, false, reporter};
        if (target.modern) {
            in.layout = ModernRow();
            const std::string base = dir.string() + "/";
            in.resources = kestrel::ResourcePlaces{base, base, "level0", {}};
        }
        target.importer(in);
    } catch (const kestrel::KestrelError&) {
    }
    return 0;
}
