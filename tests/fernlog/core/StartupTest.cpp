#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/EmailNotification.h"
#include "core/MailWarnings.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "core/Timings.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "support/SmtpServer.h"

namespace {}  // namespace

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
    ServerDatabase::AddServer("Kitchen", kKeeperModel, "127.0.0.2", "", 1, "", "", -1);
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

// A mail server that takes the connection and never answers, and a mail
// time-out of a minute: the stop ends within its one wait for the mail
// server (shortened here; the program's own is at most the unit's
// TimeoutStopSec less 20 s) and the few seconds the cancelled exchange
// takes. The notice being delivered and the shutdown e-mail stay in the
// outbox for the next start, unfailed, and the service log says so.
using StopTest = MailingTest;
TEST_F(StopTest, SilentMailServerHoldsTheStopNoLongerThanItsOneWait) {
    SmtpServer::Options quiet;
    quiet.silent = true;
    SmtpServer silent(quiet);
    ASSERT_TRUE(silent.IsRunning()) << silent.Error().toStdString();
    silent.UseInSettings(60);
    EmailNotification::SetupMailer();
    QStringList events;
    EventLog::SetSink([&events](const QString& line) { events << line; });
    QString error;
    ASSERT_TRUE(
        EmailNotification::PostTextEmail("The device: Cellar, did not respond", error, "none", 0));
    Timings timings;
    timings.stopMs = 2000;
    Waits::SetForTest(timings);

    QElapsedTimer stopping;
    stopping.start();
    Startup::StopProgram();
    EXPECT_LT(stopping.elapsed(), 2000 + 5000 + 1000);
    const QByteArray outbox = ReadAll(FilePath("FernlogOutbox.dat"));
    EXPECT_TRUE(outbox.contains("Cellar, did not respond")) << outbox.toStdString();
    EXPECT_TRUE(outbox.contains("Corvane Vantor-E has been shutdown!")) << outbox.toStdString();
    EXPECT_EQ(events.filter("2 e-mail(s) left in FernlogOutbox.dat for the next start").size(), 1)
        << events.join('\n').toStdString();
    EXPECT_TRUE(Rows("SELECT * FROM tblErrors").isEmpty());
}
