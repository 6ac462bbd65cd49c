// Import edits on serialized files of formats 17 to 22, and of formats 5 to 8 (whose metadata
// follows the objects): the rewritten file is byte for byte the file the builder writes with the
// new object contents (objects on multiples of 8, table and header sizes rewritten in their own
// widths and byte order).
#include "assets/AssetsParser.h"
#include "assets/AssetsWrite.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace kestrel;
using namespace kestrel::test;

namespace {

std::shared_ptr<const ByteSource> Mem(const std::vector<uint8_t>& bytes, const char* name) {
    return std::make_shared<MemorySource>(name, bytes);
}

std::vector<uint8_t> AllBytes(const ByteSource& source) {
    std::vector<uint8_t> out(source.Size());
    EXPECT_EQ(source.ReadAt(0, out.data(), out.size()), out.size());
    return out;
}

AssetsSpec Plan(int32_t format, bool trees, bool big, size_t meshSize, const std::string& text) {
    AssetsSpec plan;
    plan.formatVersion = format;
    plan.typeTrees = trees;
    plan.bigEndian = big;
    plan.engineVersion = "2021.3.33f1";
    plan.objects = {{43, "first", NoiseBytes(13, 1)},
                    {43, "mesh", NoiseBytes(meshSize, 2)},
                    {49, "note", TextBody(text, plan.Order(), format != 5)},
                    {1, std::nullopt, NoiseBytes(9, 3)},
                    {43, "last", NoiseBytes(21, 4)}};
    return plan;
}

using WriteCase = std::tuple<int32_t, bool, bool>;
class ModernAssetsWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ModernAssetsWrite, EditedFilesEqualTheBuiltOnes) {
    const auto [format, trees, big] = GetParam();
    const std::vector<uint8_t> old = BuildAssetsFile(Plan(format, trees, big, 30, "short"));
    const auto work = Mem(old, "old.assets");
    ParseOptions options;
    options.innerFileName = "old";
    const AssetsFile file = ParseAssets(work, 0, options);
    ASSERT_EQ(file.items.Count(), 5u);

    // Sizes that grow and shrink across the 8-byte boundaries, in both objects.
    for (const auto& [meshSize, text] :
         {std::pair<size_t, std::string>{30, "short"}, {31, "a longer text of a note"},
          {3, "x"}, {30, std::string(300, 't')}, {64, ""}}) {
        SCOPED_TRACE(std::to_string(meshSize) + " " + text);
        std::vector<ObjectEdit> edits;
        const auto mesh = Mem(NoiseBytes(meshSize, 2), "mesh.mesh");
        if (auto e = EditFromExportedFile(file, work, 1, mesh)) edits.push_back(*e);
        const auto note = Mem(std::vector<uint8_t>(text.begin(), text.end()), "note.txt");
        if (auto e = EditFromExportedFile(file, work, 2, note)) edits.push_back(*e);
        const auto rebuilt = RewriteAssets(file, work, 0, old.size(), edits);
        EXPECT_EQ(AllBytes(*rebuilt), BuildAssetsFile(Plan(format, trees, big, meshSize, text)));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ModernAssetsWrite,
                         ::testing::Combine(::testing::Values(5, 6, 7, 8, 17, 19, 21, 22),
                                            ::testing::Bool(), ::testing::Bool()));

} // namespace
