#include "io/SafePath.h"
#include "io/Writer.h"
#include "support/AssetsBuilder.h"
#include "support/AudioObjects.h"
#include "support/BundleBuilder.h"
#include "support/Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> SmallAssets() {
    AssetsSpec plan;
    plan.objects.push_back({49, "notes", TextBody("remember the bridge")});
    plan.objects.push_back({21, "a:b*c", {1, 2, 3, 4}});
    plan.objects.push_back({1, std::nullopt, {9, 9, 9, 9}});
    return BuildAssetsFile(plan);
}

// A UnityFS bundle of LZ4 blocks holding a resource entry first and the assets file second.
fs::path WriteBundle(const TempDir& dir) {
    const std::vector<InnerFile> files = {{"CAB-res.resS", NoiseBytes(300), 0},
                                          {"sub/CAB-main", SmallAssets(), 4}};
    UnityFSOptions options;
    options.blockSize = 256;
    const auto path = dir / "level.bundle.unity3d";
    WriteFileBytes(path, BuildUnityFS(files, options).bytes);
    return path;
}

std::vector<fs::path> FilesUnder(const fs::path& root) {
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root));
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(CliTasks, ListPrintsOneTabSeparatedRowPerObject) {
    TempDir dir;
    const auto bundle = WriteBundle(dir);
    auto r = RunKestrel({"list", bundle.string(), "-e", "1"}, "C.UTF-8");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines;
    for (size_t start = 0; start < r.out.size();) {
        const size_t end = r.out.find('\n', start);
        lines.push_back(r.out.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_TRUE(lines[0].starts_with("1\tnotes.txt\t49 (TextAsset)\t19\t0x")) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("2\tabc.mat\t21 (Material)\t4\t0x")) << lines[1];
    EXPECT_TRUE(lines[2].starts_with("3\tCAB-main_00001.1\t1 (GameObject)\t4\t0x")) << lines[2];
    EXPECT_EQ(lines[0].size() - lines[0].rfind("0x"), 10u); // 8 upper-case hex digits
    // The same file chosen by name; the working copy is removed after the task.
    auto byName = RunKestrel({"LIST", bundle.string(), "-e", "CAB-main"}, "C.UTF-8");
    EXPECT_EQ(byName.out, r.out);
    EXPECT_EQ(FilesUnder(dir.Path()), std::vector<fs::path>{"level.bundle.unity3d"});
}

TEST(CliTasks, ExportWritesTheTreeAndOneLinePerItem) {
    TempDir dir;
    const auto bundle = WriteBundle(dir);
    auto r =
        RunKestrel({"export", bundle.string(), "-e", "1", "-p", (dir / "out").string()}, "C.UTF-8");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string root = (dir / "out").string() + "/Unity_Assets_Files/level/CAB-main/";
    EXPECT_EQ(r.out, "export\n\n" + root + "notes.txt\n" + root + "abc.mat\n" + root +
                         "CAB-main_00001.1\n");
    EXPECT_EQ(ReadFileText(root + "notes.txt"), "remember the bridge");
    EXPECT_EQ(ReadFileBytes(root + "abc.mat"), (std::vector<unsigned char>{1, 2, 3, 4}));
    EXPECT_EQ(FilesUnder(dir.Path()),
              (std::vector<fs::path>{"level.bundle.unity3d",
                                     "out/Unity_Assets_Files/level/CAB-main/CAB-main_00001.1",
                                     "out/Unity_Assets_Files/level/CAB-main/abc.mat",
                                     "out/Unity_Assets_Files/level/CAB-main/notes.txt"}));
}

TEST(CliTasks, TypeFilterLimitsTheExport) {
    TempDir dir;
    const auto bundle = WriteBundle(dir);
    auto r = RunKestrel({"export", bundle.string(), "-e", "1", "-t", "TXT"}, "C.UTF-8");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(FilesUnder(dir / "Unity_Assets_Files"),
              std::vector<fs::path>{"level/CAB-main/notes.txt"});
}

TEST(CliTasks, ExportBundleWritesInnerFilesUnchanged) {
    TempDir dir;
    const auto bundle = WriteBundle(dir);
    auto r = RunKestrel({"exportbundle", bundle.string()}, "C.UTF-8");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const fs::path out = dir / "Unity_Assets_Files/level/Bundle";
    EXPECT_EQ(ReadFileBytes(out / "CAB-res.resS"), NoiseBytes(300));
    EXPECT_TRUE(r.out.starts_with("export\n\nExport archive: ")) << r.out;
    EXPECT_EQ(FilesUnder(dir.Path()).size(), 3u);
}

TEST(CliTasks, UnknownInnerFileAndDamagedArchiveFailCleanly) {
    TempDir dir;
    const auto bundle = WriteBundle(dir);
    auto missing = RunKestrel({"list", bundle.string(), "-e", "7"}, "C.UTF-8");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("CAB-main"), std::string::npos) << missing.err;

    auto bytes = ReadFileBytes(bundle);
    bytes.resize(bytes.size() - 40);
    WriteFileBytes(bundle, bytes);
    auto damaged = RunKestrel({"export", bundle.string(), "-e", "1"}, "C.UTF-8");
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_NE(damaged.err.find(bundle.string()), std::string::npos) << damaged.err;
    EXPECT_NE(damaged.err.find("0x"), std::string::npos) << damaged.err;
    // Nothing is left behind: no working copy, no export tree.
    EXPECT_EQ(FilesUnder(dir.Path()), std::vector<fs::path>{"level.bundle.unity3d"});
}

// A bundle whose AudioClip streams its sound from the bundle's own resource entry, stored after
// the assets file so that only a run that takes resource entries first finds it.
fs::path WriteStreamingBundle(const fs::path& dir, const std::vector<uint8_t>& wav) {
    std::vector<uint8_t> resource(8, 0xEE);
    resource.insert(resource.end(), wav.begin(), wav.end());
    AssetsSpec plan;
    plan.objects.push_back({83, "clip",
                            MakeNamedResourceAudioBody(
                                Endian::Little, "archive:/CAB-main/CAB-main.resS", 8, wav.size())});
    const auto path = dir / "music.unity3d";
    WriteFileBytes(
        path, BuildUnityFS({{"CAB-main", BuildAssetsFile(plan), 4}, {"CAB-main.resS", resource, 0}})
                  .bytes);
    return path;
}

TEST(CliTasks, ABundleIsOneUnitForListAndExport) {
    TempDir dir;
    const auto wav = MakeTinyWav(40);
    const auto bundle = WriteStreamingBundle(dir.Path(), wav);
    const auto list = RunKestrel({"list", bundle.string()}, "C.UTF-8");
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_TRUE(list.out.starts_with("# 0 CAB-main\n1\tclip.snd\t83 (AudioClip)")) << list.out;
    EXPECT_NE(list.out.find("\n# 1 CAB-main.resS\n1\tCAB-main.resS\t"), std::string::npos)
        << list.out;

    // Without -e every inner file, the resource entry first; with -e the chosen file, after the
    // resource entry it reads from when that is not exported yet.
    for (const std::vector<std::string>& entry :
         {std::vector<std::string>{}, std::vector<std::string>{"-e", "0"}}) {
        const fs::path out = dir / ("out" + std::to_string(entry.size()));
        std::vector<std::string> args = {"export", bundle.string(), "-p", out.string()};
        args.insert(args.end(), entry.begin(), entry.end());
        const auto r = RunKestrel(args, "C.UTF-8");
        ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
        const fs::path tree = out / "Unity_Assets_Files/music";
        EXPECT_EQ(ReadFileBytes(tree / "CAB-main/Sounds/res_CAB-main.resS/clip.snd.wav"), wav);
        EXPECT_TRUE(fs::exists(tree / "CAB-main.resS/CAB-main.resS"));
        EXPECT_TRUE(r.out.find("CAB-main.resS/CAB-main.resS") < r.out.find("clip.snd")) << r.out;
    }
    for (const auto& f : FilesUnder(dir.Path()))
        EXPECT_EQ(f.string().find(".kestrel-"), std::string::npos) << "working file left: " << f;
}

// A VideoClip body as the engine stores it after the name, by engine version: the pixel aspect
// ratio from 2017.2, the video shaders from 2020.1; the video lies in `resource` at `offset`.
std::vector<uint8_t> VideoClipBody(const std::string& engine, Endian order,
                                   const std::string& resource, uint64_t offset, uint64_t size) {
    const bool aspect = engine >= "2017.2";
    const bool shaders = engine >= "2020";
    Writer w(order);
    const auto text = [&w](const std::string& t) {
        w.U32(static_cast<uint32_t>(t.size()));
        w.Bytes(t);
        w.Align4();
    };
    text("Assets/Videos/intro.MP4");
    for (uint32_t v : {320u, 240u, 320u, 240u})
        w.U32(v);
    if (aspect) w.U64(0x0000000100000001ull);
    w.U64(0x403E000000000000ull); // 30.0 frames per second
    w.U64(90);
    w.I32(0);
    w.U32(1); // one audio track: 2 channels, 44100 Hz, language "en"
    w.U16(2);
    w.Align4();
    w.U32(1);
    w.U32(44100);
    w.U32(1);
    text("en");
    if (shaders) {
        w.U32(1);
        w.Zeros(12);
    }
    text(resource);
    w.U64(offset);
    w.U64(size);
    w.U8(0);
    if (shaders) w.U8(1);
    w.Align4();
    return w.Take();
}

TEST(CliTasks, AVideoClipIsExportedFromItsResourceFile) {
    struct Case {
        int32_t format;
        std::string engine;
        bool bigEndian;
    };
    for (const Case& c : {Case{17, "2017.1.2f1", false}, Case{20, "2019.2.2f1", false},
                          Case{22, "2020.3.4f1", false}, Case{22, "2021.3.1f1", true}}) {
        SCOPED_TRACE(c.engine);
        TempDir dir;
        std::vector<uint8_t> video = NoiseBytes(500);
        std::vector<uint8_t> resource(64, 0xEE);
        resource.insert(resource.end(), video.begin(), video.end());
        WriteFileBytes(dir / "level1.resource", resource);
        AssetsSpec plan;
        plan.formatVersion = c.format;
        plan.engineVersion = c.engine;
        plan.bigEndian = c.bigEndian;
        plan.objects.push_back(
            {329, "intro",
             VideoClipBody(c.engine, plan.Order(), "level1.resource", 64, video.size())});
        WriteFileBytes(dir / "level1.assets", BuildAssetsFile(plan));
        const auto r = RunKestrel({"export", (dir / "level1.assets").string()}, "C.UTF-8");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ReadFileBytes(dir / "Unity_Assets_Files/level1/Videos/intro.329.MP4"), video);
        EXPECT_TRUE(fs::exists(dir / "Unity_Assets_Files/level1/intro.329"));
    }
}

} // namespace

namespace {

// Block flags carry the compression in their low six bits whatever bit 0x40 says: LZMA saved as
// 0x01 (as other tools write bundles) and LZ4 with the bit set list, and an import packs them
// again in the same shape.
TEST(CliTasks, BlocksAreReadByTheLowSixBitsOfTheirFlags) {
    const std::pair<BlockKind, StreamedBit> shapes[] = {{BlockKind::Lzma, StreamedBit::Cleared},
                                                        {BlockKind::Lz4, StreamedBit::Set},
                                                        {BlockKind::Lz4HC, StreamedBit::Set}};
    for (const auto& [kind, bit] : shapes) {
        TempDir dir;
        UnityFSOptions options;
        options.blocks = kind;
        options.streamedBit = bit;
        options.blockSize = 256;
        const auto path = dir / "level.unity3d";
        WriteFileBytes(path, BuildUnityFS({{"CAB-main", SmallAssets(), 4}}, options).bytes);
        const CliResult list = RunKestrel({"list", path.string()}, "C.UTF-8");
        ASSERT_EQ(list.exitCode, 0) << list.err;
        EXPECT_NE(list.out.find("notes.txt\t49 (TextAsset)\t19"), std::string::npos) << list.out;

        ASSERT_EQ(RunKestrel({"export", path.string()}, "C.UTF-8").exitCode, 0);
        const fs::path text = dir / "Unity_Assets_Files/level/CAB-main/notes.txt";
        WriteFileBytes(text, {'c', 'r', 'o', 's', 's'});
        const CliResult imported = RunKestrel({"import", path.string(), "-t", "txt"}, "C.UTF-8");
        ASSERT_EQ(imported.exitCode, 0) << imported.err;
        fs::remove(text);
        ASSERT_EQ(RunKestrel({"export", path.string(), "-t", "txt"}, "C.UTF-8").exitCode, 0);
        EXPECT_EQ(ReadFileText(text), "cross");
    }
}

// Names longer than a file name can be: an inner file's and an object's are read whole, listed
// whole and cut to the file-name limit where the export makes a file of them.
TEST(CliTasks, LongInnerAndObjectNamesAreReadWholeAndCutOnDisk) {
    TempDir dir;
    const std::string objectName(300, 'o');
    const std::string innerName = "CAB-" + std::string(296, 'i');
    AssetsSpec plan;
    plan.objects.push_back({49, objectName, TextBody("long")});
    const auto path = dir / "names.unity3d";
    WriteFileBytes(path, BuildUnityFS({{innerName, BuildAssetsFile(plan), 4}}).bytes);
    const CliResult list = RunKestrel({"list", path.string()}, "C.UTF-8");
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("1\t" + objectName + ".txt\t49 (TextAsset)\t4\t"), std::string::npos)
        << list.out;
    const CliResult exported = RunKestrel({"export", path.string()}, "C.UTF-8");
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    const fs::path file = dir / "Unity_Assets_Files/names" / FitFileNameLimit(innerName) /
                          FitFileNameLimit(objectName + ".txt");
    EXPECT_EQ(ReadFileText(file), "long");
}

} // namespace
