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

SpliceSource::SpliceSource(std::string name, std::vector<Piece> pieces)
    : ByteSource(std::move(name)) {
    for (Piece& piece : pieces) {
        if (piece.length == 0) continue;
        if (piece.offset > piece.source->Size() ||
            piece.length > piece.source->Size() - piece.offset) {
            throw KestrelError(piece.source->Name() + ": offset " + std::to_string(piece.offset) +
                               ": " + std::to_string(piece.length) +
                               " bytes reach past the end of the file");
        }
        starts_.push_back(size_);
        size_ += piece.length;
        pieces_.push_back(std::move(piece));
    }
}

size_t SpliceSource::PieceAt(uint64_t pos) const {
    return static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), pos) -
                               starts_.begin()) -
           1;
}

size_t SpliceSource::ReadAt(uint64_t pos, void* dst, size_t n) const {
    if (pos >= size_) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, size_ - pos));
    auto* out = static_cast<uint8_t*>(dst);
    size_t done = 0;
    for (size_t i = PieceAt(pos); done < n; ++i) {
        const Piece& piece = pieces_[i];
        const uint64_t within = pos + done - starts_[i];
        const auto want = static_cast<size_t>(std::min<uint64_t>(n - done, piece.length - within));
        const size_t got = piece.source->ReadAt(piece.offset + within, out + done, want);
        done += got;
        if (got != want) break;
    }
    return done;
}

std::optional<FileStretch> SpliceSource::StretchAt(uint64_t pos, uint64_t n) const {
    if (pos >= size_) return std::nullopt;
    const size_t i = PieceAt(pos);
    const uint64_t within = pos - starts_[i];
    return pieces_[i].source->StretchAt(pieces_[i].offset + within,
                                        std::min(n, pieces_[i].length - within));
}

size_t MemorySource::ReadAt(uint64_t pos, void* dst, size_t n) const {
    if (n == 0 || pos >= bytes_.size()) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - pos));
    std::memcpy(dst, bytes_.data() + pos, n);
    return n;
}

} // namespace kestrel
