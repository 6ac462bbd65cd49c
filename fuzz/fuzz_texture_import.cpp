// Imports arbitrary bytes as the DDS, KTX, PVR or CRN picture of a small texture, or the DDS
// picture of a procedural texture (the first byte chooses): any input must end in a rebuilt
// object, an alert or a KestrelError, never in a crash, a hang or an out-of-bounds access.
#include "common/Error.h"
#include "io/ByteSource.h"
#include "io/Writer.h"
#include "texture/TextureImport.h"

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

struct Target {
    void (*importer)(const kestrel::TextureImportInput&);
    std::shared_ptr<kestrel::MemorySource> body;
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
    };
    if (size == 0) return 0;
    const Target& target = targets[data[0] % 5];
    std::filesystem::create_directories(dir);
    const auto picture = dir / "in.pic";
    const auto rebuilt = dir / "rebuilt.bin";
    std::ofstream(picture, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    SilentReporter reporter;
    try {
        target.importer({{}, kestrel::Reader(target.body), picture, rebuilt, false, reporter});
    } catch (const kestrel::KestrelError&) {
    }
    return 0;
}
