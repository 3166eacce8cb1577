// The correction arithmetic of the calibration panel.
#include <gtest/gtest.h>

#include "pages/Calibration.h"
#include "pages/PageValues.h"
#include "support/Fixtures.h"

using namespace Pages;

TEST(Calibration, NewCorrectionIsActualMinusReadingPlusOld) {
    QString cf;
    // A probe reads 4.0 with 0.5 stored while the reference shows 3.2.
    ASSERT_TRUE(NewCorrection("3.2", "4.0", ".5", cf));
    EXPECT_EQ(cf, "-0.3");
    QByteArray word(2, '\0');
    WriteWord(word, 1, *ScaledNumber(cf, 1));
    EXPECT_EQ(word.toHex(' '), "ff fd");

    ASSERT_TRUE(NewCorrection("-18.5", "-18.5", "1.2", cf));
    EXPECT_EQ(cf, "1.2");  // equal reading: unchanged
    ASSERT_TRUE(NewCorrection("72", "70.4", "", cf));
    EXPECT_EQ(cf, "1.6");  // no stored correction counts as 0
    ASSERT_TRUE(NewCorrection("40.05", "40", "0", cf));
    EXPECT_EQ(cf, "0.0");  // tenths: 40.05 is 40.0, half to even
}

TEST(Calibration, TextsThatAreNotNumbersAreRefused) {
    QString cf = "unchanged";
    QString error;
    EXPECT_FALSE(NewCorrection("-", "40", "0", cf, &error));
    EXPECT_EQ(error, "The actual temperature (\"-\") is not a number.");
    EXPECT_FALSE(NewCorrection("40", "Sensor Open", "0", cf, &error));
    EXPECT_EQ(error, "The reading (\"Sensor Open\") is not a number.");
    EXPECT_FALSE(NewCorrection("40", "40", "1.2.3", cf, &error));
    EXPECT_EQ(cf, "unchanged");
}
