// UnityFS as the engines from 2019.4 on write it: the header padded to 16 bytes, bit 0x200 as the
// block padding flag (or, before 2020.3.34, 2021.3.2 and 2022.1.1, as an encryption flag), the
// block info at the start or at the end.
#include "bundle/BundleReader.h"
#include "common/Error.h"
#include "io/SafePath.h"
#include "session/Operations.h"
#include "support/BundleBuilder.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::vector<InnerFile> TwoFiles() {
    return {{"CAB-one", MinimalAssetsFile("2021.3.33f1", 150000), 4},
            {"archive:/CAB-two/CAB-two.resS", NoiseBytes(40001, 9), 0}};
}

struct ModernCase {
    const char* name;
    uint32_t format;
    const char* engine;
    bool padBlocks;
    BlockKind blocks;
    BlockInfoKind info;
};

constexpr ModernCase kCases[] = {
    {"Format7Lz4", 7, "2019.4.28f1", false, BlockKind::Lz4, BlockInfoKind::Lz4HCAtStart},
    {"Format7PaddedLzma", 7, "2020.3.35f1", true, BlockKind::Lzma, BlockInfoKind::Lz4HCAtStart},
    {"Format8PaddedStored", 8, "2021.3.33f1", true, BlockKind::Stored, BlockInfoKind::Lz4HCAtStart},
    {"Format8PaddedInPlace", 8, "2022.3.9f1", true, BlockKind::Stored,
     BlockInfoKind::StoredAtStart},
    {"Format8InfoAtEnd", 8, "6000.0.32f1", true, BlockKind::Lz4HC, BlockInfoKind::StoredAtEnd},
    {"Format7UnpaddedInPlace", 7, "2020.1.6f1", false, BlockKind::StoredZero,
     BlockInfoKind::StoredAtStart},
    {"Format6Of2019_4", 6, "2019.4.39f1", false, BlockKind::Lz4, BlockInfoKind::Lz4HCAtStart},
};

class ModernBundles : public ::testing::TestWithParam<ModernCase> {};

TEST_P(ModernBundles, OpenEveryInnerFileWithAnExactWorkingCopy) {
    const ModernCase& c = GetParam();
    UnityFSOptions opt;
    opt.formatVersion = c.format;
    opt.engineVersion = c.engine;
    opt.padBlocks = c.padBlocks;
    opt.blocks = c.blocks;
    opt.blockInfo = c.info;
    opt.blockSize = 64 * 1024;
    const auto files = TwoFiles();
    const BuiltBundle built = BuildUnityFS(files, opt);
    const bool inPlace = (c.blocks == BlockKind::Stored || c.blocks == BlockKind::StoredZero) &&
                         c.info == BlockInfoKind::StoredAtStart;
    const BuiltBundle expected = inPlace ? built : ExpectedWorkCopyFS(files, opt);

    TempDir dir;
    const fs::path archive = dir / "data.unity3d";
    WriteFileBytes(archive, built.bytes);
    OpenedArchive a(archive.string());
    for (uint32_t i = 0; i < files.size(); ++i) {
        a.Select(i);
        ASSERT_TRUE(a.archive->IsBundle());
        const BundleStructure& bundle = a.archive->Bundle();
        EXPECT_EQ(a.inner.base, expected.innerOffsets[i]) << i;
        EXPECT_EQ(bundle.modernLayout, true);
        EXPECT_EQ(bundle.blocksPadded, c.padBlocks);
        // The record is the archive's, read once, whichever inner file is shown.
        EXPECT_EQ(bundle.blockInfoAtEnd, c.info == BlockInfoKind::StoredAtEnd);
        if (c.padBlocks) {
            EXPECT_EQ(bundle.dataStart % 16, 0u);
        }
        const auto work = ReadFileBytes(a.archive->WorkFileName());
        if (!inPlace) {
            EXPECT_EQ(work, expected.bytes) << "working copy";
        }
        ASSERT_LE(a.inner.base + files[i].bytes.size(), work.size());
        EXPECT_TRUE(std::equal(files[i].bytes.begin(), files[i].bytes.end(),
                               work.begin() + static_cast<std::ptrdiff_t>(a.inner.base)));
    }
    ExportBundleFiles(*a.archive, (dir / "Bundle").string() + "/", a.messages);
    for (const InnerFile& f : files)
        EXPECT_EQ(ReadFileBytes(dir / "Bundle" / SafeComponent(f.name)), f.bytes) << f.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, ModernBundles, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The bit that pads blocks in current engines marks an encrypted bundle in the engines before
// 2020.3.34, 2021.3.2 and 2022.1.1; such a bundle is refused, saying why.
TEST(ModernBundles, EncryptedBundlesAreRefusedWithAMessageSayingSo) {
    for (const char* engine : {"2020.3.33f1", "2021.3.1f1", "2022.1.0f1", "2019.4.40f1"}) {
        UnityFSOptions opt;
        opt.formatVersion = 7;
        opt.engineVersion = engine;
        opt.padBlocks = true; // sets bit 0x200
        TempDir dir;
        const fs::path archive = dir / "secret.unity3d";
        WriteFileBytes(archive, BuildUnityFS(TwoFiles(), opt).bytes);
        try {
            OpenedArchive a(archive.string());
            ADD_FAILURE() << engine << ": an encrypted bundle was opened";
        } catch (const KestrelError& e) {
            EXPECT_NE(std::string(e.what()).find("encrypted"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("secret.unity3d"), std::string::npos);
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1)
            << "no working file is left";
    }
}

} // namespace
