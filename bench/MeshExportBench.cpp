#include "io/Writer.h"
#include "mesh/MeshExport.h"
#include "session/ConverterInput.h"
#include "support/MeshObjects.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>
#include <optional>

#include <filesystem>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// A 255 x 255 vertex grid: the largest square a 16-bit index buffer can address.
SimpleMesh GridMesh() {
    constexpr int kSide = 255;
    SimpleMesh m;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            m.positions.push_back({x * 0.37f, y * -1.13f, (x ^ y) * 0.01f});
            m.normals.push_back({0.0f, 0.0f, 1.0f});
            m.uvs.push_back({x / 254.0f, y / 254.0f});
        }
    }
    for (int y = 0; y + 1 < kSide; ++y) {
        for (int x = 0; x + 1 < kSide; ++x) {
            const auto i = static_cast<uint16_t>(y * kSide + x);
            for (int k : {0, 1, kSide, 1, kSide + 1, kSide})
                m.indices.push_back(i + k);
        }
    }
    return m;
}

struct Fixture {
    TempDir dir;
    AssetsFile assets;
    SilentReporter silent;
    const InterfaceTexts text = MakeLocalization(false);
    std::optional<ConverterContext> context; // made by each input
    std::vector<uint8_t> body = MakeMeshBody(5, Endian::Little, GridMesh());
    std::shared_ptr<const ByteSource> work = std::make_shared<MemorySource>("bench", body);
    ConverterInput Input() {
        context.emplace(ConverterContext{
            assets, ResourcePlaces{dir.Path().string() + "/", "", "", {}}, silent, text});
        return ConverterInput{*context, Reader(work), "Unity_Assets_Files/bench/Mesh/", "Grid.mesh",
                              0};
    }
};

void BM_ExportMeshOBJ(benchmark::State& st) {
    Fixture f;
    uint64_t bytes = 0;
    for (auto _ : st) {
        ExportMeshOBJ(f.Input(), 5);
        bytes = std::filesystem::file_size(f.dir / "Unity_Assets_Files/bench/Mesh/Grid.mesh.obj");
    }
    st.SetBytesProcessed(static_cast<int64_t>(bytes * st.iterations()));
    st.counters["obj_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ExportMeshOBJ)->Unit(benchmark::kMillisecond);

// The floor: writing a file of the same size in one piece.
void BM_WriteSameSizeFile(benchmark::State& st) {
    Fixture f;
    ExportMeshOBJ(f.Input(), 5);
    const auto path = f.dir / "Unity_Assets_Files/bench/Mesh/Grid.mesh.obj";
    const std::vector<uint8_t> text(std::filesystem::file_size(path), 'v');
    for (auto _ : st)
        WriteWholeFile(f.dir / "plain.bin", text.data(), text.size());
    st.SetBytesProcessed(static_cast<int64_t>(text.size() * st.iterations()));
}
BENCHMARK(BM_WriteSameSizeFile)->Unit(benchmark::kMillisecond);

} // namespace
