// The faults fernlog must outlast: the database locked, deleted or replaced,
// the mail server down or silent, devices that misbehave, and a stop in the
// middle of a cycle. In each, the other devices are still polled, the fault
// is recorded once rather than every cycle, nothing already written is lost,
// and work resumes when the fault ends. The polling code runs in-process
// against simulated devices and a real SMTP server; the stop and a long
// outage are run against the program itself.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <csignal>
#include <map>

#include "common/Clock.h"
#include "core/DataLogs.h"
#include "core/EmailNotification.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "db/Database.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "support/FixedPorts.h"
#include "support/HeadlessProgram.h"
#include "support/SimDevices.h"
#include "support/SmtpServer.h"

namespace {
const QString kFailureSubject = QStringLiteral("Message from Corvane Vantor-E");

// Another program's connection to zolo.mdb holding a transaction open:
// "BEGIN IMMEDIATE" is an open write transaction (others may still read),
// "BEGIN EXCLUSIVE" keeps readers out as well.
class OtherConnection {
  public:
    OtherConnection(const QString& path, const QString& begin) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kName);
        db.setDatabaseName(path);
        held_ = db.open() && QSqlQuery(db).exec(begin);
    }
    ~OtherConnection() { Release(); }
    bool Held() const { return held_; }
    void Release() {
        if (!QSqlDatabase::contains(kName)) return;
        {
            QSqlDatabase db = QSqlDatabase::database(kName, false);
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase(kName);
        held_ = false;
    }

  private:
    static inline const QString kName = QStringLiteral("other-program");
    bool held_ = false;
};

// The data log files of the program directory, by name.
std::map<QString, QByteArray> DataFiles(const QString& dir) {
    std::map<QString, QByteArray> files;
    for (const QString& name : QDir(dir).entryList({QStringLiteral("Sensor-*.dat")})) {
        QFile file(QDir(dir).filePath(name));
        if (file.open(QIODevice::ReadOnly)) files[name] = file.readAll();
    }
    return files;
}

// Files of one sensor: its description, hourly and monthly files.
std::map<QString, QByteArray> SensorFiles(const std::map<QString, QByteArray>& all, qint64 id) {
    std::map<QString, QByteArray> files;
    const QString prefix = QStringLiteral("Sensor-%1").arg(id);
    for (const auto& [name, bytes] : all) {
        if (name == prefix + ".dat" || name.startsWith(prefix + ' ')) files[name] = bytes;
    }
    return files;
}

int CountOf(const QString& text, const QString& part) {
    return static_cast<int>(text.count(part));
}

// Entries the error log could not store go to standard error, each kind
// (function text) once per outage, not every cycle.
void ExpectEachKindToldOnce(const QString& told) {
    const QStringList lines = told.split('\n').filter(QStringLiteral("error log unavailable"));
    EXPECT_FALSE(lines.isEmpty()) << told.toStdString();
    for (const QString& line : lines) {
        const QString kind = line.section(QStringLiteral("): "), 1).section(':', 0, 0);
        EXPECT_EQ(CountOf(told, "): " + kind + ":"), 1) << told.toStdString();
    }
}

class FaultMatrixTest : public MailingTest {
  protected:
    // One SMTP server for the suite; each test counts only what it sent.
    static void SetUpTestSuite() { smtp = new SmtpServer; }
    static void TearDownTestSuite() {
        delete smtp;
        smtp = nullptr;
    }
    void SetUp() override {
        MailingTest::SetUp();
        SKIP_IF_PORTS_HELD(LoopbackTcp10001());
        ConfigParameters.TCPTimeOut = 2;
        ConfigParameters.CommunicationRetry = 1;
        ConfigParameters.UpdateRate = 5;
        ASSERT_TRUE(smtp->IsRunning()) << smtp->Error().toStdString();
        mailsBefore = smtp->Messages().size();
        smtp->UseInSettings(2);
        SaveSettings();
        Clock::SetForTest(QDateTime(QDate(2026, 3, 7), QTime(22, 0, 0)));
    }
    void TearDown() override {
        Polling::StopPollTimer();
        devices.clear();
        Database::CloseConnection();
        MailingTest::TearDown();
    }
    // The cycle reads the settings file again for every device.
    void SaveSettings() {
        ASSERT_TRUE(Settings::SaveConfigFile());
        EmailNotification::SetupMailer();
    }

    // A QX700-5 with a probe on port 0 and a second one on port 1; sensors
    // of the n-th device (from 1) have the IDs 2n-1 and 2n.
    devsim::Device& AddDevice(const QString& address, const QString& name,
                              const QString& emailList = QString()) {
        devsim::Device& device = devices.Start(address);
        device.setPortValue(0, 38);
        device.setPortValue(1, 40);
        DialogScript dialogs;
        const qint64 id = devices.Register(name, address, emailList);
        devices.AddSensor(id, name + " freezer", 0);
        devices.AddSensor(id, name + " fridge", 1);
        int count = 0;
        ServerDatabase::CountNamedSensors(count);
        StatusGrid::Model().ConfigureServerStatusGrid(count);
        return device;
    }

    // One polling cycle, a minute after the last; its length in ms.
    qint64 Cycle() {
        QElapsedTimer timer;
        timer.start();
        Polling::PollAll();
        const qint64 elapsed = timer.elapsed();
        // Its e-mails are delivered within its minute.
        EXPECT_TRUE(DeliverOutbox());
        Clock::AdvanceForTest(60);
        return elapsed;
    }

    QString Line(const QString& name, const QString& address) const {
        const QString key = Polling::DeviceStatusKey(name, address);
        for (const QString& line : StatusList::Lines()) {
            if (line.startsWith(key)) return line.mid(key.size());
        }
        return QStringLiteral("<none>");
    }
    // This test's e-mails.
    std::vector<SmtpServer::Received> Sent() const {
        auto all = smtp->Messages();
        all.erase(all.begin(),
                  all.begin() + static_cast<std::ptrdiff_t>(std::min(mailsBefore, all.size())));
        return all;
    }
    int Mails(const QString& subject) const {
        int count = 0;
        for (const auto& m : Sent()) count += m.Header("Subject") == subject;
        return count;
    }
    // Records of a sensor's monthly file.
    int Readings(qint64 sensorId) const {
        QFile file(FilePath(DataLogs::InstantaneousFileName(sensorId, Clock::Now())));
        return file.exists() ? static_cast<int>(file.size() / DataLogs::kInstantLength) : 0;
    }

    static inline SmtpServer* smtp = nullptr;
    size_t mailsBefore = 0;
    SimDevices devices;
};

// ---------------------------------------------------------------- devices

// Every misbehaving device at once, beside a good one: each wait is bounded
// by the answer time-out, the good device is read every cycle, and each
// failed device is booked once, mailed once and closed when it answers again.
TEST_F(FaultMatrixTest, DeviceFaults) {
    struct Case {
        devsim::Fault fault;
        bool answers;  // an answer followed by more still counts as read
    };
    const std::vector<Case> cases{{devsim::Fault::Garbage, false},
                                  {devsim::Fault::Huge, true},
                                  {devsim::Fault::CloseMidAnswer, false},
                                  {devsim::Fault::Silent, false}};
    devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen");
    for (size_t i = 0; i < cases.size(); ++i) {
        AddDevice(QStringLiteral("127.0.0.%1").arg(i + 3), devsim::faultName(cases[i].fault));
    }
    Cycle();
    const auto before = DataFiles(Dir());

    for (size_t i = 0; i < cases.size(); ++i) {
        devsim::FaultSettings fault;
        fault.fault = cases[i].fault;
        fault.hugeBytes = 4 << 20;
        devices[i + 1]->setFault(fault);
    }
    for (int cycle = 1; cycle <= 2; ++cycle) {
        // Two devices never complete an answer: two answer time-outs.
        EXPECT_LT(Cycle(), 2 * 2000 + 2000) << "cycle " << cycle;
        EXPECT_EQ(Line("Kitchen", "127.0.0.2"), ": OK");
        EXPECT_EQ(Readings(1), 1 + cycle);
    }
    EXPECT_EQ(kitchen.connectionCount(), 6);
    const auto during = DataFiles(Dir());
    QStringList failed;
    for (size_t i = 0; i < cases.size(); ++i) {
        const QString name = devsim::faultName(cases[i].fault);
        SCOPED_TRACE(name.toStdString());
        const qint64 sensor = 2 * static_cast<qint64>(i + 2) - 1;
        EXPECT_EQ(Line(name, QStringLiteral("127.0.0.%1").arg(i + 3)),
                  cases[i].answers ? ": OK" : ": FAILED");
        if (cases[i].answers) {
            EXPECT_EQ(Readings(sensor), 3);
        } else {
            // What was logged before the fault stays as it was.
            EXPECT_EQ(SensorFiles(during, sensor), SensorFiles(before, sensor));
            EXPECT_EQ(StatusGrid::Model().Rows()[static_cast<size_t>(sensor - 1)].status,
                      "NO DATA");
            failed << QStringLiteral("%1|False|1").arg(i + 2);
        }
    }
    EXPECT_EQ(Rows("SELECT ServerIDNum, BackOnLine, EmailSent <> 'False' FROM "
                   "tblServerFailures ORDER BY ServerIDNum"),
              failed);
    EXPECT_EQ(Mails(kFailureSubject), failed.size());
    // Device faults are the failure table's, not the error log's.
    EXPECT_EQ(Rows("SELECT myFunction, Cause FROM tblErrors"), QStringList{});

    for (size_t i = 0; i < cases.size(); ++i) devices[i + 1]->clearFault();
    EXPECT_LT(Cycle(), 2500);
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(Line(devsim::faultName(cases[i].fault), QStringLiteral("127.0.0.%1").arg(i + 3)),
                  ": OK");
    }
    EXPECT_EQ(Rows("SELECT count(*) FROM tblServerFailures WHERE BackOnLine = 'False'"),
              QStringList{"0"});
}

// ---------------------------------------------------------------- mail

class MailFaultTest : public FaultMatrixTest, public ::testing::WithParamInterface<bool> {};

// Down: nothing listens. Silent: the server accepts and never greets, and
// every wait is bounded by the mail time-out.
TEST_P(MailFaultTest, AlarmsAndFailuresAreKeptWithTheReasonAndMailedAgainOnceItIsBack) {
    const bool silent = GetParam();
    std::unique_ptr<SmtpServer> quiet;
    if (silent) {
        SmtpServer::Options options;
        options.silent = true;
        quiet = std::make_unique<SmtpServer>(options);
        ASSERT_TRUE(quiet->IsRunning()) << quiet->Error().toStdString();
        quiet->UseInSettings(1);
    } else {
        ConfigParameters.SMTPPort = static_cast<qint16>(SmtpServer::ClosedPort());
    }
    SaveSettings();
    devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen", "chef@corvane.test,");
    devsim::Device& cellar = AddDevice("127.0.0.3", "Cellar");
    kitchen.setPort(0, {80, 4, 1});
    cellar.setFault(devsim::Fault::Refuse);

    for (int cycle = 1; cycle <= 3; ++cycle) {
        // At most one e-mail per cycle here, each within the time-out.
        EXPECT_LT(Cycle(), 5000) << "cycle " << cycle;
        EXPECT_EQ(Line("Kitchen", "127.0.0.2"), ": OK");
        EXPECT_EQ(Readings(1), cycle);
    }
    const QStringList alarm = Rows("SELECT Sensor, AlarmEnd IS NULL, EmailSent FROM tblAlarms");
    ASSERT_EQ(alarm.size(), 1);
    EXPECT_TRUE(alarm[0].startsWith("Kitchen freezer|1|There was an error sending an alarm email"))
        << alarm[0].toStdString();
    EXPECT_TRUE(StatusList::Lines().contains("Error sending Alarm EmailSee Alarm Tab for details"));
    const QStringList failure = Rows("SELECT BackOnLine, EmailSent FROM tblServerFailures");
    ASSERT_EQ(failure.size(), 1);
    EXPECT_TRUE(failure[0].startsWith("False|")) << failure[0].toStdString();
    EXPECT_NE(failure[0], "False|False");  // the reason, so that it is not tried every cycle
    // The one failed failure e-mail in the error log; alarm e-mails keep
    // their reason in the alarm record.
    EXPECT_EQ(Rows("SELECT myFunction FROM tblErrors"), QStringList{"SendTextEmail"});

    // The server is back: the next alarm and the next outage go out.
    smtp->UseInSettings(2);
    SaveSettings();
    kitchen.setPort(1, {75, 2, 1});
    cellar.clearFault();
    Cycle();
    cellar.setFault(devsim::Fault::Refuse);
    Cycle();
    Cycle();
    EXPECT_EQ(Mails("Sensor: Kitchen fridge has generated an alarm!"), 1);
    EXPECT_EQ(Mails(kFailureSubject), 1);
    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_EQ(Rows("SELECT count(*) FROM tblAlarms"), QStringList{"2"});
}

INSTANTIATE_TEST_SUITE_P(Server, MailFaultTest, ::testing::Values(false, true),
                         [](const auto& info) {
                             return std::string(info.param ? "Silent" : "Down");
                         });

// ---------------------------------------------------------------- database

// Another program keeps a transaction open over several cycles. Under an
// open write transaction the devices are still read and logged, a device
// back on line does not end the cycle for the ones after it, and the writes
// that cannot be made are told once and made once the lock is gone. An
// exclusive lock keeps the register itself out of reach. Neither stalls
// every cycle.
TEST_F(FaultMatrixTest, DatabaseLockedLongerThanACycle) {
    devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen", "chef@corvane.test,");
    devsim::Device& cellar = AddDevice("127.0.0.3", "Cellar");
    devsim::Device& attic = AddDevice("127.0.0.4", "Attic");
    kitchen.setPort(1, {80, 4, 1});
    Cycle();
    const QString firstAlarm = QStringLiteral(
        "SELECT IDNum, AlarmStart, Sensor, CurrentData, EmailSent FROM tblAlarms WHERE IDNum = 1");
    const QStringList alarmBefore = Rows(firstAlarm);
    ASSERT_EQ(alarmBefore.size(), 1);

    for (const char* begin : {"BEGIN IMMEDIATE", "BEGIN EXCLUSIVE"}) {
        SCOPED_TRACE(begin);
        const bool readersToo = QString::fromLatin1(begin).contains("EXCLUSIVE");
        cellar.setFault(devsim::Fault::Refuse);  // an outage that ends under the lock
        Cycle();
        cellar.clearFault();
        const int kitchenBefore = Readings(1);
        const int cellarBefore = Readings(3);
        kitchen.setPort(0, {81, 5, 1});  // a new alarm
        kitchen.setPort(1, {40, 0, 0});  // the old one ends
        attic.setFault(devsim::Fault::Refuse);
        OtherConnection other(FilePath("zolo.mdb"), QString::fromLatin1(begin));
        ASSERT_TRUE(other.Held());
        testing::internal::CaptureStderr();
        // The first statement waits for the lock in vain; later ones do not
        // wait again.
        std::vector<qint64> lengths;
        for (int cycle = 0; cycle < 3; ++cycle) lengths.push_back(Cycle());
        const QString told = QString::fromStdString(testing::internal::GetCapturedStderr());
        EXPECT_LT(lengths[0], 3000 + 3000) << told.toStdString();
        EXPECT_LT(lengths[1], 2500);
        EXPECT_LT(lengths[2], 2500);
        if (!readersToo) {
            EXPECT_EQ(Line("Kitchen", "127.0.0.2"), ": OK");
            EXPECT_EQ(Line("Cellar", "127.0.0.3"), ": OK");
            EXPECT_EQ(Line("Attic", "127.0.0.4"), ": FAILED");
            EXPECT_EQ(Readings(1), kitchenBefore + 3);
            EXPECT_EQ(Readings(3), cellarBefore + 3);
        }
        ExpectEachKindToldOnce(told);
        other.Release();

        // The lock is gone: the new alarm is opened and mailed, the old one
        // closed, the outages closed and booked; nothing written before is
        // lost.
        Cycle();
        Cycle();
        EXPECT_EQ(Rows("SELECT Sensor, AlarmEnd IS NULL FROM tblAlarms WHERE AlarmActive <> 0"),
                  QStringList{"Kitchen freezer|1"});
        EXPECT_EQ(Rows("SELECT ServerName, EmailSent <> 'False' FROM tblServerFailures "
                       "WHERE BackOnLine = 'False'"),
                  QStringList{"Attic|1"});
        // Back to the first state for the next round.
        kitchen.setPort(0, {38, 0, 0});
        kitchen.setPort(1, {80, 4, 1});
        attic.clearFault();
        Cycle();
    }
    EXPECT_EQ(Rows(firstAlarm), alarmBefore);
    EXPECT_EQ(Rows("SELECT count(*) FROM tblServerFailures WHERE BackOnLine = 'False'"),
              QStringList{"0"});
    EXPECT_EQ(Mails("Sensor: Kitchen freezer has generated an alarm!"), 2);
    EXPECT_EQ(Mails(kFailureSubject), 2);
}

// zolo.mdb deleted, replaced by garbage, by a fresh copy, and restored: no
// file is created or touched in its place, each kind of error is told once,
// the devices are read with the last register meanwhile, and polling goes
// on with the restored register.
TEST_F(FaultMatrixTest, DatabaseDeletedOrReplacedWhileRunning) {
    devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen");
    kitchen.setPort(1, {80, 4, 1});
    Cycle();
    const QStringList alarms = Rows("SELECT * FROM tblAlarms");
    const QString database = FilePath("zolo.mdb");
    const QString saved = FilePath("zolo.saved");
    ASSERT_TRUE(QFile::rename(database, saved));

    testing::internal::CaptureStderr();
    for (int cycle = 0; cycle < 2; ++cycle) EXPECT_LT(Cycle(), 2500);
    QString told = QString::fromStdString(testing::internal::GetCapturedStderr());
    EXPECT_FALSE(QFile::exists(database));
    EXPECT_EQ(kitchen.connectionCount(), 6);  // read with the last register
    EXPECT_EQ(CountOf(told, "RecordServers()"), 1) << told.toStdString();

    QByteArray junk(8192, '\0');
    for (int i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 131) % 251);
    {
        QFile garbage(database);
        ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
        garbage.write(junk);
    }
    testing::internal::CaptureStderr();
    for (int cycle = 0; cycle < 2; ++cycle) EXPECT_LT(Cycle(), 2500);
    told = QString::fromStdString(testing::internal::GetCapturedStderr());
    EXPECT_LE(CountOf(told, "RecordServers()"), 1) << told.toStdString();
    {
        QFile garbage(database);
        ASSERT_TRUE(garbage.open(QIODevice::ReadOnly));
        EXPECT_EQ(garbage.readAll(), junk);
    }

    EXPECT_EQ(kitchen.connectionCount(), 10);

    // A fresh copy is an empty register: nothing to poll, nothing wrong.
    ASSERT_TRUE(QFile::remove(database));
    ProvisionDatabase();
    Cycle();
    EXPECT_EQ(kitchen.connectionCount(), 10);
    EXPECT_EQ(Rows("SELECT count(*) FROM tblErrors"), QStringList{"0"});

    ASSERT_TRUE(QFile::remove(database));
    ASSERT_TRUE(QFile::rename(saved, database));
    const int readings = Readings(1);
    Cycle();
    EXPECT_EQ(kitchen.connectionCount(), 12);
    EXPECT_EQ(Readings(1), readings + 1);
    EXPECT_EQ(Rows("SELECT * FROM tblAlarms"), alarms);
}

// ---------------------------------------------------------------- the records

const QString kAlarmSubject = QStringLiteral("Sensor: Kitchen freezer has generated an alarm!");

// Another program holds a write lock while an alarm starts and ends: it is
// mailed when it starts, and written with its own start and end once the
// lock is gone.
TEST_F(FaultMatrixTest, AlarmThatStartsAndEndsUnderAWriteLockIsOneRecordAndOneEmail) {
    devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen", "chef@corvane.test,");
    Cycle();
    OtherConnection other(FilePath("zolo.mdb"), QStringLiteral("BEGIN IMMEDIATE"));
    ASSERT_TRUE(other.Held());
    kitchen.setPort(0, {81, 5, 1});
    Cycle();
    EXPECT_EQ(Mails(kAlarmSubject), 1);
    kitchen.setPort(0, {38, 0, 0});
    Cycle();
    EXPECT_TRUE(StatusList::Lines().join('\n').contains("Database records cannot be written"));
    other.Release();
    Cycle();
    EXPECT_EQ(Rows("SELECT AlarmStart, AlarmEnd, AlarmActive, EmailSent LIKE '2026-%',"
                   " CauseOfAlarm LIKE 'Kitchen freezer is out of limits%' FROM tblAlarms"),
              QStringList{"2026-03-07 22:01:00|2026-03-07 22:02:00|0|1|1"});
    EXPECT_EQ(Mails(kAlarmSubject), 1);
    EXPECT_FALSE(StatusList::Lines().join('\n').contains("Database records"));
}

// Alarm, normal, alarm inside one outage of reading: two records, two
// e-mails, and the grid shows the second alarm.
TEST_F(FaultMatrixTest, TwoAlarmsOfASensorInOneReadOutageAreTwoRecords) {
    devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen", "chef@corvane.test,");
    Cycle();
    OtherConnection other(FilePath("zolo.mdb"), QStringLiteral("BEGIN EXCLUSIVE"));
    ASSERT_TRUE(other.Held());
    for (const devsim::PortState& reading : {devsim::PortState{81, 5, 1}, {38, 0, 0}, {82, 6, 1}}) {
        kitchen.setPort(0, reading);
        Cycle();
    }
    EXPECT_EQ(StatusGrid::Model().Rows()[0].status, "ALARM");
    EXPECT_EQ(Mails(kAlarmSubject), 2);
    other.Release();
    Cycle();
    EXPECT_EQ(
        Rows("SELECT AlarmStart, coalesce(AlarmEnd, 'open'), CurrentData FROM tblAlarms"
             " ORDER BY IDNum"),
        (QStringList{"2026-03-07 22:01:00|2026-03-07 22:02:00|81", "2026-03-07 22:03:00|open|82"}));
    EXPECT_EQ(Mails(kAlarmSubject), 2);
}

// A failure row that cannot be updated for six cycles: one e-mail, whose
// sending is written once the database takes it.
TEST_F(FaultMatrixTest, FailureRowThatCannotBeUpdatedIsMailedOnce) {
    ConfigParameters.ServerFailureEmailAddress = "admin@corvane.test";
    SaveSettings();
    AddDevice("127.0.0.3", "Cellar").setFault(devsim::Fault::Refuse);
    Cycle();
    OtherConnection other(FilePath("zolo.mdb"), QStringLiteral("BEGIN IMMEDIATE"));
    ASSERT_TRUE(other.Held());
    for (int cycle = 0; cycle < 6; ++cycle) Cycle();
    EXPECT_EQ(Mails(kFailureSubject), 1);
    other.Release();
    Cycle();
    EXPECT_EQ(Rows("SELECT ServerName, BackOnLine, EmailSent LIKE '2026-03-07 22:01:%'"
                   " FROM tblServerFailures"),
              QStringList{"Cellar|False|1"});
    EXPECT_EQ(Mails(kFailureSubject), 1);
}

// ---------------------------------------------------------------- the program

// SIGTERM while the cycle waits for a silent device (three attempts of 9 s
// each): the program stops at once, sends one shutdown e-mail however often
// it is told to stop, and keeps what the cycle wrote before.
TEST_F(FaultMatrixTest, SigtermWhileADeviceIsSilent) {
    ConfigParameters.TCPTimeOut = 9;
    ConfigParameters.CommunicationRetry = 3;
    SaveSettings();
    devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen", "chef@corvane.test,");
    devsim::Device& cellar = AddDevice("127.0.0.3", "Cellar");
    kitchen.setPort(1, {80, 4, 1});
    cellar.setFault(devsim::Fault::Silent);

    HeadlessProgram fernlog(Dir());
    ASSERT_TRUE(fernlog.Started());
    // The devices are contacted at once: the kitchen's readings are logged
    // and its alarm mailed while the cycle still waits for the cellar.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return cellar.connectionCount() > 0 && Readings(1) == 1 &&
                   Mails("Sensor: Kitchen fridge has generated an alarm!") == 1;
        },
        15000))
        << fernlog.Output().toStdString();
    QElapsedTimer stopping;
    stopping.start();
    fernlog.Signal(SIGTERM);
    fernlog.Signal(SIGTERM);
    ASSERT_TRUE(fernlog.Ended(8000)) << fernlog.Output().toStdString();
    EXPECT_LT(stopping.elapsed(), 5000);
    EXPECT_TRUE(fernlog.CleanExit()) << fernlog.Output().toStdString();

    EXPECT_EQ(Mails("Corvane Vantor-E has been shutdown!"), 1);
    EXPECT_EQ(Mails("Sensor: Kitchen fridge has generated an alarm!"), 1);
    EXPECT_EQ(Rows("SELECT Sensor, AlarmEnd IS NULL FROM tblAlarms"),
              QStringList{"Kitchen fridge|1"});
    EXPECT_EQ(Readings(1), 1);
    // The abandoned cycle books no outage for the silent device.
    EXPECT_EQ(Rows("SELECT count(*) FROM tblServerFailures"), QStringList{"0"});
}

// Another program holds a write transaction open from before the start
// until the program has met it in a cycle: it reads and logs the devices,
// mails the alarm, tells the errors on standard error, writes what it could
// not once the lock is gone, and still stops cleanly.
TEST_F(FaultMatrixTest, LongDatabaseLockOutlastedByTheProgram) {
    devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen", "chef@corvane.test,");
    devsim::Device& cellar = AddDevice("127.0.0.3", "Cellar");
    kitchen.setPort(0, {81, 5, 1});
    cellar.setFault(devsim::Fault::Refuse);
    OtherConnection other(FilePath("zolo.mdb"), QStringLiteral("BEGIN IMMEDIATE"));
    ASSERT_TRUE(other.Held());

    HeadlessProgram fernlog(Dir());
    ASSERT_TRUE(fernlog.Started());
    // The outage of the last device is the last write of the cycle.
    ASSERT_TRUE(fernlog.Told("Device Cellar at 127.0.0.3 did not answer"))
        << fernlog.Output().toStdString();
    EXPECT_TRUE(fernlog.Running());
    EXPECT_EQ(Readings(1), 1);
    EXPECT_TRUE(fernlog.Told("they are kept in FernlogJournal.dat"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Sent().size() == 1; }, 10000));
    other.Release();

    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Rows("SELECT count(*) FROM tblAlarms") == QStringList{"1"} &&
                   Rows("SELECT count(*) FROM tblServerFailures") == QStringList{"1"};
        },
        15000))
        << fernlog.Output().toStdString();
    // Written at the start of the next cycle.
    EXPECT_LE(Readings(1), 2);
    fernlog.Signal(SIGTERM);
    ASSERT_TRUE(fernlog.Ended(10000));
    EXPECT_TRUE(fernlog.CleanExit());
    ExpectEachKindToldOnce(fernlog.Output());
    EXPECT_EQ(Mails("Sensor: Kitchen freezer has generated an alarm!"), 1);
    EXPECT_EQ(Mails("Corvane Vantor-E has been shutdown!"), 1);
}

// An alarm that starts while the database cannot be read, a SIGTERM, a
// restart under a write lock during which the alarm ends, a kill, and a
// restart with the database free: one record with the real start and end,
// one e-mail.
TEST_F(FaultMatrixTest, AlarmUnderAnOutageOutlastsAStopAndAKill) {
    devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen", "chef@corvane.test,");
    const QString alarmStarted =
        QStringLiteral("Alarm started: device Kitchen, sensor Kitchen freezer");
    QDateTime started;
    {
        HeadlessProgram first(Dir());
        ASSERT_TRUE(QTest::qWaitFor([&] { return Readings(1) >= 1; }, 15000))
            << first.Output().toStdString();
        OtherConnection other(FilePath("zolo.mdb"), QStringLiteral("BEGIN EXCLUSIVE"));
        ASSERT_TRUE(other.Held());
        started = QDateTime::currentDateTime().addSecs(-1);
        kitchen.setPort(0, {81, 5, 1});
        ASSERT_TRUE(first.Told(alarmStarted)) << first.Output().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return Mails(kAlarmSubject) == 1; }, 15000));
        ASSERT_TRUE(first.Stop());
    }
    {
        OtherConnection other(FilePath("zolo.mdb"), QStringLiteral("BEGIN IMMEDIATE"));
        ASSERT_TRUE(other.Held());
        HeadlessProgram second(Dir());
        const int readings = Readings(1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Readings(1) >= readings + 2; }, 15000))
            << second.Output().toStdString();
        kitchen.setPort(0, {38, 0, 0});
        ASSERT_TRUE(second.Told("Alarm ended: device Kitchen")) << second.Output().toStdString();
        EXPECT_FALSE(second.Output().contains(alarmStarted));
        second.Signal(SIGKILL);
        ASSERT_TRUE(second.Ended(10000));
    }
    HeadlessProgram third(Dir());
    const bool written = QTest::qWaitFor(
        [&] { return Rows("SELECT AlarmEnd IS NOT NULL FROM tblAlarms") == QStringList{"1"}; },
        20000);
    ASSERT_TRUE(third.Stop());
    ASSERT_TRUE(written) << third.Output().toStdString();
    const QStringList row = Rows("SELECT AlarmStart, EmailSent LIKE '20%' FROM tblAlarms");
    ASSERT_EQ(row.size(), 1);
    const QDateTime start = Clock::FromDbStamp(row[0].section('|', 0, 0));
    EXPECT_GE(start, started.addSecs(-1)) << row[0].toStdString();
    EXPECT_LE(start, started.addSecs(15)) << row[0].toStdString();
    EXPECT_EQ(row[0].section('|', 1), "1");
    EXPECT_EQ(Mails(kAlarmSubject), 1);
    EXPECT_FALSE(third.Output().contains(alarmStarted));
}

}  // namespace
