// Exporting every texture of a generated bundle of serialized format 22 (Unity 2022.3): 1,000
// BC7 textures of 256 x 256 with their pixels inside the objects, stored uncompressed, to DDS
// files; next to the floor of copying the same bytes as a plain file, and of writing 1,000 files
// of the DDS files' size.
#include "session/ExportDriver.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

constexpr int kTextures = 1000;
constexpr int kEdge = 256;
constexpr size_t kPixels = kEdge * kEdge; // BC7: one byte a pixel

struct TextureBundle {
    TempDir dir;
    fs::path bundle = dir.Path() / "textures.bundle";
    TextureBundle() {
        AssetsSpec plan;
        plan.formatVersion = 22;
        plan.engineVersion = "2022.3.9f1";
        ModernTextureSpec texture;
        texture.width = texture.height = kEdge;
        texture.format = 25;
        texture.pixels.resize(kPixels);
        for (size_t i = 0; i < kPixels; ++i)
            texture.pixels[i] = static_cast<uint8_t>(i * 131 + i / 977);
        const auto body = MakeModernTextureObject(
            *TextureLayoutFor(ParseEngineVersion(plan.engineVersion)), texture, Endian::Little);
        for (int i = 0; i < kTextures; ++i)
            plan.objects.push_back({28, "texture_" + std::to_string(i), body});
        UnityFSOptions options;
        options.blocks = BlockKind::Stored;
        options.blockInfo = BlockInfoKind::StoredAtStart;
        options.formatVersion = 8;
        options.blockSize = 1u << 30;
        const auto bytes =
            BuildUnityFS({{"CAB-textures", BuildAssetsFile(plan), 4}}, options).bytes;
        std::ofstream(bundle, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
};

TextureBundle& Bundle() {
    static TextureBundle b;
    return b;
}

void BM_ExportBc7TexturesOfBundle(benchmark::State& st) {
    SilentReporter silent;
    RunOptions options;
    options.outputs = kOutConvert | kOutDds;
    options.typeFilterActive = true;
    options.typeFilter = {"28"};
    auto archive = Archive::Open(Bundle().bundle.string(), silent);
    const ParsedInnerFile inner = archive->Parse(0, options, &silent);
    const InnerScope scope{*archive, inner, options, silent};
    for (auto _ : st) {
        // Every run writes new files, as a first export does.
        st.PauseTiming();
        fs::remove_all(Bundle().dir.Path() / "Unity_Assets_Files");
        st.ResumeTiming();
        ExportObjects(scope, ExportedObjects(inner, options, false));
    }
    archive.reset();
    st.SetBytesProcessed(static_cast<int64_t>(kTextures * kPixels * st.iterations()));
}
BENCHMARK(BM_ExportBc7TexturesOfBundle)->Unit(benchmark::kMillisecond)->UseRealTime();

// Floor: the bundle's bytes copied as one plain file.
void BM_CopyTextureBundle(benchmark::State& st) {
    const fs::path copy = Bundle().dir.Path() / "copy.bin";
    for (auto _ : st)
        fs::copy_file(Bundle().bundle, copy, fs::copy_options::overwrite_existing);
    st.SetBytesProcessed(static_cast<int64_t>(fs::file_size(Bundle().bundle) * st.iterations()));
}
BENCHMARK(BM_CopyTextureBundle)->Unit(benchmark::kMillisecond)->UseRealTime();

// Floor: 1,000 new files of one DDS file's size (header and pixels), each opened, written whole
// and closed. Argument 0: in place, with none of the export's care; 1: the same safe way as the
// export (a temporary name beside the file, then a rename onto its name).
void BM_Write1000DdsSizedFiles(benchmark::State& st) {
    const bool safe = st.range(0) == 1;
    const fs::path dir = Bundle().dir.Path() / "plain";
    const std::vector<char> bytes(148 + kPixels, 0x5A);
    for (auto _ : st) {
        st.PauseTiming();
        fs::remove_all(dir);
        fs::create_directories(dir);
        st.ResumeTiming();
        for (int i = 0; i < kTextures; ++i) {
            const fs::path file = dir / ("texture_" + std::to_string(i) + ".dds");
            const fs::path temp = safe ? dir / (".texture_" + std::to_string(i) + ".tmp") : file;
            std::ofstream(temp, std::ios::binary)
                .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (safe) fs::rename(temp, file);
        }
    }
    st.SetBytesProcessed(static_cast<int64_t>(kTextures * bytes.size() * st.iterations()));
}
BENCHMARK(BM_Write1000DdsSizedFiles)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
