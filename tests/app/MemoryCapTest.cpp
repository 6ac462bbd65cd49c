// Memory in proportion to the file, tried on the built program under an address-space cap: a
// listing whose type tree names one long text from thousands of nodes (once gigabytes for a file
// of 700 KB) fits, and a cap too small for the data ends in a message naming the file.
#include "support/AssetsBuilder.h"
#include "support/Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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

// A format-22 file of `count` unnamed objects of 4 bytes: the object table is most of it.
fs::path TableHeavyFile(const TempDir& dir, const char* name, size_t count) {
    AssetsSpec plan;
    plan.formatVersion = 22;
    plan.engineVersion = "2022.3.1f1";
    plan.objects.assign(count, {1, std::nullopt, {0, 0, 0, 0}});
    const fs::path file = dir / name;
    const auto bytes = BuildAssetsFile(plan);
    WriteFileBytes(file, {bytes.begin(), bytes.end()});
    return file;
}

struct CapCase {
    const char* what;
    fs::path (*make)(const TempDir&);
    rlim_t extra; // the cap above the baseline; 0: 64 MiB plus 8 times the file's size
    int code;
    const char* expected; // in the output
};

TEST(MemoryCap, ListingStaysInProportionToTheFileAndTooLittleMemoryIsAnError) {
    const CapCase cases[] = {
        // A type tree naming one long text from 20,000 nodes (700 KB; once gigabytes).
        {"tree strings", [](const TempDir& d) { return OneTextTreeFile(d, "names.assets", 20000, 60000); },
         0, 0, "names_00001.tex\t28 (Texture2D)"},
        // 400,000 table entries, the per-object state of the listing.
        {"table rows", [](const TempDir& d) { return TableHeavyFile(d, "rows.assets", 400000); }, 0,
         0, "rows_400000.1\t1 (GameObject)"},
        // 300,000 objects: their names and rows need far more than the 4 MiB the cap leaves.
        {"too little", [](const TempDir& d) { return TableHeavyFile(d, "objects.assets", 300000); },
         4 * kMiB, 1, "objects.assets: not enough memory"},
    };
    for (const CapCase& c : cases) {
        SCOPED_TRACE(c.what);
        // The sanitizer build cannot run under an address-space cap: its peak resident set is
        // held to a bound that leaves room for the sanitizer's own memory and still catches the
        // gigabytes; a cap meant to fail cannot be tried there.
        if (kSanitized && c.code != 0) continue;
        TempDir dir;
        const fs::path file = c.make(dir);
        const rlim_t cap = kBaseline + (c.extra ? c.extra : 64 * kMiB + 8 * fs::file_size(file));
        KestrelChild child = KestrelChild::Start({"list", file.string()}, RLIM_INFINITY, false,
                                                 kSanitized ? RLIM_INFINITY : cap);
        const std::string text = child.ReadAll();
        EXPECT_EQ(child.Wait(), c.code) << text.substr(0, 2000);
        if (kSanitized) {
            EXPECT_LT(child.peakKiB * 1024, long(2 * cap)) << "peak resident set";
        }
        EXPECT_NE(text.find(c.expected), std::string::npos) << text.substr(0, 2000);
        EXPECT_EQ(text.find("bad_alloc"), std::string::npos);
    }
}

} // namespace
