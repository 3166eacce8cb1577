#include <gtest/gtest.h>

#include "protocol/Commands.h"
#include "protocol/Identification.h"

using namespace Protocol;

namespace {
QByteArray Answer(int family, int model, int build) {
    QByteArray a;
    BuildRequest(a, CmdIdentify());
    a[4] = char(family >> 8), a[5] = char(family & 255);
    a[6] = char(model >> 8), a[7] = char(model & 255);
    a[8] = char(build >> 8), a[9] = char(build & 255);
    return a;
}
}  // namespace

TEST(IdentificationTest, NumbersAtBytesFiveToTenHighByteFirst) {
    Identification id;
    QString error;
    ASSERT_TRUE(DecodeIdentification(Answer(5, 0x0128, 23), id, &error));
    EXPECT_EQ(id.family, 5);
    EXPECT_EQ(id.model, 0x0128);
    EXPECT_EQ(id.build, 23);
    EXPECT_EQ(IdentificationText(id), "5.296.23");
}

TEST(IdentificationTest, OverflowAndShortAnswerKeepWhatCameBefore) {
    Identification id{1, 2, 3};
    QString error;
    EXPECT_FALSE(DecodeIdentification(Answer(3, 0x8000, 9), id, &error));
    EXPECT_EQ(id.family, 3);
    EXPECT_EQ(id.model, 2);
    EXPECT_EQ(id.build, 3);
    EXPECT_EQ(error, "Overflow: identification number 32768");

    EXPECT_FALSE(DecodeIdentification(Answer(5, 8, 1).left(9), id, &error));
    EXPECT_EQ(id.model, 8);
    EXPECT_EQ(error, "The answer is 9 bytes long; 10 are needed.");
}

TEST(IdentificationTest, ModelTextsInTableOrder) {
    EXPECT_EQ(ModelText(5, 5), "Model QX700-5: Refrigerator/Freezer Keeper");
    EXPECT_EQ(ModelText(5, 8), "Model QX700-8: Computer Room Keeper");
    EXPECT_EQ(ModelText(5, 10), "Model QX700-10: Property Keeper");
    EXPECT_EQ(ModelText(5, 40), "Model QX740: Temperature and Power Keeper");
    EXPECT_EQ(ModelText(3, 3), "Zolo 603: Refrigerator/Freezer netKeeper");
    EXPECT_EQ(ModelText(3, 4), "Zolo 604: Computer Room netKeeper");  // before the 4-20 mA rule
    EXPECT_EQ(ModelText(3, 5), "Zolo 605: Refrigerator/Freezer netKeeper");
    EXPECT_EQ(ModelText(3, 20), "Model QX720: High Temperature Keeper");
    EXPECT_EQ(ModelText(9, 4), "Model QX700-4: 4-20ma Monitor");
    EXPECT_EQ(ModelText(5, 4), "Model QX700-4: 4-20ma Monitor");
    EXPECT_EQ(ModelText(7, 7), "Server model could not be determined");
    EXPECT_EQ(UnknownModelText(), "Unknown server model");
}
