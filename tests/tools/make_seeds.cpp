// Writes a seed corpus for the archive fuzz targets: small bundles of every layout the reader
// knows, split pieces and plain files, built with the test bundle builder.
#include "io/Writer.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/TextureObjects.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>

using namespace kestrel::test;

namespace {

void Save(const std::filesystem::path& dir, const std::string& name,
          const std::vector<uint8_t>& bytes) {
    kestrel::WriteWholeFile(dir / name, bytes.data(), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: kestrel_make_seeds <output directory>\n", stderr);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    std::vector<uint8_t> ogg = {'O', 'g', 'g', 'S'};
    ogg.resize(64, 0);
    const std::vector<InnerFile> files = {{"CAB-a", MinimalAssetsFile("5.6.3p1", 96), 4},
                                          {"archive:/CAB-b/CAB-b.resS", ogg, 0}};
    const std::pair<const char*, BlockKind> blocks[] = {{"stored", BlockKind::Stored},
                                                        {"zero", BlockKind::StoredZero},
                                                        {"lz4", BlockKind::Lz4},
                                                        {"lz4hc", BlockKind::Lz4HC},
                                                        {"storedbit", BlockKind::Lz4StoredBit},
                                                        {"lzma", BlockKind::Lzma}};
    const std::pair<const char*, BlockInfoKind> infos[] = {
        {"infostored", BlockInfoKind::StoredAtStart},
        {"infolz4", BlockInfoKind::Lz4AtStart},
        {"infolz4hc", BlockInfoKind::Lz4HCAtStart},
        {"infoend", BlockInfoKind::StoredAtEnd}};
    for (const auto& [blockName, block] : blocks) {
        for (const auto& [infoName, info] : infos) {
            UnityFSOptions o;
            o.blocks = block;
            o.blockInfo = info;
            o.blockSize = 64;
            Save(dir, std::string("fs-") + blockName + "-" + infoName,
                 BuildUnityFS(files, o).bytes);
        }
    }
    {
        // An LZ4 block declaring nearly 4 GiB from its few bytes: the reader refuses it before
        // taking a buffer of that size (the fuzz run's memory limit stops the target otherwise).
        UnityFSOptions o;
        o.blockInfo = BlockInfoKind::StoredAtEnd;
        o.blockSize = 64;
        BuiltBundle built = BuildUnityFS(files, o);
        built.bytes[built.recordAt[0]] = 0xFF;
        Save(dir, "fs-lz4-declares-4gib", built.bytes);
    }
    UnityRWOptions web;
    Save(dir, "web-lzma", BuildUnityRW(files, web).bytes);
    web.lzmaEndMarker = true;
    web.levelCount = 2;
    Save(dir, "web-lzma-endmarker", BuildUnityRW(files, web).bytes);
    UnityRWOptions raw;
    raw.signature = "UnityRaw";
    raw.compressed = false;
    Save(dir, "raw", BuildUnityRW(files, raw).bytes);
    // The web player's older formats: format 1 (no complete file size) compressed with three
    // levels, format 2 uncompressed.
    UnityRWOptions web1;
    web1.formatVersion = 1;
    web1.levelCount = 3;
    web1.playerVersion = "2.x.x";
    web1.engineVersion = "2.1.0f5";
    Save(dir, "web1-lzma", BuildUnityRW(files, web1).bytes);
    raw.formatVersion = 2;
    raw.engineVersion = "3.3.0f4";
    Save(dir, "raw2", BuildUnityRW(files, raw).bytes);
    Save(dir, "assets", MinimalAssetsFile("4.6.0f3", 32));
    // Serialized formats of the current engines, with and without type trees, both byte orders,
    // plain and inside UnityFS 7 and 8 bundles with padding and the block info at the end.
    for (int32_t format : {17, 19, 21, 22}) {
        for (const bool trees : {false, true}) {
            for (const bool big : {false, true}) {
                AssetsSpec plan;
                plan.formatVersion = format;
                plan.typeTrees = trees;
                plan.bigEndian = big;
                plan.engineVersion = "2021.3.33f1";
                plan.objects = {{49, "note", TextBody("text", plan.Order())},
                                {1, std::nullopt, {1, 2, 3, 4}},
                                {-1, std::nullopt, {5, 6, 7, 8}},
                                {142, "bundle", {9, 9, 9, 9}}};
                const std::vector<uint8_t> bytes = BuildAssetsFile(plan);
                const std::string name =
                    "sf" + std::to_string(format) + (trees ? "-trees" : "") + (big ? "-big" : "");
                Save(dir, name, bytes);
                if (big || format < 21) continue;
                UnityFSOptions o;
                o.formatVersion = format == 22 ? 8 : 7;
                o.engineVersion = "2022.3.9f1";
                o.padBlocks = true;
                o.blockInfo = trees ? BlockInfoKind::StoredAtEnd : BlockInfoKind::Lz4HCAtStart;
                o.blockSize = 96;
                Save(dir, "fs" + std::to_string(o.formatVersion) + "-" + name,
                     BuildUnityFS({{"CAB-x", bytes, 4}, {"CAB-x.resS", ogg, 0}}, o).bytes);
            }
        }
    }
    // Serialized formats 5 to 8 (metadata at the end of the file) with type trees: format 5
    // big-endian as the engines of that time wrote it for some platforms, the others
    // little-endian.
    for (int32_t format : {5, 6, 7, 8}) {
        AssetsSpec plan;
        plan.formatVersion = format;
        plan.typeTrees = true;
        plan.bigEndian = format == 5;
        plan.engineVersion = "3.4.2f3";
        plan.targetPlatform = 6;
        plan.objects = {{49, "note", TextBody("text", plan.Order())},
                        {1, std::nullopt, {1, 2, 3, 4}},
                        {-1, std::nullopt, {5, 6, 7, 8}}};
        Save(dir, "sf" + std::to_string(format) + (plan.bigEndian ? "-big" : ""),
             BuildAssetsFile(plan));
    }
    Save(dir, "resource-ogg", ogg);
    // Texture bodies for the texture converters' target: a first byte choosing the variant (2: a
    // DXT5 Texture2D, 0x82 the same big-endian), a second choosing the engine version (0: an
    // older file), then the object body; then one body of each layout row of the newer engines
    // (variant 8: BC7, version k + 1 for row k).
    for (const auto& [name, selector, order] :
         {std::tuple{"texture-dxt5-le", uint8_t{2}, kestrel::Endian::Little},
          std::tuple{"texture-dxt5-be", uint8_t{0x82}, kestrel::Endian::Big}}) {
        TextureObjectSpec plan;
        plan.width = 8;
        plan.height = 8;
        plan.format = 12;
        plan.pixels.assign(64, 0x5A);
        std::vector<uint8_t> seed = {selector, 0};
        const auto body = MakeTextureObject(plan, order);
        seed.insert(seed.end(), body.begin(), body.end());
        Save(dir, name, seed);
    }
    uint8_t version = 1;
    for (const kestrel::TextureLayoutRow& row : kestrel::TextureLayoutRows()) {
        ModernTextureSpec plan;
        plan.format = 25;
        plan.pixels.assign(64, 0x3C);
        std::vector<uint8_t> seed = {8, version};
        const auto body = MakeModernTextureObject(row, plan, kestrel::Endian::Little);
        seed.insert(seed.end(), body.begin(), body.end());
        Save(dir, "texture-modern-" + std::to_string(version++), seed);
    }
    std::printf("seeds written to %s\n", dir.string().c_str());
    return 0;
}
