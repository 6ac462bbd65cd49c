#include "io/Writer.h"

#include "io/AtomicFile.h"

#include "common/Error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

void Writer::U16LE(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
}

void Writer::U16(uint16_t v) {
    U16LE(order_ == Endian::Big ? SwapBytes16(v) : v);
}

void Writer::U32LE(uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Writer::U64LE(uint64_t v) {
    U32LE(static_cast<uint32_t>(v));
    U32LE(static_cast<uint32_t>(v >> 32));
}

void Writer::U32BE(uint32_t v) {
    U32LE(SwapBytes32(v));
}
void Writer::U64BE(uint64_t v) {
    U64LE(SwapBytes64(v));
}
void Writer::U32(uint32_t v) {
    order_ == Endian::Big ? U32BE(v) : U32LE(v);
}
void Writer::U64(uint64_t v) {
    order_ == Endian::Big ? U64BE(v) : U64LE(v);
}

void Writer::F32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    U32(bits);
}

void Writer::Bytes(const void* data, size_t count) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + count);
}

void Writer::CString(std::string_view s) {
    Bytes(s);
    U8(0);
}

void Writer::Align4(size_t base) {
    while ((bytes_.size() - base) % 4 != 0)
        U8(0);
}

void Writer::PutU32At(size_t pos, uint32_t v) {
    if (order_ == Endian::Big) v = SwapBytes32(v);
    for (int i = 0; i < 4; ++i)
        bytes_.at(pos + i) = static_cast<uint8_t>(v >> (8 * i));
}

void Writer::PutU64At(size_t pos, uint64_t v) {
    const auto low = static_cast<uint32_t>(v);
    const auto high = static_cast<uint32_t>(v >> 32);
    PutU32At(pos, order_ == Endian::Big ? high : low);
    PutU32At(pos + 4, order_ == Endian::Big ? low : high);
}

void Writer::PutU32BEAt(size_t pos, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes_.at(pos + i) = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void Writer::PutU64BEAt(size_t pos, uint64_t v) {
    PutU32BEAt(pos, static_cast<uint32_t>(v >> 32));
    PutU32BEAt(pos + 4, static_cast<uint32_t>(v));
}

OutputFile::OutputFile(const std::filesystem::path& path, Mode mode) : name_(path.string()) {
    int flags = O_RDWR;
    if (mode == Mode::Create) flags = O_WRONLY | O_CREAT | O_TRUNC;
    if (mode == Mode::CreateNew) flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        // errno stays readable for callers that try another name when this one is taken.
        const int err = errno;
        KestrelError error("Cannot create file " + name_ + ": " + std::strerror(err));
        errno = err;
        throw error;
    }
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
}

void OutputFile::WriteAt(uint64_t pos, const void* data, size_t count) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(fd_, p + done, count - done, static_cast<off_t>(pos + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw KestrelError("Write error in " + name_ + ": " + std::strerror(errno), true);
        }
        done += static_cast<size_t>(n);
    }
}

void OutputFile::Write(const void* data, size_t count) {
    WriteAt(pos_, data, count);
    pos_ += count;
}

uint64_t OutputFile::Size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw KestrelError("Cannot read size of " + name_);
    return static_cast<uint64_t>(st.st_size);
}

void OutputFile::Sync() {
    if (fd_ >= 0 && ::fsync(fd_) != 0)
        throw KestrelError("Write error in " + name_ + ": " + std::strerror(errno), true);
}

void OutputFile::Close() {
    if (fd_ >= 0) {
        const int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0)
            throw KestrelError("Write error in " + name_ + ": " + std::strerror(errno), true);
    }
}

void WriteWholeFile(const std::filesystem::path& path, const void* data, size_t count) {
    WriteFileAtomically(path, data, count, AtomicOutputFile::Flush::RenameOnly);
}

} // namespace kestrel
