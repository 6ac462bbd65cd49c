#include "common/Error.h"
#include "session/Operations.h"
#include "support/BundleBuilder.h"
#include "support/OpenedArchive.h"
#include "support/RecordedMessages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <set>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

void Write(const fs::path& p, const std::vector<uint8_t>& bytes) {
    WriteFileBytes(p, {bytes.begin(), bytes.end()});
}

std::vector<uint8_t> Bytes(const fs::path& p) {
    auto v = ReadFileBytes(p);
    return {v.begin(), v.end()};
}

std::set<std::string> FilesUnder(const fs::path& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        out.insert(fs::relative(e.path(), root).string());
    }
    return out;
}

TEST(ExportBundle, WritesEveryInnerFileUnchanged) {
    const std::vector<InnerFile> files = {{"CAB-one", MinimalAssetsFile("5.6.3p1", 200000)},
                                          {"CAB-one.resS", NoiseBytes(150000, 4), 0},
                                          {"CAB-empty", {}, 0}};
    for (const bool fsFormat : {true, false}) {
        TempDir dir;
        const fs::path archive = dir / "pack.unity3d";
        Write(archive, fsFormat ? BuildUnityFS(files).bytes : BuildUnityRW(files).bytes);
        OpenedArchive a(archive.string());
        const std::string out = a.archive->OutputBaseDir(a.options) + "Unity_Assets_Files/" +
                                a.archive->BaseName() + "/Bundle/";
        RecordedMessages recorder;
        ExportBundleFiles(*a.archive, out, recorder);
        for (const auto& f : files)
            EXPECT_EQ(Bytes(out + f.name), f.bytes) << f.name;
        EXPECT_EQ(recorder.lines,
                  (std::vector<std::string>{"Export archive: " + out + "CAB-one",
                                            "Export archive: " + out + "CAB-one.resS",
                                            "Export archive: " + out + "CAB-empty"}));
    }
}

TEST(ExportBundle, NothingForPlainFiles) {
    TempDir dir;
    Write(dir / "a.unity3d", BuildUnityFS({{"CAB-x", MinimalAssetsFile("5.0.0f4")}}).bytes);
    OpenedArchive a((dir / "a.unity3d").string());
    ExportBundleFiles(*a.archive, (dir / "out/").string(), a.messages);
    EXPECT_TRUE(fs::exists(dir / "out" / "CAB-x"));

    Write(dir / "plain.assets", MinimalAssetsFile("5.0.0f4"));
    OpenedArchive plain((dir / "plain.assets").string());
    ExportBundleFiles(*plain.archive, (dir / "plainout/").string(), plain.messages);
    EXPECT_FALSE(fs::exists(dir / "plainout"));
}

TEST(ExportBundle, HostileNamesBecomePlainFilesInsideTheDirectory) {
    TempDir dir;
    const std::vector<InnerFile> files = {
        {"../escape", {1}, 0}, {"/etc/absolute", {2}, 0},        {"C:\\drive", {3}, 0},
        {"..", {4}, 0},        {"archive:/CAB-a/CAB-a", {5}, 0}, {"", {6}, 0}};
    Write(dir / "h.unity3d", BuildUnityFS(files).bytes);
    OpenedArchive a((dir / "h.unity3d").string());
    fs::create_directories(dir / "tree");
    const fs::path out = dir / "tree" / "Bundle";
    ExportBundleFiles(*a.archive, out.string() + "/", a.messages);
    // Each name is one component: separators, the drive colon and dot names are made harmless.
    EXPECT_EQ(FilesUnder(dir / "tree"),
              (std::set<std::string>{"Bundle", "Bundle/.._escape", "Bundle/_etc_absolute",
                                     "Bundle/C__drive", "Bundle/_..", "Bundle/archive__CAB-a_CAB-a",
                                     "Bundle/_"}));
    EXPECT_EQ(Bytes(out / ".._escape"), std::vector<uint8_t>{1});
    EXPECT_EQ(Bytes(out / "_"), std::vector<uint8_t>{6});
    EXPECT_FALSE(fs::exists(dir / "escape"));
}

TEST(ExportBundle, NamesThatFlattenAlikeStayApartAndSaySo) {
    TempDir dir;
    Write(dir / "d.unity3d",
          BuildUnityFS({{"dup/a", {1}, 0}, {"dup\\a", {2}, 0}, {"dup:a", {3}, 0}}).bytes);
    OpenedArchive a((dir / "d.unity3d").string());
    const fs::path out = dir / "Bundle";
    RecordedMessages recorder;
    ExportBundleFiles(*a.archive, out.string() + "/", recorder);
    EXPECT_EQ(FilesUnder(out), (std::set<std::string>{"dup_a", "dup_a_1", "dup_a_2"}));
    EXPECT_EQ(Bytes(out / "dup_a"), std::vector<uint8_t>{1});
    EXPECT_EQ(Bytes(out / "dup_a_1"), std::vector<uint8_t>{2});
    EXPECT_EQ(Bytes(out / "dup_a_2"), std::vector<uint8_t>{3});
    EXPECT_EQ(recorder.notices.size(), 2u);
}

TEST(ExportBundle, DamagedDirectoryWritesNothing) {
    TempDir dir;
    UnityRWOptions raw;
    raw.signature = "UnityRaw";
    raw.compressed = false;
    Write(dir / "r.unity3d", BuildUnityRW({{"a", {1, 2, 3}}, {"b", {4, 5}}}, raw).bytes);
    OpenedArchive a((dir / "r.unity3d").string());
    // The archive shrinks after the open: the last entry no longer fits.
    fs::resize_file(dir / "r.unity3d", fs::file_size(dir / "r.unity3d") - 1);
    EXPECT_THROW(ExportBundleFiles(*a.archive, (dir / "out").string(), a.messages), KestrelError);
    EXPECT_FALSE(fs::exists(dir / "out"));
}

} // namespace
