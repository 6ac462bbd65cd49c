// The writer on bundles the engine wrote: the same bytes give back the same working file (and an
// uncompressed archive unchanged); a grown inner file (in the smaller samples) reopens with every
// inner file as expected.
#include "ArchiveWriterTestSupport.h"

#include "support/Manifest.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <iostream>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> BundleSamples(const fs::path& samples) {
    std::vector<std::string> out;
    for (const auto& row : ReadManifestRows(samples)) {
        if (row.size() < 5) continue;
        const std::string& kind = row[4];
        if (kind.rfind("UnityFS fmt", 0) == 0 || kind.rfind("UnityWeb fmt", 0) == 0 ||
            kind.rfind("UnityRaw fmt", 0) == 0) {
            out.push_back(row[1]);
        }
    }
    return out;
}

void Rewrite(const fs::path& archive, WriterArchive& opened,
             std::vector<InnerReplacement> replacements) {
    ArchiveWriteInput in;
    in.archiveName = archive.string();
    in.workFileName = opened.workFileName;
    in.isBundle = true;
    in.bundle = &opened.bundle;
    in.replacements = std::move(replacements);
    WriteArchive(in);
}

TEST(ArchiveWriterSamples, EngineBundlesWriteBackExactlyAndReopenAfterAnEdit) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    size_t bundles = 0;
    size_t identical = 0;
    size_t edited = 0;
    for (const std::string& local : BundleSamples(samples)) {
        SCOPED_TRACE(local);
        TempDir dir;
        const fs::path archive = CopySampleWithCompanions(samples / local, dir.Path());
        const Bytes original = FileBytes(archive);
        // LZMA re-packing runs at a few MiB a second: the largest samples are left out.
        if (original.size() > 640 * 1024) continue;
        WriterArchive opened = OpenForWriting(archive);
        const Bytes work = FileBytes(opened.workFileName);
        const auto inner = InnerFileBytes(opened.bundle, opened.workFileName);
        ASSERT_FALSE(inner.empty());
        ++bundles;

        std::vector<InnerReplacement> same;
        for (size_t i = 0; i < inner.size(); ++i)
            same.push_back({i, Memory(inner[i])});
        Rewrite(archive, opened, same);
        const WriterArchive again = OpenForWriting(archive);
        EXPECT_EQ(FileBytes(again.workFileName), work) << "the archive decompresses as before";
        EXPECT_EQ(FileBytes(opened.workFileName), work);
        if (opened.workFileName == archive.string()) {
            EXPECT_EQ(FileBytes(archive), original);
        }
        if (!HasFailure()) ++identical;

        // The edit writes the archive once more: small samples only, to keep the run short.
        if (original.size() > 256 * 1024) continue;
        auto expected = inner;
        expected[0].resize(expected[0].size() + 1024, 0x20);
        Rewrite(archive, opened, {{0, Memory(expected[0])}});
        const WriterArchive edit = OpenForWriting(archive);
        EXPECT_EQ(InnerFileBytes(edit.bundle, edit.workFileName), expected);
        if (!HasFailure()) ++edited;
    }
    std::cout << "[ samples  ] " << bundles << " bundles, " << identical
              << " written back identically, " << edited
              << " of the smaller ones reopened after a 1 KiB edit\n";
    EXPECT_GT(bundles, 0u);
}

} // namespace
