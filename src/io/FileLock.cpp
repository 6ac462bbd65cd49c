#include "io/FileLock.h"

#include "common/Error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

int OpenLockFile(const std::filesystem::path& path) {
    // A link planted under the lock file's name is not followed.
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
}

// True when `path` still names the file open as `fd`: its last holder may have removed it
// between our open and our lock.
bool StillNamed(int fd, const std::filesystem::path& path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

std::optional<FileLock> FileLock::Take(const std::filesystem::path& path, uint32_t byte, Mode mode,
                                       bool wait) {
    for (;;) {
        const int fd = OpenLockFile(path);
        if (fd < 0) {
            throw KestrelError("Cannot open the lock file " + path.string() + ": " +
                               std::strerror(errno));
        }
        FileLock lock(fd, path);
        struct flock range {};
        range.l_type = mode == Mode::kShared ? F_RDLCK : F_WRLCK;
        range.l_whence = SEEK_SET;
        range.l_start = byte;
        range.l_len = 1;
        while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range) != 0) {
            if (errno == EINTR) continue;
            lock.path_.clear(); // not ours to remove
            if (!wait && (errno == EAGAIN || errno == EACCES)) return std::nullopt;
            throw KestrelError("Cannot lock " + path.string() + ": " + std::strerror(errno));
        }
        if (StillNamed(fd, path)) return lock;
        lock.path_.clear();
    }
}

std::optional<FileLock> FileLock::TakeIfPossible(const std::filesystem::path& path, uint32_t byte,
                                                 Mode mode) {
    const int probe = OpenLockFile(path);
    if (probe < 0) return std::nullopt;
    ::close(probe);
    return Take(path, byte, mode, /*wait=*/true);
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    Release();
}

void FileLock::Release() {
    if (fd_ < 0) return;
    // The last holder removes the lock file: when no one else holds any part of it, this
    // description may lock all of it. Others that opened it meanwhile find it renamed away once
    // they hold their lock, and take it again on a new file.
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (!path_.empty() && ::fcntl(fd_, F_OFD_SETLK, &whole) == 0 && StillNamed(fd_, path_))
        ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
}

void FileLock::WriteNote(const std::string& text) const {
    if (::ftruncate(fd_, 0) != 0) return;
    // The note only helps the message of a process that finds the lock taken.
    [[maybe_unused]] const ssize_t n = ::pwrite(fd_, text.data(), text.size(), 0);
}

std::string FileLock::ReadNote(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return "";
    char buffer[256];
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
    ::close(fd);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

} // namespace kestrel
