// Listing a large assets file: header, object table, names, probes and the duplicate count.
#include "assets/AssetsParser.h"
#include "support/AssetsBuilder.h"
#include "support/Cli.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace kestrel;
using namespace kestrel::test;

constexpr int kObjects = 200000;

// 200,000 objects: textures, text assets and materials whose names repeat (1,000 distinct names
// in mixed case, so most objects are numbered duplicates), with unnamed GameObjects between.
const std::vector<uint8_t>& LargeAssetsFile() {
    static const std::vector<uint8_t> bytes = [] {
        AssetsSpec plan;
        TextureSpec texture;
        texture.format = 12;
        texture.imageData.assign(16, 0);
        const std::vector<uint8_t> textureBody = TextureBody(texture);
        const std::vector<uint8_t> textBody = TextBody("some text of a text asset");
        plan.objects.reserve(kObjects);
        for (int i = 0; i < kObjects; ++i) {
            std::string name = "Object_" + std::to_string(i % 1000);
            if (i % 3 == 0) name[0] = 'o';
            switch (i % 4) {
            case 0:
                plan.objects.push_back({28, name, textureBody});
                break;
            case 1:
                plan.objects.push_back({49, name, textBody});
                break;
            case 2:
                plan.objects.push_back({21, name, {0, 0, 0, 0}});
                break;
            default:
                plan.objects.push_back({1, std::nullopt, {0, 0, 0, 0}});
                break;
            }
        }
        return BuildAssetsFile(plan);
    }();
    return bytes;
}

void ParseFromMemory(benchmark::State& state, bool listRows) {
    const auto source = std::make_shared<MemorySource>("large.assets", LargeAssetsFile());
    ParseOptions options;
    options.innerFileName = "large.assets";
    options.fillListRows = listRows;
    SilentReporter reporter;
    options.reporter = &reporter;
    for (auto _ : state) {
        AssetsFile file = ParseAssets(source, 0, options);
        benchmark::DoNotOptimize(file.items.ExportName.data());
    }
    state.SetItemsProcessed(state.iterations() * kObjects);
}

void BM_ParseLargeAssets(benchmark::State& state) {
    ParseFromMemory(state, false);
}
void BM_ParseLargeAssetsWithListRows(benchmark::State& state) {
    ParseFromMemory(state, true);
}

// The same file read through the file system, as an archive parses its working file.
void BM_ParseLargeAssetsFile(benchmark::State& state) {
    TempDir dir;
    const auto path = dir / "large.assets";
    WriteFileBytes(path, LargeAssetsFile());
    const auto source = FileSource::Open(path);
    ParseOptions options;
    options.innerFileName = "large.assets";
    for (auto _ : state) {
        AssetsFile file = ParseAssets(source, 0, options);
        benchmark::DoNotOptimize(file.items.ExportName.data());
    }
    state.SetItemsProcessed(state.iterations() * kObjects);
}

// `kestrel list` on the same file as a whole process, its output read through a pipe: start-up,
// open, parse and 200,000 printed rows, against BM_ParseLargeAssetsFile (the parse alone).
void BM_ListLargeAssetsProcess(benchmark::State& state) {
    TempDir dir;
    const auto path = dir / "large.assets";
    WriteFileBytes(path, LargeAssetsFile());
    for (auto _ : state) {
        const CliResult r = RunKestrel({"list", path.string()}, "C.UTF-8");
        if (r.exitCode != 0) state.SkipWithError(r.err.c_str());
        benchmark::DoNotOptimize(r.out.data());
    }
    state.SetItemsProcessed(state.iterations() * kObjects);
}

BENCHMARK(BM_ParseLargeAssets)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListLargeAssetsProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParseLargeAssetsWithListRows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseLargeAssetsFile)->Unit(benchmark::kMillisecond);

} // namespace
