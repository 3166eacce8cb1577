#include "support/FernlogFixtures.h"

#include "core/Settings.h"

void FernlogTest::SetUp() {
    ProgramDirTest::SetUp();
    ResetFernlogState();
}

void FernlogTest::TearDown() {
    ResetFernlogState();
    ProgramDirTest::TearDown();
}

void FernlogTest::WriteValidSettings(int updateRate) {
    ConfigParameters = ConfigRecord();
    ConfigParameters.TCPTimeOut = 2;
    ConfigParameters.CommunicationRetry = 1;
    ConfigParameters.UpdateRate = static_cast<qint16>(updateRate);
    ConfigParameters.SMTPPort = 25;
    ConfigParameters.ServerTimeOut = 30;
    ConfigParameters.AuthenticationMethod = QStringLiteral("NONE");
    ConfigParameters.EnableTrending = 1;
    ASSERT_TRUE(Settings::SaveConfigFile());
}
