#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrel {

// Where bytes of a source lie in an open file: its descriptor, the offset of the first byte and
// how many follow there in one stretch.
struct FileStretch {
    int descriptor = -1;
    uint64_t offset = 0;
    uint64_t length = 0;
};

// Random-access bytes with a name for error messages: a file opened read-only, or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies up to n bytes from pos; returns how many were available.
    virtual size_t ReadAt(uint64_t pos, void* dst, size_t n) const = 0;
    // The stretch of an open file that holds the bytes from pos on (at most n of them), so that
    // a writer can have the kernel copy them; nullopt for bytes that are no file's.
    virtual std::optional<FileStretch> StretchAt(uint64_t pos, uint64_t n) const {
        (void)pos;
        (void)n;
        return std::nullopt;
    }
    const std::string& Name() const { return name_; }

protected:
    explicit ByteSource(std::string name) : name_(std::move(name)) {}

private:
    std::string name_;
};

class FileSource : public ByteSource {
public:
    // Throws KestrelError when the file cannot be opened. Errors about its bytes name
    // `shownName` when given (a working copy is reported under the archive the user gave).
    static std::shared_ptr<FileSource> Open(const std::filesystem::path& path,
                                            const std::string& shownName = {});
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t pos, void* dst, size_t n) const override;
    std::optional<FileStretch> StretchAt(uint64_t pos, uint64_t n) const override {
        if (pos >= size_) return std::nullopt;
        return FileStretch{fd_, pos, std::min(n, size_ - pos)};
    }

private:
    FileSource(std::string name, int fd, uint64_t size);
    size_t ReadFromFile(uint64_t pos, void* dst, size_t n) const;
    int fd_;
    uint64_t size_;
    // Small reads (names, fields, probes) are served from one window of the file read ahead, so
    // that walking an object table does not cost a system call per field.
    mutable std::mutex cacheMutex_;
    mutable std::vector<uint8_t> cache_;
    mutable uint64_t cacheStart_ = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(std::string name, std::vector<uint8_t> bytes)
        : ByteSource(std::move(name)), bytes_(std::move(bytes)) {}
    uint64_t Size() const override { return bytes_.size(); }
    size_t ReadAt(uint64_t pos, void* dst, size_t n) const override;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

} // namespace kestrel
