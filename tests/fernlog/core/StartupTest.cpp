#include <QFileInfo>
#include <QTimer>

#include "common/Clock.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/EmailNotification.h"
#include "core/MailWarnings.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"

namespace {
const QString kModel = QStringLiteral("Model QX700-5: Refrigerator/Freezer Keeper");
}  // namespace

using StartupTest = FernlogTest;

TEST_F(StartupTest, FirstStartWithoutSettingsOrSensorsAppliesDefaultsAndPollsNothing) {
    ProvisionDatabase();
    Startup::LoadProgram();
    Startup::RunActivationBlock();
    EXPECT_EQ(
        StatusList::Lines(),
        (QStringList{"Configuration file not found.  Please run configuration",
                     "Please click on Setup and then Configure Fernlog and verify all parameters.",
                     "There are no sensors programmed yet"}));
    EXPECT_FALSE(Polling::PollTimer().isActive());
    EXPECT_EQ(QFileInfo(FilePath("FernlogConfig.dat")).size(), 1499);
    EXPECT_EQ(ConfigParameters.UpdateRate, 60);

    // With sensors and the settings now stored: polling starts at the rate.
    DialogScript dialogs;
    ServerDatabase::AddServer("Kitchen", kModel, "127.0.0.2", "", 1, "", "", -1);
    ServerDatabase::AddSensor(1, "Probe", 0, "", "Temperature");
    Startup::RunActivationBlock();
    // And that alarm e-mail has nowhere to go yet (no SMTP host, no address).
    const QStringList lines = StatusList::Lines();
    EXPECT_EQ(lines.value(0), "Update Rate 60 seconds");
    EXPECT_EQ(lines.filter(MailWarnings::StatusKey()), lines.mid(1));
    EXPECT_GT(lines.size(), 1);
    EXPECT_TRUE(Polling::PollTimer().isActive());
    EXPECT_EQ(Polling::TicksPerUpdate, 12);
    EXPECT_EQ(StatusGrid::Model().rowCount(), 1);
    Polling::StopPollTimer();
}

TEST_F(StartupTest, MissingDatabaseIsToldAndTheProgramGoesOn) {
    DialogScript dialogs;
    Startup::RunActivationBlock();
    ASSERT_EQ(dialogs.Texts().size(), 1);
    EXPECT_EQ(dialogs.Texts()[0], "The program file Zolo.mdb is not present in the " + Dir() +
                                      " directory.  Please copy Zolo.mdb into this directory "
                                      "before running this program.  To create an empty one, "
                                      "run: zolo-provision " +
                                      Dir());
    EXPECT_TRUE(StatusList::Lines().contains(
        "Zolo.mdb is not present in the application directory.  Fernlog requires this file."));
    EXPECT_TRUE(DeviceLink::ProgramRunning);
}
