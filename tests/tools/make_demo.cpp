// Writes the demo archive: a UnityFS bundle with LZ4 blocks whose one serialized file holds a
// DXT5 and an RGBA32 texture, a text asset, a mesh and a sound, built with the test builders.
#include "io/Writer.h"
#include "support/AssetsBuilder.h"
#include "support/AudioObjects.h"
#include "support/BundleBuilder.h"
#include "support/MeshObjects.h"
#include "support/TextureObjects.h"

#include <cstdio>
#include <exception>

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr Endian kOrder = Endian::Little;
constexpr int kEngine = 4; // the serialized layouts of engine 4 (format 9)

std::vector<uint8_t> DemoAssets() {
    AssetsSpec plan;
    plan.formatVersion = 9;
    plan.engineVersion = "4.6.0f3";
    plan.targetPlatform = 5;

    TextureObjectSpec dxt5;
    dxt5.layout = TextureLayout::MipFlag;
    dxt5.width = dxt5.height = 64;
    dxt5.format = 12;
    dxt5.mip = 0;
    dxt5.pixels = TwoBandDXT5(64, 64);
    plan.objects.push_back({28, "sky_dxt5", MakeTextureObject(dxt5, kOrder)});

    TextureObjectSpec rgba;
    rgba.layout = TextureLayout::MipFlag;
    rgba.width = rgba.height = 32;
    rgba.format = 4;
    rgba.mip = 0;
    rgba.pixels = TwoBandImage(32, 32, {255, 0, 0, 255}, {0, 0, 255, 255});
    plan.objects.push_back({28, "flag_rgba32", MakeTextureObject(rgba, kOrder)});

    plan.objects.push_back(
        {49, "dialogue", TextBody("Hello, traveller.\nThe bridge is closed tonight.\n", kOrder)});
    plan.objects.push_back({43, "crate", MakeMeshBody(kEngine, kOrder, MakeCubeMesh())});
    plan.objects.push_back({83, "chime", MakeEmbeddedAudioBody(kEngine, kOrder, MakeTinyWav(800))});
    plan.objects.push_back({1, std::nullopt, {0, 0, 0, 0}});
    return BuildAssetsFile(plan);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: kestrel_make_demo <archive to write>\n", stderr);
        return 2;
    }
    try {
        UnityFSOptions options;
        options.blocks = BlockKind::Lz4;
        options.blockInfo = BlockInfoKind::Lz4HCAtStart;
        options.blockSize = 16 * 1024;
        options.engineVersion = "4.6.0f3";
        const BuiltBundle bundle = BuildUnityFS({{"CAB-demo", DemoAssets(), 4}}, options);
        WriteWholeFile(argv[1], bundle.bytes.data(), bundle.bytes.size());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
