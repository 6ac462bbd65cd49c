#include "assets/Vocabulary.h"
#include "common/Error.h"
#include "io/ByteSource.h"
#include "session/ConverterInput.h"
#include "support/Manifest.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureExport.h"
#include "texture/TextureFormats.h"
#include "texture/TextureHeader.h"
#include "texture/TextureResource.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

namespace kestrel {
namespace {

using namespace kestrel::test;
namespace fs = std::filesystem;

std::vector<std::string> TextureSamples(const fs::path& samples) {
    return SamplesHolding(samples, 9, 15, {"Texture2D", "Cubemap"});
}

// DXT and uncompressed formats that ImageMagick reads from DDS (its DDS reader has no
// alpha-only pixel format, so Alpha8 files are checked by size only).
bool IsDecodableDds(int32_t format) {
    switch (format) {
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 37:
        return true;
    default:
        return false;
    }
}

struct Tally {
    size_t textures = 0, written = 0, decoded = 0, ktx = 0, pvr = 0, streamed = 0;
    std::map<std::string, size_t> byFormat;
    std::vector<std::string> problems;
};

void CheckDds(const fs::path& file, const TextureHeader& h, const std::string& label,
              Tally& tally) {
    ++tally.written;
    const uint64_t expectedSize = 128 + static_cast<uint64_t>(h.completeImageSize);
    if (!fs::exists(file) || fs::file_size(file) != expectedSize) {
        tally.problems.push_back(label + ": " + file.string() + " missing or not " +
                                 std::to_string(expectedSize) + " bytes");
        return;
    }
    if (!IsDecodableDds(h.textureFormat) || !HaveImageMagick()) return;
    const auto decoded = DecodePixel(file, 0, 0);
    if (!decoded) {
        tally.problems.push_back(label + ": ImageMagick cannot read " + file.string() + " (" +
                                 TextureFormatShortName(h.textureFormat) + " " +
                                 std::to_string(h.width) + " x " + std::to_string(h.height) + ", " +
                                 std::to_string(h.imageCount) + " image(s) of " +
                                 std::to_string(h.completeImageSize) + " bytes)");
    } else if (decoded->width != h.width || decoded->height != h.height) {
        tally.problems.push_back(label + ": decoded " + std::to_string(decoded->width) + " x " +
                                 std::to_string(decoded->height) + ", header says " +
                                 std::to_string(h.width) + " x " + std::to_string(h.height));
    } else {
        ++tally.decoded;
    }
}

// Exports one texture as the export driver would, with every converter its format accepts.
void ExportOne(const OpenedArchive& a, size_t i, Tally& tally, const std::string& label) {
    const ObjectRow& row = a.Items().rows[i];
    const std::string& name = a.Items().ExportName[i];
    const int32_t format = a.Items().types[i].TextureFormat;
    const InnerScope scope = a.Scope();
    const ConverterContext context = ContextOf(scope);
    ConverterInput in{context, scope.ObjectBody(i),
                      "Unity_Assets_Files/" + a.inner.dirName +
                          (row.ClassID == 89 ? "/Cubemap/" : "/Textures/"),
                      name, i};
    Reader object = in.object;
    const TextureObject tex = ReadTextureHeader(object);
    const std::string dir = tex.StreamedData ? ResourceDirFor(tex.resource.path) : "";
    tally.streamed += tex.StreamedData ? 1 : 0;
    ++tally.byFormat[TextureFormatShortName(format)];
    if (TextureFormatSupports(format, 1)) {
        ExportTextureDDS(in);
        for (int32_t k = 1; tex.header.completeImageSize > 0 && k <= tex.header.imageCount; ++k) {
            std::string file = name + ".dds";
            if (k > 1) file += "_" + std::to_string(k);
            CheckDds(in.OutputDir() / dir / file, tex.header, label, tally);
        }
    }
    if (TextureFormatSupports(format, 3)) {
        ExportTextureKTX(in);
        tally.ktx += fs::exists(in.OutputDir() / dir / (name + ".ktx")) ? 1 : 0;
    }
    if (TextureFormatSupports(format, 4)) {
        ExportTexturePVR(in);
        tally.pvr += fs::exists(in.OutputDir() / dir / (name + ".pvr")) ? 1 : 0;
    }
}

void ExportTextures(const OpenedArchive& a, const std::string& label, Tally& tally) {
    for (size_t i = 0; i < a.Items().Count(); ++i) {
        const ObjectRow& row = a.Items().rows[i];
        if ((row.ClassID != 28 && row.ClassID != 89) || row.ObjSize <= row.NameHeaderSize) {
            continue;
        }
        ++tally.textures;
        try {
            ExportOne(a, i, tally, label + " " + a.Items().ExportName[i]);
        } catch (const KestrelError& e) {
            tally.problems.push_back(label + " " + a.Items().ExportName[i] + ": " + e.what());
        }
    }
}

TEST(TextureSamples, EveryTextureOfFormats9To15ExportsAndItsDdsDecodes) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "sample archives are not present";
    const auto list = TextureSamples(samples);
    ASSERT_FALSE(list.empty()) << "no texture samples in MANIFEST.md";

    Tally tally;
    for (const std::string& local : list) {
        SCOPED_TRACE(local);
        TempDir dir;
        const fs::path copy = CopySampleWithCompanions(samples / local, dir.Path());
        OpenedArchive a(copy.string());
        const size_t entries = a.archive->InnerFileCount();
        for (size_t e = 0; e < entries; ++e) {
            if (e > 0) a.Select(e);
            ExportTextures(a, local, tally);
        }
        for (const auto& alert : a.messages.alerts)
            tally.problems.push_back(local + ": " += alert);
        a.archive.reset();
    }

    std::cout << "[ textures ] " << list.size() << " samples, " << tally.textures << " textures, "
              << tally.written << " DDS files written, " << tally.decoded
              << " decoded by ImageMagick, " << tally.ktx << " KTX, " << tally.pvr << " PVR, "
              << tally.streamed << " streamed from .resS\n[ textures ]";
    for (const auto& [format, n] : tally.byFormat)
        std::cout << " " << format << " " << n;
    std::cout << "\n";
    for (const std::string& p : tally.problems)
        ADD_FAILURE() << p;
    EXPECT_GT(tally.written, 0u);
}

TEST(TextureSamples, StreamedTexturesComeOutOfTheirResourceFile) {
    const fs::path samples = SamplesDir();
    const fs::path sample =
        samples / "Amatsugu__Dodge-Blocks/Build/Build_Data/sharedassets0.assets";
    if (samples.empty() || !fs::exists(sample)) GTEST_SKIP() << "sample is not present";
    TempDir dir;
    const fs::path copy = CopySampleWithCompanions(sample, dir.Path());
    ASSERT_TRUE(fs::exists(dir / "sharedassets0.assets.resS"));
    OpenedArchive a(copy.string());
    Tally tally;
    ExportTextures(a, "Dodge-Blocks", tally);
    const std::string dirName = a.inner.dirName;
    a.archive.reset();
    for (const std::string& p : tally.problems)
        ADD_FAILURE() << p;
    EXPECT_TRUE(a.messages.alerts.empty());
    EXPECT_GT(tally.streamed, 0u);
    size_t fromResource = 0;
    for (const char* kind : {"Textures", "Cubemap"}) {
        const fs::path resDir = dir / "Unity_Assets_Files" / dirName / kind / "res_sharedassets0";
        if (!fs::exists(resDir)) continue;
        for (const auto& e : fs::directory_iterator(resDir)) {
            fromResource += e.is_regular_file() && e.path().extension() == ".dds";
        }
    }
    std::cout << "[ textures ] " << tally.streamed << " streamed textures, " << fromResource
              << " DDS files from sharedassets0.assets.resS, " << tally.decoded << " decoded\n";
    EXPECT_EQ(fromResource, tally.streamed);
}

} // namespace
} // namespace kestrel
