// Exporting a generated game folder of 200 archives (1 GiB in all: half LZ4 bundles, half plain
// assets files, in nested folders) with the built program, with one worker and with two, next to
// its floor: a plain recursive copy of the folder's bytes (cp -r). Each run's peak memory is the
// child's (wait4's ru_maxrss). KESTREL_FOLDER_MIB and KESTREL_FOLDER_ARCHIVES set another size
// (for example 128 and 50 for a quick try).
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/Cli.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace kestrel::test;
namespace fs = std::filesystem;

uint64_t EnvOr(const char* name, uint64_t fallback) {
    const char* asked = std::getenv(name);
    const long value = asked != nullptr ? std::atol(asked) : 0;
    return value > 0 ? static_cast<uint64_t>(value) : fallback;
}

// Text of game data: repeated records with varying numbers, which LZ4 packs to about a third.
std::vector<uint8_t> Records(size_t bytes, uint32_t seed) {
    std::string text;
    uint32_t x = seed * 2654435761u + 1;
    while (text.size() < bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        text += "entry " + std::to_string(x % 100000) + " value=" + std::to_string(x >> 8) +
                " flags=" + std::to_string(x & 0xFF) + "\n";
    }
    text.resize(bytes);
    return TextBody(text);
}

struct Game {
    TempDir dir;
    fs::path folder;
    uint64_t bytes = 0;
    size_t archives = 0;
};

// Archive i: 8 text objects; every other one an LZ4 bundle, in folders of 20.
void Generate(Game& g) {
    g.folder = g.dir / "game";
    g.archives = EnvOr("KESTREL_FOLDER_ARCHIVES", 200);
    const uint64_t perArchive = (EnvOr("KESTREL_FOLDER_MIB", 1024) << 20) / g.archives;
    for (size_t i = 0; i < g.archives; ++i) {
        AssetsSpec plan;
        for (uint32_t o = 0; o < 8; ++o)
            plan.objects.push_back({49, "text" + std::to_string(o),
                                    Records(perArchive / 8, static_cast<uint32_t>(i * 8 + o))});
        std::vector<uint8_t> bytes = BuildAssetsFile(plan);
        const fs::path dir = g.folder / ("part" + std::to_string(i / 20));
        fs::create_directories(dir);
        fs::path file = dir / ("sharedassets" + std::to_string(i) + ".assets");
        if (i % 2 == 1) {
            file = dir / ("bundle" + std::to_string(i) + ".bundle");
            bytes = BuildUnityFS({{"CAB-" + std::to_string(i), bytes, 4}}).bytes;
        }
        WriteFileBytes(file, {bytes.begin(), bytes.end()});
        g.bytes += bytes.size();
    }
}

const Game& TheGame() {
    static Game game;
    static const bool made = (Generate(game), true);
    (void)made;
    return game;
}

void RunOnce(benchmark::State& state, const std::vector<std::string>& program, bool kestrel) {
    const Game& game = TheGame();
    const fs::path out = game.dir / "out";
    double seconds = 0;
    double cpuSeconds = 0; // the children's user and system time, all runs
    long peakKiB = 0;
    const auto childCpu = [] {
        rusage usage{};
        ::getrusage(RUSAGE_CHILDREN, &usage);
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    for (auto _ : state) {
        fs::remove_all(out);
        // Every run starts with nothing of the generation or an earlier run left to write back.
        ::sync();
        const double cpuBefore = childCpu();
        const auto start = std::chrono::steady_clock::now();
        long peak = 0;
        if (kestrel) {
            KestrelChild child = KestrelChild::Start(program);
            child.ReadAll();
            if (child.Wait() != 0) state.SkipWithError("kestrel failed");
            peak = child.peakKiB;
        } else {
            if (std::system(
                    ("cp -r '" + game.folder.string() + "' '" + out.string() + "'").c_str()) != 0)
                state.SkipWithError("cp failed");
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        cpuSeconds += childCpu() - cpuBefore;
        peakKiB = std::max(peakKiB, peak);
    }
    fs::remove_all(out);
    state.counters["archives"] = static_cast<double>(game.archives);
    state.counters["MiB"] = static_cast<double>(game.bytes >> 20);
    state.counters["MiB/s"] = static_cast<double>(game.bytes >> 20) / seconds;
    state.counters["cpu_s"] = cpuSeconds / static_cast<double>(state.iterations());
    if (kestrel) state.counters["peak_MiB"] = static_cast<double>(peakKiB) / 1024.0;
}

void BM_FolderExport(benchmark::State& state) {
    const Game& game = TheGame();
    RunOnce(state,
            {"export", game.folder.string(), "-p", (game.dir / "out").string(), "-j",
             std::to_string(state.range(0))},
            true);
}
BENCHMARK(BM_FolderExport)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_FolderCopyFloor(benchmark::State& state) {
    RunOnce(state, {}, false);
}
BENCHMARK(BM_FolderCopyFloor)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
