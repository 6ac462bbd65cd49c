// One open archive read by several threads at once gives each of them what one thread reads.
#include "session/Operations.h"
#include "support/RecordedMessages.h"
#include "support/StreamedBundle.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <thread>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Every inner file's list rows and every object's bytes, as one text.
std::string ReadEverything(const Archive& archive) {
    RunOptions options;
    std::string out;
    for (size_t i = 0; i < archive.InnerFileCount(); ++i) {
        const ParsedInnerFile inner = archive.Parse(i, options, nullptr);
        RecordedMessages quiet;
        const InnerScope scope{archive, inner, options, quiet};
        for (size_t k = 0; k < inner.Items().Count(); ++k) {
            AppendListLine(out, inner.assets, k);
            Reader body = scope.ObjectBody(k);
            std::string bytes(body.Remaining(), '\0');
            body.Bytes(bytes.data(), bytes.size(), "object");
            out += bytes;
        }
    }
    return out;
}

TEST(ArchiveThreads, ParallelReadersSeeWhatOneReaderSees) {
    TempDir dir;
    WriteStreamedTextureBundle(dir / "scene.bundle");
    RecordedMessages messages;
    const auto archive = Archive::Open((dir / "scene.bundle").string(), messages);
    const std::string expected = ReadEverything(*archive);
    ASSERT_FALSE(expected.empty());
    std::vector<std::string> seen(4);
    std::vector<std::thread> readers;
    for (auto& result : seen)
        readers.emplace_back([&] {
            for (int round = 0; round < 20; ++round)
                result = ReadEverything(*archive);
        });
    for (auto& t : readers)
        t.join();
    for (const auto& result : seen)
        EXPECT_EQ(result, expected);
}

} // namespace
