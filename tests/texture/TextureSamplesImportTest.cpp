// Every texture of the real samples (serialized formats up to 15, every inner file) exported to
// DDS, KTX and PVR as its format allows and imported back unedited gives back its object bytes,
// a texture streamed from a resource file too, with its resource file unchanged.
#include "assets/Vocabulary.h"
#include "common/Error.h"
#include "io/ByteSource.h"
#include "io/ResourcePath.h"
#include "session/ConverterInput.h"
#include "support/Manifest.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureExport.h"
#include "texture/TextureFormats.h"
#include "texture/TextureHeader.h"
#include "texture/TextureImport.h"
#include "texture/TextureLayouts.h"
#include "texture/TextureResource.h"

#include <gtest/gtest.h>

#include <iostream>

namespace kestrel {
namespace {

using namespace kestrel::test;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Tally {
    size_t samples = 0, textures = 0, imported = 0, identical = 0, streamed = 0;
    std::vector<std::string> problems;
};

struct Converter {
    uint8_t kind; // TextureFormatSupports kind
    void (*exportTexture)(const ConverterInput&);
    void (*importTexture)(const TextureImportInput&);
    const char* extension;
};

constexpr Converter kConverters[] = {{1, ExportTextureDDS, ImportTextureDDS, ".dds"},
                                     {3, ExportTextureKTX, ImportTextureKTX, ".ktx"},
                                     {4, ExportTexturePVR, ImportTexturePVR, ".pvr"}};

void RoundTripOne(const OpenedArchive& a, size_t i, const fs::path& scratch, Tally& tally,
                  const std::string& label) {
    const Endian order = a.inner.assets.header.DataOrder();
    const InnerScope scope = a.Scope();
    const Reader object = scope.ObjectBody(i);
    Reader copy = object;
    const Bytes body = copy.Bytes(copy.Remaining(), "texture object");
    Reader header = object;
    // Files of formats 5 to 8 give their texture layout by the type tree.
    const std::optional<TextureLayoutRow> layout = TextureLayoutOfObject(a.inner.assets, i);
    const TextureObject tex = ReadTextureHeader(header, layout);
    tally.streamed += tex.StreamedData ? 1 : 0;
    const int32_t format = a.Items().types[i].TextureFormat;
    const std::string& name = a.Items().ExportName[i];
    const std::string dir = tex.StreamedData ? ResourceDirFor(tex.resource.path) : "";
    for (const Converter& c : kConverters) {
        if (!TextureFormatSupports(format, c.kind)) continue;
        const ConverterContext context = ContextOf(scope);
        const fs::path resource =
            tex.StreamedData ? LocateResourceFile(context.places, tex.resource.path, name).file
                             : fs::path();
        const Bytes resourceBefore = tex.StreamedData ? ReadFileBytes(resource) : Bytes{};
        ConverterInput in{context, object, "Unity_Assets_Files/" + a.inner.dirName + "/Textures/",
                          name, i};
        c.exportTexture(in);
        const fs::path picture = in.OutputDir() / dir / (name + c.extension);
        if (!fs::exists(picture)) continue; // an empty texture writes no file
        RecordedMessages messages;
        const fs::path rebuilt = scratch / "rebuilt.bin";
        fs::remove(rebuilt);
        c.importTexture({{},
                         Reader(std::make_shared<MemorySource>(name, body), order),
                         picture,
                         rebuilt,
                         false,
                         messages,
                         {},
                         layout,
                         context.places});
        ++tally.imported;
        const Bytes result = fs::exists(rebuilt) ? ReadFileBytes(rebuilt) : Bytes{};
        const bool same =
            result == body && (!tex.StreamedData || ReadFileBytes(resource) == resourceBefore);
        tally.identical += same ? 1 : 0;
        if (!same || !messages.alerts.empty()) {
            tally.problems.push_back(
                label + " " + name + c.extension + ": " +
                (messages.alerts.empty() ? "differs after import" : messages.alerts[0]));
        }
    }
}

TEST(TextureSamplesImport, UneditedExportsOfEveryTextureImportToTheSameObject) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "sample archives are not present";
    const auto list = SamplesHolding(samples, 0, 15, {"Texture2D", "Cubemap"});
    ASSERT_FALSE(list.empty()) << "no texture samples in MANIFEST.md";
    Tally tally;
    for (const std::string& local : list) {
        SCOPED_TRACE(local);
        TempDir dir;
        const fs::path copy = CopySampleWithCompanions(samples / local, dir.Path());
        OpenedArchive a(copy.string());
        ++tally.samples;
        const size_t entries = a.archive->InnerFileCount();
        for (size_t e = 0; e < entries; ++e) {
            if (e > 0) a.Select(e);
            for (size_t i = 0; i < a.Items().Count(); ++i) {
                const ObjectRow& row = a.Items().rows[i];
                if ((row.ClassID != 28 && row.ClassID != 89) || row.ObjSize <= row.NameHeaderSize)
                    continue;
                ++tally.textures;
                try {
                    RoundTripOne(a, i, dir.Path(), tally, local);
                } catch (const KestrelError& e) {
                    tally.problems.push_back(local + " " + a.Items().ExportName[i] + ": " +
                                             e.what());
                }
            }
        }
    }
    std::cout << "[ texture import ] " << tally.samples << " samples, " << tally.textures
              << " textures, " << tally.imported << " DDS/KTX/PVR files imported, "
              << tally.identical << " gave back their object (" << tally.streamed
              << " of them streamed from a resource file, which stayed as it was)\n";
    for (const std::string& p : tally.problems)
        ADD_FAILURE() << p;
    EXPECT_GT(tally.imported, 0u);
}

} // namespace
} // namespace kestrel
