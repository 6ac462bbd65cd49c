#include "session/GameFolder.h"

#include "assets/AssetsParser.h"
#include "bundle/AddressablesCatalog.h"
#include "bundle/BundleTypes.h"
#include "common/CoreBudget.h"
#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/ByteSource.h"
#include "io/SafePath.h"
#include "session/Archive.h"
#include "session/Operations.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>
#include <optional>
#include <regex>
#include <thread>
#include <unistd.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

std::string LowerAscii(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool EndsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The number N of a split piece "NAME.splitN" (any case), or nothing for other names.
std::optional<uint32_t> SplitPieceNumber(const std::string& lowerName) {
    const size_t at = lowerName.rfind(".split");
    if (at == std::string::npos || at == 0) return std::nullopt;
    const std::string digits = lowerName.substr(at + 6);
    if (digits.empty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return static_cast<uint32_t>(std::stoul(digits));
}

bool IsCatalogName(const std::string& lowerName) {
    return lowerName.starts_with("catalog") &&
           (EndsWith(lowerName, ".json") || EndsWith(lowerName, ".bin"));
}

uint64_t SizeOf(const fs::path& file) {
    std::error_code ec;
    const uint64_t size = fs::file_size(file, ec);
    return ec ? 0 : size;
}

// The pieces "NAME.split0", "NAME.split1", ... while they exist, in bytes.
uint64_t PiecesSize(const fs::path& piece0) {
    const std::string stem = piece0.string().substr(0, piece0.string().size() - 1);
    uint64_t total = 0;
    std::error_code ec;
    for (uint32_t i = 0; fs::is_regular_file(stem + std::to_string(i), ec); ++i)
        total += SizeOf(stem + std::to_string(i));
    return total;
}

// "done/total MiB", or KiB below 10 MiB.
std::string AmountText(uint64_t done, uint64_t total) {
    const int shift = total < (uint64_t{10} << 20) ? 10 : 20;
    const auto in = [&](uint64_t bytes) {
        return std::to_string((bytes + (uint64_t{1} << (shift - 1))) >> shift);
    };
    return in(done) + "/" + in(total) + (shift == 10 ? " KiB" : " MiB");
}

// What one worker's archive tells: notices and alerts pass on at once; progress of the archive
// itself is dropped (the run shows its own); lines pass on whole, or for a listing are kept
// until the archive is done, so that its rows follow its "## PATH" line. Breaths pass on only
// when the run has one worker, on the caller's thread (the window's events are processed there
// and nowhere else).
class ArchiveReporter : public Reporter {
public:
    ArchiveReporter(Reporter& next, bool keepLines, bool breathe)
        : next_(next), keepLines_(keepLines), breathe_(breathe) {}
    void Notice(const std::string& text) override { next_.Notice(text); }
    void Alert(const std::string& text) override { next_.Alert(text); }
    void ProgressLine(const std::string& text) override {
        if (keepLines_) {
            lines_.push_back(text);
        } else {
            next_.ProgressLine(text);
        }
    }
    void Progress(int) override {}
    void ProgressText(int, const std::string&) override {}
    void Breathe() override {
        if (breathe_) next_.Breathe();
    }
    std::vector<std::string> TakeLines() { return std::move(lines_); }

private:
    Reporter& next_;
    bool keepLines_;
    bool breathe_;
    std::vector<std::string> lines_;
};

struct ArchiveOutcome {
    size_t objects = 0;
    size_t failures = 0;
    bool worked = true; // false: an import that found no export tree
    bool written = false;
};

ArchiveOutcome ListOne(Archive& archive, const RunOptions& options, ArchiveReporter& reporter) {
    ListArchive(archive, options, reporter);
    ArchiveOutcome out;
    std::vector<std::string> lines = reporter.TakeLines();
    for (const std::string& line : lines) {
        if (!line.starts_with("# ")) ++out.objects;
    }
    for (std::string& line : lines)
        reporter.ProgressLine(std::move(line));
    return out;
}

ArchiveOutcome RunOne(const FolderArchive& entry, const RunOptions& options,
                      ArchiveReporter& reporter) {
    ArchiveOutcome out;
    if (options.task == Task::kImport) {
        // An archive without its tree is left alone, and not even opened.
        std::error_code ec;
        const fs::path tree = JoinInside(
            options.outputDir, ExportTreeOf(SafeRelativePath(entry.relativePath)), Links::Follow);
        if (!fs::is_directory(tree, ec)) {
            out.worked = false;
            return out;
        }
        const fs::path folder = entry.file.parent_path();
        if (::access(folder.c_str(), W_OK) != 0) {
            throw KestrelError("Cannot import into " + entry.file.string() +
                               ": import needs to write beside the archive, and " +
                               folder.string() + " cannot be written to.");
        }
    }
    const auto archive = Archive::Open(entry.file.string(), reporter, options.text);
    archive->SetTreeName(entry.relativePath);
    archive->RequireArchive(options.text);
    switch (options.task) {
    case Task::kList:
        return ListOne(*archive, options, reporter);
    case Task::kExport: {
        const ExportCount count = ExportArchive(*archive, options, reporter);
        out.objects = count.attempted;
        out.failures = count.failed;
        return out;
    }
    case Task::kImport: {
        const ImportSummary summary = ImportArchive(*archive, options, reporter);
        out.objects = summary.changedObjects;
        out.written = summary.written;
        if (summary.written)
            reporter.ProgressLine(entry.relativePath + ": " +
                                  ImportSummaryLine(summary, options.text));
        return out;
    }
    default:
        throw KestrelError("This task does not take a folder: " + entry.file.string());
    }
}

std::string ReadWholeFile(const fs::path& file) {
    const std::shared_ptr<const ByteSource> source = FileSource::Open(file);
    std::string bytes(static_cast<size_t>(source->Size()), '\0');
    if (source->ReadAt(0, bytes.data(), bytes.size()) != bytes.size())
        throw KestrelError("Cannot read " + file.string());
    return bytes;
}

// After an import: the Addressables catalogs of the folder stop checking the CRC of each bundle
// written (see ClearBundleCrcs), unless --keep-catalog. The old catalog is kept once as
// "catalog.json.bak"; a later import leaves that first copy as it is.
void UpdateCatalogs(const fs::path& folder, const std::vector<fs::path>& catalogs,
                    const RunOptions& options, FolderSummary& summary, Reporter& reporter) {
    for (const fs::path& catalog : catalogs) {
        const fs::path dir = catalog.parent_path().lexically_relative(folder);
        std::vector<std::string> bundles;
        for (const std::string& written : summary.writtenArchives) {
            const fs::path rel = fs::path(written).lexically_relative(dir);
            if (!rel.empty() && *rel.begin() != "..") bundles.push_back(rel.generic_string());
        }
        if (bundles.empty()) continue;
        const std::string shown = catalog.string();
        if (!EndsWith(LowerAscii(shown), ".json")) {
            reporter.Notice(shown + ": a binary catalog of newer Addressables, left unchanged; " +
                            "if the game refuses an edited bundle, the CRC this catalog " +
                            "records for it is the likely reason");
            continue;
        }
        try {
            const std::string old = ReadWholeFile(catalog);
            const CatalogCrcEdit edit = ClearBundleCrcs(old, bundles, shown);
            if (edit.cleared.empty()) continue;
            std::string names;
            for (const std::string& id : edit.cleared)
                names += (names.empty() ? "" : ", ") + id;
            if (options.keepCatalog) {
                reporter.Notice(shown + ": left unchanged (--keep-catalog); it records a CRC for " +
                                std::to_string(edit.cleared.size()) + " edited bundle(s), " +
                                "which the game may then refuse: " + names);
                continue;
            }
            const fs::path backup = shown + ".bak";
            std::error_code ec;
            const bool keptBefore = fs::exists(fs::symlink_status(backup, ec));
            if (!keptBefore) WriteFileAtomically(backup, old.data(), old.size());
            WriteFileAtomically(catalog, edit.text.data(), edit.text.size());
            reporter.Notice(shown + ": CRC set to 0 for " + std::to_string(edit.cleared.size()) +
                            " edited bundle(s) (" + names + "); the old catalog is kept as " +
                            backup.filename().string() +
                            (keptBefore ? " (from an earlier import)" : ""));
        } catch (const std::exception& e) {
            reporter.Alert(e.what());
            ++summary.failures;
        }
    }
}

} // namespace

bool LooksLikeArchive(const fs::path& file) {
    try {
        const std::shared_ptr<const ByteSource> source = FileSource::Open(file);
        std::array<char, 16> head{};
        const size_t got = source->ReadAt(0, head.data(), head.size());
        BundleStructure probe;
        probe.Signature = std::string(head.data(), strnlen(head.data(), got));
        if (probe.IsBundleSignature()) return true;
        AssetsFile assets;
        ReadAssetsHeader(source, 0, assets);
        return assets.header.EngineMajorVersion != 0;
    } catch (const std::exception&) { // unreadable or too short: no archive to work on
        return false;
    }
}

FolderContents WalkGameFolder(const fs::path& folder) {
    FolderContents out;
    std::error_code ec;
    const auto fail = [&](const std::error_code& error) {
        throw KestrelError("Cannot read folder " + folder.string() + ": " + error.message());
    };
    fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec);
    if (ec) fail(ec);
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) fail(ec);
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        const fs::file_status status = it->symlink_status(ec);
        if (ec) fail(ec);
        if (fs::is_directory(status)) {
            // Export trees hold copies of objects, not archives of the game.
            if (name == "Unity_Assets_Files") it.disable_recursion_pending();
            continue;
        }
        const std::string lower = LowerAscii(name);
        if (lower.find(".kestrel-") != std::string::npos || EndsWith(lower, ".bak")) continue;
        if (!fs::is_regular_file(status)) { // links, devices, pipes
            ++out.skippedFiles;
            continue;
        }
        // Resource files and later pieces belong to the archive they sit beside.
        if (EndsWith(lower, ".ress") || EndsWith(lower, ".resource")) continue;
        const std::optional<uint32_t> piece = SplitPieceNumber(lower);
        if (piece && (*piece != 0 || EndsWith(lower.substr(0, lower.size() - 7), ".ress") ||
                      EndsWith(lower.substr(0, lower.size() - 7), ".resource")))
            continue;
        if (IsCatalogName(lower)) out.catalogs.push_back(path);
        if (!LooksLikeArchive(path)) {
            ++out.skippedFiles;
            continue;
        }
        FolderArchive archive;
        archive.file = path;
        archive.relativePath = path.lexically_relative(folder).generic_string();
        if (piece) {
            archive.relativePath.resize(archive.relativePath.size() - 7); // ".split0"
            archive.bytes = PiecesSize(path);
        } else {
            archive.bytes = SizeOf(path);
        }
        out.archives.push_back(std::move(archive));
    }
    std::sort(out.archives.begin(), out.archives.end(),
              [](const FolderArchive& a, const FolderArchive& b) {
                  return a.relativePath < b.relativePath;
              });
    std::sort(out.catalogs.begin(), out.catalogs.end());
    return out;
}

unsigned WorkerCount(unsigned jobs) {
    if (jobs != 0) return jobs;
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string FolderSummaryLine(const FolderSummary& s, Task task, const InterfaceTexts& text) {
    std::string line =
        WithValue(WithValue(WithValue(WithValue(text.MsgFolderSummary, std::to_string(s.archives)),
                                      std::to_string(s.objects)),
                            std::to_string(s.failures)),
                  std::to_string(s.skippedFiles));
    if (task == Task::kImport) {
        line += WithValue(WithValue(text.MsgFolderImported, std::to_string(s.written)),
                          std::to_string(s.withoutTree));
    }
    // English counts one of a thing in the singular ("1 archive written").
    static const std::regex one(R"((^|[,;] )1 (archive|object|failure|file)s)");
    return std::regex_replace(line, one, "$011 $2");
}

FolderSummary RunOnFolder(const fs::path& folder, const RunOptions& given, unsigned jobs,
                          Reporter& reporter) {
    const FolderContents contents = WalkGameFolder(folder);
    RunOptions options = given;
    if (options.outputDir.empty()) {
        options.outputDir = folder.string();
        if (options.outputDir.back() != '/') options.outputDir.push_back('/');
    }
    const std::vector<FolderArchive>& archives = contents.archives;
    const bool listing = options.task == Task::kList;

    FolderSummary summary;
    summary.skippedFiles = contents.skippedFiles;
    uint64_t totalBytes = 0;
    for (const FolderArchive& a : archives)
        totalBytes += a.bytes;

    std::mutex mutex; // guards everything below
    size_t done = 0;
    uint64_t doneBytes = 0;
    // A listing prints the archives in the walk's order: each block waits for those before it.
    std::vector<std::optional<std::vector<std::string>>> blocks(listing ? archives.size() : 0);
    size_t printed = 0;
    const auto showProgress = [&] {
        const int percent = totalBytes == 0 ? 100 : static_cast<int>(doneBytes * 100 / totalBytes);
        reporter.ProgressText(std::min(percent, done == archives.size() ? 100 : 99),
                              std::to_string(done) + "/" + std::to_string(archives.size()) +
                                  " archives, " + AmountText(doneBytes, totalBytes));
    };

    const unsigned workers = static_cast<unsigned>(
        std::min<size_t>(WorkerCount(jobs), std::max<size_t>(1, archives.size())));
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next++; i < archives.size(); i = next++) {
            const FolderArchive& entry = archives[i];
            ArchiveReporter own(reporter, listing, workers <= 1);
            ArchiveOutcome outcome;
            bool failed = false;
            try {
                outcome = RunOne(entry, options, own);
            } catch (const std::exception& e) {
                // Most messages name the archive already; the others get its path in front.
                const std::string what = e.what();
                reporter.Alert(what.find(entry.file.string()) != std::string::npos
                                   ? what
                                   : entry.relativePath + ": " + what);
                failed = true;
            }
            const std::lock_guard<std::mutex> hold(mutex);
            if (failed) {
                ++summary.failures;
                ++summary.archives;
            } else if (outcome.worked) {
                ++summary.archives;
                summary.objects += outcome.objects;
                summary.failures += outcome.failures;
                if (outcome.written) {
                    ++summary.written;
                    summary.writtenArchives.push_back(entry.relativePath);
                }
            } else {
                ++summary.withoutTree;
            }
            if (listing) {
                std::vector<std::string> lines{"## " + entry.relativePath};
                if (!failed) {
                    std::vector<std::string> rows = own.TakeLines();
                    lines.insert(lines.end(), std::make_move_iterator(rows.begin()),
                                 std::make_move_iterator(rows.end()));
                }
                blocks[i] = std::move(lines);
                for (; printed < blocks.size() && blocks[printed]; ++printed) {
                    for (const std::string& line : *blocks[printed])
                        reporter.ProgressLine(line);
                    blocks[printed].reset();
                }
            }
            ++done;
            doneBytes += entry.bytes;
            showProgress();
        }
    };
    if (workers <= 1) {
        work();
    } else {
        // The workers beside the first (whose core is this thread's) hold spare cores, so that a
        // bundle's block compression inside a worker takes none that another worker is using.
        const CoreLease cores(workers - 1);
        std::vector<std::thread> threads;
        for (unsigned w = 0; w < workers; ++w)
            threads.emplace_back(work);
        for (std::thread& t : threads)
            t.join();
    }
    std::sort(summary.writtenArchives.begin(), summary.writtenArchives.end());
    if (options.task == Task::kImport)
        UpdateCatalogs(folder, contents.catalogs, options, summary, reporter);
    return summary;
}

} // namespace kestrel
