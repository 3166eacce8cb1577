// fernlog's administration commands run as processes against a simulated
// device: a fleet set up from the shell, then polled by fernlog --headless;
// and what the commands refuse.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include "db/ServerDatabase.h"
#include "devsim/Device.h"
#include "pages/PageTransfer.h"
#include "protocol/Commands.h"
#include "support/FernlogFixtures.h"
#include "support/FixedPorts.h"
#include "support/HeadlessProgram.h"
#include "support/SimDevices.h"
#include "support/SmtpServer.h"

namespace {
using Ran = ProgramRun;

std::unique_ptr<devsim::Device> StartDevice(const char* address, char unit = 'F') {
    devsim::DeviceConfig config;
    config.address = QHostAddress(QString::fromLatin1(address));
    config.unit = unit;
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

// Page writes the device has taken.
int Writes(const devsim::Device& device) {
    int count = 0;
    for (int n = 0; n < devsim::kPageCount; ++n)
        count += device.requestCount(devsim::cmd::PageWrite + char(n));
    return count;
}
}  // namespace

using AdminCommandsTest = FernlogTest;

// From an empty database to the first alarm e-mail, with commands only.
TEST_F(AdminCommandsTest, FleetSetUpFromTheShellIsPolledAndMailsAnAlarm) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ProvisionDatabase();
    SmtpServer smtp;
    ASSERT_TRUE(smtp.IsRunning()) << smtp.Error().toStdString();
    SimDevices devices;
    devsim::Device& kitchen = devices.Start("127.0.0.2");
    kitchen.setPort(0, {80, 4, 0});  // inside the factory limits
    kitchen.setPortValue(1, 35);

    Ran ran = RunFernlog(Dir(), {"device", "add", "Kitchen", "127.0.0.2", "--unit", "C", "--emails",
                                 "chef@corvane.test"});
    ASSERT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_EQ(kitchen.page(2).mid(8, 20), QByteArray("Kitchen").leftJustified(20, ' '));
    EXPECT_EQ(kitchen.unit(), 'C');
    for (const auto& [port, name] : {std::pair{"0", "Freezer"}, {"1", "Fridge"}}) {
        ran = RunFernlog(Dir(), {"sensor", "set", "Kitchen", port, "--name", name});
        EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    }
    // New limits put the reading out of them; the device alarms at once.
    ran = RunFernlog(Dir(), {"sensor", "set", "Kitchen", "0", "--high", "-10", "--low", "-30",
                             "--minutes", "0"});
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    kitchen.applyLimits(0);
    EXPECT_EQ(kitchen.portState(0).status, 1);
    QByteArray namePages;
    for (int page = 3; page <= 7; ++page) namePages += kitchen.page(page);
    EXPECT_TRUE(namePages.contains("Freezer") && namePages.contains("Fridge"));
    // Only the ports named are enrolled.
    EXPECT_EQ(Rows("SELECT PortNum, SensorName FROM tblSensors ORDER BY PortNum"),
              (QStringList{"0|Freezer", "1|Fridge"}));
    ran = RunFernlog(Dir(), {"settings", "set", "SmtpHost=127.0.0.1",
                             QStringLiteral("SmtpPort=%1").arg(smtp.Port()), "SmtpTimeOut=5",
                             "SmtpSender=monitor@corvane.test", "AdminEmail=admin@corvane.test",
                             "UpdateRate=5", "DeviceTimeOut=2", "DeviceRetries=1"});
    ASSERT_EQ(ran.status, 0) << Text(ran).toStdString();

    // One look at the devices, nothing written.
    ran = RunFernlog(Dir(), {"poll"});
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_TRUE(ran.out.contains("Kitchen (127.0.0.2): OK")) << Text(ran).toStdString();
    EXPECT_TRUE(ran.out.contains("Freezer: 80") && ran.out.contains("ALARM"))
        << Text(ran).toStdString();
    // The JSON's keys are those of /api/v1/status.
    ran = RunFernlog(Dir(), {"poll", "--json"});
    const QJsonObject polled = QJsonDocument::fromJson(ran.out.toUtf8()).array().at(0).toObject();
    EXPECT_EQ(polled.value("name").toString(), "Kitchen") << Text(ran).toStdString();
    EXPECT_TRUE(polled.value("up").toBool());
    const QJsonObject freezer = polled.value("sensors").toArray().at(0).toObject();
    EXPECT_EQ(freezer.value("name").toString(), "Freezer");
    EXPECT_EQ(freezer.value("unit").toString(), QString(QChar(0xB0)) + "C");
    EXPECT_TRUE(QDir(Dir()).entryList({"Sensor-*"}).isEmpty());
    EXPECT_EQ(Rows("SELECT count(*) FROM tblAlarms"), QStringList{"0"});

    HeadlessProgram fernlog(Dir());
    ASSERT_TRUE(fernlog.Started());
    const bool mailed = QTest::qWaitFor(
        [&] {
            for (const auto& m : smtp.Messages()) {
                if (m.Header("Subject") == "Sensor: Freezer has generated an alarm!") return true;
            }
            return false;
        },
        30000);
    // A change stored while it runs is taken up without a restart.
    ran = RunFernlog(Dir(), {"settings", "set", "UpdateRate=10"});
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_TRUE(fernlog.Told("Polling 2 sensor(s) every 10 seconds", 30000))
        << fernlog.Output().toStdString();
    ASSERT_TRUE(fernlog.Stop());
    ASSERT_TRUE(mailed) << fernlog.Output().toStdString();
    EXPECT_TRUE(QFile::exists(FilePath("Sensor-2 Average.dat"))) << fernlog.Output().toStdString();
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
    Ran ran = RunFernlog(Dir(), {"device", "add", "Terror Freezer", "127.0.0.2"});
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
    ran = RunFernlog(Dir(), {"device", "set", "Terror Freezer", "--notes", "chest"});
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    ran = RunFernlog(Dir(), {"device", "set", "Terror Freezer", "--name", "Chest Freezer"});
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_EQ(freezer->page(2).mid(8, 20), QByteArray("Chest Freezer").leftJustified(20, ' '));
    EXPECT_EQ(Rows("SELECT ServerName, Enabled, Comm FROM tblServers"),
              QStringList{"Chest Freezer|1|-1"});
}

// Each refusal leaves the register and the settings as they were.
TEST_F(AdminCommandsTest, RefusedCommandsChangeNothing) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ProvisionDatabase();
    SimDevices devices;
    devices.Start("127.0.0.2");
    ASSERT_EQ(RunFernlog(Dir(), {"device", "add", "Kitchen", "127.0.0.2"}).status, 0);

    // The same device again, under another name.
    Ran ran = RunFernlog(Dir(), {"device", "add", "Pantry", "127.0.0.2"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(
        ran.err.startsWith("fernlog: The IP address 127.0.0.2 is currently being used by "
                           "Kitchen."))
        << Text(ran).toStdString();
    // A name nobody registered: told the known ones.
    ran = RunFernlog(Dir(), {"sensor", "set", "Kitchn", "0", "--name", "Freezer"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err, "fernlog: there is no device named 'Kitchn'; the devices are: Kitchen\n");
    // Nothing answers at 127.0.0.3: not stored, unless --offline.
    ran = RunFernlog(Dir(), {"device", "add", "Cellar", "127.0.0.3"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.err.contains("Cellar did not answer at 127.0.0.3; nothing was stored"))
        << Text(ran).toStdString();
    EXPECT_EQ(Rows("SELECT ServerName FROM tblServers"), QStringList{"Kitchen"});
    ran = RunFernlog(Dir(), {"device", "add", "Cellar", "127.0.0.3", "--offline"});
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_TRUE(
        ran.out.contains("without asking the device (--offline): its name page was not "
                         "written"));
    EXPECT_EQ(Rows("SELECT ServerName, Enabled FROM tblServers ORDER BY IDNum"),
              (QStringList{"Kitchen|1", "Cellar|1"}))
        << Rows("SELECT ServerName, Enabled FROM tblServers").join(' ').toStdString();
    ran = RunFernlog(Dir(), {"poll"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.out.contains("Cellar (127.0.0.3): FAILED")) << Text(ran).toStdString();

    // A secret is never taken from the command line.
    ran = RunFernlog(Dir(), {"settings", "set", "SmtpHost=127.0.0.1", "SmtpPassword=hunter2"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_TRUE(ran.err.startsWith("fernlog: SmtpPassword is a secret")) << Text(ran).toStdString();
    EXPECT_FALSE(QFile::exists(FilePath("FernlogConfig.dat")));
    ran = RunFernlog(Dir(), {"settings", "set", "SmtpPassword", "--password-stdin"}, "hunter2\n");
    EXPECT_EQ(ran.status, 0) << Text(ran).toStdString();
    ran = RunFernlog(Dir(), {"settings"});
    EXPECT_TRUE(ran.out.contains("SmtpPassword=(set)")) << Text(ran).toStdString();
    EXPECT_FALSE(ran.out.contains("hunter2"));
}

// Limits, time and correction set from the shell are the bytes the
// configuration window writes for the same edit; the register gets only the
// row of the port named; the device's own unit stays.
TEST_F(AdminCommandsTest, PortEditsFromTheShellWriteTheWindowsBytes) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ProvisionDatabase();
    auto kitchen = StartDevice("127.0.0.2", 'C');
    auto pantry = StartDevice("127.0.0.3", 'C');
    kitchen->setPortValue(0, -20);
    Ran ran = RunFernlog(Dir(), {"device", "add", "Kitchen", "127.0.0.2"});
    ASSERT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_EQ(kitchen->unit(), 'C');
    ran = RunFernlog(Dir(), {"sensor", "set", "Kitchen", "2", "--name", "Walk-in Freezer"});
    ASSERT_EQ(ran.status, 0) << Text(ran).toStdString();
    ran = RunFernlog(Dir(), {"sensor", "set", "Kitchen", "0", "--name", "Freezer", "--low", "-25.5",
                             "--high", "-10", "--minutes", "3", "--correction", "1.5"});
    ASSERT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_TRUE(ran.out.contains("Register: port 0 added as 'Freezer'")) << Text(ran).toStdString();
    EXPECT_EQ(Rows("SELECT PortNum, SensorName FROM tblSensors ORDER BY PortNum"),
              (QStringList{"0|Freezer", "2|Walk-in Freezer"}));

    // The window's own procedures, the same two edits on a twin device.
    Protocol::InitCommands();
    Pages::PageSession s = Pages::NewSession(Window::frmQX705, "127.0.0.3", 99);
    ASSERT_TRUE(Pages::GetLimits(s));
    s.form.ports[2].name = "Walk-in Freezer";
    ASSERT_TRUE(Pages::SaveLimits(s));
    ASSERT_TRUE(Pages::GetLimits(s));
    s.form.ports[0].name = "Freezer";
    s.form.ports[0].lower = "-25.5";
    s.form.ports[0].upper = "-10";
    s.form.ports[0].time = "3";
    s.form.correction[0] = "1.5";
    ASSERT_TRUE(Pages::SaveLimits(s));
    for (int page : {0, 1, 3, 4, 5, 6, 7, 12}) {
        EXPECT_EQ(kitchen->page(page).toHex(' '), pantry->page(page).toHex(' ')) << page;
    }

    ran = RunFernlog(Dir(), {"sensor", "show", "Kitchen", "0", "--json"});
    ASSERT_EQ(ran.status, 0) << Text(ran).toStdString();
    const QJsonObject port = QJsonDocument::fromJson(ran.out.toUtf8()).array().at(0).toObject();
    EXPECT_EQ(port.value("name").toString(), "Freezer");
    EXPECT_EQ(port.value("low").toDouble(), -25.5);
    EXPECT_EQ(port.value("high").toDouble(), -10);
    EXPECT_EQ(port.value("minutes").toDouble(), 3);
    EXPECT_EQ(port.value("correction").toDouble(), 1.5);
    EXPECT_EQ(port.value("reading").toDouble(), -18.5);  // -20 with the correction
    EXPECT_EQ(port.value("unit").toString(), QString(QChar(0xB0)) + "C");
    EXPECT_TRUE(port.value("tenths").toBool());

    // -17.0 actual against -18.5 read: the correction grows by 1.5.
    ran = RunFernlog(Dir(), {"sensor", "calibrate", "Kitchen", "0", "--actual", "-17"});
    ASSERT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_EQ(kitchen->correction(0), 3.0);

    ran = RunFernlog(Dir(), {"sensor", "remove", "Kitchen", "2"});
    ASSERT_EQ(ran.status, 0) << Text(ran).toStdString();
    EXPECT_EQ(Rows("SELECT PortNum FROM tblSensors WHERE ServerIDNum <> 99"), QStringList{"0"});
}

// What cannot be written is refused with one line before anything is sent.
TEST_F(AdminCommandsTest, PageEditsThatCannotBeWrittenSendNothing) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ProvisionDatabase();
    auto kitchen = StartDevice("127.0.0.2");
    ASSERT_EQ(RunFernlog(Dir(), {"device", "add", "Kitchen", "127.0.0.2"}).status, 0);
    const int writes = Writes(*kitchen);
    const struct {
        QStringList args;
        const char* told;
    } cases[] = {
        {{"sensor", "set", "Kitchen", "0", "--low", "50", "--high", "40"},
         "(50.0) is above its upper limit (40.0)"},
        {{"sensor", "set", "Kitchen", "0", "--low", "4000"}, "must be from -3276.8 to 3276.7"},
        {{"sensor", "set", "Kitchen", "0", "--minutes", "x"}, "--minutes takes a number"},
        {{"sensor", "set", "Kitchen", "12", "--name", "Ice"}, "has ports 0 to 9, not 12"},
        {{"sensor", "set", "Kitchen", "0", "--normal-state", "on"}, "has no --normal-state"},
        {{"device", "set-options", "Kitchen", "--buzzer", "on"}, "has no --buzzer"},
        {{"sensor", "calibrate", "Kitchen", "8", "--actual", "40"}, "is not a temperature port"},
    };
    for (const auto& c : cases) {
        const Ran ran = RunFernlog(Dir(), c.args);
        EXPECT_EQ(ran.status, 2) << Text(ran).toStdString();
        EXPECT_TRUE(ran.err.startsWith("fernlog: ") && ran.err.count('\n') == 1 &&
                    ran.err.contains(c.told))
            << Text(ran).toStdString();
    }
    EXPECT_EQ(Writes(*kitchen), writes);
    EXPECT_EQ(Rows("SELECT count(*) FROM tblSensors"), QStringList{"0"});
}

// A name page the device does not take is named, and its port gets no row.
TEST_F(AdminCommandsTest, AnUploadCutShortNamesThePagesNotWritten) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ProvisionDatabase();
    auto kitchen = StartDevice("127.0.0.2");
    ASSERT_EQ(RunFernlog(Dir(), {"device", "add", "Kitchen", "127.0.0.2"}).status, 0);
    ASSERT_EQ(RunFernlog(Dir(), {"settings", "set", "DeviceTimeOut=1"}).status, 0);
    devsim::FaultSettings silent;
    silent.fault = devsim::Fault::Silent;
    silent.onlyCommand = devsim::cmd::PageWrite + char(3);
    kitchen->setFault(silent);
    const Ran ran = RunFernlog(Dir(), {"sensor", "set", "Kitchen", "0", "--name", "Freezer"});
    EXPECT_EQ(ran.status, 1) << Text(ran).toStdString();
    EXPECT_TRUE(ran.err.contains("Upload incomplete: page 3 was not written."))
        << Text(ran).toStdString();
    EXPECT_EQ(Rows("SELECT count(*) FROM tblSensors"), QStringList{"0"});
}
