// A write of the archive that fails or is killed at any point leaves every file of the archive
// byte for byte old or new, and the next open works.
#include "ArchiveWriterTestSupport.h"

#include "common/Error.h"
#include "session/Archive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

constexpr size_t kMiB = 1024 * 1024;

// The archive of a case: a compressed bundle, or a compressed bundle cut into 1 MiB pieces.
struct FaultCase {
    std::string name;
    bool split;
    size_t scale;  // size of the inner files (see WriterFiles)
    size_t growth; // bytes added to the first inner file
};

const Bytes& BuiltArchive(size_t scale) {
    static std::map<size_t, Bytes> built;
    auto& b = built[scale];
    if (b.empty()) b = BuildUnityFS(WriterFiles(scale)).bytes;
    return b;
}

Bytes Grown(const FaultCase& c) {
    Bytes b = WriterFiles(c.scale)[0].bytes;
    const Bytes more = NoiseBytes(c.growth, 4);
    b.insert(b.end(), more.begin(), more.end());
    return b;
}

// The files the archive consists of (the archive, or its pieces), by name.
using FileSet = std::map<std::string, Bytes>;

FileSet ArchiveFiles(const fs::path& dir) {
    FileSet set;
    for (const auto& name : Listing(dir)) {
        if (name.rfind("level0.unity3d", 0) == 0 && name.find("kestrel") == std::string::npos) {
            set[name] = FileBytes(dir / name);
        }
    }
    return set;
}

Reporter& Quiet() {
    static SilentReporter silent;
    return silent;
}

// Writes the case's archive into dir and opens it as the program does.
std::string Prepare(const FaultCase& c, const fs::path& dir, std::unique_ptr<Archive>& archive) {
    const fs::path base = dir / "level0.unity3d";
    if (c.split) {
        WriteSplitPieces(base, BuiltArchive(c.scale), kMiB);
    } else {
        PutFile(base, BuiltArchive(c.scale));
    }
    const std::string opened = c.split ? base.string() + ".split0" : base.string();
    archive = Archive::Open(opened, Quiet());
    return opened;
}

// `bundle` is a copy of the archive's record, which the writer updates when it succeeds.
ArchiveWriteInput InputOf(const Archive& archive, BundleStructure& bundle,
                          const Bytes& replacement) {
    ArchiveWriteInput in;
    in.archiveName = archive.Name();
    in.workFileName = archive.WorkFileName();
    in.splitPieceCount = archive.SplitPieceCount();
    in.isBundle = archive.IsBundle();
    in.bundle = &bundle;
    in.replacements = {{0, Memory(replacement)}};
    return in;
}

// The archive files the case gives before and after an uninterrupted write, and its duration.
struct Reference {
    FileSet before;
    FileSet after;
    std::chrono::microseconds duration{};
};

Reference MakeReference(const FaultCase& c) {
    TempDir dir;
    std::unique_ptr<Archive> archive;
    Prepare(c, dir.Path(), archive);
    BundleStructure bundle = archive->Bundle();
    Reference ref;
    ref.before = ArchiveFiles(dir.Path());
    const auto start = std::chrono::steady_clock::now();
    WriteArchive(InputOf(*archive, bundle, Grown(c)));
    ref.duration = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    ref.after = ArchiveFiles(dir.Path());
    EXPECT_NE(ref.before, ref.after);
    return ref;
}

// Each file is the old or the new one; after the next open completes a begun commit, the set as a
// whole is the old or the new one, and the archive opens.
void ExpectOldOrNewAndOpens(const FaultCase& c, const fs::path& dir, const Reference& ref,
                            const std::string& opened) {
    for (const auto& [name, bytes] : ArchiveFiles(dir)) {
        const auto old = ref.before.find(name);
        const auto now = ref.after.find(name);
        const bool isOld = old != ref.before.end() && old->second == bytes;
        const bool isNew = now != ref.after.end() && now->second == bytes;
        EXPECT_TRUE(isOld || isNew) << name << " is neither the old nor the new file";
    }
    std::unique_ptr<Archive> next;
    ASSERT_NO_THROW(next = Archive::Open(opened, Quiet()));
    const FileSet set = ArchiveFiles(dir);

    EXPECT_TRUE(set == ref.before || set == ref.after) << "a mix of old and new files";
    if (c.split) {
        EXPECT_FALSE(fs::exists(PieceCommitJournal(opened)));
    }
}

class ArchiveWriterFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ArchiveWriterFaults, AFailingStepLeavesEverythingAsItWasAndNoTemporaryFile) {
    const FaultCase& c = GetParam();
    const Reference ref = MakeReference(c);
    for (const std::string step : {"working file", "archive", "pieces", "journal", "commit"}) {
        if (!c.split && (step == "pieces" || step == "journal")) continue;
        TempDir dir;
        std::unique_ptr<Archive> archive;
        Prepare(c, dir.Path(), archive);
        BundleStructure bundle = archive->Bundle();
        const auto listing = Listing(dir.Path());
        const Bytes work = FileBytes(archive->WorkFileName());
        const auto entries = InnerEntries(archive->Bundle());
        SetArchiveWriteHookForTesting([&step](const std::string& now) {
            if (now == step) throw KestrelError("injected failure at " + now, true);
        });
        EXPECT_THROW(WriteArchive(InputOf(*archive, bundle, Grown(c))), KestrelError) << step;
        SetArchiveWriteHookForTesting({});
        EXPECT_EQ(Listing(dir.Path()), listing) << step;
        EXPECT_EQ(ArchiveFiles(dir.Path()), ref.before) << step;
        EXPECT_EQ(FileBytes(archive->WorkFileName()), work) << step;
        EXPECT_EQ(InnerEntries(bundle).at(0).size, entries.at(0).size) << step;
    }
}

TEST_P(ArchiveWriterFaults, AFileSizeLimitGivesAClearErrorAndLeavesEverythingAsItWas) {
    const FaultCase& c = GetParam();
    const Reference ref = MakeReference(c);
    for (const rlim_t limit : {rlim_t{1000}, rlim_t{300000}, rlim_t{900000}}) {
        TempDir dir;
        std::unique_ptr<Archive> archive;
        Prepare(c, dir.Path(), archive);
        BundleStructure bundle = archive->Bundle();
        const auto listing = Listing(dir.Path());
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit lim{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &lim);
            try {
                WriteArchive(InputOf(*archive, bundle, Grown(c)));
            } catch (const KestrelError& e) {
                const std::string msg = e.what();
                ssize_t unused = ::write(fds[1], msg.data(), msg.size());
                (void)unused;
                ::_exit(1);
            }
            ::_exit(0);
        }
        ::close(fds[1]);
        std::string message(4096, '\0');
        const ssize_t got = ::read(fds[0], message.data(), message.size());
        message.resize(got > 0 ? static_cast<size_t>(got) : 0);
        ::close(fds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << limit;
        EXPECT_EQ(WEXITSTATUS(status), 1) << "the write must fail under a limit of " << limit;
        EXPECT_NE(message.find("File too large"), std::string::npos) << message;
        EXPECT_NE(message.find(dir.Path().string()), std::string::npos) << "names the file";
        EXPECT_EQ(Listing(dir.Path()), listing) << limit;
        EXPECT_EQ(ArchiveFiles(dir.Path()), ref.before) << limit;
    }
}

TEST_P(ArchiveWriterFaults, KilledAtRandomMomentsEveryFileIsOldOrNewAndTheArchiveOpens) {
    const FaultCase& c = GetParam();
    const Reference ref = MakeReference(c);
    std::mt19937 random(20261209);
    const auto span = ref.duration.count() * 3 / 2 + 1;
    for (int round = 0; round < 50; ++round) {
        TempDir dir;
        std::unique_ptr<Archive> archive;
        const std::string opened = Prepare(c, dir.Path(), archive);
        BundleStructure bundle = archive->Bundle();
        const ArchiveWriteInput in = InputOf(*archive, bundle, Grown(c));
        const auto delay = std::uniform_int_distribution<long>(0, span)(random);
        const pid_t pid = ::fork();
        if (pid == 0) {
            try {
                WriteArchive(in);
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(delay));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << "round " << round;
        ExpectOldOrNewAndOpens(c, dir.Path(), ref, opened);
        if (HasFailure()) FAIL() << "round " << round << ", killed after " << delay << " us";
    }
}

INSTANTIATE_TEST_SUITE_P(Archives, ArchiveWriterFaults,
                         ::testing::Values(FaultCase{"CompressedBundle", false, 3, 200000},
                                           FaultCase{"SplitPieces", true, 9, kMiB}),
                         [](const auto& info) { return info.param.name; });

TEST(ArchiveWriterJournal, ACommitStoppedAfterItsJournalIsCompletedByTheNextOpen) {
    const FaultCase c{"SplitPieces", true, 9, kMiB};
    const Reference ref = MakeReference(c);
    TempDir dir;
    std::unique_ptr<Archive> archive;
    const std::string opened = Prepare(c, dir.Path(), archive);
    BundleStructure bundle = archive->Bundle();
    SetArchiveWriteHookForTesting([](const std::string& now) {
        if (now == "renames") throw KestrelError("stopped after the journal");
    });
    EXPECT_THROW(WriteArchive(InputOf(*archive, bundle, Grown(c))), KestrelError);
    SetArchiveWriteHookForTesting({});
    EXPECT_TRUE(fs::exists(PieceCommitJournal(opened)));
    EXPECT_EQ(ArchiveFiles(dir.Path()), ref.before) << "nothing renamed yet";
    const auto next = Archive::Open(opened, Quiet());
    EXPECT_EQ(ArchiveFiles(dir.Path()), ref.after);
    EXPECT_FALSE(fs::exists(PieceCommitJournal(opened)));
    for (const auto& name : Listing(dir.Path()))
        EXPECT_EQ(name.find(".new"), std::string::npos) << name << " is left";
}

TEST(ArchiveWriterJournal, ADamagedJournalIsAClearError) {
    TempDir dir;
    const fs::path base = dir / "level0.unity3d";
    WriteSplitPieces(base, BuiltArchive(1), kMiB);
    const std::string first = base.string() + ".split0";
    PutFile(PieceCommitJournal(first), Bytes{'x', 0, 'R', 0, '/', 0});
    try {
        FinishPieceCommit(first);
        FAIL() << "a damaged journal must not be carried out";
    } catch (const KestrelError& e) {
        EXPECT_NE(std::string(e.what()).find("damaged commit journal"), std::string::npos);
    }
}

} // namespace
