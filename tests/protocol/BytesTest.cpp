#include <gtest/gtest.h>

#include <climits>

#include "protocol/Bytes.h"

using namespace Protocol;

TEST(BytesTest, SignedWordsAndBytesAtOneBasedPositions) {
    const QByteArray b("\xFF\x38\x00\xC8\x7F", 5);
    EXPECT_FLOAT_EQ(SignedWord(b, 1), -200.0f);
    EXPECT_EQ(ValueAt(b, 3, 2), 200);
    EXPECT_EQ(ValueAt(b, 1, 1), 255);
    EXPECT_EQ(ValueAt(b, 5, 2), 0x7F00);  // past the end reads as 0
    int hi = -1, lo = -1;
    EXPECT_TRUE(SplitWord(-200, hi, lo));
    EXPECT_EQ(hi, 0xFF);
    EXPECT_EQ(lo, 0x38);
    SplitWord(300, hi, lo);
    EXPECT_EQ(hi, 1);
    EXPECT_EQ(lo, 0x2C);
}

TEST(BytesTest, PositionsOutsideTheDataReadAsZero) {
    const QByteArray b("\x81\x02", 2);
    EXPECT_EQ(ByteAt(b, 0), 0);
    EXPECT_EQ(ByteAt(b, -5), 0);
    EXPECT_EQ(ValueAt(b, 2, 2), 0x0200);
    EXPECT_EQ(ValueAt(b, 0, 2), 0x81);  // high byte outside, low byte inside
    EXPECT_EQ(ValueAt(b, INT_MAX, 2), 0);
    EXPECT_EQ(ValueAt(b, INT_MIN, 2), 0);
}
