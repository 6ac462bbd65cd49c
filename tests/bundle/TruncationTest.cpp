#include "common/Error.h"
#include "session/Archive.h"
#include "support/BundleBuilder.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
    size_t signatureLength; // shorter prefixes are no longer recognisable as bundles
};

std::vector<Case> SmallBundles() {
    const std::vector<InnerFile> files = {{"CAB-a", MinimalAssetsFile("5.6.3p1", 40), 4},
                                          {"CAB-a.resS", NoiseBytes(40, 2), 0}};
    std::vector<Case> out;
    auto fsCase = [&](const std::string& name, BlockKind blocks, BlockInfoKind info) {
        UnityFSOptions o;
        o.blocks = blocks;
        o.blockInfo = info;
        o.blockSize = 32;
        out.push_back({name, BuildUnityFS(files, o).bytes, 7});
    };
    fsCase("fs-lz4-infolz4hc", BlockKind::Lz4, BlockInfoKind::Lz4HCAtStart);
    fsCase("fs-lz4hc-infolz4", BlockKind::Lz4HC, BlockInfoKind::Lz4AtStart);
    fsCase("fs-stored-inplace", BlockKind::Stored, BlockInfoKind::StoredAtStart);
    fsCase("fs-stored-infoatend", BlockKind::StoredZero, BlockInfoKind::StoredAtEnd);
    fsCase("fs-lzma-infoatend", BlockKind::Lzma, BlockInfoKind::StoredAtEnd);
    fsCase("fs-storedbit", BlockKind::Lz4StoredBit, BlockInfoKind::StoredAtStart);
    // UnityFS 7 and 8: header padded to 16 bytes, blocks padded (flag 0x200).
    auto modernCase = [&](const std::string& name, uint32_t format, BlockKind blocks,
                          BlockInfoKind info) {
        UnityFSOptions o;
        o.formatVersion = format;
        o.engineVersion = "2022.3.9f1";
        o.padBlocks = true;
        o.blocks = blocks;
        o.blockInfo = info;
        o.blockSize = 32;
        out.push_back({name, BuildUnityFS(files, o).bytes, 7});
    };
    modernCase("fs7-lz4-infolz4hc", 7, BlockKind::Lz4, BlockInfoKind::Lz4HCAtStart);
    modernCase("fs8-lzma-infoatend", 8, BlockKind::Lzma, BlockInfoKind::StoredAtEnd);
    modernCase("fs8-stored-inplace", 8, BlockKind::Stored, BlockInfoKind::StoredAtStart);
    UnityRWOptions web;
    web.levelCount = 2;
    out.push_back({"web-lzma", BuildUnityRW(files, web).bytes, 8});
    UnityRWOptions raw;
    raw.signature = "UnityRaw";
    raw.compressed = false;
    out.push_back({"raw", BuildUnityRW(files, raw).bytes, 8});
    web.formatVersion = 1;
    out.push_back({"web1-lzma", BuildUnityRW(files, web).bytes, 8});
    raw.formatVersion = 2;
    out.push_back({"raw2", BuildUnityRW(files, raw).bytes, 8});
    return out;
}

TEST(Truncation, EveryPrefixOfAValidBundleIsAnErrorAndLeavesNoWorkingFile) {
    TempDir dir;
    const fs::path archive = dir / "t.unity3d";
    for (const auto& c : SmallBundles()) {
        {
            // The whole bundle opens.
            WriteFileBytes(archive, {c.bytes.begin(), c.bytes.end()});
            OpenedArchive a;
            ASSERT_NO_THROW(a.Open(archive.string())) << c.name;
        }
        for (size_t len = 0; len < c.bytes.size(); ++len) {
            // A fresh file each time: overwriting in place makes the file system flush.
            fs::remove(archive);
            WriteFileBytes(archive,
                           {c.bytes.begin(), c.bytes.begin() + static_cast<ptrdiff_t>(len)});
            // An open that fails ends the run, which removes what it made.
            bool failed = false;
            try {
                OpenedArchive a(archive.string());
            } catch (const KestrelError&) {
                failed = true;
            }
            if (len >= c.signatureLength) {
                EXPECT_TRUE(failed) << c.name << " opened when cut to " << len << " of "
                                    << c.bytes.size() << " bytes";
            }
            EXPECT_FALSE(fs::exists(WorkingFileOf(archive))) << c.name << " " << len;
        }
    }
}

} // namespace
