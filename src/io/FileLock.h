#pragma once
// Locks on one byte of a lock file, held by an open file description (so a thread, a process or
// the window and the command line each hold their own), released when the lock object goes or
// the process ends however it ends. A lock file is never renamed over, unlike the archive files a
// commit replaces; the last holder removes it, and a lock taken on a file removed meanwhile is
// taken again on the file now under that name.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrel {

class FileLock {
public:
    enum class Mode { kShared, kExclusive };

    // Takes the lock on byte `byte` of `path` (created when missing), waiting for it when
    // `wait`; nullopt when it is held elsewhere and `wait` is false. Raises a KestrelError when
    // the file cannot be opened or locked (a folder that cannot be written: see TryOpen).
    static std::optional<FileLock> Take(const std::filesystem::path& path, uint32_t byte, Mode mode,
                                        bool wait);
    // As Take with waiting, but nullopt instead of an error when the lock file cannot be created
    // (a read-only folder, where no other process can write the archive either).
    static std::optional<FileLock> TakeIfPossible(const std::filesystem::path& path, uint32_t byte,
                                                  Mode mode);

    FileLock(FileLock&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
        other.fd_ = -1;
    }
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    // Writes `text` as the whole content of the lock file (who holds it, for the others' message).
    void WriteNote(const std::string& text) const;
    // The content of the lock file at `path` ("" when it cannot be read).
    static std::string ReadNote(const std::filesystem::path& path);

private:
    FileLock(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    void Release();
    int fd_ = -1;
    std::filesystem::path path_;
};

} // namespace kestrel
