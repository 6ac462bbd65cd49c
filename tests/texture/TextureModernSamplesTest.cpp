// Every Texture2D and Cubemap of the engine-written samples of serialized format 17 and later,
// through the built program: `export` writes a picture of each (DDS, PVR or CRN, as by default),
// counted per pixel format as decoded by ImageMagick or, where no tool here decodes the format,
// checked against the format's block arithmetic; `import` of the unedited export then leaves the
// archive and its resource files byte for byte.
#include "assets/Vocabulary.h"
#include "io/ByteSource.h"
#include "io/Reader.h"
#include "session/Operations.h"
#include "support/Cli.h"
#include "support/Manifest.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureFormats.h"
#include "texture/TextureLayouts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

struct ListedTexture {
    std::string inner; // "" in a plain file
    std::string name;
    bool cubemap = false;
    std::string format; // e.g. "BC7"
};

// The texture rows of `kestrel list`: "N<TAB>NAME<TAB>28 (Texture2D id: F - FORMAT)<TAB>...",
// under "# K INNER" lines in a bundle.
std::vector<ListedTexture> ListedTextures(const std::string& listing) {
    std::vector<ListedTexture> out;
    std::istringstream lines(listing);
    std::string line, inner;
    while (std::getline(lines, line)) {
        if (line.rfind("# ", 0) == 0) {
            inner = line.substr(line.find(' ', 2) + 1);
            continue;
        }
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, '\t');)
            cells.push_back(cell);
        if (cells.size() < 3) continue;
        const bool texture = cells[2].rfind("28 (", 0) == 0,
                   cubemap = cells[2].rfind("89 (", 0) == 0;
        if (!texture && !cubemap) continue;
        const auto dash = cells[2].rfind(" - ");
        out.push_back(
            {inner, cells[1], cubemap, cells[2].substr(dash + 3, cells[2].size() - dash - 4)});
    }
    return out;
}

// The data bytes of `levels` levels of w x h in blocks of bw x bh of `blockBytes`.
uint64_t BlockBytes(uint64_t w, uint64_t h, uint32_t levels, uint32_t bw, uint32_t bh,
                    uint32_t blockBytes) {
    uint64_t total = 0;
    for (uint32_t l = 0; l < std::max(levels, 1u);
         ++l, w = std::max<uint64_t>(w / 2, 1), h = std::max<uint64_t>(h / 2, 1)) {
        total += ((w + bw - 1) / bw) * ((h + bh - 1) / bh) * blockBytes;
    }
    return total;
}

// A picture no tool here decodes, checked by its header and block arithmetic: "" when it holds
// what its header says, else what is wrong.
std::string CheckByArithmetic(const fs::path& file) {
    Reader r(FileSource::Open(file), Endian::Little);
    const uint64_t size = r.End();
    uint64_t header = 0, data = 0;
    if (file.extension() == ".dds") {
        r.Seek(12);
        const uint32_t h = r.U32("height"), w = r.U32("width");
        r.Seek(28);
        const uint32_t levels = r.U32("mips");
        r.Seek(84);
        if (r.U32("fourcc") != FourCC("DX10")) {
            // Uncompressed pixels (alpha-only ones, which ImageMagick does not read).
            header = 128;
            data = BlockBytes(w, h, levels, 1, 1, r.U32("bit count") / 8);
            return header + data == size ? "" : "uncompressed levels do not fill the file";
        }
        r.Seek(128);
        const DdsPixelFormatRow* row =
            DdsFormatForPixelFormat(4, FourCC("DX10"), 0, {}, -1, r.U32("dxgi"));
        if (row == nullptr) return "unknown DXGI format";
        header = 148;
        data = BlockBytes(w, h, levels, 4, 4, row->bytesPerPixel.halves * 8);
    } else if (file.extension() == ".pvr") {
        r.Seek(8);
        const KtxPvrFormatRow* row = PvrFormatForPixelFormat(r.U64("pixel format"), -1);
        r.Seek(24);
        const uint32_t h = r.U32("height"), w = r.U32("width");
        r.Seek(44);
        const uint32_t levels = r.U32("mips");
        header = 52 + r.U32("metadata");
        if (row == nullptr || row->blockBytes == 0) return "not a block format";
        data = BlockBytes(w, h, levels, row->blockWidth, row->blockHeight, row->blockBytes);
    } else {
        // A CRN file: "Hx", its header size, CRC, then its whole size big-endian at 6.
        if (r.U8("H") != 'H' || r.U8("x") != 'x') return "not a CRN file";
        r.Seek(6);
        data = r.U32BE("file size");
    }
    return header + data == size ? ""
                                 : "holds " + std::to_string(size) + " bytes, its header says " +
                                       std::to_string(header + data);
}

// A KTX file whose level sizes are not those of its format's blocks: what is wrong, else "".
std::string CheckKtxLevels(const fs::path& file) {
    Reader r(FileSource::Open(file), Endian::Little);
    r.Seek(28);
    const uint32_t gl = r.U32("glInternalFormat"), base = r.U32("glBaseInternalFormat");
    uint64_t w = r.U32("width"), h = r.U32("height");
    r.Seek(56);
    const uint32_t levels = std::max(r.U32("levels"), 1u);
    r.Skip(r.U32("key and value bytes"));
    const KtxPvrFormatRow* row = KtxFormatForGl(gl, base, -1);
    if (row == nullptr || row->blockBytes == 0) return "not a block format";
    for (uint32_t l = 0; l < levels;
         ++l, w = std::max<uint64_t>(w / 2, 1), h = std::max<uint64_t>(h / 2, 1)) {
        const uint64_t size = r.U32("level size");
        if (size != BlockBytes(w, h, 1, row->blockWidth, row->blockHeight, row->blockBytes))
            return "level " + std::to_string(l) + " holds " + std::to_string(size) + " bytes";
        r.Skip(size);
    }
    return r.Remaining() == 0 ? "" : std::to_string(r.Remaining()) + " bytes after the levels";
}

std::optional<fs::path> FindPicture(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it); ++it) {
        const std::string file = it->path().filename().string();
        for (const char* ext : {".dds", ".pvr", ".crn"})
            if (file == name + ext) return it->path();
    }
    return std::nullopt;
}

std::map<std::string, std::vector<unsigned char>> FilesOf(const fs::path& dir) {
    std::map<std::string, std::vector<unsigned char>> files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) files[e.path().filename().string()] = ReadFileBytes(e.path());
    return files;
}

// Draws a green square into a DXT5 or RGBA32 picture with ImageMagick, in the picture's own
// compression; false when ImageMagick cannot.
bool DrawSquare(const fs::path& dds, const std::string& format) {
    const std::string compression = format == "DXT5" ? "dxt5" : "none";
    return std::system(("convert '" + dds.string() + "[0]' -fill '#00FF00' -draw " +
                        "'rectangle 0,0 3,3' -define dds:compression=" + compression + " '" +
                        dds.string() + "'")
                           .c_str()) == 0;
}

struct Count {
    size_t textures = 0, written = 0, imageMagick = 0, arithmetic = 0, noPixels = 0, missing = 0;
};

TEST(TextureModernSamples, EveryTextureExportsAndAnUneditedImportKeepsTheArchive) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    const auto list = SamplesHolding(samples, 17, 22, {"Texture2D ", "Cubemap "});
    ASSERT_FALSE(list.empty()) << "no texture samples of formats 17 to 22 in MANIFEST.md";
    std::map<std::string, Count> byFormat;
    size_t unchanged = 0, edits = 0, editsBack = 0, ktx = 0;
    for (const std::string& local : list) {
        SCOPED_TRACE(local);
        TempDir dir;
        const fs::path archive = CopySampleWithCompanions(samples / local, dir.Path());
        const auto before = FilesOf(dir.Path());
        const CliResult listed = RunKestrel({"list", archive.string()}, "C");
        ASSERT_EQ(listed.exitCode, 0) << listed.err;
        const CliResult exported = RunKestrel({"export", archive.string()}, "C");
        const fs::path root = dir.Path() / "Unity_Assets_Files" / archive.stem();
        std::optional<std::pair<ListedTexture, fs::path>> editable;
        for (const ListedTexture& t : ListedTextures(listed.out)) {
            Count& c = byFormat[t.format];
            ++c.textures;
            const auto picture =
                FindPicture(root / t.inner / (t.cubemap ? "Cubemap" : "Textures"), t.name);
            if (!picture) {
                // Textures without pixels, and those whose resource file the sample lacks.
                const bool missing = exported.err.find("Missing file") != std::string::npos;
                ++(missing ? c.missing : c.noPixels);
                continue;
            }
            ++c.written;
            if (picture->extension() == ".dds" && DecodePixel(*picture, 0, 0)) {
                ++c.imageMagick;
                if (!editable && (t.format == "DXT5" || t.format == "RGBA32"))
                    editable = std::pair{t, *picture};
                continue;
            }
            const std::string wrong = CheckByArithmetic(*picture);
            EXPECT_EQ(wrong, "") << picture->string();
            c.arithmetic += wrong.empty() ? 1 : 0;
        }
        // The block formats once more through KTX, which only `-t ktx` writes.
        const fs::path ktxDir = dir.Path() / "ktx";
        RunKestrel({"export", archive.string(), "-t", "ktx", "-p", ktxDir.string()}, "C");
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(ktxDir, ec); !ec && it != fs::end(it);
             ++it) {
            if (it->path().extension() != ".ktx") continue;
            EXPECT_EQ(CheckKtxLevels(it->path()), "") << it->path();
            ++ktx;
        }
        const CliResult imported = RunKestrel({"import", archive.string()}, "C");
        EXPECT_EQ(imported.exitCode, 0) << imported.err;
        for (const auto& [name, bytes] : before) {
            const bool same =
                fs::exists(dir.Path() / name) && ReadFileBytes(dir.Path() / name) == bytes;
            EXPECT_TRUE(same) << name << " changed by an import of its own unedited export";
            unchanged += same ? 1 : 0;
        }
        // One texture edited: the square comes back out of the reopened archive.
        if (!editable || !DrawSquare(editable->second, editable->first.format)) continue;
        ++edits;
        const CliResult edited = RunKestrel({"import", archive.string()}, "C");
        EXPECT_EQ(edited.exitCode, 0) << edited.err;
        const fs::path again = dir.Path() / "again";
        RunKestrel({"export", archive.string(), "-p", again.string()}, "C");
        const auto picture =
            FindPicture(again / "Unity_Assets_Files" / archive.stem() / editable->first.inner,
                        editable->first.name);
        const auto pixel = picture ? DecodePixel(*picture, 1, 1) : std::nullopt;
        const bool back = pixel && pixel->r < 16 && pixel->g > 240 && pixel->b < 16;
        EXPECT_TRUE(back) << editable->first.name << ": the drawn square is not there";
        editsBack += back ? 1 : 0;
    }
    Count all;
    for (const auto& [format, c] : byFormat) {
        std::cout << "[ textures ] " << format << ": " << c.textures << " textures, " << c.written
                  << " written, " << c.imageMagick << " decoded by ImageMagick, " << c.arithmetic
                  << " checked by block arithmetic (no decoder here), " << c.noPixels
                  << " without pixels, " << c.missing << " without their resource file\n";
        all.textures += c.textures;
        all.written += c.written;
        all.noPixels += c.noPixels;
        all.missing += c.missing;
    }
    std::cout << "[ textures ] formats 17-22: " << list.size() << " samples, " << all.textures
              << " textures, " << all.written << " pictures, " << ktx
              << " KTX files of block formats with every level's size as its blocks give; "
              << unchanged << " archive and resource files unchanged by an unedited import; "
              << edits << " samples with a DXT5 or RGBA32 texture edited, " << editsBack
              << " with the square back after a reopen\n";
    EXPECT_EQ(all.written + all.noPixels + all.missing, all.textures);
}

// A field list without the padding that cannot move anything: padding where the fields before
// it already end on a multiple of 4 (after padding, a length-prefixed field or whole words).
std::vector<TexField> WithoutIdlePadding(std::span<const TexField> fields) {
    std::vector<TexField> out;
    bool aligned = true;
    for (const TexField f : fields) {
        if (f == TexField::Align && aligned) continue;
        out.push_back(f);
        aligned = f == TexField::Bool ? false
                  : (f == TexField::Int32 || f == TexField::Width || f == TexField::Height ||
                     f == TexField::Format || f == TexField::CompleteImageSize ||
                     f == TexField::MipCount || f == TexField::ImageCount)
                      ? aligned
                      : true;
    }
    return out;
}

// The engine's own type trees in the samples that carry them name the same fields, in the same
// order, as the layout row of their engine version: the rows read the files without trees alike.
TEST(TextureModernSamples, TypeTreesOfTexturesAgreeWithTheLayoutRows) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    size_t trees = 0;
    std::set<std::string> versions;
    for (const std::string& local : SamplesHolding(samples, 17, 22, {"Texture2D ", "Cubemap "})) {
        SCOPED_TRACE(local);
        TempDir dir;
        OpenedArchive a(CopySampleWithCompanions(samples / local, dir.Path()).string());
        const AssetsFile& assets = a.inner.assets;
        for (uint32_t i = 0; i < std::max<size_t>(a.archive->InnerFileNames().size(), 1); ++i) {
            if (i > 0) a.Select(i);
            for (const SerializedType& type : assets.types) {
                if (type.tree.empty()) continue;
                const auto fields = TextureFieldsFromTree(type.tree.nodes);
                const TextureLayoutRow* row =
                    TextureLayoutFor(ParseEngineVersion(assets.header.engineVersion));
                ASSERT_TRUE(fields && row) << assets.header.engineVersion;
                EXPECT_EQ(WithoutIdlePadding(fields->View()),
                          WithoutIdlePadding(row->fields.View()))
                    << "class " << type.classId << " of " << assets.header.engineVersion;
                ++trees;
                versions.insert(assets.header.engineVersion);
            }
        }
        a.archive.reset();
    }
    std::cout << "[ textures ] " << trees << " Texture2D/Cubemap type trees of " << versions.size()
              << " engine versions checked against the layout rows\n";
    EXPECT_GT(trees, 0u);
}

} // namespace
