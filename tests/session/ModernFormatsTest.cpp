// Serialized files of formats 17 to 22 (with and without type trees, both byte orders), plain
// and inside UnityFS 7 and 8 bundles: every object is listed with its name, class, size and
// offset, and every object's raw or payload file is exported with the object's bytes.
#include "assets/AssetsParser.h"
#include "bundle/BundleReader.h"
#include "session/ExportDriver.h"
#include "session/Operations.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Text(const std::string& s) {
    return {s.begin(), s.end()};
}

// What a test object should come out as: its export name, its class text and the bytes of its
// exported file.
struct Expected {
    std::string exportName;
    std::string typeText;
    std::vector<uint8_t> file;
};

struct Variant {
    int32_t format;
    bool typeTrees;
    bool bigEndian;
    uint32_t bundleFormat; // 0: a plain file
};

std::string VariantName(const Variant& v) {
    return "Format" + std::to_string(v.format) + (v.typeTrees ? "Trees" : "NoTrees") +
           (v.bigEndian ? "Big" : "Little") +
           (v.bundleFormat != 0 ? "InUnityFS" + std::to_string(v.bundleFormat) : "");
}

AssetsSpec Plan(const Variant& v, std::vector<Expected>& expected) {
    AssetsSpec plan;
    plan.formatVersion = v.format;
    plan.typeTrees = v.typeTrees;
    plan.bigEndian = v.bigEndian;
    plan.engineVersion = v.format >= 22 ? "2022.3.9f1" : "2019.4.28f1";
    const Endian order = plan.Order();
    const std::vector<uint8_t> mesh = NoiseBytes(37, 3);
    const std::vector<uint8_t> font = NoiseBytes(64, 4);
    plan.objects = {
        {49, "readme", TextBody("hello world", order)},
        {1, std::nullopt, NoiseBytes(24, 5)},
        {43, "cu:be", mesh},
        {128, "arial", FontBody(font, order)},
        {-1, std::nullopt, NoiseBytes(20, 6)},
        {142, "bundle", NoiseBytes(8, 7)},
        {49, "README", TextBody("again", order)},
        {1, std::nullopt, NoiseBytes(12, 8)},
    };
    const auto tail = [](const std::vector<uint8_t>& b) { return b; };
    expected = {
        {"readme.txt", "TextAsset", Text("hello world")},
        {"inner_00001.1", "GameObject", tail(plan.objects[1].body)},
        {"cube.mesh", "Mesh", mesh},
        {"arial.ttf", "Font", font},
        {"inner_00001.114", "MonoBehaviour", tail(plan.objects[4].body)},
        {"bundle.142", "AssetBundle", tail(plan.objects[5].body)},
        {"README_00001.txt", "TextAsset", Text("again")},
        {"inner_00002.1", "GameObject", tail(plan.objects[7].body)},
    };
    return plan;
}

class ModernFormats : public ::testing::TestWithParam<Variant> {};

TEST_P(ModernFormats, ListAndExportEveryObject) {
    const Variant v = GetParam();
    std::vector<Expected> expected;
    const AssetsSpec plan = Plan(v, expected);
    const BuiltAssets built = BuildAssets(plan);

    TempDir dir;
    const fs::path archive = dir / "inner";
    uint64_t base = 0;
    if (v.bundleFormat == 0) {
        WriteFileBytes(archive, built.bytes);
    } else {
        UnityFSOptions opt;
        opt.formatVersion = v.bundleFormat;
        opt.engineVersion = "2022.3.9f1";
        opt.padBlocks = true;
        opt.blockInfo = BlockInfoKind::StoredAtEnd;
        opt.blockSize = 100;
        const BuiltBundle bundle = BuildUnityFS({{"CAB-inner/inner", built.bytes, 4}}, opt);
        WriteFileBytes(archive, bundle.bytes);
        base = ExpectedWorkCopyFS({{"CAB-inner/inner", built.bytes, 4}}, opt).innerOffsets[0];
    }

    OpenedArchive a;
    a.options.outputDir = dir.Path().string() + "/";
    a.Open(archive.string());
    EXPECT_EQ(a.inner.base, base);
    const AssetsFile& file = a.inner.assets;
    EXPECT_EQ(file.header.formatVersion, v.format);
    ASSERT_EQ(a.Items().Count(), expected.size());
    EXPECT_EQ(file.DataOffset, base + built.dataOffset);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const ObjectRow& row = a.Items().rows[i];
        EXPECT_EQ(a.Items().ExportName[i], expected[i].exportName);
        EXPECT_EQ(a.Items().types[i].name, expected[i].typeText);
        EXPECT_EQ(row.ObjOffset, built.objectOffsets[i]);
        EXPECT_EQ(row.ObjOffset % 8, 0u);
        EXPECT_EQ(row.ObjSize, built.objectSizes[i]);
        EXPECT_EQ(row.pathId, static_cast<int64_t>(i + 1));
        EXPECT_EQ(a.Items().listRows[i].size, expected[i].file.size());
    }

    a.options.outputs = kOutRawMesh;
    EXPECT_EQ(ExportObjects(a.Scope(), ExportedObjects(a.inner, a.options, false)).failed, 0u);
    const fs::path tree = dir / "Unity_Assets_Files" / "inner";
    const fs::path out = v.bundleFormat == 0 ? tree : tree / "inner";
    for (const Expected& e : expected) {
        const fs::path f = out / e.exportName;
        ASSERT_TRUE(fs::exists(f)) << f;
        EXPECT_EQ(ReadFileBytes(f), e.file) << e.exportName;
    }
}

std::vector<Variant> Variants() {
    std::vector<Variant> out;
    for (int32_t format : {17, 19, 21, 22})
        for (bool trees : {false, true})
            for (bool big : {false, true})
                out.push_back({format, trees, big, 0});
    out.push_back({21, false, false, 7});
    out.push_back({22, true, false, 8});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Variants, ModernFormats, ::testing::ValuesIn(Variants()),
                         [](const auto& info) { return VariantName(info.param); });

} // namespace
