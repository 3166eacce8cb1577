// fernlog's administration commands run as processes against a simulated
// device: a fleet set up from the shell, then polled by fernlog --headless;
// and what the commands refuse.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <csignal>

#include "db/ServerDatabase.h"
#include "devsim/Device.h"
#include "support/FernlogFixtures.h"
#include "support/FixedPorts.h"
#include "support/SmtpServer.h"

namespace {
using Ran = ProgramRun;

// Runs "fernlog ARGS --dir DIR".
Ran Fernlog(const QString& dir, const QStringList& args, const QByteArray& input = {}) {
    return RunProgram(QStringLiteral(FERNLOG_PATH), args + QStringList{"--dir", dir}, input);
}

std::unique_ptr<devsim::Device> StartDevice(const char* address) {
    devsim::DeviceConfig config;
    config.address = QHostAddress(QString::fromLatin1(address));
    config.model = devsim::Model::QX700_5;
    config.build = 23;
    auto device = std::make_unique<devsim::Device>(config);
    QString error;
    EXPECT_TRUE(device->start(&error)) << error.toStdString();
    return device;
}

QString Text(const Ran& ran) {
    return QStringLiteral("status %1\nout: %2\nerr: %3").arg(ran.status).arg(ran.out, ran.err);
}
}  // namespace

using AdminCommandsTest = FernlogTest;

// From an empty database to the first alarm e-mail, with commands only.
TEST_F(AdminCommandsTest, FleetSetUpFromTheShellIsPolledAndMailsAnAlarm) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ProvisionDatabase();
    SmtpServer smtp;
    ASSERT_TRUE(smtp.IsRunning()) << smtp.Error().toStdString();
    auto kitchen = StartDevice("127.0.0.2");
    kitchen->setPort(0, {80, 4, 1});  // in alarm
    kitchen->setPortValue(1, 35);

    Ran ran = Fernlog(Dir(), {"device", "add", "Kitchen", "127.0.0.2", "--unit", "C", "--emails",
                              "chef@corvane.test"});
    ASSERT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_EQ(kitchen->page(2).mid(8, 20), QByteArray("Kitchen").leftJustified(20, ' '));
    EXPECT_EQ(kitchen->unit(), 'C');
    for (const auto& [port, name] : {std::pair{"0", "Freezer"}, {"1", "Fridge"}}) {
        ran = Fernlog(Dir(), {"sensor", "set", "Kitchen", port, "--name", name});
        EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    }
    QByteArray namePages;
    for (int page = 3; page <= 7; ++page) namePages += kitchen->page(page);
    EXPECT_TRUE(namePages.contains("Freezer") && namePages.contains("Fridge"));
    // The other ports keep the names the device gave them, as after the
    // configuration window's upload.
    EXPECT_EQ(Rows("SELECT PortNum, SensorName FROM tblSensors WHERE PortNum < 3 ORDER BY PortNum"),
              (QStringList{"0|Freezer", "1|Fridge", "2|Temperature 3"}));
    ran = Fernlog(Dir(), {"settings", "set", "SmtpHost=127.0.0.1",
                          QStringLiteral("SmtpPort=%1").arg(smtp.Port()), "SmtpTimeOut=5",
                          "SmtpSender=monitor@corvane.test", "AdminEmail=admin@corvane.test",
                          "UpdateRate=5", "DeviceTimeOut=2", "DeviceRetries=1"});
    ASSERT_EQ(ran.status, 0) << Text(ran).toStdString();

    // One look at the devices, nothing written.
    ran = Fernlog(Dir(), {"poll"});
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_TRUE(ran.out.contains("Kitchen (127.0.0.2): OK")) << Text(ran).toStdString();
    EXPECT_TRUE(ran.out.contains("Freezer: 80") && ran.out.contains("ALARM"))
        << Text(ran).toStdString();
    EXPECT_TRUE(QDir(Dir()).entryList({"Sensor-*"}).isEmpty());
    EXPECT_EQ(Rows("SELECT count(*) FROM tblAlarms"), QStringList{"0"});

    QProcess fernlog;
    fernlog.setProcessChannelMode(QProcess::MergedChannels);
    fernlog.start(QStringLiteral(FERNLOG_PATH), {"--headless", "--dir", Dir()});
    ASSERT_TRUE(fernlog.waitForStarted(10000));
    QString output;
    const auto told = [&](const QString& text) {
        return QTest::qWaitFor(
            [&] {
                output += QString::fromLocal8Bit(fernlog.readAll());
                return output.contains(text);
            },
            30000);
    };
    const bool mailed = QTest::qWaitFor(
        [&] {
            for (const auto& m : smtp.Messages()) {
                if (m.Header("Subject") == "Sensor: Freezer has generated an alarm!") return true;
            }
            return false;
        },
        30000);
    // A change stored while it runs is taken up without a restart.
    ran = Fernlog(Dir(), {"settings", "set", "UpdateRate=10"});
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_TRUE(told("Polling 10 sensor(s) every 10 seconds")) << output.toStdString();
    ::kill(static_cast<pid_t>(fernlog.processId()), SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fernlog.state() == QProcess::NotRunning; }, 20000));
    output += QString::fromLocal8Bit(fernlog.readAll());
    ASSERT_TRUE(mailed) << output.toStdString();
    EXPECT_TRUE(QFile::exists(FilePath("Sensor-2 Average.dat"))) << output.toStdString();
    for (const auto& m : smtp.Messages()) {
        if (m.Header("Subject") == "Sensor: Freezer has generated an alarm!") {
            EXPECT_EQ(m.rcptTos, QStringList{"chef@corvane.test"});
        }
    }
}

// No new name holding "error" reaches a device (its answers could not carry
// it); a device that already holds one is read and can be renamed.
TEST_F(AdminCommandsTest, ANameContainingErrorIsRefusedAndAnOldOneRenamed) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ProvisionDatabase();
    auto freezer = StartDevice("127.0.0.2");
    const QByteArray factory = freezer->page(2);
    Ran ran = Fernlog(Dir(), {"device", "add", "Terror Freezer", "127.0.0.2"});
    EXPECT_EQ(ran.status, 2) << Text(ran).toStdString();
    EXPECT_TRUE(ran.err.contains("The Server Name (\"Terror Freezer\") contains \"error\""))
        << Text(ran).toStdString();
    EXPECT_EQ(freezer->page(2), factory);
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM tblServers"), QStringList{"0"});

    QByteArray held = factory;
    held.replace(8, 20, QByteArray("Terror Freezer").leftJustified(20, ' '));
    freezer->setPage(2, held);
    ASSERT_TRUE(ServerDatabase::AddServer("Terror Freezer", "Stored model", "127.0.0.2", "", 1,
                                          "****", "", -1));
    ran = Fernlog(Dir(), {"device", "set", "Terror Freezer", "--notes", "chest"});
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    ran = Fernlog(Dir(), {"device", "set", "Terror Freezer", "--name", "Chest Freezer"});
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_EQ(freezer->page(2).mid(8, 20), QByteArray("Chest Freezer").leftJustified(20, ' '));
    EXPECT_EQ(Rows("SELECT ServerName, Enabled, Comm FROM tblServers"),
              QStringList{"Chest Freezer|1|-1"});
}

// Each refusal leaves the register and the settings as they were.
TEST_F(AdminCommandsTest, RefusedCommandsChangeNothing) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ProvisionDatabase();
    auto kitchen = StartDevice("127.0.0.2");
    ASSERT_EQ(Fernlog(Dir(), {"device", "add", "Kitchen", "127.0.0.2"}).status, 0);

    // The same device again, under another name.
    Ran ran = Fernlog(Dir(), {"device", "add", "Pantry", "127.0.0.2"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(
        ran.err.startsWith("fernlog: The IP address 127.0.0.2 is currently being used by "
                           "Kitchen."))
        << Text(ran).toStdString();
    // A name nobody registered: told the known ones.
    ran = Fernlog(Dir(), {"sensor", "set", "Kitchn", "0", "--name", "Freezer"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err, "fernlog: there is no device named 'Kitchn'; the devices are: Kitchen\n");
    // Nothing answers at 127.0.0.3: not stored, unless --offline.
    ran = Fernlog(Dir(), {"device", "add", "Cellar", "127.0.0.3"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.err.contains("Cellar did not answer at 127.0.0.3; nothing was stored"))
        << Text(ran).toStdString();
    EXPECT_EQ(Rows("SELECT ServerName FROM tblServers"), QStringList{"Kitchen"});
    ran = Fernlog(Dir(), {"device", "add", "Cellar", "127.0.0.3", "--offline"});
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_TRUE(
        ran.out.contains("without asking the device (--offline): its name page was not "
                         "written"));
    EXPECT_EQ(Rows("SELECT ServerName, Enabled FROM tblServers ORDER BY IDNum"),
              (QStringList{"Kitchen|1", "Cellar|1"}))
        << Rows("SELECT ServerName, Enabled FROM tblServers").join(' ').toStdString();
    ran = Fernlog(Dir(), {"poll"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.out.contains("Cellar (127.0.0.3): FAILED")) << Text(ran).toStdString();

    // A secret is never taken from the command line.
    ran = Fernlog(Dir(), {"settings", "set", "SmtpHost=127.0.0.1", "SmtpPassword=hunter2"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_TRUE(ran.err.startsWith("fernlog: SmtpPassword is a secret")) << Text(ran).toStdString();
    EXPECT_FALSE(QFile::exists(FilePath("FernlogConfig.dat")));
    ran = Fernlog(Dir(), {"settings", "set", "SmtpPassword", "--password-stdin"}, "hunter2\n");
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    ran = Fernlog(Dir(), {"settings"});
    EXPECT_TRUE(ran.out.contains("SmtpPassword=(set)")) << Text(ran).toStdString();
    EXPECT_FALSE(ran.out.contains("hunter2"));
}
