#include "codec/Codecs.h"
#include "common/Error.h"
#include "support/BundleBuilder.h"

#include <gtest/gtest.h>
#include <lz4.h>
#include <lzma.h>

#include <cstring>
#include <string>

using namespace kestrel;
using kestrel::test::NoiseBytes;

namespace {

std::vector<uint8_t> Text(size_t count) {
    std::vector<uint8_t> out;
    const std::string line = "m_Name: Texture2D level0 sharedassets; ";
    while (out.size() < count)
        out.push_back(static_cast<uint8_t>(line[out.size() % line.size()]));
    return out;
}

std::vector<uint8_t> EncodeLzma(const std::vector<uint8_t>& data, uint64_t sizeField) {
    std::vector<uint8_t> out;
    SpanInput in(data);
    VectorOutput sink(out);
    LZMAEncodeStream(in, sink, sizeField);
    return out;
}

std::vector<uint8_t> DecodeLzma(const std::vector<uint8_t>& stream, std::optional<uint64_t> size) {
    std::vector<uint8_t> out;
    SpanInput in(stream);
    VectorOutput sink(out);
    LZMADecodeStream(in, sink, size);
    return out;
}

template <typename F> std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const KestrelError& e) {
        return e.what();
    }
    return "(no error)";
}

// Records the largest single write, to show that decoding streams in chunks.
class ChunkCounter : public ByteOutput {
public:
    void Write(const void*, size_t n) override {
        total += n;
        largest = std::max(largest, n);
    }
    uint64_t total = 0;
    size_t largest = 0;
};

TEST(LzmaCodec, EncodesWithFixedPropertiesAndSizeField) {
    const auto data = Text(5000);
    const auto stream = EncodeLzma(data, data.size());
    ASSERT_GT(stream.size(), 13u);
    const std::vector<uint8_t> header(stream.begin(), stream.begin() + 13);
    const std::vector<uint8_t> expected = {0x5D, 0x00, 0x00, 0x08, 0x00, 0x88, 0x13,
                                           0,    0,    0,    0,    0,    0};
    EXPECT_EQ(header, expected);
    EXPECT_EQ(DecodeLzma(stream, std::nullopt), data);

    // Without a size field the properties are followed directly by the data.
    const auto bare = EncodeLzma(data, 0);
    EXPECT_EQ(bare.size() + 8, stream.size());
    EXPECT_EQ(DecodeLzma(bare, data.size()), data);
}

TEST(LzmaCodec, OutputReadsWithLiblzmaAloneDecoder) {
    // The framing is the standard "alone" layout: an independent decoder reads it.
    const auto data = NoiseBytes(70000, 3);
    const auto stream = EncodeLzma(data, data.size());
    lzma_stream s = LZMA_STREAM_INIT;
    ASSERT_EQ(lzma_alone_decoder(&s, UINT64_MAX), LZMA_OK);
    std::vector<uint8_t> out(data.size());
    s.next_in = stream.data();
    s.avail_in = stream.size();
    s.next_out = out.data();
    s.avail_out = out.size();
    const lzma_ret ret = lzma_code(&s, LZMA_FINISH);
    lzma_end(&s);
    EXPECT_EQ(ret, LZMA_STREAM_END);
    EXPECT_EQ(out, data);
}

TEST(LzmaCodec, SizeFieldIsLittleEndianAndDecidesTheOutputLength) {
    const auto data = Text(0x010203);
    auto stream = EncodeLzma(data, data.size());
    const std::vector<uint8_t> field(stream.begin() + 5, stream.begin() + 13);
    EXPECT_EQ(field, (std::vector<uint8_t>{0x03, 0x02, 0x01, 0, 0, 0, 0, 0}));
    EXPECT_EQ(DecodeLzma(stream, std::nullopt).size(), 0x010203u);
    // A size field that disagrees with the data is damage, not a shorter result.
    stream[5] = 0x02;
    EXPECT_EQ(ErrorOf([&] { DecodeLzma(stream, std::nullopt); }), kLzmaDataError);
}

TEST(LzmaCodec, RejectsShortStreamsBadPropertiesAndDamage) {
    for (size_t n = 0; n < 5; ++n) {
        const std::vector<uint8_t> tiny(n, 0x5D);
        EXPECT_EQ(ErrorOf([&] { DecodeLzma(tiny, std::nullopt); }), kLzmaTooShort) << n;
    }
    const auto data = Text(4000);
    auto stream = EncodeLzma(data, data.size());
    auto badProps = stream;
    badProps[0] = 225;
    EXPECT_EQ(ErrorOf([&] { DecodeLzma(badProps, std::nullopt); }), kLzmaBadProperties);
    badProps[0] = 0xFF;
    EXPECT_EQ(ErrorOf([&] { DecodeLzma(badProps, 10); }), kLzmaBadProperties);

    // The size field cut short.
    const std::vector<uint8_t> noSize(stream.begin(), stream.begin() + 9);
    EXPECT_EQ(ErrorOf([&] { DecodeLzma(noSize, std::nullopt); }), kLzmaDataError);
    // The data cut short: fewer bytes than the size field promises.
    const std::vector<uint8_t> cut(stream.begin(),
                                   stream.begin() + static_cast<std::ptrdiff_t>(stream.size() / 2));
    EXPECT_EQ(ErrorOf([&] { DecodeLzma(cut, std::nullopt); }), kLzmaDataError);
    // A size larger than the stream holds.
    EXPECT_EQ(ErrorOf([&] { DecodeLzma(EncodeLzma(data, 0), data.size() + 1); }), kLzmaDataError);
}

TEST(LzmaCodec, AcceptsAnEndMarkerAndAnEmptyOutput) {
    const auto data = Text(2000);
    lzma_options_lzma opt{};
    lzma_lzma_preset(&opt, 6);
    lzma_stream s = LZMA_STREAM_INIT;
    ASSERT_EQ(lzma_alone_encoder(&s, &opt), LZMA_OK);
    std::vector<uint8_t> stream(8192);
    s.next_in = data.data();
    s.avail_in = data.size();
    s.next_out = stream.data();
    s.avail_out = stream.size();
    ASSERT_EQ(lzma_code(&s, LZMA_FINISH), LZMA_STREAM_END);
    stream.resize(stream.size() - s.avail_out);
    lzma_end(&s);
    // liblzma writes the unknown size (all ones) and an end marker.
    EXPECT_EQ(DecodeLzma(stream, std::nullopt), data);
    for (int i = 0; i < 8; ++i)
        stream[5 + i] = static_cast<uint8_t>(data.size() >> (8 * i));
    EXPECT_EQ(DecodeLzma(stream, std::nullopt), data);

    EXPECT_TRUE(DecodeLzma(EncodeLzma({}, 0), 0).empty());
}

TEST(LzmaCodec, DecodesInChunks) {
    const auto data = Text(8 << 20);
    const auto stream = EncodeLzma(data, data.size());
    SpanInput in(stream);
    ChunkCounter sink;
    EXPECT_EQ(LZMADecodeStream(in, sink, std::nullopt), data.size());
    EXPECT_EQ(sink.total, data.size());
    EXPECT_LE(sink.largest, 1u << 16);
}

TEST(Lz4Codec, DecodesRawBlocksToTheDeclaredSize) {
    const auto data = Text(100000);
    std::vector<uint8_t> packed;
    const size_t n = LZ4EncodeBlock(data, packed);
    ASSERT_EQ(n, packed.size());
    std::vector<uint8_t> out;
    LZ4DecodeBlock(packed, static_cast<int64_t>(n), data.size(), out);
    EXPECT_EQ(out, data);

    // One byte more or less than the block holds is a size error, never a silent short block.
    std::vector<uint8_t> shorter(data.size() - 1);
    EXPECT_EQ(ErrorOf([&] { LZ4DecodeBlock(packed, static_cast<int64_t>(n), shorter); }),
              kLz4BlockError);
    std::vector<uint8_t> longer(data.size() + 1);
    EXPECT_EQ(ErrorOf([&] { LZ4DecodeBlock(packed, static_cast<int64_t>(n), longer); }),
              kLz4SizeError);
}

TEST(Lz4Codec, ChecksTheSourceBeforeDecoding) {
    const auto data = Text(1000);
    std::vector<uint8_t> packed;
    LZ4EncodeBlock(data, packed);
    std::vector<uint8_t> out(data.size(), 0xAA);
    EXPECT_EQ(
        ErrorOf([&] { LZ4DecodeBlock(packed, static_cast<int64_t>(packed.size() + 1), out); }),
        kLz4SizeError);
    EXPECT_EQ(out, std::vector<uint8_t>(data.size(), 0xAA)); // nothing was decoded
    EXPECT_EQ(ErrorOf([&] { LZ4DecodeBlock(packed, -1, out); }), kLz4BlockError);

    // One literal, then a match reaching 65535 bytes back, before the start of the output.
    const std::vector<uint8_t> damaged = {0x10, 'a', 0xFF, 0xFF, 0x00};
    EXPECT_EQ(ErrorOf([&] { LZ4DecodeBlock(damaged, static_cast<int64_t>(damaged.size()), out); }),
              kLz4BlockError);

    // A declared size no LZ4 block of this length can reach is refused before allocating.
    std::vector<uint8_t> grown;
    EXPECT_EQ(ErrorOf([&] { LZ4DecodeBlock(packed, 10, 1u << 30, grown); }), kLz4SizeError);
    EXPECT_TRUE(grown.empty());
}

TEST(Lz4Codec, StoredBlocksAndEmptyBlocks) {
    const auto data = NoiseBytes(300);
    std::vector<uint8_t> out(300);
    LZ4DecodeBlock(data, int64_t{0x80000000} | 300, out);
    EXPECT_EQ(out, data);
    std::vector<uint8_t> wrong(299);
    EXPECT_EQ(ErrorOf([&] { LZ4DecodeBlock(data, int64_t{0x80000000} | 300, wrong); }),
              kLz4SizeError);
    std::vector<uint8_t> none;
    EXPECT_EQ(LZ4DecodeBlock(data, 0, none), 0u);
    EXPECT_EQ(ErrorOf([&] { LZ4DecodeBlock(data, 0, out); }), kLz4SizeError);
    EXPECT_EQ(BlockBytesInArchive(0x8000012Cu), 300u);
    EXPECT_EQ(BlockBytesInArchive(300u), 300u);
}

TEST(Lz4Codec, EncodeAppendsAndEndsRightAfterTheBlock) {
    const auto noise = NoiseBytes(10000, 9);
    std::vector<uint8_t> dst = {7, 7, 7};
    const size_t n = LZ4EncodeBlock(noise, dst, 1 << 20);
    EXPECT_GT(n, noise.size()); // incompressible data grows
    EXPECT_LE(n, noise.size() + noise.size() / 255 + 16);
    ASSERT_EQ(dst.size(), 3 + n);
    EXPECT_EQ(dst[0], 7);
    const std::vector<uint8_t> block(dst.begin() + 3, dst.end());
    std::vector<uint8_t> back(noise.size());
    LZ4DecodeBlock(block, static_cast<int64_t>(n), back);
    EXPECT_EQ(back, noise);

    // The fast compressor with acceleration 1: the same bytes as liblz4's default call.
    const auto text = Text(20000);
    std::vector<uint8_t> ours;
    LZ4EncodeBlock(text, ours);
    std::vector<char> theirs(static_cast<size_t>(LZ4_compressBound(20000)));
    const int m = LZ4_compress_default(reinterpret_cast<const char*>(text.data()), theirs.data(),
                                       20000, static_cast<int>(theirs.size()));
    ASSERT_EQ(static_cast<size_t>(m), ours.size());
    EXPECT_EQ(0, std::memcmp(theirs.data(), ours.data(), ours.size()));
}

} // namespace
