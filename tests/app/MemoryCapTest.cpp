// Memory in proportion to the file, tried on the built program under an address-space cap: a
// listing whose type tree names one long text from thousands of nodes (once gigabytes for a file
// of 700 KB) fits, and a cap too small for the data ends in a message naming the file.
#include "support/AssetsBuilder.h"
#include "support/Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool kSanitized = true; // its shadow memory cannot live under an address-space cap
#else
constexpr bool kSanitized = false;
#endif

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

constexpr rlim_t kMiB = 1024 * 1024;
// The address space the program holds before it reads a byte: `kestrel --version` runs under a
// cap of 16 MiB (libraries, stack, the first heap); 40 MiB leaves room for other builds.
constexpr rlim_t kBaseline = 40 * kMiB;

// A format-22 file with one texture whose type tree has `nodes` nodes, every one naming the same
// text of `length` bytes as its type and its name.
fs::path OneTextTreeFile(const TempDir& dir, const char* name, int nodes, size_t length) {
    const std::string text(length, 'x');
    std::vector<TypeTreeNode> tree(static_cast<size_t>(nodes), {1, 4, 0, text, text});
    tree[0] = {0, -1, 0, text, text};
    AssetsSpec plan;
    plan.formatVersion = 22;
    plan.engineVersion = "2022.3.1f1";
    plan.typeTrees = true;
    plan.objects.push_back({28, "atlas", {0, 0, 0, 0}});
    plan.trees.push_back({28, std::move(tree)});
    const fs::path file = dir / name;
    const auto bytes = BuildAssetsFile(plan);
    WriteFileBytes(file, {bytes.begin(), bytes.end()});
    return file;
}

struct Listed {
    int code;
    std::string text;
    long peakKiB;
};

Listed ListUnderCap(const fs::path& file, rlim_t cap) {
    KestrelChild child = KestrelChild::Start({"list", file.string()}, RLIM_INFINITY, false, cap);
    std::string text = child.ReadAll();
    const int code = child.Wait();
    return {code, std::move(text), child.peakKiB};
}

TEST(MemoryCap, ListingStaysInProportionToTheFile) {
    TempDir dir;
    const fs::path file = OneTextTreeFile(dir, "names.assets", 20000, 60000); // 700 KB
    const rlim_t cap = kBaseline + 64 * kMiB + 8 * fs::file_size(file);
    // The sanitizer build cannot run under an address-space cap: its peak resident set is held
    // to a bound that leaves room for the sanitizer's own memory and still catches the gigabytes.
    const Listed run = ListUnderCap(file, kSanitized ? RLIM_INFINITY : cap);
    if (kSanitized) {
        EXPECT_LT(run.peakKiB * 1024, long(4 * cap)) << "peak resident set";
    }
    EXPECT_EQ(run.code, 0) << run.text;
    EXPECT_NE(run.text.find("names_00001.tex\t28 (Texture2D)"), std::string::npos) << run.text;
}

TEST(MemoryCap, TooLittleMemoryIsAnErrorNamingTheFile) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer build cannot run under an address-space cap";
    TempDir dir;
    // 300,000 objects: their names and rows need far more than the 4 MiB the cap leaves.
    AssetsSpec plan;
    plan.formatVersion = 22;
    plan.engineVersion = "2022.3.1f1";
    plan.objects.assign(300000, {1, std::nullopt, {0, 0, 0, 0}});
    const fs::path file = dir / "objects.assets";
    const auto bytes = BuildAssetsFile(plan);
    WriteFileBytes(file, {bytes.begin(), bytes.end()});
    const Listed run = ListUnderCap(file, kBaseline + 4 * kMiB);
    EXPECT_EQ(run.code, 1) << run.text;
    EXPECT_NE(run.text.find("objects.assets: not enough memory"), std::string::npos) << run.text;
    EXPECT_EQ(run.text.find("bad_alloc"), std::string::npos) << run.text;
}

} // namespace
