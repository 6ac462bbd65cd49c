#include "support/StreamedBundle.h"

#include "common/EngineVersion.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureLayouts.h"

namespace kestrel::test {

void WriteStreamedTextureBundle(const std::filesystem::path& path) {
    const std::string engine = "2019.4.40f1";
    const TextureLayoutRow* row = TextureLayoutFor(ParseEngineVersion(engine));
    ModernTextureSpec texture;
    texture.width = texture.height = 8;
    texture.format = 12; // DXT5: 4 blocks of 16 bytes
    texture.pixels = TwoBandDXT5(8, 8);
    texture.streamed = true;
    texture.streamOffset = 0;
    texture.path = std::string("archive:/") + kStreamedOwner + "/" + kStreamedOwner + ".resS";

    AssetsSpec owner;
    owner.formatVersion = 21;
    owner.engineVersion = engine;
    owner.objects.push_back({28, "hero", MakeModernTextureObject(*row, texture, Endian::Little)});
    owner.objects.push_back({49, "notes", TextBody("the owner's text")});
    AssetsSpec second = owner;
    second.objects = {{49, "dialogue", TextBody("the second file's text")}};

    const std::vector<InnerFile> files = {
        {kStreamedOwner, BuildAssetsFile(owner), 4},
        {std::string(kStreamedOwner) + ".resS", texture.pixels, 0},
        {kStreamedSecond, BuildAssetsFile(second), 4}};
    UnityFSOptions options;
    options.blocks = BlockKind::Lz4HC;
    options.blockInfo = BlockInfoKind::Lz4HCAtStart;
    options.blockSize = 1 << 20; // one block holds all three nodes
    options.formatVersion = 7;
    options.engineVersion = engine;
    WriteFileBytes(path, BuildUnityFS(files, options).bytes);
}

} // namespace kestrel::test
