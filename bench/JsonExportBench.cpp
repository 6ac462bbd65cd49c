// An assets file of 100,000 MonoBehaviour-like objects with a type tree, through the export and
// import drivers: exported raw, and raw with a JSON file each; imported back with no edit from
// either tree. The raw runs are the floor of the JSON runs. KESTREL_JSON_BENCH_OBJECTS sets
// another count (for example 10000) for a quick try.
#include "session/ExportDriver.h"
#include "session/Operations.h"
#include "support/AssetsBuilder.h"
#include "support/TempDir.h"
#include "support/TypeTreeObjects.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

size_t ObjectCount() {
    const char* asked = std::getenv("KESTREL_JSON_BENCH_OBJECTS");
    const long count = asked != nullptr ? std::atol(asked) : 0;
    return count > 0 ? static_cast<size_t>(count) : 100000;
}

struct Level {
    TempDir dir;
    fs::path path;
};

const Level& Generated() {
    static const Level* level = [] {
        auto* out = new Level;
        AssetsSpec plan;
        plan.formatVersion = 22;
        plan.engineVersion = "2022.3.1f1";
        plan.typeTrees = true;
        plan.trees = {{-1, MonoBehaviourLikeTree()}};
        for (size_t i = 0; i < ObjectCount(); ++i) {
            MonoBehaviourLike object;
            object.name = "Dialogue_" + std::to_string(i);
            object.entries[0].second = "Line " + std::to_string(i);
            plan.objects.push_back({-1, std::nullopt, MonoBehaviourLikeBody(object)});
        }
        const std::vector<uint8_t> bytes = BuildAssetsFile(plan);
        out->path = out->dir / "level0.assets";
        WriteFileBytes(out->path, {bytes.begin(), bytes.end()});
        return out;
    }();
    return *level;
}

RunOptions Options(const fs::path& into, uint16_t outputs) {
    RunOptions options;
    options.task = Task::kExport;
    options.outputDir = into.string() + "/";
    options.outputs = outputs;
    return options;
}

void Export(benchmark::State& state, uint16_t outputs) {
    const Level& level = Generated();
    SilentReporter silent;
    const auto archive = Archive::Open(level.path.string(), silent);
    for (auto _ : state) {
        TempDir into;
        ExportArchive(*archive, Options(into.Path(), outputs), silent);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * ObjectCount()));
}

void Import(benchmark::State& state, uint16_t outputs) {
    const Level& level = Generated();
    SilentReporter silent;
    TempDir into;
    const RunOptions options = Options(into.Path(), outputs);
    {
        const auto archive = Archive::Open(level.path.string(), silent);
        ExportArchive(*archive, options, silent);
    }
    RunOptions import = options;
    import.task = Task::kImport;
    for (auto _ : state) {
        const auto archive = Archive::Open(level.path.string(), silent);
        const ImportSummary summary = ImportArchive(*archive, import, silent);
        if (summary.written) state.SkipWithError("an unedited import wrote the archive");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * ObjectCount()));
}

void BM_ExportRaw(benchmark::State& state) { Export(state, kOutRawOnly); }
void BM_ExportRawAndJson(benchmark::State& state) { Export(state, kOutRawOnly | kOutJson); }
void BM_ImportRawTree(benchmark::State& state) { Import(state, kOutRawOnly); }
void BM_ImportRawAndJsonTree(benchmark::State& state) { Import(state, kOutRawOnly | kOutJson); }

BENCHMARK(BM_ExportRaw)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExportRawAndJson)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ImportRawTree)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ImportRawAndJsonTree)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
