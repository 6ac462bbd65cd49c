// Opening a 256 MiB UnityFS bundle of 128 KiB LZ4 blocks: the block-by-block decompression into
// the ".TEMP" working copy, next to its floor (the same blocks decoded by liblz4 alone and written
// to a file). Peak memory of each is measured in a child process (fork, wait4's ru_maxrss), so
// neither run nor the generation of the bundle inflates the other's number.
#include "PeakMemory.h"
#include "common/CoreBudget.h"
#include "io/Writer.h"
#include "session/Archive.h"
#include "support/BundleBuilder.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>

#include <chrono>
#include <cstring>
#include <fstream>

namespace {

using namespace kestrel;
using namespace kestrel::bench;
using namespace kestrel::test;

constexpr uint32_t kBlockSize = 128 * 1024;
constexpr uint32_t kBlockCount = 2048; // 256 MiB of data

// Block i of the data: runs of structured, compressible records between runs of noise, so that
// LZ4 reaches roughly the ratio of real game data.
void FillBlock(uint32_t index, std::vector<uint8_t>& block) {
    block.resize(kBlockSize);
    uint32_t x = index * 2654435761u + 12345;
    for (uint32_t pos = 0; pos < kBlockSize; pos += 4) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const uint32_t value = ((pos / 256) % 2 == 0) ? x : (pos / 16) * 0x01000193u;
        std::memcpy(block.data() + pos, &value, 4);
    }
}

std::vector<uint8_t> Lz4(const std::vector<uint8_t>& in, bool high) {
    std::vector<uint8_t> out(static_cast<size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
    const auto* src = reinterpret_cast<const char*>(in.data());
    auto* dst = reinterpret_cast<char*>(out.data());
    const int n = high ? LZ4_compress_HC(src, dst, static_cast<int>(in.size()),
                                         static_cast<int>(out.size()), LZ4HC_CLEVEL_DEFAULT)
                       : LZ4_compress_default(src, dst, static_cast<int>(in.size()),
                                              static_cast<int>(out.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

struct BenchBundle {
    TempDir dir;
    std::string path;
    uint64_t blocksStart = 0;
    std::vector<uint32_t> compressedSizes;
    uint64_t dataSize = 0;
};

// Written block by block (compressed twice: once for the block table, once for the data) so that
// generating it needs no more memory than one block.
void Generate(BenchBundle& out) {
    out.path = (out.dir / "big.unity3d").string();
    const std::vector<uint8_t> assets = MinimalAssetsFile("2017.4.1f1");
    std::vector<uint8_t> block;
    for (uint32_t i = 0; i < kBlockCount; ++i) {
        FillBlock(i, block);
        out.compressedSizes.push_back(static_cast<uint32_t>(Lz4(block, false).size()));
    }
    out.dataSize = uint64_t{kBlockCount} * kBlockSize;
    // The data area holds the small assets file first, in a stored block of its own.
    Writer info(Endian::Big);
    info.Zeros(16);
    info.U32BE(kBlockCount + 1);
    info.U32BE(static_cast<uint32_t>(assets.size()));
    info.U32BE(static_cast<uint32_t>(assets.size()));
    info.U16(0x0040);
    for (uint32_t c : out.compressedSizes) {
        info.U32BE(kBlockSize);
        info.U32BE(c);
        info.U16(0x0002);
    }
    info.U32BE(2);
    info.U64BE(0);
    info.U64BE(assets.size());
    info.U32BE(4);
    info.CString("CAB-big");
    info.U64BE(assets.size());
    info.U64BE(out.dataSize);
    info.U32BE(0);
    info.CString("CAB-big.resS");
    const std::vector<uint8_t> packedInfo = Lz4(info.Data(), true);

    Writer h(Endian::Big);
    h.CString("UnityFS");
    h.U32BE(6);
    h.CString("5.x.x");
    h.CString("2017.4.1f1");
    const size_t afterVersions = h.Size();
    h.U64BE(0);
    h.U32BE(static_cast<uint32_t>(packedInfo.size()));
    h.U32BE(static_cast<uint32_t>(info.Size()));
    h.U32BE(0x43);
    h.Bytes(packedInfo.data(), packedInfo.size());
    h.Bytes(assets.data(), assets.size());
    out.blocksStart = h.Size();
    uint64_t total = h.Size();
    for (uint32_t c : out.compressedSizes)
        total += c;
    h.PutU64BEAt(afterVersions, total);

    OutputFile file(out.path);
    file.Write(h.Data());
    for (uint32_t i = 0; i < kBlockCount; ++i) {
        FillBlock(i, block);
        file.Write(Lz4(block, false));
    }
    file.Close();
}

const BenchBundle& Bundle() {
    static BenchBundle bundle;
    static const bool generated = (Generate(bundle), true);
    (void)generated;
    return bundle;
}

// Opens the bundle and parses its first inner file; the archive's end removes the working copy.
void OpenOnce(const BenchBundle& b) {
    SilentReporter silent;
    const auto archive = Archive::Open(b.path, silent);
    benchmark::DoNotOptimize(archive->Parse(0, RunOptions{}, &silent).Items().Count());
}

void DecodeAndWriteOnce(const BenchBundle& b, const std::string& outPath) {
    std::ifstream in(b.path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(b.blocksStart));
    OutputFile out(outPath);
    std::vector<char> packed;
    std::vector<char> plain(kBlockSize);
    for (uint32_t c : b.compressedSizes) {
        packed.resize(c);
        in.read(packed.data(), c);
        const int n = LZ4_decompress_safe(packed.data(), plain.data(), static_cast<int>(c),
                                          static_cast<int>(plain.size()));
        if (n != static_cast<int>(kBlockSize)) std::abort();
        out.Write(plain.data(), plain.size());
    }
    out.Close();
}

// Seconds per run of the floor, for the ratio the open beside it reports.
double gFloor = 1;

void Report(benchmark::State& state, double peakMiB) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(Bundle().dataSize));
    state.counters["peak_rss_MiB"] = peakMiB;
    state.counters["parent_rss_MiB"] = ParentRssMiB();
}

// Argument: the workers decoding LZ4 blocks (1: every spare core is held elsewhere).
void BM_OpenUnityFS256MiB(benchmark::State& state) {
    const BenchBundle& b = Bundle();
    const CoreLease held(state.range(0) == 1 ? 1024 : 0);
    double seconds = 0;
    for (auto _ : state) {
        SilentReporter silent;
        const auto start = std::chrono::steady_clock::now();
        auto archive = Archive::Open(b.path, silent);
        benchmark::DoNotOptimize(archive->Parse(0, RunOptions{}, &silent).Items().Count());
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        archive.reset();
        state.ResumeTiming();
    }
    state.counters["x_floor"] = seconds / static_cast<double>(state.iterations()) / gFloor;
    Report(state, ChildPeakMiB([&] { OpenOnce(b); }));
}

void BM_FloorLz4DecodeAndWrite256MiB(benchmark::State& state) {
    const BenchBundle& b = Bundle();
    const std::string out = b.path + ".floor";
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        DecodeAndWriteOnce(b, out);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        std::filesystem::remove(out);
        state.ResumeTiming();
    }
    gFloor = seconds / static_cast<double>(state.iterations());
    Report(state, ChildPeakMiB([&] {
               DecodeAndWriteOnce(b, out);
               std::filesystem::remove(out);
           }));
}

BENCHMARK(BM_FloorLz4DecodeAndWrite256MiB)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OpenUnityFS256MiB)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
