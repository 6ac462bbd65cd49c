// Textures of 5.5 and later: every layout row, in both byte orders, with pixels inside the object
// and streamed into a resource file, goes out as a picture and comes back as the same bytes; an
// edited picture of a streamed texture lands in the resource file and exports again unchanged.
#include "io/ByteSource.h"
#include "session/ConverterInput.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureExport.h"
#include "texture/TextureHeader.h"
#include "texture/TextureImport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Picture {
    const char* name;
    void (*exportTexture)(const ConverterInput&);
    void (*importTexture)(const TextureImportInput&);
    const char* extension;
    int32_t format;
    int32_t edge;
    uint32_t levels;
    uint64_t bytes; // of all levels
};

// DXT5 and BC4 are flipped by blocks, BC7 kept in stored order, ASTC 6 x 6 and ETC2 go to KTX
// with whole blocks per level (a 12 x 12 ASTC level is 2 x 2 blocks, its 6 x 6 level one).
constexpr Picture kPictures[] = {
    {"DXT5", ExportTextureDDS, ImportTextureDDS, ".dds", 12, 8, 2, 64 + 16},
    {"BC4", ExportTextureDDS, ImportTextureDDS, ".dds", 26, 8, 2, 32 + 8},
    {"BC7", ExportTextureDDS, ImportTextureDDS, ".dds", 25, 8, 1, 64},
    {"ASTC 6x6", ExportTextureKTX, ImportTextureKTX, ".ktx", 56, 12, 2, 64 + 16},
    {"ETC2 RGBA8", ExportTextureKTX, ImportTextureKTX, ".ktx", 47, 8, 1, 64},
};

Bytes Pixels(uint64_t size, uint8_t seed) {
    Bytes out(size);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint8_t>(i * 7 + seed);
    return out;
}

std::string VersionText(const EngineVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch) +
           "f1";
}

Bytes ReadAll(const fs::path& path) {
    return test::ReadFileBytes(path);
}

void WriteAll(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// One texture in a scratch export tree, read by `row`.
struct ModernCase {
    ModernCase(const TextureLayoutRow& row, const Picture& picture, Endian order, bool streamed)
        : row(row), picture(picture), order(order),
          tc(dir.Path(), 28, picture.format, "tex.tex", order) {
        tc.inner.assets.header.formatVersion = 22;
        tc.inner.assets.header.engineVersion = VersionText(row.from);
        tc.archiveDir = dir.Path().string() + "/";
        test::ModernTextureSpec plan;
        plan.width = plan.height = picture.edge;
        plan.format = picture.format;
        plan.mipCount = picture.levels;
        plan.pixels = Pixels(picture.bytes, 3);
        plan.streamed = streamed;
        if (streamed) {
            plan.streamOffset = 16;
            plan.path = "level0.resS";
            Bytes resource(16 + plan.pixels.size(), 0xEE);
            std::copy(plan.pixels.begin(), plan.pixels.end(), resource.begin() + 16);
            WriteAll(dir.Path() / "level0.resS", resource);
        }
        body = test::MakeModernTextureObject(row, plan, order);
    }

    fs::path Export(const Bytes& object) {
        picture.exportTexture(tc.Input(object));
        const std::string sub = Streamed() ? "res_level0/" : "";
        return tc.OutputDir() / (sub + "tex.tex" + picture.extension);
    }

    Bytes Import(const Bytes& object, const fs::path& file) {
        const auto rebuilt = dir.Path() / "rebuilt.bin";
        fs::remove(rebuilt);
        TextureImportInput in{
            {},    Reader(std::make_shared<MemorySource>("level0", object), order),
            file,  rebuilt,
            false, tc.messages};
        in.layout = row;
        in.resources = ResourcePlaces{tc.outputBaseDir, tc.archiveDir, tc.inner.dirName, {}, {}};
        picture.importTexture(in);
        EXPECT_TRUE(tc.messages.alerts.empty()) << tc.messages.alerts.front();
        return fs::exists(rebuilt) ? ReadAll(rebuilt) : Bytes{};
    }

    bool Streamed() const { return fs::exists(dir.Path() / "level0.resS"); }

    const TextureLayoutRow& row;
    const Picture& picture;
    Endian order;
    test::TempDir dir;
    test::TextureCase tc;
    Bytes body;
};

TEST(TextureLayouts, EveryRowGivesBackItsObjectAndItsResourceFile) {
    size_t cases = 0;
    for (const TextureLayoutRow& row : TextureLayoutRows()) {
        for (const Picture& picture : kPictures) {
            for (Endian order : {Endian::Little, Endian::Big}) {
                for (bool streamed : {false, true}) {
                    SCOPED_TRACE(VersionText(row.from) + " " + picture.name +
                                 (order == Endian::Big ? " big-endian" : "") +
                                 (streamed ? " streamed" : ""));
                    ModernCase c(row, picture, order, streamed);
                    const Bytes resource =
                        streamed ? ReadAll(c.dir.Path() / "level0.resS") : Bytes{};
                    const fs::path file = c.Export(c.body);
                    ASSERT_TRUE(fs::exists(file));
                    EXPECT_EQ(c.Import(c.body, file), c.body);
                    if (streamed) {
                        EXPECT_EQ(ReadAll(c.dir.Path() / "level0.resS"), resource);
                    }
                    ++cases;
                }
            }
        }
    }
    EXPECT_EQ(cases, TextureLayoutRows().size() * std::size(kPictures) * 4);
}

TEST(TextureLayouts, AnEditedStreamedPictureIsAppendedToItsResourceFile) {
    for (const TextureLayoutRow* row :
         {&TextureLayoutRows().front(), &TextureLayoutRows().back()}) {
        SCOPED_TRACE(VersionText(row->from));
        ModernCase c(*row, kPictures[0], Endian::Little, true);
        const uint64_t resourceSize = fs::file_size(c.dir.Path() / "level0.resS");
        const fs::path file = c.Export(c.body);
        Bytes edited = ReadAll(file);
        for (size_t i = 128; i < edited.size(); ++i)
            edited[i] = static_cast<uint8_t>(edited[i] ^ 0x5A);
        WriteAll(file, edited);
        const Bytes rebuilt = c.Import(c.body, file);
        ASSERT_EQ(rebuilt.size(), c.body.size());

        Reader object(std::make_shared<MemorySource>("rebuilt", rebuilt), Endian::Little);
        const TextureObject tex = ReadTextureHeader(object, row);
        EXPECT_EQ(tex.streamOffset, resourceSize); // appended, the old pixels left in place
        EXPECT_EQ(tex.streamSize, kPictures[0].bytes);
        EXPECT_EQ(fs::file_size(c.dir.Path() / "level0.resS"), resourceSize + kPictures[0].bytes);
        fs::remove(file);
        EXPECT_EQ(ReadAll(c.Export(rebuilt)), edited);
    }
}

// The engine's type tree of a layout: one node a field, nested as the engine nests them, with the
// aligned-after flag where the layout pads. `extra` inserts an int field the rows do not know
// before the image count, as a later engine might.
std::vector<TypeTreeNode> TreeOf(const TextureLayoutRow& row, bool extra = false) {
    std::vector<TypeTreeNode> t{{0, -1, 0, "Texture2D", "Base"},
                                {1, -1, 0, "string", "m_Name"},
                                {2, -1, 0x4000, "Array", "Array"},
                                {3, 4, 0, "int", "size"},
                                {3, 1, 0, "char", "data"}};
    int unnamed = 0;
    // Nodes view their texts: the made-up names live as long as the test program.
    static std::deque<std::string> names;
    const auto field = [&t](const char* type, std::string name, int32_t size) {
        t.push_back({1, size, 0, type, names.emplace_back(std::move(name))});
    };
    for (const TexField f : row.fields.View()) {
        switch (f) {
        case TexField::Int32:
            field("int", "m_Int" + std::to_string(++unnamed), 4);
            break;
        case TexField::Bool:
            field("bool", "m_Bool" + std::to_string(++unnamed), 1);
            break;
        case TexField::Align:
            t.back().metaFlag |= 0x4000;
            break;
        case TexField::String:
        case TexField::ByteArray:
            field(f == TexField::String ? "string" : "vector", "m_Text" + std::to_string(++unnamed),
                  -1);
            t.back().metaFlag = 0x4000;
            t.push_back({2, -1, 0x4000, "Array", "Array"});
            t.push_back({3, 4, 0, "int", "size"});
            t.push_back({3, 1, 0, f == TexField::String ? "char" : "UInt8", "data"});
            break;
        case TexField::Width:
            field("int", "m_Width", 4);
            break;
        case TexField::Height:
            field("int", "m_Height", 4);
            break;
        case TexField::CompleteImageSize:
            field("int", "m_CompleteImageSize", 4);
            break;
        case TexField::Format:
            field("int", "m_TextureFormat", 4);
            break;
        case TexField::MipCount:
            field("int", "m_MipCount", 4);
            break;
        case TexField::MipFlag:
            field("bool", "m_MipMap", 1);
            break;
        case TexField::ImageCount:
            if (extra) field("int", "m_Future", 4);
            field("int", "m_ImageCount", 4);
            break;
        case TexField::ImageData:
            field("TypelessData", "image data", -1);
            t.back().metaFlag = 0x4000;
            t.push_back({2, 4, 0, "int", "size"});
            t.push_back({2, 1, 0, "UInt8", "data"});
            break;
        case TexField::StreamData32:
        case TexField::StreamData64:
            field("StreamingInfo", "m_StreamData", -1);
            t.push_back({2, f == TexField::StreamData64 ? 8 : 4, 0,
                         f == TexField::StreamData64 ? "UInt64" : "unsigned int", "offset"});
            t.push_back({2, 4, 0, "unsigned int", "size"});
            t.push_back({2, -1, 0x4000, "string", "path"});
            break;
        }
    }
    return t;
}

TEST(TextureLayouts, TypeTreesGiveTheFieldsOfTheirLayout) {
    for (const TextureLayoutRow& row : TextureLayoutRows()) {
        const auto fields = TextureFieldsFromTree(TreeOf(row));
        ASSERT_TRUE(fields) << VersionText(row.from);
        EXPECT_TRUE(std::ranges::equal(fields->View(), row.fields.View())) << VersionText(row.from);
    }
    // A field no row knows is read over, so a later engine's texture still converts.
    const TextureLayoutRow& last = TextureLayoutRows().back();
    const auto later = TextureFieldsFromTree(TreeOf(last, true));
    ASSERT_TRUE(later);
    const TextureLayoutRow laterRow{last.from, last.until, *later};
    test::ModernTextureSpec plan;
    plan.width = 16;
    plan.height = 4;
    plan.format = 25;
    plan.pixels = Pixels(64, 1);
    const Bytes body = test::MakeModernTextureObject(laterRow, plan, Endian::Little);
    Reader object(std::make_shared<MemorySource>("later", body), Endian::Little);
    const TextureObject tex = ReadTextureHeader(object, &laterRow);
    EXPECT_EQ(tex.header.width, 16);
    EXPECT_EQ(tex.header.height, 4);
    EXPECT_EQ(tex.header.textureFormat, 25);
    EXPECT_EQ(tex.header.imageCount, 1);
    // A tree with a field no kind expresses (an array of words) leaves the rows in charge.
    auto odd = TreeOf(last);
    odd.insert(odd.begin() + 5, {{1, -1, 0, "vector", "m_Words"},
                                 {2, -1, 0, "Array", "Array"},
                                 {3, 4, 0, "int", "size"},
                                 {3, 4, 0, "int", "data"}});
    EXPECT_FALSE(TextureFieldsFromTree(odd));
}

} // namespace
} // namespace kestrel
