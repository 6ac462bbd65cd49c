#include "mesh/ObjWriter.h"

#include <gtest/gtest.h>

#include <limits>

using namespace kestrel;

namespace {

TEST(MeshNumberText, FixedSixDecimalsWithOptionalNegation) {
    EXPECT_EQ(MeshNumberText(1.5f, false), "1.500000");
    EXPECT_EQ(MeshNumberText(1.5f, true), "-1.500000");
    EXPECT_EQ(MeshNumberText(-3.0f, false), "-3.000000");
    EXPECT_EQ(MeshNumberText(0.1f, false), "0.100000");
    EXPECT_EQ(MeshNumberText(1e-7f, false), "0.000000");
    // The float's exact value is rounded: 5e-7f is 4.99999987e-7, 1.5e-6f is 1.50000005e-6.
    EXPECT_EQ(MeshNumberText(5e-7f, false), "0.000000");
    EXPECT_EQ(MeshNumberText(1.5e-6f, false), "0.000002");
    // Mirroring a zero coordinate gives zero, not "-0.000000".
    EXPECT_EQ(MeshNumberText(0.0f, true), "0.000000");
    EXPECT_EQ(MeshNumberText(-0.0f, false), "0.000000");
}

TEST(MeshNumberText, LargeAndInvalidValuesBecomeZero) {
    // The first ".0" of the text starting after its sixth character drops the value.
    EXPECT_EQ(MeshNumberText(1234567.0f, false), "0.000000");
    EXPECT_EQ(MeshNumberText(1234567.5f, false), "1234567.500000");
    EXPECT_EQ(MeshNumberText(123456.0f, false), "0.000000");
    EXPECT_EQ(MeshNumberText(123456.25f, false), "123456.250000");
    EXPECT_EQ(MeshNumberText(12345.0f, false), "12345.000000");
    // The sign counts as a character: mirrored, the same magnitude is dropped.
    EXPECT_EQ(MeshNumberText(12345.0f, true), "0.000000");
    EXPECT_EQ(MeshNumberText(3.0e30f, false), "0.000000");
    EXPECT_EQ(MeshNumberText(std::numeric_limits<float>::quiet_NaN(), false), "0.000000");
    EXPECT_EQ(MeshNumberText(std::numeric_limits<float>::infinity(), true), "0.000000");
    EXPECT_EQ(MeshNumberText(-std::numeric_limits<float>::infinity(), false), "0.000000");
    EXPECT_EQ(MeshNumberText(std::numeric_limits<float>::max(), false), "0.000000");
}

} // namespace
