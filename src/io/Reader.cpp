#include "io/Reader.h"

#include "common/Error.h"

#include <cstring>

namespace kestrel {

std::string HexOffset(uint64_t offset) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), kDigits[offset & 0xF]);
        offset >>= 4;
    } while (offset != 0);
    return "0x" + out;
}

Reader::Reader(std::shared_ptr<const ByteSource> source, Endian order)
    : source_(std::move(source)), end_(source_ ? source_->Size() : 0), order_(order) {}

Reader::Reader(std::shared_ptr<const ByteSource> source, uint64_t begin, uint64_t end, Endian order)
    : source_(std::move(source)), begin_(begin), end_(end), pos_(begin), order_(order) {
    const uint64_t size = source_ ? source_->Size() : 0;
    if (begin_ > end_ || end_ > size) {
        throw KestrelError("Invalid range in " + Name() + ": " + HexOffset(begin) + " to " +
                           HexOffset(end) + " of " + std::to_string(size) + " bytes");
    }
}

const std::string& Reader::Name() const {
    static const std::string kNone = "(no data)";
    return source_ ? source_->Name() : kNone;
}

void Reader::Fail(uint64_t at, const char* field, const std::string& what) const {
    throw KestrelError(Name() + ": offset " + HexOffset(at) + ": " + what + " (" + field + ")");
}

void Reader::Seek(uint64_t pos, const char* field) {
    if (pos < begin_ || pos > end_) Fail(pos, field, "position outside the data");
    pos_ = pos;
}

void Reader::Skip(uint64_t count, const char* field) {
    Require(count, field);
    pos_ += count;
}

void Reader::Require(uint64_t count, const char* field) const {
    if (count > Remaining()) {
        Fail(pos_, field,
             "unexpected end of data: " + std::to_string(count) + " bytes needed, " +
                 std::to_string(Remaining()) + " left");
    }
}

void Reader::Raw(void* dst, uint64_t count, const char* field) {
    Require(count, field);
    if (count != 0 && source_->ReadAt(pos_, dst, count) != count) {
        Fail(pos_, field, "short read");
    }
    pos_ += count;
}

uint8_t Reader::U8(const char* field) {
    uint8_t v = 0;
    Raw(&v, 1, field);
    return v;
}

uint16_t Reader::U16LE(const char* field) {
    uint8_t b[2];
    Raw(b, 2, field);
    return LoadU16(b, Endian::Little);
}

uint16_t Reader::U16(const char* field) {
    uint16_t v = U16LE(field);
    return order_ == Endian::Big ? SwapBytes16(v) : v;
}

uint32_t Reader::U32LE(const char* field) {
    uint8_t b[4];
    Raw(b, 4, field);
    return LoadU32(b, Endian::Little);
}

uint64_t Reader::U64LE(const char* field) {
    uint64_t lo = U32LE(field);
    uint64_t hi = U32LE(field);
    return lo | (hi << 32);
}

uint32_t Reader::U32BE(const char* field) {
    return SwapBytes32(U32LE(field));
}
uint64_t Reader::U64BE(const char* field) {
    return SwapBytes64(U64LE(field));
}

uint32_t Reader::U32(const char* field) {
    return order_ == Endian::Big ? U32BE(field) : U32LE(field);
}

uint64_t Reader::U64(const char* field) {
    return order_ == Endian::Big ? U64BE(field) : U64LE(field);
}

float Reader::F32(const char* field) {
    uint32_t bits = U32(field);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void Reader::Bytes(void* dst, uint64_t count, const char* field) {
    Raw(dst, count, field);
}

std::vector<uint8_t> Reader::Bytes(uint64_t count, const char* field) {
    Require(count, field);
    std::vector<uint8_t> out(static_cast<size_t>(count));
    Raw(out.data(), count, field);
    return out;
}

uint64_t Reader::TryBytes(void* dst, uint64_t count) {
    count = std::min(count, Remaining());
    uint64_t got = count == 0 ? 0 : source_->ReadAt(pos_, dst, count);
    pos_ += got;
    return got;
}

void Reader::AlignFromBegin(uint64_t boundary, const char* field) {
    const uint64_t used = (pos_ - begin_) % boundary;
    if (used != 0) Skip(boundary - used, field);
}

uint32_t Reader::Count(uint64_t elementSize, const char* field) {
    const uint32_t count = U32(field);
    Require(uint64_t{count} * elementSize, field);
    return count;
}

uint32_t Reader::SkipArray(uint64_t elementSize, const char* field) {
    const uint32_t count = Count(elementSize, field);
    pos_ += uint64_t{count} * elementSize;
    AlignFromBegin(4);
    return count;
}

std::vector<uint8_t> Reader::AlignedBytes(const char* field) {
    std::vector<uint8_t> bytes = Bytes(Count(1, field), field);
    AlignFromBegin(4);
    return bytes;
}

std::string Reader::AlignedString(const char* field) {
    const uint32_t length = Count(1, field);
    std::string text(static_cast<size_t>(length), '\0');
    Raw(text.data(), length, field);
    AlignFromBegin(4);
    return text;
}

std::string Reader::CString(uint64_t maxLen, const char* field) {
    const uint64_t start = pos_;
    const uint64_t want = std::min(maxLen, Remaining());
    std::string s;
    bool terminated = false;
    // Read in pieces, so a long name costs what it holds and a short one one small read.
    char buf[256];
    while (s.size() < want) {
        const uint64_t ask = std::min<uint64_t>(sizeof buf, want - s.size());
        const uint64_t got = source_->ReadAt(start + s.size(), buf, ask);
        uint64_t len = 0;
        while (len < got && buf[len] != '\0')
            ++len;
        s.append(buf, static_cast<size_t>(len));
        if (len < got) {
            terminated = true;
            break;
        }
        if (got < ask) break;
    }
    if (!terminated && s.size() < maxLen) {
        // The data ended before the terminator could be found.
        Fail(start, field, "unterminated string at end of data");
    }
    // One past the string: past its NUL, or one past the cut when the string filled the bound.
    // At the very end of the window the position stays at the end.
    pos_ = std::min(start + s.size() + 1, end_);
    return s;
}

Reader Reader::Sub(uint64_t pos, uint64_t size, const char* field) const {
    if (pos < begin_ || pos > end_ || size > end_ - pos) {
        Fail(pos, field,
             "range of " + std::to_string(size) + " bytes does not fit in the data (ends at " +
                 HexOffset(end_) + ")");
    }
    return Reader(source_, pos, pos + size, order_);
}

} // namespace kestrel
