#include "io/ByteSource.h"

#include "common/Error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

std::shared_ptr<FileSource> FileSource::Open(const std::filesystem::path& path,
                                             const std::string& shownName) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw KestrelError("Cannot open file " + path.string() + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw KestrelError("Not a regular file: " + path.string());
    }
    return std::shared_ptr<FileSource>(new FileSource(shownName.empty() ? path.string() : shownName,
                                                      fd, static_cast<uint64_t>(st.st_size)));
}

FileSource::FileSource(std::string name, int fd, uint64_t size)
    : ByteSource(std::move(name)), fd_(fd), size_(size) {}

FileSource::~FileSource() {
    ::close(fd_);
}

size_t FileSource::ReadAt(uint64_t pos, void* dst, size_t n) const {
    constexpr size_t kSmallRead = 4096;
    constexpr size_t kWindow = 64 * 1024;
    if (n == 0 || pos >= size_) return 0; // an empty read may come with no buffer at all
    if (n > kSmallRead) return ReadFromFile(pos, dst, n);
    n = static_cast<size_t>(std::min<uint64_t>(n, size_ - pos));
    const std::lock_guard<std::mutex> lock(cacheMutex_);
    if (pos < cacheStart_ || pos + n > cacheStart_ + cache_.size()) {
        cacheStart_ = pos;
        cache_.resize(static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - pos)));
        cache_.resize(ReadFromFile(pos, cache_.data(), cache_.size()));
        n = std::min(n, cache_.size());
    }
    std::memcpy(dst, cache_.data() + (pos - cacheStart_), n);
    return n;
}

size_t FileSource::ReadFromFile(uint64_t pos, void* dst, size_t n) const {
    if (pos >= size_) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, size_ - pos));
    size_t done = 0;
    auto* out = static_cast<uint8_t*>(dst);
    while (done < n) {
        ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(pos + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            throw KestrelError("Read error in " + Name() + " at offset " +
                               std::to_string(pos + done) + ": " + std::strerror(errno));
        }
        if (got == 0) {
            // Inside the size the file had when it was opened: it was cut since.
            throw KestrelError(Name() + ": offset " + std::to_string(pos + done) +
                               ": the file ended early; it was cut after it was opened");
        }
        done += static_cast<size_t>(got);
    }
    return done;
}

size_t MemorySource::ReadAt(uint64_t pos, void* dst, size_t n) const {
    if (n == 0 || pos >= bytes_.size()) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - pos));
    std::memcpy(dst, bytes_.data() + pos, n);
    return n;
}

} // namespace kestrel
