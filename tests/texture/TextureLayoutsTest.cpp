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
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// One texture in a scratch export tree, read by `row`.
struct ModernCase {
    ModernCase(const TextureLayoutRow& row, const Picture& picture, Endian order, bool streamed)
        : row(row), picture(picture), order(order),
          tc(dir.Path(), 28, picture.format, "tex.tex", order) {
        tc.state.assets.header.formatVersion = 22;
        tc.state.assets.header.engineVersion = VersionText(row.from);
        tc.state.ArchiveDir = dir.Path().string() + "/";
        test::ModernTextureSpec plan;
        plan.width = plan.height = picture.edge;
        plan.format = picture.format;
        plan.mipCount = picture.levels;
        plan.pixels = Pixels(picture.bytes, 3);
        plan.streamed = streamed;
        if (streamed) {
            plan.streamOffset = 16;
            plan.path = "level0.resS";
            Bytes resource(16, 0xEE);
            resource.insert(resource.end(), plan.pixels.begin(), plan.pixels.end());
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
        TextureImportInput in{{},   Reader(std::make_shared<MemorySource>("level0", object), order),
                              file, rebuilt,
                              false, tc.messages};
        in.layout = &row;
        in.resources = ResourcePlacesOf(tc.state);
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
                    const Bytes resource = streamed ? ReadAll(c.dir.Path() / "level0.resS") : Bytes{};
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
    for (const TextureLayoutRow* row : {&TextureLayoutRows().front(), &TextureLayoutRows().back()}) {
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

} // namespace
} // namespace kestrel
