#pragma once
// The 128-bit blocks of BC6H and BC7 as a little-endian bit stream: fields are read and written
// from the lowest bit of byte 0 upwards.
#include <array>
#include <cstdint>
#include <span>

namespace kestrel::image {

class BlockBitReader {
public:
    explicit BlockBitReader(std::span<const uint8_t, 16> block) {
        for (int i = 0; i < 8; ++i) {
            lo_ |= static_cast<uint64_t>(block[i]) << (8 * i);
            hi_ |= static_cast<uint64_t>(block[8 + i]) << (8 * i);
        }
    }
    // The next `count` bits (at most 32); past the end, zeros.
    uint32_t Take(uint32_t count) {
        if (count == 0) return 0;
        uint64_t window = 0;
        if (pos_ < 64) {
            window = lo_ >> pos_;
            if (pos_ != 0) window |= hi_ << (64 - pos_);
        } else if (pos_ < 128) {
            window = hi_ >> (pos_ - 64);
        }
        pos_ += count;
        return static_cast<uint32_t>(window & ((uint64_t{1} << count) - 1));
    }
    uint32_t Pos() const { return pos_; }

private:
    uint64_t lo_ = 0;
    uint64_t hi_ = 0;
    uint32_t pos_ = 0;
};

class BlockBitWriter {
public:
    void Put(uint32_t value, uint32_t count) {
        for (uint32_t i = 0; i < count && pos_ < 128; ++i, ++pos_) {
            if (((value >> i) & 1u) != 0)
                bytes_[pos_ / 8] |= static_cast<uint8_t>(1u << (pos_ % 8));
        }
    }
    uint32_t Pos() const { return pos_; }
    const std::array<uint8_t, 16>& Bytes() const { return bytes_; }

private:
    std::array<uint8_t, 16> bytes_{};
    uint32_t pos_ = 0;
};

} // namespace kestrel::image
