// Writing back a 256 MiB UnityFS bundle after an import (one inner file replaced): the archive
// re-packed in one pass from the working copy and the replacement, with LZ4 in 128 KiB blocks and with LZMA as one block,
// each next to its floor measured in the same run: liblz4 compressing the same data in the same
// 128 KiB chunks, and liblzma alone encoding it with the same settings, each read from the working
// file and written to a file (for LZ4 also with that file flushed to disk, as the re-packed archive
// is before it replaces the old one). Peak memory of each is measured in a child process (fork,
// wait4's ru_maxrss). KESTREL_REPACK_MIB sets another data size (for example 16 for a quick run).
#include "PeakMemory.h"
#include "bundle/ArchiveWriter.h"
#include "bundle/BundleReader.h"
#include "common/CoreBudget.h"
#include "io/ByteSource.h"
#include "io/Writer.h"
#include "support/BundleBuilder.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lzma.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

using namespace kestrel;
using namespace kestrel::bench;
using namespace kestrel::test;

constexpr uint32_t kBlockSize = 128 * 1024;

uint32_t BlockCount() {
    const char* mib = std::getenv("KESTREL_REPACK_MIB");
    const long n = mib != nullptr ? std::atol(mib) : 256;
    return static_cast<uint32_t>(std::max(1L, n) * 8);
}

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

std::vector<uint8_t> Lz4(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out(static_cast<size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
    const int n = LZ4_compress_default(reinterpret_cast<const char*>(in.data()),
                                       reinterpret_cast<char*>(out.data()),
                                       static_cast<int>(in.size()), static_cast<int>(out.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

struct BenchBundle {
    TempDir dir;
    std::string archive;
    std::string work; // the ".TEMP" working copy
    BundleStructure records;
    std::vector<uint8_t> assets; // the small inner file that is replaced
    uint64_t dataSize = 0;
};

// An LZ4 bundle of a small assets file and a large resource, written block by block (compressed
// twice: once for the block table, once for the data), then opened as the program opens it.
void Generate(BenchBundle& out) {
    out.archive = (out.dir / "big.unity3d").string();
    out.assets = MinimalAssetsFile("2017.4.1f1", 4000);
    const uint32_t count = BlockCount();
    std::vector<uint8_t> block;
    std::vector<uint32_t> sizes;
    for (uint32_t i = 0; i < count; ++i) {
        FillBlock(i, block);
        sizes.push_back(static_cast<uint32_t>(Lz4(block).size()));
    }
    out.dataSize = uint64_t{count} * kBlockSize;
    // Every block LZ4, the small first one too: the archive is re-packed as its first block is.
    const std::vector<uint8_t> firstBlock = Lz4(out.assets);
    Writer info(Endian::Big);
    info.Zeros(16);
    info.U32BE(count + 1);
    info.U32BE(static_cast<uint32_t>(out.assets.size()));
    info.U32BE(static_cast<uint32_t>(firstBlock.size()));
    info.U16(0x0002);
    for (uint32_t c : sizes) {
        info.U32BE(kBlockSize);
        info.U32BE(c);
        info.U16(0x0002);
    }
    info.U32BE(2);
    info.U64BE(0);
    info.U64BE(out.assets.size());
    info.U32BE(4);
    info.CString("CAB-big");
    info.U64BE(out.assets.size());
    info.U64BE(out.dataSize);
    info.U32BE(0);
    info.CString("CAB-big.resS");

    Writer h(Endian::Big);
    h.CString("UnityFS");
    h.U32BE(6);
    h.CString("5.x.x");
    h.CString("2017.4.1f1");
    const size_t afterVersions = h.Size();
    h.U64BE(0);
    h.U32BE(static_cast<uint32_t>(info.Size()));
    h.U32BE(static_cast<uint32_t>(info.Size()));
    h.U32BE(0x40);
    h.Bytes(info.Data().data(), info.Size());
    h.Bytes(firstBlock.data(), firstBlock.size());
    uint64_t total = h.Size();
    for (uint32_t c : sizes)
        total += c;
    h.PutU64BEAt(afterVersions, total);
    OutputFile file(out.archive);
    file.Write(h.Data());
    for (uint32_t i = 0; i < count; ++i) {
        FillBlock(i, block);
        file.Write(Lz4(block));
    }
    file.Close();
    out.work = ReadContainer(out.archive, out.records).workFileName;
}

BenchBundle& Bundle() {
    static BenchBundle bundle;
    static const bool generated = (Generate(bundle), true);
    (void)generated;
    return bundle;
}

// The records of the same bundle as if its archive had been packed as one LZMA block.
BundleStructure AsLzmaBundle(const BundleStructure& records) {
    BundleStructure r = records;
    r.packing.known = true;
    r.packing.flags = records.FS.Flags;
    r.packing.firstBlockFlags = {0x00, 0x41};
    r.packing.blockCount = 1;
    return r;
}

// As an import writes: the archive packed from the working copy and the replacement, the copy
// itself left as it is (so every run starts from the records as opened).
void WriteBack(BenchBundle& b, const BundleStructure& opened) {
    BundleStructure records = opened;
    std::shared_ptr<const ByteSource> newWork;
    ArchiveWriteInput in;
    in.archiveName = b.archive;
    in.workFileName = b.work;
    in.isBundle = true;
    in.bundle = &records;
    in.replacements = {{0, std::make_shared<MemorySource>("assets", b.assets)}};
    in.workOut = &newWork;
    WriteArchive(in);
}

// The floors read the data area of the working file in 128 KiB chunks and write what the codec
// gives to a file.
void FloorLz4(const BenchBundle& b, const std::string& outPath, bool sync) {
    const auto work = FileSource::Open(b.work);
    OutputFile out(outPath);
    std::vector<uint8_t> plain(kBlockSize);
    for (uint64_t pos = b.records.dataStart; pos < work->Size(); pos += plain.size()) {
        plain.resize(work->ReadAt(pos, plain.data(), kBlockSize));
        out.Write(Lz4(plain));
    }
    if (sync) out.Sync();
    out.Close();
}

void FloorLzma(const BenchBundle& b, const std::string& outPath) {
    lzma_options_lzma opt{};
    lzma_lzma_preset(&opt, 6);
    opt.dict_size = 0x80000;
    opt.lc = 3;
    opt.lp = 0;
    opt.pb = 2;
    opt.nice_len = 273;
    opt.mf = LZMA_MF_BT4;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&s, filters) != LZMA_OK) std::abort();
    const auto work = FileSource::Open(b.work);
    OutputFile out(outPath);
    std::vector<uint8_t> in(kBlockSize);
    std::vector<uint8_t> packed(kBlockSize);
    uint64_t pos = b.records.dataStart;
    lzma_action action = LZMA_RUN;
    for (;;) {
        if (s.avail_in == 0 && action == LZMA_RUN) {
            const size_t got = work->ReadAt(pos, in.data(), in.size());
            pos += got;
            s.next_in = in.data();
            s.avail_in = got;
            if (got == 0) action = LZMA_FINISH;
        }
        s.next_out = packed.data();
        s.avail_out = packed.size();
        const lzma_ret ret = lzma_code(&s, action);
        out.Write(packed.data(), packed.size() - s.avail_out);
        if (ret == LZMA_STREAM_END) break;
        if (ret != LZMA_OK) std::abort();
    }
    lzma_end(&s);
    out.Close();
}

// Seconds per run of each floor, for the ratio the re-pack beside it reports.
double gFloorLz4 = 0;
double gFloorLz4Synced = 0;
double gFloorLzma = 0;

double Seconds(std::chrono::steady_clock::time_point start, benchmark::State& state) {
    const std::chrono::duration<double> d = std::chrono::steady_clock::now() - start;
    return d.count() / static_cast<double>(state.iterations());
}

void Report(benchmark::State& state, double peakMiB) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(Bundle().dataSize));
    state.counters["peak_rss_MiB"] = peakMiB;
    state.counters["parent_rss_MiB"] = ParentRssMiB();
}

void BM_FloorLz4Chunks(benchmark::State& state) {
    BenchBundle& b = Bundle();
    const std::string out = b.archive + ".floor";
    const bool sync = state.range(0) != 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        FloorLz4(b, out, sync);
    (sync ? gFloorLz4Synced : gFloorLz4) = Seconds(start, state);
    Report(state, ChildPeakMiB([&] { FloorLz4(b, out, sync); }));
    std::filesystem::remove(out);
}

// Argument: the workers compressing LZ4 blocks (1: every spare core is held elsewhere).
void BM_RepackLz4(benchmark::State& state) {
    BenchBundle& b = Bundle();
    const CoreLease held(state.range(0) == 1 ? 1024 : 0);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        WriteBack(b, b.records);
    state.counters["x_floor"] = Seconds(start, state) / gFloorLz4;
    state.counters["x_floor_synced"] = Seconds(start, state) / gFloorLz4Synced;
    Report(state, ChildPeakMiB([&] { WriteBack(b, b.records); }));
}

void BM_FloorLzma(benchmark::State& state) {
    BenchBundle& b = Bundle();
    const std::string out = b.archive + ".floor";
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        FloorLzma(b, out);
    gFloorLzma = Seconds(start, state);
    Report(state, ChildPeakMiB([&] { FloorLzma(b, out); }));
    std::filesystem::remove(out);
}

void BM_RepackLzma(benchmark::State& state) {
    BenchBundle& b = Bundle();
    BundleStructure records = AsLzmaBundle(b.records);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        WriteBack(b, records);
    state.counters["x_floor"] = Seconds(start, state) / gFloorLzma;
    Report(state, ChildPeakMiB([&] { WriteBack(b, records); }));
}

// Argument 1: the floor's file is flushed to disk as the re-packed archive is (fsync).
BENCHMARK(BM_FloorLz4Chunks)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RepackLz4)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FloorLzma)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RepackLzma)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
