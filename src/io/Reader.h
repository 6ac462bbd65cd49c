#pragma once
#include "io/ByteOrder.h"
#include "io/ByteSource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

// Bounds-checked reader over a window [begin, end) of a byte source. Positions are absolute
// positions in the source. Every read past the window raises a KestrelError naming the source,
// the offset and the field; counts and sizes must be checked with Require/Fits before anything
// is allocated for them.
class Reader {
public:
    Reader() = default;
    explicit Reader(std::shared_ptr<const ByteSource> source, Endian order = Endian::Little);
    Reader(std::shared_ptr<const ByteSource> source, uint64_t begin, uint64_t end,
           Endian order = Endian::Little);

    const std::string& Name() const;
    const std::shared_ptr<const ByteSource>& Source() const { return source_; }
    uint64_t Begin() const { return begin_; }
    uint64_t End() const { return end_; }
    uint64_t Pos() const { return pos_; }
    uint64_t Remaining() const { return pos_ < end_ ? end_ - pos_ : 0; }
    Endian Order() const { return order_; }
    void SetOrder(Endian order) { order_ = order; }

    // Moves to an absolute position inside the window (the end itself is allowed).
    void Seek(uint64_t pos, const char* field = "position");
    void Skip(uint64_t count, const char* field = "skipped bytes");
    // Raises unless count bytes remain from the current position.
    void Require(uint64_t count, const char* field) const;
    bool Fits(uint64_t count) const { return count <= Remaining(); }

    uint8_t U8(const char* field);
    uint16_t U16(const char* field);
    uint32_t U32(const char* field);
    uint64_t U64(const char* field);
    int32_t I32(const char* field) { return static_cast<int32_t>(U32(field)); }
    float F32(const char* field);
    uint32_t U32BE(const char* field);
    uint64_t U64BE(const char* field);
    uint32_t U32LE(const char* field);
    uint64_t U64LE(const char* field);
    uint16_t U16LE(const char* field);

    void Bytes(void* dst, uint64_t count, const char* field);
    std::vector<uint8_t> Bytes(uint64_t count, const char* field);
    // Reads up to count bytes without raising; returns how many were read. For probes.
    uint64_t TryBytes(void* dst, uint64_t count);

    // Steps to the next multiple of `boundary` counted from the window's start. The formats pad
    // fields to a multiple of 4 counted from the object's start; an object is read through a
    // window that starts on such a multiple, so counting from the window's start is the same.
    void AlignFromBegin(uint64_t boundary, const char* field = "alignment");
    // A u32 element count, checked against the bytes left for that many elements of
    // elementSize bytes before anything is sized from it.
    uint32_t Count(uint64_t elementSize, const char* field);
    // Steps over a counted array of elementSize-byte elements and the padding after it to a
    // multiple of 4 from the window's start; returns the count.
    uint32_t SkipArray(uint64_t elementSize, const char* field);
    // A counted byte array, or the same read as a string, and the padding after it to a
    // multiple of 4 from the window's start.
    std::vector<uint8_t> AlignedBytes(const char* field);
    std::string AlignedString(const char* field);

    // A NUL-terminated string of at most maxLen bytes: the bytes before the first NUL (all maxLen
    // when none is NUL); the position ends one byte past the string, as the formats expect.
    std::string CString(uint64_t maxLen, const char* field);

    // A reader over [pos, pos + size) of the same source, at its start; raises when that range is
    // not inside this window.
    Reader Sub(uint64_t pos, uint64_t size, const char* field) const;

    [[noreturn]] void Fail(uint64_t at, const char* field, const std::string& what) const;

private:
    void Raw(void* dst, uint64_t count, const char* field);

    std::shared_ptr<const ByteSource> source_;
    uint64_t begin_ = 0;
    uint64_t end_ = 0;
    uint64_t pos_ = 0;
    Endian order_ = Endian::Little;
};

// Formats an offset the way every error message shows it: "0x" and upper-case hex.
std::string HexOffset(uint64_t offset);

} // namespace kestrel
