#include "session/Archive.h"

#include "assets/AssetsParser.h"
#include "common/Error.h"
#include "io/SafePath.h"
#include "session/WorkingFiles.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

namespace fs = std::filesystem;

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    // A bare file name lies in the current directory.
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string NameList(const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i != 0) out += ", ";
        out += std::to_string(i) + " \"" + names[i] + "\"";
    }
    return out;
}

WorkProgress ProgressTo(Reporter& reporter) {
    return [&reporter](uint64_t done, uint64_t total) {
        if (total != 0)
            reporter.Progress(static_cast<int>(std::min<uint64_t>(done, total) * 100 / total));
    };
}

struct ResourceKind {
    std::string kind;
    std::string typeText;
};

ResourceKind ClassifyResource(const ByteSource& work, uint64_t base) {
    std::array<char, 4> head{};
    const size_t got = work.ReadAt(base, head.data(), head.size());
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
void BuildResourceItem(ParsedInnerFile& inner, const ByteSource& work) {
    const ResourceKind kind = ClassifyResource(work, inner.base);
    AssetsFile& a = inner.assets;
    a.headerFileSize = 0;
    a.DataOffset = 0;
    a.layout = RowLayout{4, 0, 1, 2, 3};
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(inner.size, UINT32_MAX));
    ObjectRow row;
    row.ObjSize = size;
    if (inner.base <= UINT32_MAX) {
        row.ObjOffset = static_cast<uint32_t>(inner.base);
    } else {
        // Offsets past 4 GiB do not fit the 32-bit word; the data area carries them instead.
        a.DataOffset = inner.base;
    }
    ItemTable& items = a.items;
    items.Clear();
    items.rows.push_back(row);
    items.ExportName.push_back(inner.name);
    items.types.push_back({items.InternTypeName(kind.typeText), 0});
    items.listRows.push_back({1, inner.name, 0, " (" + kind.typeText + ")", size, inner.base});
    inner.resourceKind = kind.kind;
}

bool HasSuffixIgnoringCase(const std::string& text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<long>(suffix.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

// A file the engine writes beside an assets file for the data its objects stream (pictures,
// sounds, videos): listed as one item, as a bundle's resource entries are. `copyFor` is the
// archive's name without the ".split0" of pieces.
bool IsResourceFileName(const std::string& copyFor) {
    return HasSuffixIgnoringCase(copyFor, ".resS") || HasSuffixIgnoringCase(copyFor, ".resource");
}

} // namespace

std::unique_ptr<Archive> Archive::Open(const std::string& path, Reporter& reporter,
                                       const InterfaceTexts& text) {
    std::unique_ptr<Archive> archive(new Archive());
    Archive& a = *archive;
    a.name_ = path;
    a.directory_ = DirectoryOf(path);
    const std::string fileName = FileNameOf(path);
    a.baseName_ = SafeComponent(fileName.substr(0, fileName.find('.')));
    a.treeName_ = a.baseName_;
    // On failure the archive's destructor removes what was made so far.
    std::string workFileName = path;
    std::string copyFor = path; // the archive a decompressed copy is named after
    if (HasSuffixIgnoringCase(path, ".split0")) {
        const std::string ext = path.substr(path.size() - 7);
        copyFor = path.substr(0, path.size() - ext.size());
        // No writer replaces the pieces while they are joined.
        const std::optional<FileLock> reading = HoldPiecesForReading(path);
        // A stopped commit was completed above; any new pieces left now are a killed run's.
        std::error_code ec;
        const bool journal = fs::exists(PieceCommitJournal(path), ec);
        RemoveDeadWorkingFiles(copyFor, journal ? std::string()
                                                : FileNameOf(path.substr(0, path.size() - 1)));
        workFileName = JoinPiecesIntoWorkingFile(copyFor, ext.substr(0, ext.size() - 1), a.pieces_,
                                                 ProgressTo(reporter))
                           .string();
        a.workingFiles_.push_back(workFileName);
        a.identities_ = a.Identities();
    } else {
        RemoveDeadWorkingFiles(path, {});
        a.identities_ = a.Identities();
    }
    ContainerOptions options;
    options.shownName = path;
    options.progress = ProgressTo(reporter);
    options.makeCopy = [&copyFor](uint64_t declared, std::string& copyPath) {
        fs::path p;
        auto file = CreateWorkingFile(copyFor, ".TEMP", declared, p);
        copyPath = p.string();
        return file;
    };
    ContainerInfo info = ReadContainer(workFileName, a.bundle_, options);
    if (info.madeWorkCopy) a.workingFiles_.push_back(info.workFileName);
    reporter.Progress(100);
    a.workFileName_ = info.workFileName;
    a.work_ = info.work;
    a.isBundle_ = info.isBundle;
    a.ReadDirectory();
    if (!a.isBundle_ && a.work_->Size() == 0) throw KestrelError(path + text.MsgNotAnArchive);
    a.resourceFile_ = IsResourceFileName(copyFor);
    return archive;
}

void Archive::RequireArchive(const InterfaceTexts& text) const {
    if (isBundle_ || resourceFile_) return;
    AssetsFile probe;
    ReadAssetsHeader(work_, 0, probe);
    if (probe.header.EngineMajorVersion == 0) throw KestrelError(name_ + text.MsgNotAnArchive);
}

size_t Archive::FirstSerializedInnerFile() const {
    if (!isBundle_) return 0;
    const auto& nodes = bundle_.FS.Nodes;
    if (bundle_.Signature == "UnityFS" && nodes.size() == entries_.size()) {
        // Node flag 4: the node is a serialized file.
        for (size_t i = 0; i < nodes.size(); ++i)
            if (nodes[i].Flags & 4) return i;
        return 0;
    }
    const auto endsWith = [](const std::string& name, std::string_view tail) {
        if (name.size() < tail.size()) return false;
        for (size_t k = 0; k < tail.size(); ++k) {
            const auto c = static_cast<unsigned char>(name[name.size() - tail.size() + k]);
            if (std::tolower(c) != tail[k]) return false;
        }
        return true;
    };
    for (size_t i = 0; i < entries_.size(); ++i) {
        const std::string& name = entries_[i].name;
        if (!endsWith(name, ".ress") && !endsWith(name, ".resource") && !endsWith(name, ".dll") &&
            !endsWith(name, ".mdb") && !endsWith(name, ".pdb"))
            return i;
    }
    return 0;
}

void Archive::ReadDirectory() {
    entries_ = InnerEntries(bundle_);
    innerNames_.clear();
    for (const auto& e : entries_)
        innerNames_.push_back(e.name);
    if (isBundle_ && entries_.empty())
        throw KestrelError(name_ + ": the bundle holds no inner files");
}

Archive::~Archive() {
    work_.reset();
    // Only the files this archive created go: an archive the user named, whatever its name, stays.
    for (const auto& p : workingFiles_) {
        try {
            RemoveWorkingFile(p);
        } catch (...) { // a working file that cannot be removed is left; the run's result stands
        }
    }
}

size_t Archive::Resolve(const EntrySelector& sel) const {
    if (!isBundle_) {
        const std::string fileName = FileNameOf(name_);
        if (sel.index != 0 || (sel.name && *sel.name != fileName && *sel.name != baseName_)) {
            throw KestrelError(name_ + ": not a bundle; its only inner file is \"" + baseName_ +
                               "\" (number 0)");
        }
        return 0;
    }
    if (sel.name) {
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].name == *sel.name) return i;
        }
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (CutInnerName(entries_[i].name) == *sel.name) return i;
        }
        throw KestrelError(name_ + ": no inner file named \"" + *sel.name +
                           "\"; the bundle holds " + NameList(innerNames_));
    }
    if (sel.index >= entries_.size()) {
        throw KestrelError(name_ + ": no inner file number " + std::to_string(sel.index) +
                           "; the bundle holds " + NameList(innerNames_));
    }
    return sel.index;
}

ParsedInnerFile Archive::Parse(size_t index, const RunOptions& options, Reporter* reporter) const {
    ParsedInnerFile inner;
    inner.index = index;
    inner.name = baseName_;
    inner.dirName = treeName_;
    inner.size = work_->Size();
    if (isBundle_) {
        const InnerEntry& entry = entries_.at(index);
        inner.name = SafeComponent(CutInnerName(entry.name));
        inner.dirName += "/" + inner.name;
        inner.base = entry.offset;
        inner.size = entry.size;
    }
    inner.assets =
        ParseAssets(work_, inner.base,
                    ParseOptions{inner.name, options.fontAsObject, options.keepListRows, reporter});
    if (!inner.IsResourceItem() && !ObjectTableIsRead(inner.assets.header.formatVersion)) {
        // An assets file of a format whose table is not read: its bytes are kept and listed as
        // one item, and the format is named.
        if (reporter != nullptr) {
            reporter->Notice(name_ + (isBundle_ ? "/" + inner.name : "") + ": serialized format " +
                             std::to_string(inner.assets.header.formatVersion) +
                             " is not read yet; the file is listed as one item");
        }
        inner.assets = AssetsFile{};
    }
    if (inner.IsResourceItem()) BuildResourceItem(inner, *work_);
    return inner;
}

void Archive::SetTreeName(const std::string& relativePath) {
    const std::string safe = SafeRelativePath(relativePath);
    if (safe.empty()) throw KestrelError(name_ + ": no export tree name");
    treeName_ = safe;
}

std::string Archive::OutputBaseDir(const RunOptions& options) const {
    return options.outputDir.empty() ? directory_ : options.outputDir;
}

std::vector<Archive::FileIdentity> Archive::Identities() const {
    std::vector<std::string> paths;
    if (pieces_ == 0) {
        paths.push_back(name_);
    } else {
        const std::string stem = name_.substr(0, name_.size() - 1); // "NAME.split"
        for (uint32_t i = 0; i < pieces_; ++i)
            paths.push_back(stem + std::to_string(i));
    }
    std::vector<FileIdentity> out;
    for (const std::string& p : paths) {
        struct stat st {};
        FileIdentity id{p};
        if (::stat(p.c_str(), &st) == 0) {
            id.device = st.st_dev;
            id.inode = st.st_ino;
            id.size = static_cast<uint64_t>(st.st_size);
            id.modifiedNs =
                static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        }
        out.push_back(id);
    }
    return out;
}

FileLock Archive::LockForImport() const {
    const std::string lockFile = ArchiveLockFile(name_);
    std::optional<FileLock> lock =
        FileLock::Take(lockFile, kImportLockByte, FileLock::Mode::kExclusive, /*wait=*/false);
    if (!lock) {
        std::string holder = FileLock::ReadNote(lockFile);
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r'))
            holder.pop_back();
        throw KestrelError("Cannot import into " + name_ + ": another Kestrel run is importing " +
                           "into it" + (holder.empty() ? "" : " (" + holder + ")") +
                           ". Nothing was written; import again when it has finished.");
    }
    lock->WriteNote("process " + std::to_string(::getpid()) + "\n");
    if (Identities() != identities_) {
        throw KestrelError("Cannot import into " + name_ + ": it was changed by another program " +
                           "or run since Kestrel opened it. Nothing was written; open it again " +
                           "and import again.");
    }
    return std::move(*lock);
}

void Archive::Write(const std::vector<InnerReplacement>& files, Reporter& reporter) {
    if (files.empty()) return;
    ArchiveWriteInput input;
    input.archiveName = name_;
    input.workFileName = workFileName_;
    input.splitPieceCount = pieces_;
    input.isBundle = isBundle_;
    input.bundle = &bundle_;
    input.replacements = files;
    input.progress = [&reporter](uint64_t done, uint64_t total) {
        if (total == 0) return;
        reporter.Progress(25 + static_cast<int>(std::min(done, total) * 75 / total));
        reporter.Breathe();
    };
    uint32_t pieces = pieces_;
    input.splitPieceCountOut = &pieces;
    input.work = work_;
    std::shared_ptr<const ByteSource> newWork;
    input.workOut = &newWork;
    try {
        WriteArchive(input);
    } catch (const KestrelError& e) {
        // The writer leaves the working file as it was; reading goes on from it.
        throw KestrelError("Cannot import into " + name_ + ": " + e.what() +
                               ". The archive is unchanged.",
                           e.OutputFailed());
    }
    pieces_ = pieces;
    identities_ = Identities();
    // The new working file (or the old copy with the replacements put in): read that from now on.
    work_ = std::move(newWork);
    ReadDirectory();
}

} // namespace kestrel
