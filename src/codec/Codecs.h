#pragma once
#include "io/ByteStreams.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrel {

// The codec error texts, shown to the user as they are.
inline constexpr const char* kLzmaTooShort = "input lzma *.TEMP file is too short.";
inline constexpr const char* kLzmaBadProperties = "Incorrect stream properties lzma.";
inline constexpr const char* kLzmaDataError = "Error lzma in data stream.";
inline constexpr const char* kLz4SizeError = "Error size lz4 in data stream.";
inline constexpr const char* kLz4BlockError =
    "LZ4S: Block decode error. Given Block data is incomplete.";

// Bit 31 of a block's compressed size marks a stored block: the low 31 bits count bytes that are
// copied unchanged.
inline constexpr uint32_t kStoredBlockBit = 0x80000000u;

// The number of bytes a block occupies in the archive for a given compressed-size field.
constexpr uint64_t BlockBytesInArchive(uint32_t compressedSize) {
    return (compressedSize & kStoredBlockBit) != 0 ? (compressedSize & ~kStoredBlockBit)
                                                   : compressedSize;
}

// The largest output a raw LZ4 block of `compressedSize` bytes can decode to (each input byte
// adds at most 255 bytes of match length). Bounds allocations made from untrusted sizes.
constexpr uint64_t LZ4MaxDecodedSize(uint64_t compressedSize) {
    return compressedSize * 255 + 16;
}

// Decodes the raw LZ4 block at the start of `src` into `dst`, whose size is the declared
// uncompressed size. A compressed size with bit 31 set is a stored block copied unchanged. The
// block must fill `dst` exactly; anything else raises one of the LZ4 messages above. Returns the
// number of bytes produced (always dst.size()).
size_t LZ4DecodeBlock(std::span<const uint8_t> src, int64_t compressedSize, std::span<uint8_t> dst);

// The same, appending `uncompressedSize` decoded bytes to `dst`.
void LZ4DecodeBlock(std::span<const uint8_t> src, int64_t compressedSize, uint64_t uncompressedSize,
                    std::vector<uint8_t>& dst);

// Appends one raw LZ4 block (default fast compressor, acceleration 1) of `src` to `dst`. Room for
// max(reserveSize, worst-case bound) bytes is made first; `dst` ends right after the block.
// Returns the compressed length.
size_t LZ4EncodeBlock(std::span<const uint8_t> src, std::vector<uint8_t>& dst,
                      uint64_t reserveSize = 0);

// The length of the raw LZ4 block of `size` bytes that holds them all as literals: one token,
// the literal count's extra bytes, the bytes.
constexpr uint64_t LZ4LiteralBlockSize(uint64_t size) {
    return 1 + (size >= 15 ? (size - 15) / 255 + 1 : 0) + size;
}

// Appends the raw LZ4 block that holds `src` as literals only (one sequence, no match): a valid
// block whose length LZ4LiteralBlockSize tells before the bytes are known.
void LZ4LiteralBlock(std::span<const uint8_t> src, std::vector<uint8_t>& dst);

// Decodes an LZMA stream in the "alone" layout from `src` to `dst` in chunks: 5 property bytes,
// then the 8-byte little-endian size when `outputSize` is empty, then the data. Exactly the
// output size is produced (a trailing end marker is accepted). Returns the bytes produced.
uint64_t LZMADecodeStream(ByteInput& src, ByteOutput& dst, std::optional<uint64_t> outputSize);

// Encodes everything `src` holds with the bundles' fixed settings (dictionary 512 KiB, fast bytes
// 273, BT4, lc 3, lp 0, pb 2, no end marker): 5 property bytes, the 8-byte little-endian size
// when `size` is greater than 0, then the data. Returns the bytes written.
uint64_t LZMAEncodeStream(ByteInput& src, ByteOutput& dst, uint64_t size);

} // namespace kestrel
