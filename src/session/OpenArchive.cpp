#include "assets/AssetsParser.h"
#include "bundle/ArchiveWriter.h"
#include "bundle/BundleReader.h"
#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/ByteStreams.h"
#include "io/Reader.h"
#include "io/SafePath.h"
#include "session/Operations.h"
#include "session/WorkingFiles.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unordered_set>

namespace kestrel {

namespace {

namespace fs = std::filesystem;

// The working files one open made; removed again when that open fails.
struct MadeFiles {
    std::vector<std::string> paths;
    void Remove() {
        for (const auto& p : paths)
            RemoveWorkingFile(p);
    }
};

// Progress of a working file as a percentage for the reporter.
WorkProgress ProgressTo(KestrelState& state) {
    return [&state](uint64_t done, uint64_t total) {
        if (total != 0)
            state.Report().Progress(
                static_cast<int>(std::min<uint64_t>(done, total) * 100 / total));
    };
}

// Clears WorkStream at the end of an operation, also when it fails.
struct WorkStreamReset {
    KestrelState& state;
    ~WorkStreamReset() { state.WorkStream.reset(); }
};

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    // A bare file name lies in the current directory.
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string NameList(const std::vector<InnerEntry>& entries) {
    std::string out;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i != 0) out += ", ";
        out += std::to_string(i) + " \"" + entries[i].name + "\"";
    }
    return out;
}

// The entry chosen by the selector: by index, or by name (the whole stored name, or the name
// after the cuts at the last "\" and "/").
const InnerEntry& SelectEntry(const std::vector<InnerEntry>& entries, const EntrySelector& sel,
                              const std::string& file) {
    if (entries.empty()) throw KestrelError(file + ": the bundle holds no inner files");
    if (sel.name) {
        for (const auto& e : entries) {
            if (e.name == *sel.name) return e;
        }
        for (const auto& e : entries) {
            if (CutInnerName(e.name) == *sel.name) return e;
        }
        throw KestrelError(file + ": no inner file named \"" + *sel.name + "\"; the bundle holds " +
                           NameList(entries));
    }
    if (sel.index >= entries.size()) {
        throw KestrelError(file + ": no inner file number " + std::to_string(sel.index) +
                           "; the bundle holds " + NameList(entries));
    }
    return entries[sel.index];
}

struct ResourceKind {
    std::string kind;
    std::string typeText;
};

ResourceKind ClassifyResource(const ByteSource& work, uint64_t assetsBase) {
    std::array<char, 4> head{};
    const size_t got = work.ReadAt(assetsBase, head.data(), head.size());
    const std::string four(head.data(), got);
    const bool mp3 = (got >= 1 && static_cast<uint8_t>(head[0]) == 0xFF) ||
                     (got >= 3 && std::memcmp(head.data(), "ID3", 3) == 0);
    if (mp3) return {"MP3", "AudioClip"};
    for (const char* audio : {"OggS", "RIFF", "FORM", "FSB5"}) {
        if (four == audio) return {four, "AudioClip"};
    }
    return {"unknown", "unknown"};
}

// A file that is no assets file becomes one item covering the whole resource.
void BuildResourceItem(KestrelState& state, uint64_t itemSize) {
    const ResourceKind kind = ClassifyResource(*state.WorkStream, state.assetsBase);
    AssetsFile& a = state.assets;
    a.headerFileSize = 0;
    a.DataOffset = 0;
    a.layout = RowLayout{4, 0, 1, 2, 3};
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(itemSize, UINT32_MAX));
    ObjectRow row;
    row.words.assign(10, 0);
    row.ObjSize = size;
    if (state.assetsBase <= UINT32_MAX) {
        row.ObjOffset = static_cast<uint32_t>(state.assetsBase);
    } else {
        // Offsets past 4 GiB do not fit the 32-bit word; the data area carries them instead.
        a.DataOffset = state.assetsBase;
    }
    row.words[0] = row.ObjOffset;
    row.words[1] = row.ObjSize;
    ItemTable& items = a.items;
    items.Clear();
    items.rows.push_back(row);
    items.ExportName.push_back(state.InnerFileName);
    items.types.push_back({kind.typeText, 0});
    items.listRows.push_back(
        {1, state.InnerFileName, 0, " (" + kind.typeText + ")", size, state.assetsBase});
    state.resourceKind = kind.kind;
}

} // namespace

void OpenArchive(KestrelState& state, const std::string& path) {
    WorkStreamReset scope{state};
    MadeFiles made;
    try {
        // Selecting another inner file reopens the working file; it still stands for the archive
        // the user named and stems from the pieces it was joined from, which clean-up and
        // re-packing must know.
        const bool reopen = !state.WorkFileName.empty() && path == state.WorkFileName;
        const std::string archiveName = reopen ? state.ArchiveName : path;
        std::string workFileName = path;
        const std::string fileName = FileNameOf(archiveName);
        const std::string baseName = SafeComponent(fileName.substr(0, fileName.find('.')));
        uint32_t pieces = reopen ? state.SplitPieceCount : 0;
        const std::string ext = fs::path(path).extension().string();
        std::string lowerExt = ext;
        std::transform(lowerExt.begin(), lowerExt.end(), lowerExt.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::string copyFor = path; // the archive a decompressed copy is named after
        if (!reopen && lowerExt == ".split0") {
            copyFor = path.substr(0, path.size() - ext.size());
            FinishPieceCommit(path);
            workFileName = JoinPiecesIntoWorkingFile(copyFor, ext.substr(0, ext.size() - 1), pieces,
                                                     ProgressTo(state))
                               .string();
            made.paths.push_back(workFileName);
        }

        ContainerOptions options;
        options.shownName = archiveName;
        options.progress = ProgressTo(state);
        options.makeCopy = [&copyFor](uint64_t declared, std::string& copyPath) {
            fs::path p;
            auto file = CreateWorkingFile(copyFor, ".TEMP", declared, p);
            copyPath = p.string();
            return file;
        };
        Unity3D_Structure bundle;
        ContainerInfo info = ReadContainer(workFileName, bundle, options);
        if (reopen) KeepArchivePacking(state.Bundle, bundle);
        if (info.madeWorkCopy) made.paths.push_back(info.workFileName);
        state.Report().Progress(100);
        state.WorkStream = info.work;

        std::vector<InnerEntry> entries = InnerEntries(bundle);
        std::string innerFileName = baseName;
        std::string archiveDirName = baseName;
        uint64_t assetsBase = 0;
        uint64_t itemSize = info.work->Size();
        if (info.isBundle) {
            const InnerEntry& entry = SelectEntry(entries, state.SelectedEntry, archiveName);
            innerFileName = SafeComponent(CutInnerName(entry.name));
            archiveDirName += "/" + innerFileName;
            assetsBase = entry.offset;
            itemSize = entry.size;
        } else if (state.SelectedEntry.index != 0 ||
                   (state.SelectedEntry.name && *state.SelectedEntry.name != fileName &&
                    *state.SelectedEntry.name != baseName)) {
            throw KestrelError(archiveName + ": not a bundle; its only inner file is \"" +
                               baseName + "\" (number 0)");
        }

        AssetsFile assets = ParseAssets(
            info.work, assetsBase,
            ParseOptions{innerFileName, state.FontAsObject, state.KeepListRows, state.reporter});

        state.WorkFileName = info.workFileName;
        state.ArchiveName = archiveName;
        for (const auto& p : made.paths)
            state.WorkingFiles.push_back(p);
        state.ArchiveDir = DirectoryOf(archiveName);
        state.OutputBaseDir = state.CustomPathGiven ? state.CustomPath : DirectoryOf(archiveName);
        state.ArchiveDirName = archiveDirName;
        state.ArchiveBaseName = baseName;
        state.InnerFileName = innerFileName;
        state.SplitPieceCount = pieces;
        state.assetsBase = assetsBase;
        state.Bundle = std::move(bundle);
        state.isBundle = info.isBundle;
        state.innerFileNames.clear();
        for (const auto& e : entries)
            state.innerFileNames.push_back(e.name);
        state.assets = std::move(assets);
        state.resourceKind.clear();
        if (state.assets.header.EngineMajorVersion == 0) {
            BuildResourceItem(state, itemSize);
            // An empty file holds nothing to list or export.
            if (!info.isBundle && itemSize == 0)
                throw KestrelError(archiveName + state.Localization.MsgNotAnArchive);
        }
    } catch (...) {
        state.WorkStream.reset();
        made.Remove();
        throw;
    }
}

void ExportBundle(KestrelState& state, const std::string& dir) {
    if (!state.isBundle) return;
    WorkStreamReset scope{state};
    state.WorkStream = FileSource::Open(state.WorkFileName, state.ArchiveName);
    const uint64_t fileSize = state.WorkStream->Size();
    const std::vector<InnerEntry> entries = InnerEntries(state.Bundle);
    // Check every range first so that a damaged directory writes nothing.
    for (const auto& e : entries) {
        if (e.offset > fileSize || e.size > fileSize - e.offset) {
            throw KestrelError(state.ArchiveName + ": offset " + HexOffset(e.offset) +
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
            state.Report().Notice("Inner file \"" + e.name + "\" written as " + name + ": \"" +
                                  safe + "\" is taken by another inner file");
        }
        // Complete under its final name or absent: a write error leaves no cut inner file.
        AtomicOutputFile out(JoinInside(dir, name), AtomicOutputFile::Flush::RenameOnly);
        SourceInput in(state.WorkStream, e.offset, e.offset + e.size);
        FileOutput sink(out.File());
        CopyStream(in, sink);
        out.Commit();
        state.Report().ProgressLine("Export archive: " + shown + name);
    }
}

void CleanUpWorkingFiles(KestrelState& state) {
    // Only the files this run created go: an archive the user named, whatever its name, stays.
    for (const auto& p : state.WorkingFiles)
        RemoveWorkingFile(p);
    state.WorkingFiles.clear();
}

} // namespace kestrel
