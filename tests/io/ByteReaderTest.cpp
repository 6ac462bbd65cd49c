#include "io/ByteOrder.h"
#include "common/Error.h"
#include "io/Reader.h"
#include "io/Writer.h"

#include <gtest/gtest.h>

using namespace kestrel;

namespace {

std::shared_ptr<MemorySource> Mem(std::vector<uint8_t> bytes) {
    return std::make_shared<MemorySource>("mem.bin", std::move(bytes));
}

TEST(ByteHelpers, SwapsAndAlignment) {
    EXPECT_EQ(SwapBytes32(0x03000000u), 3u);
    EXPECT_EQ(SwapBytes64(0x0010000000000000ull), 4096u);
    EXPECT_EQ(SwapBytes32(SwapBytes32(0x12345678u)), 0x12345678u);
    EXPECT_EQ(AlignUp4(0), 0u);
    EXPECT_EQ(AlignUp4(1), 4u);
    EXPECT_EQ(AlignUp4(4), 4u);
    EXPECT_EQ(AlignUp4(5), 8u);
}

TEST(Reader, ReadsBothByteOrders) {
    Reader r(Mem({0, 0, 0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0}));
    EXPECT_EQ(r.U32BE("be"), 3u);
    EXPECT_EQ(r.U32LE("le"), 3u);
    EXPECT_EQ(r.U64BE("be64"), 4096u);
    EXPECT_EQ(r.Remaining(), 0u);
}

TEST(Reader, CStringBoundsAndPosition) {
    std::vector<uint8_t> bytes = {'U', 'n', 'i', 't', 'y', 'F', 'S', 0, 'x'};
    Reader r(Mem(bytes));
    EXPECT_EQ(r.CString(16, "signature"), "UnityFS");
    EXPECT_EQ(r.Pos(), 8u);

    // A string of exactly the bound is taken whole and one more byte is skipped.
    Reader full(Mem({'a', 'b', 'c', 'd', 0, 'z'}));
    EXPECT_EQ(full.CString(4, "name"), "abcd");
    EXPECT_EQ(full.Pos(), 5u);
    EXPECT_EQ(full.U8("after"), 'z');

    // A longer string is cut and the position is one past the cut.
    Reader cut(Mem({'a', 'b', 'c', 'd', 'e', 'f', 0}));
    EXPECT_EQ(cut.CString(3, "name"), "abc");
    EXPECT_EQ(cut.Pos(), 4u);
}

TEST(Reader, ShortReadNamesFileOffsetAndField) {
    Reader r(Mem({1, 2, 3}));
    r.U8("first");
    try {
        r.U32("object count");
        FAIL() << "no error";
    } catch (const KestrelError& e) {
        const std::string msg = e.what();
        EXPECT_NE(msg.find("mem.bin"), std::string::npos) << msg;
        EXPECT_NE(msg.find("0x1"), std::string::npos) << msg;
        EXPECT_NE(msg.find("object count"), std::string::npos) << msg;
    }
    EXPECT_EQ(r.Pos(), 1u);
    EXPECT_THROW(r.Bytes(uint64_t{1} << 40, "huge"), KestrelError);
    EXPECT_THROW(r.Seek(4), KestrelError);
    EXPECT_THROW(Reader(Mem({'a', 'b'}), 0, 1).CString(16, "unterminated"), KestrelError);
}

TEST(Reader, SubReaderStaysInsideItsWindow) {
    Reader r(Mem({1, 2, 3, 4, 5, 6, 7, 8}));
    Reader sub = r.Sub(2, 4, "object");
    EXPECT_EQ(sub.Pos(), 2u);
    EXPECT_EQ(sub.U32LE("word"), 0x06050403u);
    EXPECT_THROW(sub.U8("past"), KestrelError);
    EXPECT_THROW(r.Sub(6, 3, "too long"), KestrelError);
    EXPECT_THROW(r.Sub(2, UINT64_MAX, "overflow"), KestrelError);
}

TEST(Writer, WritesBothByteOrdersAndPatches) {
    Writer w(Endian::Big);
    w.U32(3);
    w.U32LE(3);
    w.CString("ab");
    w.Align4();
    w.PutU32BEAt(0, 7);
    std::vector<uint8_t> expected = {0, 0, 0, 7, 3, 0, 0, 0, 'a', 'b', 0, 0};
    EXPECT_EQ(w.Data(), expected);
}

} // namespace
