// Imports arbitrary bytes as the DDS picture of a small DXT5 texture: any input must end in a
// rebuilt object, an alert or a KestrelError, never in a crash, a hang or an out-of-bounds access.
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

// A 4 x 4 DXT5 texture in the has-mipmaps-flag layout.
std::vector<uint8_t> TextureBody() {
    kestrel::Writer w(kestrel::Endian::Little);
    for (int32_t v : {4, 4, 16, 12})
        w.I32(v);
    w.Zeros(4); // has-mipmaps flag and 3 flag bytes
    w.I32(1);   // image count
    w.Zeros(28);
    w.I32(16);
    w.Zeros(16);
    return w.Take();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kestrel_fuzz_tex_" + std::to_string(getpid()));
    static const auto body = std::make_shared<kestrel::MemorySource>("fuzz", TextureBody());
    std::filesystem::create_directories(dir);
    const auto picture = dir / "in.dds";
    const auto rebuilt = dir / "rebuilt.bin";
    std::ofstream(picture, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    SilentReporter reporter;
    try {
        kestrel::ImportTextureDDS({{}, kestrel::Reader(body), picture, rebuilt, false, reporter});
    } catch (const kestrel::KestrelError&) {
    }
    return 0;
}
