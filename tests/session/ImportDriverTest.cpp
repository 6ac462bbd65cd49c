// The import driver on builder-made assets files: which files it takes, the layout it gives the
// new file (every object moved by the sum of the size changes stored before it), and that an
// import changing nothing leaves the archive alone.
#include "session/ImportDriver.h"

#include "app/Options.h"
#include "assets/AssetsParser.h"
#include "assets/Vocabulary.h"
#include "io/ByteOrder.h"
#include "io/Writer.h"
#include "session/ExportDriver.h"
#include "session/Operations.h"
#include "support/AssetsBuilder.h"
#include "support/AudioObjects.h"
#include "support/BundleBuilder.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Text(const std::string& s) {
    return {s.begin(), s.end()};
}

// A TextAsset body followed by a path field, as the engine writes it: the bytes after the
// padded text must survive its replacement.
std::vector<uint8_t> TextWithPath(const std::string& text, Endian order) {
    std::vector<uint8_t> body = TextBody(text, order);
    const std::vector<uint8_t> path = TextBody("Assets/x.txt", order);
    body.insert(body.end(), path.begin(), path.end());
    return body;
}

AssetsSpec Plan(int format, bool bigEndian) {
    AssetsSpec plan;
    plan.formatVersion = format;
    plan.bigEndian = bigEndian;
    plan.engineVersion = format == 9 ? "4.3.4f1" : "5.4.1f1";
    const Endian o = plan.Order();
    TextureSpec texture;
    texture.format = 5;
    texture.imageData = NoiseBytes(64, 3);
    plan.objects = {
        {1, std::nullopt, NoiseBytes(24, 1)},  {49, "readme", TextWithPath("123456789", o)},
        {43, "m", NoiseBytes(300, 2)},         {28, "t", TextureBody(texture, o)},
        {49, "other", TextWithPath("abc", o)}, {43, "m2", NoiseBytes(200, 4)},
        {-3, std::nullopt, NoiseBytes(12, 5)}, {1, std::nullopt, NoiseBytes(8, 6)},
    };
    return plan;
}

struct Layout {
    uint32_t headerFileSize = 0;
    uint64_t fileSize = 0;
    std::vector<uint32_t> offsets, sizes;
    std::vector<std::string> names;
};

Layout ReadLayout(const fs::path& archive) {
    OpenedArchive s(archive.string());
    Layout l;
    l.headerFileSize = s.inner.assets.headerFileSize;
    l.fileSize = fs::file_size(archive);
    for (size_t i = 0; i < s.Items().Count(); ++i) {
        l.offsets.push_back(s.Items().rows[i].ObjOffset);
        l.sizes.push_back(s.Items().rows[i].ObjSize);
        l.names.push_back(s.Items().ExportName[i]);
    }
    return l;
}

// An archive "level0.assets" opened on its own, with its export tree.
struct Opened : OpenedArchive {
    TempDir dir;
    fs::path file;

    explicit Opened(const std::vector<uint8_t>& bytes, const std::string& name = "level0.assets") {
        file = dir / name;
        WriteFileBytes(file, {bytes.begin(), bytes.end()});
        Open(file.string());
    }
    fs::path Tree() const { return dir / "Unity_Assets_Files" / "level0"; }
    void ExportRaw() {
        options.outputs |= kOutRawTextures | kOutRawMesh | kOutRawAudio;
        ASSERT_EQ(ExportObjects(Scope(), ExportedObjects(inner, options, false)).failed, 0u);
    }
    // Imports the open inner file and parses it again from the new archive.
    void Import() {
        ImportInnerFileAndResources(*archive, inner.index, options, *reporter);
        Select(inner.index);
    }
    void Put(const std::string& name, const std::vector<uint8_t>& bytes) {
        fs::create_directories(Tree());
        WriteFileBytes(Tree() / name, {bytes.begin(), bytes.end()});
    }
};

// What the sum rule gives: each object's size changes by its own change (inner payloads counted
// in multiples of 4), and its offset by the changes of every object stored before it.
Layout Expected(const Layout& old, const ParsedInnerFile& before,
                const std::map<std::string, std::vector<uint8_t>>& edits) {
    Layout e = old;
    std::vector<int64_t> delta(old.sizes.size(), 0);
    for (size_t i = 0; i < old.sizes.size(); ++i) {
        const auto it = edits.find(old.names[i]);
        if (it == edits.end()) continue;
        const ObjectRow& row = before.assets.items.rows[i];
        const int64_t length = static_cast<int64_t>(it->second.size());
        delta[i] = HasInnerPayload(row.ClassID, row.PayloadSize)
                       ? static_cast<int64_t>(AlignUp4(length) - AlignUp4(row.PayloadSize))
                       : length + row.NameHeaderSize - row.ObjSize;
    }
    int64_t total = 0;
    for (size_t i = 0; i < old.sizes.size(); ++i) {
        int64_t shift = 0;
        for (size_t c = 0; c < old.sizes.size(); ++c)
            shift += old.offsets[c] < old.offsets[i] ? delta[c] : 0;
        e.offsets[i] = static_cast<uint32_t>(old.offsets[i] + shift);
        e.sizes[i] = static_cast<uint32_t>(old.sizes[i] + delta[i]);
        total += delta[i];
    }
    e.headerFileSize = static_cast<uint32_t>(old.headerFileSize + total);
    e.fileSize = static_cast<uint64_t>(static_cast<int64_t>(old.fileSize) + total);
    return e;
}

struct LayoutCase {
    const char* what;
    std::map<std::string, std::vector<uint8_t>> edits;
};

const std::vector<LayoutCase>& LayoutCases() {
    static const std::vector<LayoutCase> cases = {
        {"text of 9 bytes replaced by 10: same size", {{"readme.txt", Text("0123456789")}}},
        {"text of 9 bytes replaced by 13: 4 bytes more", {{"readme.txt", Text("0123456789abc")}}},
        {"mesh 100 bytes shorter", {{"m.mesh", NoiseBytes(200, 9)}}},
        {"two shrinks and a growth",
         {{"readme.txt", Text(std::string(37, 'g'))},
          {"m.mesh", NoiseBytes(123, 9)},
          {"m2.mesh", NoiseBytes(3, 9)}}},
        {"growth of the last named object", {{"m2.mesh", NoiseBytes(1000, 9)}}},
    };
    return cases;
}

TEST(ImportDriver, EveryObjectMovesByTheChangesStoredBeforeIt) {
    for (const int format : {9, 14, 15}) {
        for (const bool big : {false, true}) {
            for (const LayoutCase& c : LayoutCases()) {
                SCOPED_TRACE(std::string(c.what) + ", format " + std::to_string(format) +
                             (big ? ", big-endian" : ", little-endian"));
                Opened a(BuildAssetsFile(Plan(format, big)));
                const Layout old = ReadLayout(a.file);
                const Layout expected = Expected(old, a.inner, c.edits);
                for (const auto& [name, bytes] : c.edits)
                    a.Put(name, bytes);
                a.Import();
                EXPECT_TRUE(a.messages.alerts.empty()) << a.messages.alerts[0];

                const Layout now = ReadLayout(a.file);
                EXPECT_EQ(now.offsets, expected.offsets);
                EXPECT_EQ(now.sizes, expected.sizes);
                EXPECT_EQ(now.headerFileSize, expected.headerFileSize);
                EXPECT_EQ(now.fileSize, expected.fileSize);
                // The archive describes the new file, as a fresh open does.
                EXPECT_EQ(a.Items().rows[2].ObjOffset, expected.offsets[2]);
                EXPECT_EQ(a.inner.assets.headerFileSize, expected.headerFileSize);

                // Each object now exports its new bytes, every other one its old bytes.
                const fs::path first = a.dir / "first";
                fs::rename(a.Tree(), first);
                a.ExportRaw();
                for (const auto& e : fs::directory_iterator(first)) {
                    const std::string name = e.path().filename().string();
                    const auto edit = c.edits.find(name);
                    const std::vector<unsigned char> want =
                        edit == c.edits.end()
                            ? ReadFileBytes(e.path())
                            : std::vector<unsigned char>(edit->second.begin(), edit->second.end());
                    EXPECT_EQ(ReadFileBytes(a.Tree() / name), want) << name;
                }
            }
        }
    }
}

TEST(ImportDriver, TextKeepsItsLengthFieldAndZeroPaddingAndWhatFollows) {
    for (const bool big : {false, true}) {
        Opened a(BuildAssetsFile(Plan(15, big)));
        a.Put("readme.txt", Text("0123456789"));
        a.Import();
        const ObjectRow& row = a.Items().rows[1];
        const uint64_t text = a.inner.assets.DataOffset + row.ObjOffset + row.NameHeaderSize + 4;
        const std::vector<unsigned char> file = ReadFileBytes(a.file);
        Writer w(big ? Endian::Big : Endian::Little);
        w.U32(10);
        w.Bytes("0123456789");
        w.Zeros(2);
        const std::vector<uint8_t> path = TextBody("Assets/x.txt", w.Order());
        w.Bytes(path.data(), path.size());
        const std::vector<unsigned char> want(w.Data().begin(), w.Data().end());
        EXPECT_EQ(
            std::vector<unsigned char>(file.begin() + static_cast<long>(text - 4),
                                       file.begin() + static_cast<long>(text - 4 + want.size())),
            want);
        EXPECT_EQ(row.PayloadSize, 10u);
    }
}

TEST(ImportDriver, ANameDifferingOnlyInCaseIsNotFoundAndNothingChanges) {
    Opened a(BuildAssetsFile(Plan(15, false)));
    const std::vector<unsigned char> before = ReadFileBytes(a.file);
    const uint64_t inode = FileInode(a.file);
    a.Put("README.txt", Text("changed text"));
    a.Import();
    ASSERT_EQ(a.messages.alerts.size(), 1u);
    EXPECT_EQ(a.messages.alerts[0],
              "File not found in archive: README.txt\nAnd it will be skipped.");
    EXPECT_EQ(ReadFileBytes(a.file), before);
    EXPECT_EQ(FileInode(a.file), inode);
}

TEST(ImportDriver, TheNotFoundMessageSpeaksTheUsersLanguage) {
    Opened a(BuildAssetsFile(Plan(15, false)));
    a.options.text = MakeLocalization(true);
    a.Put("nothing.txt", Text("x"));
    a.Import();
    ASSERT_EQ(a.messages.alerts.size(), 1u);
    EXPECT_EQ(a.messages.alerts[0], "Файл не найден в архиве: nothing.txt\nИ будет пропущен.");
}

TEST(ImportDriver, TypeListChoosesTheRawFilesByExtension) {
    struct Case {
        std::vector<std::string> filter;
        std::vector<std::string> imported;
    };
    const std::vector<Case> cases = {
        {{"114"}, {"level0_00001.-3"}},
        {{"tex", "txt"}, {"readme.txt", "t.tex"}},
        {{"txt", "txt"}, {"readme.txt"}}, // named twice, imported once
        {{"TXT", "txt", "mesh"}, {"readme.txt", "m.mesh"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter[0] + "," + c.filter[1 % c.filter.size()]);
        Opened a(BuildAssetsFile(Plan(15, false)));
        a.ExportRaw();
        const std::map<std::string, std::vector<uint8_t>> edits = {
            {"readme.txt", Text("new text of another length")},
            {"m.mesh", NoiseBytes(17, 7)},
            {"t.tex", NoiseBytes(100, 8)},
            {"level0_00001.-3", NoiseBytes(40, 9)},
        };
        for (const auto& [name, bytes] : edits)
            a.Put(name, bytes);
        a.options.typeFilterActive = true;
        a.options.typeFilter = c.filter;
        a.Import();
        EXPECT_TRUE(a.messages.alerts.empty()) << a.messages.alerts[0];

        a.options.typeFilterActive = false;
        a.ExportRaw();
        for (const auto& [name, bytes] : edits) {
            const bool imported =
                std::find(c.imported.begin(), c.imported.end(), name) != c.imported.end();
            EXPECT_EQ(ReadFileBytes(a.Tree() / name) ==
                          std::vector<unsigned char>(bytes.begin(), bytes.end()),
                      imported)
                << name;
        }
    }
}

TEST(ImportDriver, UneditedExportLeavesTheArchiveUntouched) {
    for (const int format : {9, 14, 15}) {
        for (const bool big : {false, true}) {
            for (const bool trees : {false, true}) {
                SCOPED_TRACE("format " + std::to_string(format) + (big ? " big" : " little") +
                             (trees ? " with type trees" : ""));
                AssetsSpec plan = Plan(format, big);
                plan.typeTrees = trees;
                plan.objects.push_back({128, "font", FontBody(NoiseBytes(33, 11), plan.Order())});
                plan.objects.push_back(
                    {83, "clip", MakeEmbeddedAudioBody(4, plan.Order(), MakeTinyWav(31))});
                Opened a(BuildAssetsFile(plan));
                const std::vector<unsigned char> before = ReadFileBytes(a.file);
                const uint64_t inode = FileInode(a.file);
                // noise meshes; OBJ files are not imported anyway
                a.options.outputs = kOutEverything & ~kOutObj;
                EXPECT_EQ(
                    ExportObjects(a.Scope(), ExportedObjects(a.inner, a.options, false)).failed,
                    0u);
                a.Import();
                EXPECT_TRUE(a.messages.alerts.empty()) << a.messages.alerts[0];
                EXPECT_EQ(ReadFileBytes(a.file), before);
                EXPECT_EQ(FileInode(a.file), inode) << "rewritten although nothing changed";
            }
        }
    }
}

} // namespace

namespace {

TEST(ImportDriver, ATextureTakesTheFormatItsRawFileStates) {
    for (const bool big : {false, true}) {
        Opened a(BuildAssetsFile(Plan(15, big)));
        a.ExportRaw();
        std::vector<unsigned char> raw = ReadFileBytes(a.Tree() / "t.tex");
        Writer format(big ? Endian::Big : Endian::Little);
        format.U32(4);
        std::copy(format.Data().begin(), format.Data().end(), raw.begin() + 12);
        WriteFileBytes(a.Tree() / "t.tex", raw);
        a.Import();
        EXPECT_EQ(a.Items().types[3].TextureFormat, 4);
        EXPECT_EQ(a.Items().types[3].name, ClassName(28) + " " + TextureFormatName(4));
        EXPECT_EQ(a.Items().listRows[3].typeText, " (" + std::string(a.Items().types[3].name) + ")");
    }
}

} // namespace
