#include "codec/Codecs.h"

#include "common/Error.h"
#include "io/ByteOrder.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <lz4.h>
#include <lzma.h>

namespace kestrel {

namespace {

constexpr size_t kChunkSize = 1 << 16;

// The fixed encoder settings of the bundles.
constexpr uint32_t kLzmaDictSize = 0x80000;
constexpr uint32_t kLzmaLc = 3;
constexpr uint32_t kLzmaLp = 0;
constexpr uint32_t kLzmaPb = 2;
constexpr uint32_t kLzmaNiceLen = 273;

// The largest dictionary any LZMA encoder writes (xz's limit); a larger one in a property header
// is a damaged stream, and allocating it would let a small file claim gigabytes of memory.
constexpr uint64_t kLzmaMaxDict = 1536ull << 20;

struct LzmaStream {
    lzma_stream s = LZMA_STREAM_INIT;
    LzmaStream() = default;
    LzmaStream(const LzmaStream&) = delete;
    LzmaStream& operator=(const LzmaStream&) = delete;
    ~LzmaStream() { lzma_end(&s); }
};

size_t ReadFull(ByteInput& src, uint8_t* dst, size_t n) {
    size_t done = 0;
    while (done < n) {
        const size_t got = src.Read(dst + done, n - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

// Decoder options from the 5 property bytes; `outputSize` empty means unknown (end marker
// required). The dictionary never needs to be larger than the output it serves.
lzma_options_lzma DecoderOptions(const uint8_t* props, std::optional<uint64_t> outputSize) {
    lzma_filter filter{LZMA_FILTER_LZMA1EXT, nullptr};
    if (lzma_properties_decode(&filter, nullptr, props, 5) != LZMA_OK) {
        throw KestrelError(kLzmaBadProperties);
    }
    lzma_options_lzma opt = *static_cast<lzma_options_lzma*>(filter.options);
    std::free(filter.options);
    if (outputSize) {
        const uint64_t need = std::max<uint64_t>(*outputSize, LZMA_DICT_SIZE_MIN);
        opt.dict_size = static_cast<uint32_t>(std::min<uint64_t>(opt.dict_size, need));
        lzma_set_ext_size(opt, *outputSize);
    } else {
        lzma_set_ext_size(opt, UINT64_MAX);
    }
    if (opt.dict_size > kLzmaMaxDict) throw KestrelError(kLzmaBadProperties);
    opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    return opt;
}

// Runs an initialised coder from src to dst until it ends. Returns the bytes written; raises
// `failure` on a coder error or when the input ends before the coder does. `expected` (decoding
// with a known size) also ends the run once that many bytes are out.
uint64_t Pump(lzma_stream& s, ByteInput& src, ByteOutput& dst, const char* failure,
              std::optional<uint64_t> expected) {
    std::vector<uint8_t> in(kChunkSize);
    std::vector<uint8_t> out(kChunkSize);
    uint64_t produced = 0;
    bool inputEnded = false;
    lzma_action action = LZMA_RUN;
    s.next_out = out.data();
    s.avail_out = out.size();
    for (;;) {
        if (s.avail_in == 0 && !inputEnded) {
            s.next_in = in.data();
            s.avail_in = src.Read(in.data(), in.size());
            if (s.avail_in == 0) {
                inputEnded = true;
                action = LZMA_FINISH;
            }
        }
        const lzma_ret ret = lzma_code(&s, action);
        const size_t ready = out.size() - s.avail_out;
        if (ready != 0 && (s.avail_out == 0 || ret != LZMA_OK)) {
            dst.Write(out.data(), ready);
            produced += ready;
            s.next_out = out.data();
            s.avail_out = out.size();
        }
        if (ret == LZMA_STREAM_END) break;
        // All data is out and the input simply stops: a stream without end marker.
        if (ret == LZMA_BUF_ERROR && expected && produced == *expected) break;
        if (ret != LZMA_OK) throw KestrelError(failure);
    }
    return produced;
}

} // namespace

size_t LZ4DecodeBlock(std::span<const uint8_t> src, int64_t compressedSize,
                      std::span<uint8_t> dst) {
    if (compressedSize < 0) throw KestrelError(kLz4BlockError);
    const auto declared = static_cast<uint64_t>(compressedSize);
    const bool stored = (declared & kStoredBlockBit) != 0 && (declared >> 32) == 0;
    const uint64_t count = stored ? (declared & ~uint64_t{kStoredBlockBit}) : declared;
    if (count > src.size()) throw KestrelError(kLz4SizeError);
    if (stored || count == 0) {
        if (count != dst.size()) throw KestrelError(kLz4SizeError);
        if (count != 0) std::memcpy(dst.data(), src.data(), dst.size());
        return dst.size();
    }
    if (count > INT_MAX || dst.size() > INT_MAX) throw KestrelError(kLz4SizeError);
    const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(src.data()),
                                        reinterpret_cast<char*>(dst.data()),
                                        static_cast<int>(count), static_cast<int>(dst.size()));
    if (got < 0) throw KestrelError(kLz4BlockError);
    if (static_cast<size_t>(got) != dst.size()) throw KestrelError(kLz4SizeError);
    return dst.size();
}

void LZ4DecodeBlock(std::span<const uint8_t> src, int64_t compressedSize, uint64_t uncompressedSize,
                    std::vector<uint8_t>& dst) {
    if (compressedSize < 0) throw KestrelError(kLz4BlockError);
    const auto declared = static_cast<uint64_t>(compressedSize);
    const uint64_t count =
        declared > UINT32_MAX ? declared : BlockBytesInArchive(static_cast<uint32_t>(declared));
    if (uncompressedSize > std::max(LZ4MaxDecodedSize(count), count) ||
        uncompressedSize > INT_MAX) {
        throw KestrelError(kLz4SizeError);
    }
    const size_t old = dst.size();
    dst.resize(old + static_cast<size_t>(uncompressedSize));
    try {
        LZ4DecodeBlock(src, compressedSize,
                       std::span<uint8_t>(dst.data() + old, static_cast<size_t>(uncompressedSize)));
    } catch (...) {
        dst.resize(old);
        throw;
    }
}

size_t LZ4EncodeBlock(std::span<const uint8_t> src, std::vector<uint8_t>& dst,
                      uint64_t reserveSize) {
    if (src.size() > LZ4_MAX_INPUT_SIZE) {
        throw KestrelError("Data too large for one LZ4 block: " + std::to_string(src.size()) +
                           " bytes");
    }
    const int input = static_cast<int>(src.size());
    const auto bound = static_cast<uint64_t>(LZ4_compressBound(input));
    const size_t room =
        static_cast<size_t>(std::min<uint64_t>(std::max(reserveSize, bound), INT_MAX));
    const size_t old = dst.size();
    dst.resize(old + room);
    const int written = LZ4_compress_default(reinterpret_cast<const char*>(src.data()),
                                             reinterpret_cast<char*>(dst.data() + old), input,
                                             static_cast<int>(room));
    if (written <= 0) {
        dst.resize(old);
        throw KestrelError("LZ4 compression failed");
    }
    dst.resize(old + static_cast<size_t>(written));
    return static_cast<size_t>(written);
}

void LZ4LiteralBlock(std::span<const uint8_t> src, std::vector<uint8_t>& dst) {
    const size_t size = src.size();
    dst.push_back(static_cast<uint8_t>(std::min<size_t>(size, 15) << 4));
    if (size >= 15) {
        size_t rest = size - 15;
        for (; rest >= 255; rest -= 255)
            dst.push_back(255);
        dst.push_back(static_cast<uint8_t>(rest));
    }
    dst.insert(dst.end(), src.begin(), src.end());
}

uint64_t LZMADecodeStream(ByteInput& src, ByteOutput& dst, std::optional<uint64_t> outputSize) {
    std::array<uint8_t, 5> props{};
    if (ReadFull(src, props.data(), props.size()) < props.size()) {
        throw KestrelError(kLzmaTooShort);
    }
    // The properties are judged before the size field is read.
    DecoderOptions(props.data(), std::nullopt);
    if (!outputSize) {
        std::array<uint8_t, 8> size{};
        if (ReadFull(src, size.data(), size.size()) < size.size()) {
            throw KestrelError(kLzmaDataError);
        }
        outputSize = LoadU64(size.data(), Endian::Little);
        // All ones is the "alone" layout's unknown size: the stream ends with an end marker.
        if (*outputSize == UINT64_MAX) outputSize.reset();
    }
    lzma_options_lzma opt = DecoderOptions(props.data(), outputSize);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    LzmaStream stream;
    if (lzma_raw_decoder(&stream.s, filters) != LZMA_OK) throw KestrelError(kLzmaBadProperties);
    if (outputSize && *outputSize == 0) return 0;
    const uint64_t produced = Pump(stream.s, src, dst, kLzmaDataError, outputSize);
    if (outputSize && produced != *outputSize) throw KestrelError(kLzmaDataError);
    return produced;
}

uint64_t LZMAEncodeStream(ByteInput& src, ByteOutput& dst, uint64_t size) {
    lzma_options_lzma opt{};
    if (lzma_lzma_preset(&opt, 6) != 0) throw KestrelError("LZMA encoder set-up failed");
    opt.dict_size = kLzmaDictSize;
    opt.lc = kLzmaLc;
    opt.lp = kLzmaLp;
    opt.pb = kLzmaPb;
    opt.mode = LZMA_MODE_NORMAL;
    opt.nice_len = kLzmaNiceLen;
    opt.mf = LZMA_MF_BT4;
    opt.depth = 0;
    opt.ext_flags = 0; // no end marker: the size comes from the bundle's own tables
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    LzmaStream stream;
    if (lzma_raw_encoder(&stream.s, filters) != LZMA_OK) {
        throw KestrelError("LZMA encoder set-up failed");
    }

    std::vector<uint8_t> header;
    header.push_back(static_cast<uint8_t>((kLzmaPb * 5 + kLzmaLp) * 9 + kLzmaLc));
    for (int i = 0; i < 4; ++i)
        header.push_back(static_cast<uint8_t>(kLzmaDictSize >> (8 * i)));
    if (size > 0) {
        for (int i = 0; i < 8; ++i)
            header.push_back(static_cast<uint8_t>(size >> (8 * i)));
    }
    dst.Write(header.data(), header.size());
    return header.size() + Pump(stream.s, src, dst, "LZMA compression failed", std::nullopt);
}

} // namespace kestrel
