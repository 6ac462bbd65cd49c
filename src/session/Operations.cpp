#include "session/Operations.h"

#include "assets/AssetsParser.h"
#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/ByteStreams.h"
#include "io/SafePath.h"

#include <charconv>
#include <filesystem>
#include <unordered_set>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// A resource entry is exported whole whatever -t says: it is the input the conversions of the
// other inner files read.
ExportCount ExportResourceEntry(const Archive& archive, size_t entry, const RunOptions& options,
                                Reporter& reporter, bool unlessExported) {
    const ParsedInnerFile inner = archive.Parse(entry, options, &reporter);
    const InnerScope scope{archive, inner, options, reporter};
    if (unlessExported && inner.Items().Count() == 1) {
        std::error_code ec;
        const fs::path copy = fs::path(scope.OutputBaseDir()) / scope.TreeRelative() /
                              SafeComponent(inner.Items().ExportName[0]);
        if (fs::exists(copy, ec)) return {};
    }
    return ExportObjects(scope, ExportedObjects(inner, options, /*everyObject=*/true));
}

ExportCount ExportResourcesOf(const Archive& archive, size_t owner, const RunOptions& options,
                              Reporter& reporter) {
    ExportCount count;
    if (!archive.IsBundle()) return count;
    for (const size_t r : ResourceEntriesOf(archive.InnerFileNames(), owner))
        count += ExportResourceEntry(archive, r, options, reporter, /*unlessExported=*/true);
    return count;
}

ExportCount ExportWholeInnerFile(const Archive& archive, size_t entry, const RunOptions& options,
                                 Reporter& reporter) {
    const ParsedInnerFile inner = archive.Parse(entry, options, &reporter);
    return ExportObjects(InnerScope{archive, inner, options, reporter},
                         ExportedObjects(inner, options, /*everyObject=*/false));
}

void ListInnerFile(const ParsedInnerFile& inner, Reporter& reporter) {
    std::string line;
    for (size_t i = 0; i < inner.Items().Count(); ++i) {
        line.clear();
        AppendListLine(line, inner.assets, i);
        reporter.ProgressLine(line);
    }
}

} // namespace

void AppendListLine(std::string& out, const AssetsFile& file, size_t index) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    char digits[24];
    const auto number = [&](auto value) {
        out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    };
    const ListSpan span = ListSpanOf(file, index);
    number(index + 1);
    out += '\t';
    out += file.items.ExportName[index];
    out += '\t';
    number(file.items.rows[index].ClassID);
    out += " (";
    out += file.items.types[index].name;
    out += ")\t";
    number(span.size);
    out += "\t0x";
    for (int i = span.offset > 0xFFFFFFFFu ? 15 : 7; i >= 0; --i)
        out += kHex[(span.offset >> (4 * i)) & 0xF];
}

void ListArchive(const Archive& archive, const RunOptions& options, Reporter& reporter) {
    const size_t count = archive.InnerFileCount();
    if (!archive.IsBundle() || options.entry.given || count < 2) {
        const size_t entry = archive.Resolve(options.entry.given ? options.entry : EntrySelector{});
        ListInnerFile(archive.Parse(entry, options, &reporter), reporter);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const ParsedInnerFile inner = archive.Parse(i, options, &reporter);
        reporter.ProgressLine("# " + std::to_string(i) + " " + archive.InnerFileNames()[i]);
        ListInnerFile(inner, reporter);
    }
}

ExportCount ExportArchive(const Archive& archive, const RunOptions& options, Reporter& reporter) {
    ExportCount count;
    if (!archive.IsBundle()) return ExportWholeInnerFile(archive, 0, options, reporter);
    if (options.entry.given) {
        const size_t chosen = archive.Resolve(options.entry);
        count += ExportResourcesOf(archive, chosen, options, reporter);
        count += ExportWholeInnerFile(archive, chosen, options, reporter);
        return count;
    }
    const std::vector<std::string>& names = archive.InnerFileNames();
    for (size_t i = 0; i < names.size(); ++i) {
        if (IsResourceEntry(names[i]))
            count += ExportResourceEntry(archive, i, options, reporter, /*unlessExported=*/false);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (!IsResourceEntry(names[i]))
            count += ExportWholeInnerFile(archive, i, options, reporter);
    }
    return count;
}

ExportCount ExportChosenObjects(const Archive& archive, const ParsedInnerFile& inner,
                                const std::vector<size_t>& objects, const RunOptions& options,
                                Reporter& reporter) {
    ExportCount count = ExportResourcesOf(archive, inner.index, options, reporter);
    count += ExportObjects(InnerScope{archive, inner, options, reporter}, objects);
    return count;
}

void ExportBundleFiles(const Archive& archive, const std::string& dir, Reporter& reporter) {
    if (!archive.IsBundle()) return;
    // The working file as it is now, also when something cut it since it was opened (after an
    // import it may be the old copy with the replacements put in, read as one).
    std::error_code ec;
    uint64_t fileSize = archive.Work()->Size();
    if (dynamic_cast<const FileSource*>(archive.Work().get()) != nullptr) {
        fileSize = fs::file_size(archive.WorkFileName(), ec);
        if (ec) throw KestrelError("Cannot read " + archive.WorkFileName() + ": " + ec.message());
    }
    const std::vector<InnerEntry> entries = InnerEntries(archive.Bundle());
    // Check every range first so that a damaged directory writes nothing.
    for (const auto& e : entries) {
        if (e.offset > fileSize || e.size > fileSize - e.offset) {
            throw KestrelError(archive.Name() + ": offset " + HexOffset(e.offset) +
                               ": inner file \"" + e.name + "\" runs past the end of the file");
        }
    }
    CreateDirectories(dir);
    const std::string shown = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    std::unordered_set<std::string> written;
    for (const auto& e : entries) {
        // Inner names are untrusted: each becomes one plain file name directly inside dir. Names
        // that flatten to one file name ("a/b", "a\\b", "a:b") keep apart by a numbered suffix.
        const std::string safe = SafeComponent(e.name);
        std::string name = safe;
        for (uint32_t n = 1; !written.insert(name).second; ++n)
            name = safe + "_" + std::to_string(n);
        if (name != safe) {
            reporter.Notice("Inner file \"" + e.name + "\" written as " + name + ": \"" + safe +
                            "\" is taken by another inner file");
        }
        // Complete under its final name or absent: a write error leaves no cut inner file.
        AtomicOutputFile out(JoinInside(dir, name), AtomicOutputFile::Flush::RenameOnly);
        SourceInput in(archive.Work(), e.offset, e.offset + e.size);
        FileOutput sink(out.File());
        CopyStream(in, sink);
        out.Commit();
        reporter.ProgressLine("Export archive: " + shown + name);
    }
}

ImportSummary ImportInnerFileAndResources(Archive& archive, size_t entry, const RunOptions& options,
                                          Reporter& reporter) {
    std::vector<size_t> entries = {entry};
    // Sound imports write into the exported copies of the resource entries: those go last.
    if (archive.IsBundle()) {
        for (const size_t r : ResourceEntriesOf(archive.InnerFileNames(), entry)) {
            if (HasExportTree(archive, r, options)) entries.push_back(r);
        }
    }
    return ImportInnerFiles(archive, entries, options, reporter);
}

ImportSummary ImportArchive(Archive& archive, const RunOptions& options, Reporter& reporter) {
    if (!archive.IsBundle() || options.entry.given)
        return ImportInnerFileAndResources(archive, archive.Resolve(options.entry), options,
                                           reporter);
    std::vector<size_t> entries;
    const std::vector<std::string>& names = archive.InnerFileNames();
    for (const bool resources : {false, true}) {
        for (size_t i = 0; i < names.size(); ++i) {
            if (IsResourceEntry(names[i]) == resources && HasExportTree(archive, i, options))
                entries.push_back(i);
        }
    }
    return ImportInnerFiles(archive, entries, options, reporter);
}

} // namespace kestrel
