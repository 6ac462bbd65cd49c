// Importing one text asset grown by 1 KiB at the start of a generated 1 GiB plain assets file
// (every other object moves), next to its floor: a plain copy of the file, written beside it and
// flushed to disk as the import's new file is. Peak memory of each is measured in a child
// process (fork, wait4's ru_maxrss). KESTREL_IMPORT_BENCH_MIB sets another size in MiB (for
// example 64) for a quick try.
#include "PeakMemory.h"
#include "io/Writer.h"
#include "session/ImportDriver.h"
#include "session/Operations.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using namespace kestrel;
using namespace kestrel::bench;
using namespace kestrel::test;
namespace fs = std::filesystem;

constexpr size_t kBlobSize = size_t{1} << 20;
constexpr size_t kTextSize = 4096;

uint64_t DataMiB() {
    const char* asked = std::getenv("KESTREL_IMPORT_BENCH_MIB");
    const long mib = asked != nullptr ? std::atol(asked) : 0;
    return mib > 0 ? static_cast<uint64_t>(mib) : 1024;
}

struct BenchAssets {
    TempDir dir;
    fs::path path;
    uint64_t size = 0;
};

// The text asset "readme" first, then one 1 MiB material object per MiB asked for. The header,
// type metadata and table come from the builder (with 8-byte bodies), their offsets and sizes
// patched for the real bodies, which are written one at a time.
void Generate(BenchAssets& out) {
    AssetsSpec plan;
    plan.objects.push_back({49, "readme", TextBody(std::string(kTextSize, 't'))});
    const uint64_t blobs = DataMiB();
    for (uint64_t i = 0; i < blobs; ++i)
        plan.objects.push_back({21, "blob" + std::to_string(i), std::vector<uint8_t>(8, 0)});
    BuiltAssets built = BuildAssets(plan);

    std::vector<uint32_t> offsets, sizes;
    uint64_t end = 0;
    for (size_t i = 0; i < plan.objects.size(); ++i) {
        end = (end + 7) / 8 * 8;
        offsets.push_back(static_cast<uint32_t>(end));
        sizes.push_back(i == 0 ? built.objectSizes[0]
                               : static_cast<uint32_t>(built.objectSizes[i] - 8 + kBlobSize));
        end += sizes.back();
    }
    Writer header(Endian::Little);
    header.Bytes(built.bytes.data(), built.dataOffset);
    header.PutU32BEAt(4, static_cast<uint32_t>(built.dataOffset + end));
    for (size_t i = 0; i < offsets.size(); ++i) {
        header.PutU32At(built.tableStart + i * 28 + 8, offsets[i]);
        header.PutU32At(built.tableStart + i * 28 + 12, sizes[i]);
    }
    out.path = out.dir / "level0.assets";
    OutputFile file(out.path);
    file.Write(header.Data());
    const std::vector<uint8_t> noise = NoiseBytes(kBlobSize, 7);
    for (size_t i = 0; i < offsets.size(); ++i) {
        const uint64_t at = built.dataOffset + offsets[i];
        file.Write(std::vector<uint8_t>(at - file.Position(), 0));
        const uint8_t* object = built.bytes.data() + built.dataOffset + built.objectOffsets[i];
        if (i == 0) {
            file.Write(object, sizes[0]);
        } else {
            file.Write(object, built.objectSizes[i] - 8); // the name field
            file.Write(noise);
        }
    }
    out.size = file.Position();
    file.Close();
}

BenchAssets& Assets() {
    static BenchAssets assets;
    static const bool generated = (Generate(assets), true);
    (void)generated;
    return assets;
}

// The edited text: 1 KiB longer than the original on even rounds (the first one), the original
// length on odd ones, with new letters each round, so that every round changes the object and moves
// every object after it by 1 KiB.
size_t WriteEditedText(const BenchAssets& b, int round) {
    const fs::path tree = b.dir / "Unity_Assets_Files" / "level0";
    fs::create_directories(tree);
    const size_t length = kTextSize + (round % 2 == 1 ? 0 : 1024);
    std::ofstream(tree / "readme.txt", std::ios::binary)
        << std::string(length, static_cast<char>('a' + round % 26));
    return length;
}

// Imports and checks that the text now has the edited length.
void ImportOnce(const BenchAssets& b, size_t textLength) {
    SilentReporter silent;
    const RunOptions options;
    const auto archive = Archive::Open(b.path.string(), silent);
    ImportInnerFileAndResources(*archive, 0, options, silent);
    if (archive->Parse(0, options, &silent).Items().rows.at(0).PayloadSize != textLength)
        std::abort();
}

// The copy as the system makes it (copy_file: in the kernel where it can), flushed to disk and
// renamed into place like the import's new file.
void CopyOnce(const BenchAssets& b) {
    const fs::path target = b.path.string() + ".copy";
    fs::copy_file(b.path, target, fs::copy_options::overwrite_existing);
    const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    ::fsync(fd);
    ::close(fd);
    fs::rename(target, b.path.string() + ".copied");
}

void Report(benchmark::State& state, double peakMiB) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(Assets().size));
    state.counters["peak_rss_MiB"] = peakMiB;
    state.counters["file_MiB"] = static_cast<double>(Assets().size) / (1 << 20);
}

int gRound = 0;

// Argument 1: every object is exported first (1 GiB of raw files), so the import compares each
// with its object; 0: the tree holds only the edited text.
void BM_ImportTextGrown1KiBAtTheStart(benchmark::State& state) {
    BenchAssets& b = Assets();
    static bool exported = false;
    if (state.range(0) == 1 && !exported) {
        SilentReporter silent;
        ExportArchive(*Archive::Open(b.path.string(), silent), RunOptions{}, silent);
        exported = true;
    }
    for (auto _ : state) {
        state.PauseTiming();
        const size_t length = WriteEditedText(b, gRound++);
        state.ResumeTiming();
        ImportOnce(b, length);
    }
    const size_t length = WriteEditedText(b, gRound++);
    Report(state, ChildPeakMiB([&] { ImportOnce(b, length); }));
}

void BM_FloorPlainCopyFlushed(benchmark::State& state) {
    BenchAssets& b = Assets();
    for (auto _ : state)
        CopyOnce(b);
    Report(state, ChildPeakMiB([&] { CopyOnce(b); }));
    std::error_code ec;
    fs::remove(b.path.string() + ".copied", ec);
}

// Floor first, then the import, alternating twice so that neither profits from a warmer cache.
BENCHMARK(BM_FloorPlainCopyFlushed)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ImportTextGrown1KiBAtTheStart)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FloorPlainCopyFlushed)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ImportTextGrown1KiBAtTheStart)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
