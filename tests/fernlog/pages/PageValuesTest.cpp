// Value encodings of the configuration pages: box texts to scaled whole
// numbers (exact decimals, halves to even), tenths texts, words, bytes and
// names at 1-based positions.
#include <gtest/gtest.h>

#include "pages/PageValues.h"
#include "support/Fixtures.h"

using namespace Pages;

TEST(PageValues, ScaledNumberRoundsDecimalTextHalvesToEven) {
    EXPECT_EQ(ScaledNumber("3.5", 1), 35);
    EXPECT_EQ(ScaledNumber("3.45", 1), 34);  // a binary 3.45 would round up
    EXPECT_EQ(ScaledNumber("3.55", 1), 36);
    EXPECT_EQ(ScaledNumber("3.451", 1), 35);
    EXPECT_EQ(ScaledNumber("2.5", 0), 2);
    EXPECT_EQ(ScaledNumber("3.5", 0), 4);
    EXPECT_EQ(ScaledNumber("-2.5", 0), -2);
    EXPECT_EQ(ScaledNumber("-10", 1), -100);
    EXPECT_EQ(ScaledNumber(".5", 1), 5);
    EXPECT_EQ(ScaledNumber("-.3", 1), -3);
    EXPECT_EQ(ScaledNumber("7.", 0), 7);
    EXPECT_EQ(ScaledNumber(" 12 ", 0), 12);
    EXPECT_EQ(ScaledNumber("0007", 0), 7);
}

TEST(PageValues, ScaledNumberRefusesWhatIsNotANumber) {
    for (const char* text : {"", " ", "-", ".", "-.", "1.2.3", "1-2", "--1", "12a", "+5", "1e3"})
        EXPECT_FALSE(ScaledNumber(text, 1).has_value()) << text;
    // Too long for any field, but never wrapped into one.
    EXPECT_GT(*ScaledNumber("99999999999999999999", 0), 32767);
    EXPECT_LT(*ScaledNumber("-99999999999999999999", 1), -32768);
}

TEST(PageValues, TenthsTextHasOneDecimalAsTheLogGrid) {
    EXPECT_EQ(TenthsText(35), "3.5");
    EXPECT_EQ(TenthsText(-100), "-10.0");
    EXPECT_EQ(TenthsText(5), "0.5");
    EXPECT_EQ(TenthsText(-3), "-0.3");
    EXPECT_EQ(TenthsText(0), "0.0");
    EXPECT_EQ(TenthsText(-32768), "-3276.8");
    // What it shows reads back as the same value.
    for (int t : {-32768, -101, -3, 0, 7, 35, 32767}) EXPECT_EQ(ScaledNumber(TenthsText(t), 1), t);
}

TEST(PageValues, WordsAreSignedHighByteFirst) {
    QByteArray image(60, '\0');
    WriteWord(image, 9, -1);
    WriteWord(image, 11, 35);
    WriteWord(image, 13, -100);
    WriteWord(image, 15, -32768);
    WriteWord(image, 59, 32767);
    EXPECT_EQ(image.mid(8, 8).toHex(' '), "ff ff 00 23 ff 9c 80 00");
    EXPECT_EQ(image.mid(58).toHex(' '), "7f ff");
    EXPECT_EQ(ReadWord(image, 13), -100);
    EXPECT_EQ(ReadWord(image, 59), 32767);
    // Never past the image.
    WriteWord(image, 60, 1);
    WriteByte(image, 61, 1);
    EXPECT_EQ(image.size(), 60);
    EXPECT_EQ(image.mid(58).toHex(' '), "7f ff");
    WriteByte(image, 25, 200);
    EXPECT_EQ(ReadByte(image, 25), 200);
}

TEST(PageValues, NamesAreBlankPaddedCutAtTwentyAndTrimmedOnReading) {
    QByteArray image(60, 'x');
    WriteName(image, 9, "Freezer");
    WriteName(image, 29, "A name longer than twenty characters");
    EXPECT_EQ(image.mid(8, 20), QByteArray("Freezer") + QByteArray(13, ' '));
    EXPECT_EQ(image.mid(28, 20), QByteArray("A name longer than t"));
    EXPECT_EQ(image.mid(48), QByteArray(12, 'x'));
    EXPECT_EQ(ReadName(image, 9), "Freezer");
    WriteName(image, 9, "");
    EXPECT_EQ(image.mid(8, 20), QByteArray(20, ' '));
    EXPECT_EQ(ReadName(image, 9), "");

    image.replace(8, 20, QByteArray("  Walk-in\0\0\0\0\0\0\0\0\0\0\0", 20));
    EXPECT_EQ(ReadName(image, 9), "Walk-in");

    EXPECT_TRUE(NameFits(QStringLiteral("Caf\u00e9 / K\u00fchlraum \u20ac")));
    EXPECT_FALSE(NameFits(QStringLiteral("Freezer \u03a9")));
    EXPECT_FALSE(NameFits(QStringLiteral("\u51b7\u51cd")));
}
