#pragma once
// A file's new content assembled without copying: ranges of other sources (the old working file,
// an edited file on disk) and small pieces held in memory, one after another.
#include "io/ByteSource.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

class CompositeSource : public ByteSource {
public:
    explicit CompositeSource(std::string name) : ByteSource(std::move(name)) {}

    // Appends [begin, begin + length) of `source`; the range must lie inside it.
    void Append(std::shared_ptr<const ByteSource> source, uint64_t begin, uint64_t length);
    // Appends the whole of `source`.
    void Append(std::shared_ptr<const ByteSource> source);
    void Append(std::vector<uint8_t> bytes);

    uint64_t Size() const override { return size_; }
    // Raises a KestrelError when a piece yields fewer bytes than it held when appended (its file
    // was cut meanwhile).
    size_t ReadAt(uint64_t pos, void* dst, size_t n) const override;
    std::optional<FileStretch> StretchAt(uint64_t pos, uint64_t n) const override;

private:
    struct Piece {
        uint64_t start = 0; // position in this source
        std::shared_ptr<const ByteSource> source;
        uint64_t begin = 0; // position in `source`
        uint64_t length = 0;
    };
    std::vector<Piece> pieces_;
    uint64_t size_ = 0;
};

// A file read by its path: many of them may wait in a CompositeSource without holding a
// descriptor each. The file read last stays open for the next read of the same source on the
// same thread (a comparison reads a file in chunks), one descriptor a thread at most. Reads raise
// a KestrelError when the file's size, at its opening, is no longer the one it had when this
// source was made.
class PathSource : public ByteSource {
public:
    // Raises a KestrelError when the file cannot be opened or is not a regular file.
    explicit PathSource(std::filesystem::path path);
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t pos, void* dst, size_t n) const override;

private:
    std::filesystem::path path_;
    uint64_t size_ = 0;
    uint64_t id_ = 0; // unique in the process, never reused: the key of the open file
};

// True when `length` bytes from posA of `a` equal those from posB of `b`; reads both in chunks.
// Ranges running past either source compare unequal.
bool SameBytes(const ByteSource& a, uint64_t posA, const ByteSource& b, uint64_t posB,
               uint64_t length);

} // namespace kestrel
