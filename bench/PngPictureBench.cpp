// Textures as PNG pictures, both directions.
// Export: the 1,000 BC7 textures of 256 x 256 of a generated bundle of serialized format 22 to
// PNG, next to the floor of zlib-compressing the same decoded pixels at the export's level (1),
// and the same export to DDS.
// Import: 100 edited pictures of 1024 x 1024 put back into DXT5 and into ASTC 6 x 6 objects by
// the importer (picture read, stored pixels decoded and compared, picture encoded, object bytes
// written), next to libsquish and libastcenc alone encoding the same pixels with the settings
// the importer's encoders use.
#include "image/PictureCodecs.h"
#include "image/PictureFiles.h"
#include "io/ByteSource.h"
#include "session/ExportDriver.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureImport.h"

// Debian's library exports the functions with C linkage while the header declares C++ ones.
extern "C" {
#include <astcenc.h>
}
#include <benchmark/benchmark.h>
#include <squish.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

constexpr int kExported = 1000;
constexpr uint32_t kExportEdge = 256;
constexpr int kImported = 100;
constexpr uint32_t kImportEdge = 1024;

// Smooth colour with some fine detail, different for each seed.
image::ImagePlane Picture(uint32_t edge, uint32_t seed) {
    image::ImagePlane p = image::ImagePlane::Make(edge, edge, image::PixelKind::kRgba8);
    for (uint32_t y = 0; y < edge; ++y) {
        for (uint32_t x = 0; x < edge; ++x) {
            uint8_t* px = &p.rgba8[(static_cast<size_t>(y) * edge + x) * 4];
            px[0] = static_cast<uint8_t>(x * 255 / (edge - 1));
            px[1] = static_cast<uint8_t>(y * 255 / (edge - 1));
            px[2] = static_cast<uint8_t>(((x * y) >> 6) + seed * 17);
            px[3] = static_cast<uint8_t>(255 - ((x ^ y) & 63));
        }
    }
    return p;
}

std::vector<uint8_t> Encoded(int32_t format, const image::ImagePlane& plane) {
    std::vector<uint8_t> out(image::PictureLevelBytes(format, plane.width, plane.height));
    image::FindPictureCodec(format)->encode(plane, out);
    return out;
}

struct Bc7Bundle {
    TempDir dir;
    fs::path bundle = dir.Path() / "textures.bundle";
    Bc7Bundle() {
        AssetsSpec plan;
        plan.formatVersion = 22;
        plan.engineVersion = "2022.3.9f1";
        ModernTextureSpec texture;
        texture.width = texture.height = kExportEdge;
        texture.format = 25;
        texture.pixels = Encoded(25, Picture(kExportEdge, 1));
        const auto body = MakeModernTextureObject(
            *TextureLayoutFor(ParseEngineVersion(plan.engineVersion)), texture, Endian::Little);
        for (int i = 0; i < kExported; ++i)
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

Bc7Bundle& Bundle() {
    static Bc7Bundle b;
    return b;
}

void ExportBundle(benchmark::State& st, uint16_t outputs) {
    SilentReporter silent;
    RunOptions options;
    options.outputs = outputs;
    options.typeFilterActive = true;
    options.typeFilter = {"28"};
    auto archive = Archive::Open(Bundle().bundle.string(), silent);
    const ParsedInnerFile inner = archive->Parse(0, options, &silent);
    const InnerScope scope{*archive, inner, options, silent};
    for (auto _ : st) {
        st.PauseTiming();
        fs::remove_all(Bundle().dir.Path() / "Unity_Assets_Files");
        st.ResumeTiming();
        ExportObjects(scope, ExportedObjects(inner, options, false));
    }
    archive.reset();
    st.SetItemsProcessed(static_cast<int64_t>(kExported * st.iterations()));
}

void BM_ExportBc7TexturesToPng(benchmark::State& st) {
    ExportBundle(st, kOutConvert | kOutPng);
}
BENCHMARK(BM_ExportBc7TexturesToPng)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExportBc7TexturesToDds(benchmark::State& st) {
    ExportBundle(st, kOutConvert | kOutDds);
}
BENCHMARK(BM_ExportBc7TexturesToDds)->Unit(benchmark::kMillisecond)->UseRealTime();

// Floor: the decoded pixels of the 1,000 textures compressed by zlib at level 1, each row led
// by its filter byte as in a PNG file, with no decoding, framing or file. Argument 0: the rows as
// they are (filter "none"); 1: each row less the one above (the "up" filter the export uses), the
// bytes zlib gets from the export, so that the ratio shows what decoding and framing add.
void BM_ZlibLevel1OfDecodedPixels(benchmark::State& st) {
    image::ImagePlane decoded;
    const auto stored = Encoded(25, Picture(kExportEdge, 1));
    image::FindPictureCodec(25)->decode(stored, kExportEdge, kExportEdge, decoded);
    const size_t rowBytes = static_cast<size_t>(kExportEdge) * 4;
    std::vector<uint8_t> rows;
    for (uint32_t y = 0; y < kExportEdge; ++y) {
        const bool up = st.range(0) == 1 && y > 0;
        rows.push_back(up ? 2 : 0);
        const auto* row = &decoded.rgba8[y * rowBytes];
        for (size_t i = 0; i < rowBytes; ++i)
            rows.push_back(static_cast<uint8_t>(row[i] - (up ? row[i - rowBytes] : 0)));
    }
    std::vector<uint8_t> out(compressBound(rows.size()));
    for (auto _ : st) {
        for (int i = 0; i < kExported; ++i) {
            uLongf size = out.size();
            compress2(out.data(), &size, rows.data(), rows.size(), 1);
            benchmark::DoNotOptimize(size);
        }
    }
    st.SetItemsProcessed(static_cast<int64_t>(kExported * st.iterations()));
}
BENCHMARK(BM_ZlibLevel1OfDecodedPixels)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 100 objects of the format (one level, the pixels of another picture) and an edited picture
// for each.
struct ImportSet {
    TempDir dir;
    int32_t format;
    std::vector<std::vector<uint8_t>> bodies;
    std::vector<fs::path> pictures;
    std::vector<image::ImagePlane> planes; // the pictures' pixels, for the floors
    explicit ImportSet(int32_t f) : format(f) {
        TextureObjectSpec texture;
        texture.layout = TextureLayout::MipCount;
        texture.width = texture.height = kImportEdge;
        texture.format = format;
        texture.pixels =
            std::vector<uint8_t>(image::PictureLevelBytes(format, kImportEdge, kImportEdge), 0);
        const auto body = MakeTextureObject(texture, Endian::Little);
        for (int i = 0; i < kImported; ++i) {
            bodies.push_back(body);
            planes.push_back(Picture(kImportEdge, static_cast<uint32_t>(i)));
            pictures.push_back(dir / ("picture_" + std::to_string(i) + ".tex.png"));
            image::WritePng(planes.back(), image::ChannelSet::kRgba, pictures.back(), 1);
        }
    }
};

void ImportPictures(benchmark::State& st, int32_t format) {
    static std::map<int32_t, std::unique_ptr<ImportSet>> sets;
    auto& set = sets[format];
    if (!set) set = std::make_unique<ImportSet>(format);
    SilentReporter silent;
    const fs::path output = set->dir / "object.bin";
    for (auto _ : st) {
        for (int i = 0; i < kImported; ++i) {
            auto source = std::make_shared<MemorySource>("bench", set->bodies[i]);
            ImportTexturePNG(
                {{}, Reader(source, Endian::Little), set->pictures[i], output, false, silent});
        }
    }
    st.SetItemsProcessed(static_cast<int64_t>(kImported * st.iterations()));
}

void BM_ImportEditedPngsIntoDxt5(benchmark::State& st) {
    ImportPictures(st, 12);
}
BENCHMARK(BM_ImportEditedPngsIntoDxt5)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_ImportEditedPngsIntoAstc6x6(benchmark::State& st) {
    ImportPictures(st, 56);
}
BENCHMARK(BM_ImportEditedPngsIntoAstc6x6)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// Floor: libsquish alone, DXT5 with the iterative cluster fit the encoder asks for.
void BM_SquishDxt5Alone(benchmark::State& st) {
    std::vector<image::ImagePlane> planes;
    for (int i = 0; i < kImported; ++i)
        planes.push_back(Picture(kImportEdge, static_cast<uint32_t>(i)));
    std::vector<uint8_t> out(image::PictureLevelBytes(12, kImportEdge, kImportEdge));
    for (auto _ : st) {
        for (const auto& plane : planes) {
            squish::CompressImage(plane.rgba8.data(), kImportEdge, kImportEdge, out.data(),
                                  squish::kDxt5 | squish::kColourIterativeClusterFit);
            benchmark::DoNotOptimize(out.data());
        }
    }
    st.SetItemsProcessed(static_cast<int64_t>(kImported * st.iterations()));
}
BENCHMARK(BM_SquishDxt5Alone)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Floor: libastcenc alone, 6 x 6 LDR at the medium preset on one thread, as the encoder runs it,
// with one context for all pictures.
void BM_AstcencAlone(benchmark::State& st) {
    std::vector<image::ImagePlane> planes;
    for (int i = 0; i < kImported; ++i)
        planes.push_back(Picture(kImportEdge, static_cast<uint32_t>(i)));
    astcenc_config config{};
    astcenc_config_init(ASTCENC_PRF_LDR, 6, 6, 1, ASTCENC_PRE_MEDIUM, 0, &config);
    astcenc_context* context = nullptr;
    astcenc_context_alloc(&config, 1, &context);
    const astcenc_swizzle identity{ASTCENC_SWZ_R, ASTCENC_SWZ_G, ASTCENC_SWZ_B, ASTCENC_SWZ_A};
    std::vector<uint8_t> out(image::PictureLevelBytes(56, kImportEdge, kImportEdge));
    for (auto _ : st) {
        for (auto& plane : planes) {
            void* slice = plane.rgba8.data();
            astcenc_image image{kImportEdge, kImportEdge, 1, ASTCENC_TYPE_U8, &slice};
            astcenc_compress_image(context, &image, &identity, out.data(), out.size(), 0);
            astcenc_compress_reset(context);
        }
    }
    astcenc_context_free(context);
    st.SetItemsProcessed(static_cast<int64_t>(kImported * st.iterations()));
}
BENCHMARK(BM_AstcencAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace
