#pragma once
#include "io/Writer.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kestrel {

// A file that appears under its final name complete or not at all. It is written beside the
// target under a fresh name of its own (".NAME.kestrel-PID-N.tmp", created exclusively, never
// through a link), flushed and renamed over the target by Commit. Dropped without Commit, or when
// the process is stopped by a signal, the temporary file is removed and the target is untouched.
// The temporary file is locked while it lives (see ScratchFiles).
class AtomicOutputFile {
public:
    // ToDisk also flushes the data and the directory entry (fsync) before and after the rename: for
    // files that replace a user's file, which must survive a power loss. Exported files only need
    // to be complete or absent, and skip the flush, which costs far more than writing a small file.
    enum class Flush { ToDisk, RenameOnly };
    explicit AtomicOutputFile(std::filesystem::path target, Flush flush = Flush::ToDisk);
    ~AtomicOutputFile();
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    OutputFile& File() { return *file_; }
    void Write(const void* data, size_t count) { file_->Write(data, count); }
    void Write(const std::vector<uint8_t>& bytes) { file_->Write(bytes); }
    // (fsync,) close, rename over the target, (fsync the directory). Raises KestrelError on
    // failure, leaving the target as it was.
    void Commit();
    // Removes the temporary file now; the target stays as it was.
    void Abandon();

    const std::filesystem::path& Target() const { return target_; }
    const std::filesystem::path& TempPath() const { return temp_; }

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::unique_ptr<OutputFile> file_;
    Flush flush_;
    bool done_ = false;
};

// Writes a whole file through an AtomicOutputFile.
void WriteFileAtomically(const std::filesystem::path& target, const void* data, size_t count,
                         AtomicOutputFile::Flush flush = AtomicOutputFile::Flush::ToDisk);

// Creates the first free name of stem + suffix, stem + "-1" + suffix, "-2", ... in `dir`,
// exclusively and without following links, registers it as a scratch file and sets `path`. Used
// for working files, which must never clobber a file Kestrel did not create. Returns null when
// the directory cannot be written to at all.
std::unique_ptr<OutputFile> CreateUniqueFile(const std::filesystem::path& dir,
                                             const std::string& stem, std::string_view suffix,
                                             std::filesystem::path& path);

// The files this process has created and not yet committed or removed. A signal handler removes
// them before the process ends, so a run stopped by a signal leaves nothing behind. A run killed
// outright (SIGKILL, a crash, a power loss) cannot: so each file made by CreateUniqueFile and
// AtomicOutputFile is locked (flock, on an open file description of its own) from its creation
// until it is removed or renamed, and the lock goes only with it or with the process. A later run
// removes the files of its own names that no one holds (RemoveUnlocked): a process id alone could
// belong to another process by then.
namespace ScratchFiles {
void Add(const std::filesystem::path& path);
// Registers `path` with the descriptor holding its lock, closed when the file is forgotten.
void AddLocked(const std::filesystem::path& path, int lockFd);
// Forgets it (it was deleted), and lets its lock go.
void Remove(const std::filesystem::path& path);
// A signal no longer removes it (another step owns it now); it stays locked until Remove.
void KeepOnSignal(const std::filesystem::path& path);
// It was renamed to `to`. When `to` is itself a registered file (a working file replaced by its
// new version), the lock moves with it, so that the name stays locked; otherwise it goes.
void Renamed(const std::filesystem::path& from, const std::filesystem::path& to);
// Unlinks every registered file; safe to call from a signal handler.
void UnlinkAllFromSignal();
// In `dir`, removes the regular files of this user whose names `isScratchName` accepts and whose
// lock can be taken at once: files a killed run left. Never follows a link, never removes a file
// a live process holds. Returns how many went.
size_t RemoveUnlocked(const std::filesystem::path& dir,
                      const std::function<bool(std::string_view)>& isScratchName);
} // namespace ScratchFiles

} // namespace kestrel
