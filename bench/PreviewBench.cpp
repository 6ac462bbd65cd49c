// The window's preview and list on large inputs.
// Preview: a 2048 x 2048 BC7 texture with its 12 levels: level 0 decoded whole, the level a
// 600 x 600 pane shows (1024 x 1024), and how soon a decode whose row is no longer selected stops.
// Window (offscreen): the cursor moved down 1,000 BC7 textures of 512 x 512 as key repeat moves it,
// the longest step of the interface thread reported as stall_ms; and 200,000 rows opened, sorted
// by name and the order reversed by a second click.
#include "image/PictureCodecs.h"
#include "image/PlaneConvert.h"
#include "session/Preview.h"
#include "support/AssetsBuilder.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureLayouts.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kEdge = 2048;
constexpr int kScrolled = 1000;
constexpr uint32_t kScrolledEdge = 512;
constexpr int kRows = 200000;

image::ImagePlane Picture(uint32_t edge) {
    image::ImagePlane p = image::ImagePlane::Make(edge, edge, image::PixelKind::kRgba8);
    for (uint32_t y = 0; y < edge; ++y)
        for (uint32_t x = 0; x < edge; ++x) {
            uint8_t* px = &p.rgba8[(static_cast<size_t>(y) * edge + x) * 4];
            px[0] = static_cast<uint8_t>(x * 255 / (edge - 1));
            px[1] = static_cast<uint8_t>(y * 255 / (edge - 1));
            px[2] = static_cast<uint8_t>((x * y) >> 6);
            px[3] = static_cast<uint8_t>(255 - ((x ^ y) & 63));
        }
    return p;
}

// Every level of the picture, encoded as BC7, one after another.
std::vector<uint8_t> Bc7Chain(uint32_t edge, uint32_t& levels) {
    std::vector<uint8_t> out;
    image::ImagePlane level = Picture(edge);
    levels = 0;
    for (;;) {
        std::vector<uint8_t> bytes(image::PictureLevelBytes(25, level.width, level.height));
        image::FindPictureCodec(25)->encode(level, bytes);
        out.insert(out.end(), bytes.begin(), bytes.end());
        ++levels;
        if (level.width == 1 && level.height == 1) break;
        level = image::HalvePlane(level);
    }
    return out;
}

fs::path WriteTextures(const TempDir& dir, const char* name, uint32_t edge, int count) {
    AssetsSpec plan;
    plan.formatVersion = 22;
    plan.engineVersion = "2022.3.9f1";
    ModernTextureSpec texture;
    texture.width = texture.height = static_cast<int32_t>(edge);
    texture.format = 25;
    texture.pixels = Bc7Chain(edge, texture.mipCount);
    const auto body = MakeModernTextureObject(
        *TextureLayoutFor(ParseEngineVersion(plan.engineVersion)), texture, Endian::Little);
    for (int i = 0; i < count; ++i)
        plan.objects.push_back({28, "texture_" + std::to_string(i), body});
    const fs::path file = dir.Path() / name;
    const auto bytes = BuildAssetsFile(plan);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
}

struct Inputs {
    TempDir dir;
    fs::path big = WriteTextures(dir, "big.assets", kEdge, 1);
};

Inputs& Files() {
    static Inputs inputs;
    return inputs;
}

void DecodeLevel(benchmark::State& st, uint32_t boxEdge) {
    SilentReporter silent;
    RunOptions options;
    auto archive = Archive::Open(Files().big.string(), silent);
    const ParsedInnerFile inner = archive->Parse(0, options, &silent);
    ObjectPreview preview(*archive, inner, options);
    const TexturePictureFacts facts = preview.TextureFacts(0);
    const uint32_t level = boxEdge == 0 ? 0 : LevelForBox(facts, boxEdge, boxEdge);
    for (auto _ : st) {
        auto picture = preview.Picture(0, 0, level, {});
        benchmark::DoNotOptimize(picture->plane.rgba8.data());
    }
    st.counters["level"] = level;
    st.counters["levels"] = facts.levels;
}

void BM_PreviewBc7_2048Level0(benchmark::State& st) {
    DecodeLevel(st, 0);
}
BENCHMARK(BM_PreviewBc7_2048Level0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PreviewBc7_2048InA600Pane(benchmark::State& st) {
    DecodeLevel(st, 600);
}
BENCHMARK(BM_PreviewBc7_2048InA600Pane)->Unit(benchmark::kMillisecond)->UseRealTime();

// A decode told after its first band that its row is gone.
void BM_PreviewBc7_2048StaleDecodeStops(benchmark::State& st) {
    SilentReporter silent;
    RunOptions options;
    auto archive = Archive::Open(Files().big.string(), silent);
    const ParsedInnerFile inner = archive->Parse(0, options, &silent);
    ObjectPreview preview(*archive, inner, options);
    for (auto _ : st) {
        int asked = 0;
        auto picture = preview.Picture(0, 0, 0, [&] { return ++asked > 1; });
        benchmark::DoNotOptimize(picture);
    }
}
BENCHMARK(BM_PreviewBc7_2048StaleDecodeStops)->Unit(benchmark::kMicrosecond)->UseRealTime();

QApplication& Application() {
    static int argc = 1;
    static char name[] = "kestrel_bench";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

// The cursor moves one row down at a time with the preview open, events handled after each
// step as between two key repeats; stall_ms is the longest step of the interface thread.
void BM_WindowScrollsThrough1000Textures(benchmark::State& st) {
    Application();
    static const fs::path file = WriteTextures(Files().dir, "many.assets", kScrolledEdge, kScrolled);
    RunOptions options;
    options.text = MakeLocalization(false);
    ui::MainWindow window(options);
    window.show();
    window.OpenFile(QString::fromStdString(file.string()));
    double longest = 0;
    for (auto _ : st) {
        for (int row = 0; row < kScrolled; ++row) {
            QElapsedTimer step;
            step.start();
            window.list->setCurrentIndex(window.model->index(row, 0));
            QCoreApplication::processEvents();
            longest = std::max(longest, step.nsecsElapsed() / 1e6);
        }
        while (window.preview->Pending())
            QCoreApplication::processEvents();
    }
    st.counters["stall_ms"] = longest;
    window.close();
}
BENCHMARK(BM_WindowScrollsThrough1000Textures)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

const std::vector<uint8_t>& ManyRows() {
    static const std::vector<uint8_t> bytes = [] {
        AssetsSpec plan;
        const std::vector<uint8_t> textBody = TextBody("some text of a text asset");
        plan.objects.reserve(kRows);
        for (int i = 0; i < kRows; ++i)
            plan.objects.push_back({49, "Object_" + std::to_string((i * 7919) % kRows), textBody});
        return BuildAssetsFile(plan);
    }();
    return bytes;
}

// 200,000 rows: opened, sorted by name, reversed by a second click, each with its events handled.
void BM_Window200000Rows(benchmark::State& st) {
    Application();
    static const fs::path file = [] {
        const fs::path f = Files().dir.Path() / "rows.assets";
        std::ofstream(f, std::ios::binary)
            .write(reinterpret_cast<const char*>(ManyRows().data()),
                   static_cast<std::streamsize>(ManyRows().size()));
        return f;
    }();
    RunOptions options;
    options.text = MakeLocalization(false);
    ui::MainWindow window(options);
    window.show();
    double open = 0, sort = 0, reverse = 0;
    for (auto _ : st) {
        QElapsedTimer t;
        t.start();
        window.OpenFile(QString::fromStdString(file.string()));
        QCoreApplication::processEvents();
        open = t.nsecsElapsed() / 1e6;
        t.restart();
        window.SortByColumn(1);
        QCoreApplication::processEvents();
        sort = t.nsecsElapsed() / 1e6;
        t.restart();
        window.SortByColumn(1);
        QCoreApplication::processEvents();
        reverse = t.nsecsElapsed() / 1e6;
    }
    st.counters["open_ms"] = open;
    st.counters["sort_ms"] = sort;
    st.counters["reverse_ms"] = reverse;
    window.close();
}
BENCHMARK(BM_Window200000Rows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
