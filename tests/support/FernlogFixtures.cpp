#include "support/FernlogFixtures.h"

#include "common/EventLog.h"
#include "core/DataLogs.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/Polling.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "pages/Calibration.h"

void ResetFernlogState() {
    Settings::Reset();
    ErrorLog::Reset();
    EventLog::Reset();
    DeviceLink::Reset();
    Decoding::Reset();
    Polling::Reset();
    Startup::Reset();
    StatusList::Reset();
    StatusGrid::Reset();
    ServerData::Reset();
    DataLogs::Reset();
    Pages::Reset();
}

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
