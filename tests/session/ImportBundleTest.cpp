// Import into bundles and split archives: a bundle is one unit (every inner file with an export
// tree, the resource entries last, the archive written once), round trips on builder bundles of
// every packing and on the bundle samples, and a streamed sound edited through its resource entry.
#include "session/ImportDriver.h"

#include "app/CommandLine.h"
#include "bundle/BundleReader.h"
#include "session/ExportDriver.h"
#include "session/ImportFiles.h"
#include "session/Operations.h"
#include "support/AssetsBuilder.h"
#include "support/AudioObjects.h"
#include "support/BundleBuilder.h"
#include "support/Manifest.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Assets(const std::string& text, uint32_t seed) {
    AssetsSpec plan;
    plan.objects.push_back({49, "readme", TextBody(text)});
    plan.objects.push_back({21, "mat", NoiseBytes(3000, seed)});
    plan.objects.push_back({1, std::nullopt, NoiseBytes(40, seed + 1)});
    return BuildAssetsFile(plan);
}

std::vector<InnerFile> Files() {
    return {{"CAB-main", Assets("main text", 1), 4},
            {"CAB-main.resS", NoiseBytes(5000, 3), 0},
            {"CAB-second", Assets("second text", 5), 4}};
}

struct BundleKind {
    std::string what;
    std::function<std::vector<uint8_t>()> build;
};

std::vector<BundleKind> Kinds() {
    std::vector<BundleKind> kinds;
    const std::pair<const char*, BlockKind> blocks[] = {{"stored", BlockKind::Stored},
                                                        {"LZ4", BlockKind::Lz4},
                                                        {"LZ4HC", BlockKind::Lz4HC},
                                                        {"LZMA", BlockKind::Lzma}};
    for (const auto& [name, kind] : blocks) {
        for (const BlockInfoKind info : {BlockInfoKind::Lz4HCAtStart, BlockInfoKind::StoredAtEnd}) {
            UnityFSOptions o;
            o.blocks = kind;
            o.blockInfo = info;
            o.blockSize = 4096;
            kinds.push_back(
                {std::string("UnityFS ") + name +
                     (info == BlockInfoKind::StoredAtEnd ? ", block info at the end" : ""),
                 [o] { return BuildUnityFS(Files(), o).bytes; }});
        }
    }
    // The web player's formats 1 and 2 (format 1: three levels, no complete file size) and 3.
    for (const uint32_t format : {1u, 2u, 3u}) {
        for (const bool compressed : {false, true}) {
            UnityRWOptions o;
            o.formatVersion = format;
            o.levelCount = format == 1 ? 3 : 1;
            o.signature = compressed ? "UnityWeb" : "UnityRaw";
            o.compressed = compressed;
            kinds.push_back({o.signature + " format " + std::to_string(format),
                             [o] { return BuildUnityRW(Files(), o).bytes; }});
        }
    }
    return kinds;
}

// Runs a command-line task in this process; its messages are kept.
int Task(const std::string& task, const fs::path& archive, const std::vector<std::string>& opts,
         RecordedMessages& messages) {
    RunOptions options;
    std::vector<std::string> params = {task, archive.string()};
    params.insert(params.end(), opts.begin(), opts.end());
    return RunCommandLine(options, params, messages);
}

// Opens the archive, imports the bundle as one unit (or with `entry` that inner file and its
// resource entries), and closes it.
void ImportWhole(const fs::path& archive, RecordedMessages& messages,
                 const std::string& entry = "") {
    OpenedArchive a;
    a.reporter = &messages;
    if (entry.empty()) {
        a.Open(archive.string());
        ImportArchive(*a.archive, a.options, messages);
    } else {
        a.Open(archive.string(), EntrySelector{0, entry, true});
        ImportInnerFileAndResources(*a.archive, a.inner.index, a.options, messages);
    }
}

TEST(ImportBundle, EveryPackingRoundTripsAndTakesATextEditInTheSecondInnerFile) {
    for (const BundleKind& kind : Kinds()) {
        SCOPED_TRACE(kind.what);
        TempDir dir;
        const fs::path archive = dir / "level.unity3d";
        const auto built = kind.build();
        WriteFileBytes(archive, {built.begin(), built.end()});
        const uint64_t inode = FileInode(archive);
        RecordedMessages messages;
        ASSERT_EQ(Task("export", archive, {}, messages), 0);
        ImportWhole(archive, messages);
        EXPECT_TRUE(messages.alerts.empty()) << messages.alerts[0];
        EXPECT_EQ(ReadFileBytes(archive), std::vector<unsigned char>(built.begin(), built.end()));
        EXPECT_EQ(FileInode(archive), inode) << "rewritten although nothing changed";

        const fs::path tree = dir / "Unity_Assets_Files" / "level";
        const auto first = FilesIn(tree, true);
        const std::string longer = "second text" + std::string(1024, 'L');
        WriteFileBytes(tree / "CAB-second" / "readme.txt", {longer.begin(), longer.end()});
        ImportWhole(archive, messages);
        EXPECT_TRUE(messages.alerts.empty()) << messages.alerts[0];
        // Signature and format version stay those of the archive.
        const auto edited = ReadFileBytes(archive);
        const size_t head =
            static_cast<size_t>(std::find(built.begin(), built.end(), 0) - built.begin()) + 5;
        ASSERT_GE(edited.size(), head);
        EXPECT_TRUE(std::equal(built.begin(), built.begin() + head, edited.begin()));

        const fs::path again = dir / "again";
        ASSERT_EQ(Task("export", archive, {"-p", again.string()}, messages), 0);
        const auto now = FilesIn(again / "Unity_Assets_Files" / "level", true);
        EXPECT_EQ(now.size(), first.size());
        for (const auto& [name, bytes] : first) {
            const auto it = now.find(name);
            ASSERT_NE(it, now.end()) << name;
            if (name == "CAB-second/readme.txt") {
                EXPECT_EQ(it->second, std::vector<unsigned char>(longer.begin(), longer.end()));
            } else {
                EXPECT_EQ(it->second, bytes) << name;
            }
        }
        for (const auto& e : fs::directory_iterator(dir.Path()))
            EXPECT_EQ(e.path().filename().string().find(".kestrel-"), std::string::npos)
                << e.path();
    }
}

// CAB-main's clip streams from the bundle's resource entry; a longer sound goes into the exported
// copy of that entry, which the import then writes back after CAB-main.
TEST(ImportBundle, AStreamedSoundComesBackThroughItsResourceEntry) {
    for (const bool chosen : {false, true}) {
        SCOPED_TRACE(chosen ? "with -e CAB-main" : "the bundle as one unit");
        TempDir dir;
        const auto wav = MakeTinyWav(40);
        std::vector<uint8_t> resource = wav;
        resource.insert(resource.begin(), 8, 0xEE);
        AssetsSpec plan;
        plan.objects.push_back(
            {83, "clip",
             MakeNamedResourceAudioBody(Endian::Little, "archive:/CAB-main/CAB-main.resS", 8,
                                        wav.size())});
        const fs::path archive = dir / "music.unity3d";
        UnityFSOptions lz4;
        WriteFileBytes(archive, BuildUnityFS({{"CAB-main", BuildAssetsFile(plan), 4},
                                              {"CAB-main.resS", resource, 0}},
                                             lz4)
                                    .bytes);
        RecordedMessages messages;
        ASSERT_EQ(Task("export", archive, {}, messages), 0);
        const fs::path tree = dir / "Unity_Assets_Files" / "music";
        const auto longer = MakeTinyWav(400);
        WriteFileBytes(tree / "CAB-main/Sounds/res_CAB-main.resS/clip.snd.wav", longer);
        ImportWhole(archive, messages, chosen ? "CAB-main" : "");
        EXPECT_TRUE(messages.alerts.empty()) << messages.alerts[0];

        const fs::path again = dir / "again";
        ASSERT_EQ(Task("export", archive, {"-p", again.string()}, messages), 0);
        EXPECT_EQ(
            ReadFileBytes(again / "Unity_Assets_Files/music/CAB-main/Sounds/res_CAB-main.resS/"
                                  "clip.snd.wav"),
            longer);
    }
}

TEST(ImportBundle, SplitPiecesGrowAcrossAPieceBoundaryAndJoinIntoTheNewArchive) {
    TempDir dir;
    const auto built =
        BuildUnityFS(Files(), UnityFSOptions{.blocks = BlockKind::Stored,
                                             .blockInfo = BlockInfoKind::Lz4HCAtStart})
            .bytes;
    const fs::path base = dir / "level.unity3d";
    ASSERT_EQ(WriteSplitPieces(base, built, 4000), 3u);
    const fs::path first = base.string() + ".split0";
    RecordedMessages messages;
    ASSERT_EQ(Task("export", first, {}, messages), 0);
    const fs::path tree = dir / "Unity_Assets_Files" / "level";
    const std::string longer = "main text" + std::string(5000, 'M');
    WriteFileBytes(tree / "CAB-main" / "readme.txt", {longer.begin(), longer.end()});
    ImportWhole(first, messages);
    EXPECT_TRUE(messages.alerts.empty()) << messages.alerts[0];
    for (const auto& e : fs::directory_iterator(dir.Path()))
        EXPECT_EQ(e.path().filename().string().find(".kestrel-"), std::string::npos) << e.path();

    const fs::path again = dir / "again";
    ASSERT_EQ(Task("export", first, {"-p", again.string()}, messages), 0);
    EXPECT_EQ(ReadFileBytes(again / "Unity_Assets_Files/level/CAB-main/readme.txt"),
              std::vector<unsigned char>(longer.begin(), longer.end()));
    EXPECT_EQ(ReadFileBytes(again / "Unity_Assets_Files/level/CAB-second/mat.mat"),
              ReadFileBytes(tree / "CAB-second/mat.mat"));
}

// Bundles of the samples whose serialized files are of format 15 or older.
std::vector<std::string> BundleSamples(const fs::path& samples) {
    std::vector<std::string> out;
    for (const ManifestRow& cols : ReadManifestRows(samples)) {
        if (cols.size() < 7 || cols[4] == "SerializedFile" || cols[1] == "local path") continue;
        const int format = std::atoi(cols[6].c_str());
        const bool bundle = cols[4].rfind("Unity", 0) == 0;
        if (!bundle || format <= 0 || format > 15 || !fs::is_regular_file(samples / cols[1]))
            continue;
        out.push_back(cols[1]);
    }
    return out;
}

TEST(ImportBundle, EveryBundleSampleRoundTripsAndTakesATextEdit) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    const auto bundles = BundleSamples(samples);
    ASSERT_FALSE(bundles.empty());
    size_t identical = 0, inner = 0, texts = 0, textsBack = 0;
    for (const std::string& rel : bundles) {
        SCOPED_TRACE(rel);
        TempDir dir;
        const fs::path archive = CopySampleWithCompanions(samples / rel, dir.Path());
        const auto before = ReadFileBytes(archive);
        const uint64_t inode = FileInode(archive);
        RecordedMessages messages;
        Task("export", archive, {}, messages);
        try {
            ImportWhole(archive, messages);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        const bool same = ReadFileBytes(archive) == before && FileInode(archive) == inode;
        EXPECT_TRUE(same) << "changed by an import of its own unedited export";
        identical += same ? 1 : 0;

        // The first text asset or shader of any inner file, 1 KiB longer.
        OpenedArchive opened(archive.string());
        const std::vector<std::string> names = opened.archive->InnerFileNames();
        inner += names.size();
        std::string edited;
        for (size_t i = 0; i < names.size() && edited.empty(); ++i) {
            opened.Select(i);
            for (size_t k = 0; k < opened.Items().Count() && edited.empty(); ++k) {
                const ObjectRow& row = opened.Items().rows[k];
                if ((row.ClassID == 49 || row.ClassID == 48) && row.PayloadSize > 0 &&
                    row.PayloadOffset >= 4) {
                    edited = fs::relative(ImportRoot(opened.Scope()) / opened.Items().ExportName[k],
                                          dir / "Unity_Assets_Files" / opened.archive->BaseName())
                                 .string();
                }
            }
        }
        const std::string base = opened.archive->BaseName();
        opened.archive.reset();
        if (edited.empty()) continue;
        ++texts;
        const fs::path tree = dir / "Unity_Assets_Files" / base;
        const auto first = FilesIn(tree, true);
        auto longer = ReadFileBytes(tree / edited);
        longer.insert(longer.end(), 1024, 'k');
        WriteFileBytes(tree / edited, longer);
        ImportWhole(archive, messages);

        const fs::path again = dir / "again";
        Task("export", archive, {"-p", again.string()}, messages);
        const auto now = FilesIn(again / "Unity_Assets_Files" / base, true);
        bool ok = now.size() == first.size();
        for (const auto& [name, bytes] : first) {
            const auto it = now.find(name);
            const bool same = it != now.end() && it->second == (name == edited ? longer : bytes);
            EXPECT_TRUE(same) << name;
            ok = ok && same;
        }
        textsBack += ok ? 1 : 0;
    }
    std::cout << bundles.size() << " bundle samples of format 15 or older (" << inner
              << " inner files): " << identical << " unchanged by an unedited import; " << texts
              << " with a text asset or shader, " << textsBack
              << " giving the text made 1 KiB longer back with every other file unchanged\n";
}

// The web player's bundles of formats 1 and 2 among the samples: every inner file is listed and
// chosen by its name, the serialized files among them (all but the game's ".dll" assemblies) as
// many as the manifest counts ("N SF inside"), and an import of the unedited export leaves the
// archive as it was.
TEST(ImportBundle, WebPlayerSamplesOfFormats1And2ListEveryInnerFileAndRoundTrip) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    size_t bundles = 0, inner = 0, serializedFiles = 0, identical = 0;
    for (const ManifestRow& cols : ReadManifestRows(samples)) {
        if (cols.size() < 11) continue;
        const std::string& kind = cols[4];
        if (kind != "UnityWeb fmt1" && kind != "UnityWeb fmt2" && kind != "UnityRaw fmt1" &&
            kind != "UnityRaw fmt2")
            continue;
        if (!fs::is_regular_file(samples / cols[1])) continue;
        SCOPED_TRACE(cols[1]);
        const size_t expected = std::strtoul(cols[10].c_str(), nullptr, 10);
        ASSERT_NE(cols[10].find(" SF inside"), std::string::npos) << cols[10];
        TempDir dir;
        const fs::path archive = CopySampleWithCompanions(samples / cols[1], dir.Path());
        const auto before = ReadFileBytes(archive);
        {
            OpenedArchive opened(archive.string());
            ASSERT_TRUE(opened.archive->IsBundle());
            const std::vector<std::string> names = opened.archive->InnerFileNames();
            size_t serialized = 0;
            for (size_t i = 0; i < names.size(); ++i) {
                EXPECT_EQ(opened.archive->Resolve(EntrySelector{0, names[i], true}), i);
                serialized += names[i].ends_with(".dll") ? 0 : 1;
            }
            EXPECT_EQ(serialized, expected);
            serializedFiles += serialized;
            ++bundles;
            inner += names.size();
        }
        RecordedMessages messages;
        ASSERT_EQ(Task("export", archive, {}, messages), 0);
        ImportWhole(archive, messages);
        const bool same = ReadFileBytes(archive) == before;
        EXPECT_TRUE(same) << "changed by an import of its own unedited export";
        identical += same ? 1 : 0;
    }
    std::cout << bundles << " web player bundles of formats 1 and 2 (" << inner << " inner files, "
              << serializedFiles << " serialized): " << identical
              << " unchanged by an unedited import\n";
    if (bundles == 0) GTEST_SKIP() << "no bundle of format 1 or 2 among the samples";
}

} // namespace
