#include <gtest/gtest.h>

#include "protocol/Commands.h"

using namespace Protocol;

TEST(CommandsTest, CommandPaddedWithZerosToSixtyBytes) {
    QByteArray request;
    BuildRequest(request, CmdDDCCBB());
    EXPECT_EQ(request.size(), 60);
    EXPECT_EQ(request.left(3), QByteArray("\xDD\xCC\xBB"));
    EXPECT_EQ(request.mid(3), QByteArray(57, '\0'));
    EXPECT_EQ(CmdPage(15), QByteArray("\xAA\xBB\xCC\x0F"));
}

TEST(CommandsTest, TableHoldsEveryCommandInSendingOrder) {
    EXPECT_EQ(CmdReadings(), QByteArray("\x3F\xCD\xDC\x00", 4));
    EXPECT_EQ(CmdIdentify(), QByteArray("\x2A\xCD\xDC\xBA"));
    EXPECT_EQ(CmdPage(0), QByteArray("\xAA\xBB\xCC\x00", 4));
    EXPECT_EQ(ReplyBusy(), QByteArray("\xB5\x5E\xB5\x5E"));
    EXPECT_EQ(CmdFactoryReset(), QByteArray("\xDE\xAD\xDE\xAD"));
    EXPECT_EQ(CmdLog00(), QByteArray("\xDE\xCA\xDE\x00", 4));
    EXPECT_EQ(CmdLog02(), QByteArray("\xDE\xCA\xDE\x02"));
    EXPECT_EQ(CmdReadLog(), QByteArray("\xDE\xCA\xDE\x04"));
}
