// fernlog --headless --http as a program with simulated devices, read by
// the clients people run: Prometheus scrapes it and answers queries,
// Chromium loads the status page. Every program talks to loopback only.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>
#include <cmath>
#include <csignal>
#include <memory>

#include "core/DataLogs.h"
#include "core/Settings.h"
#include "support/FernlogFixtures.h"
#include "support/FixedPorts.h"
#include "support/HeadlessProgram.h"
#include "support/SimDevices.h"

namespace {
QByteArray Get(const QUrl& url, int* status = nullptr) {
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 10000)) return {};
    if (status) *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply->readAll();
}

quint16 FreePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// Setup-deps installs them; a machine without them fails here, naming them.
QString Needed(const char* program) {
    const QString path = QStandardPaths::findExecutable(QString::fromLatin1(program));
    EXPECT_FALSE(path.isEmpty()) << program << " is not installed (scripts/setup-deps)";
    return path;
}

// Headless Chromium with a profile of its own; anything not on loopback
// goes to a closed local port.
QStringList ChromiumOptions(const QTemporaryDir& profile) {
    return {"--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--proxy-server=http://127.0.0.1:9",
            "--user-data-dir=" + profile.path()};
}

void Stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    if (!process.waitForFinished(20000)) process.kill();
    process.waitForFinished(5000);
}
}  // namespace

// Stands in for systemd's notification socket: a datagram socket that
// collects what the program tells it.
class NotifySocket {
  public:
    explicit NotifySocket(const QString& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = QFile::encodeName(path);
        qstrncpy(address.sun_path, bytes.constData(), sizeof address.sun_path);
        ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        // Read as messages come, as systemd does: a full queue would block
        // the sender.
        if (ok_) {
            notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
            QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Messages(); });
        }
    }
    ~NotifySocket() {
        notifier_.reset();
        if (fd_ >= 0) ::close(fd_);
    }
    bool Ok() const { return ok_; }
    QString Path() const { return path_; }
    // Every message received so far.
    QStringList Messages() {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) {
            messages_ << QString::fromUtf8(buffer, n);
        }
        return messages_;
    }

  private:
    QString path_;
    int fd_ = -1;
    bool ok_ = false;
    QStringList messages_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// Two devices, one in alarm and one that refuses, a sensor with a hostile
// name; fernlog serves on a free loopback port that its log names, and
// tells a stand-in for systemd when it is ready and alive.
class WebSimTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
        ConfigParameters.UpdateRate = 5;
        ConfigParameters.TCPTimeOut = 2;
        ConfigParameters.CommunicationRetry = 1;
        ConfigParameters.AdminUserName = QStringLiteral("admin");
        ConfigParameters.AdminPassword = QStringLiteral("cold room");
        ASSERT_TRUE(Settings::SaveConfigFile());
        devsim::Device& kitchen = devices_.Start("127.0.0.2");
        devices_.Start("127.0.0.3").setFault(devsim::Fault::Refuse);
        kitchen.setPort(0, {80, 4, 1});  // in alarm
        kitchen.setPortValue(1, 35);
        {
            DialogScript dialogs;
            devices_.Register("Kitchen", "127.0.0.2");
            devices_.Register("Cellar", "127.0.0.3");
            devices_.AddSensor(1, "Freezer", 0);
            devices_.AddSensor(1, "<script>alert(1)</script>", 1);
            devices_.AddSensor(2, "Wine", 0);
        }
        ASSERT_TRUE(notify_.Ok());
        QProcessEnvironment environment = HeadlessProgram::Environment();
        environment.insert("NOTIFY_SOCKET", notify_.Path());
        environment.insert("WATCHDOG_USEC", "2000000");
        fernlog_ = std::make_unique<HeadlessProgram>(Dir(), QStringList{"--http", "127.0.0.1:0"},
                                                     environment);
        ASSERT_TRUE(fernlog_->Started());
        const QRegularExpression listening("Web status on (http://127\\.0\\.0\\.1:\\d+/)");
        // Ready once both devices have been visited.
        const bool polled = QTest::qWaitFor(
            [&] {
                const auto match = listening.match(fernlog_->Output());
                if (!match.hasMatch()) return false;
                base_ = QUrl(match.captured(1));
                return Get(base_.resolved(QUrl("metrics"))).contains("fernlog_cycles_total 1");
            },
            30000);
        ASSERT_TRUE(polled) << fernlog_->Output().toStdString();
    }
    void TearDown() override {
        if (fernlog_) fernlog_->Stop();
        FernlogTest::TearDown();
    }

    SimDevices devices_;
    QTemporaryDir socketDir_;
    NotifySocket notify_{socketDir_.filePath("notify")};
    std::unique_ptr<HeadlessProgram> fernlog_;
    QUrl base_;
};

TEST_F(WebSimTest, PrometheusScrapesAndAnswersForASensorAndADevice) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    const QString promtool = Needed("promtool");
    const QString prometheus = Needed("prometheus");
    ASSERT_FALSE(promtool.isEmpty() || prometheus.isEmpty());

    // The metrics as served pass the format's own check.
    QProcess check;
    check.start(promtool, {"check", "metrics"});
    ASSERT_TRUE(check.waitForStarted(10000));
    const QByteArray metrics = Get(base_.resolved(QUrl("metrics")));
    check.write(metrics);
    check.closeWriteChannel();
    ASSERT_TRUE(check.waitForFinished(20000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAll().toStdString() << metrics.toStdString();

    QTemporaryDir work;
    const quint16 port = FreePort();
    QFile config(work.filePath("prometheus.yml"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n  scrape_interval: 1s\nscrape_configs:\n"
                                "  - job_name: fernlog\n    static_configs:\n"
                                "      - targets: ['%1']\n")
                     .arg(base_.authority())
                     .toUtf8());
    config.close();
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(prometheus, {"--config.file=" + config.fileName(),
                              "--storage.tsdb.path=" + work.filePath("data"),
                              QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port)});
    ASSERT_TRUE(server.waitForStarted(10000));
    const auto query = [&](const QString& expression) {
        QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(port));
        url.setQuery(QUrlQuery{{"query", expression}});
        const QJsonArray result = QJsonDocument::fromJson(Get(url))["data"]["result"].toArray();
        return result.size() == 1 ? result[0]["value"][1].toString() : QString();
    };
    QString freezer, kitchen, cellar;
    const bool answered = QTest::qWaitFor(
        [&] {
            freezer = query("fernlog_sensor_value{device=\"Kitchen\",sensor=\"Freezer\"}");
            kitchen = query("fernlog_device_up{device=\"Kitchen\",address=\"127.0.0.2\"}");
            cellar = query("fernlog_device_up{device=\"Cellar\"}");
            return !freezer.isEmpty() && !kitchen.isEmpty() && !cellar.isEmpty();
        },
        40000);
    const QByteArray log =
        server.readAll() +
        Get(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v1/targets").arg(port)));
    Stop(server);
    ASSERT_TRUE(answered) << log.toStdString();
    EXPECT_EQ(freezer, "80");
    EXPECT_EQ(kitchen, "1");
    EXPECT_EQ(cellar, "0");
}

TEST_F(WebSimTest, ChromiumShowsTheStatusPage) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    const QString chromium = Needed("chromium");
    ASSERT_FALSE(chromium.isEmpty());
    QTemporaryDir profile;
    const QStringList common = ChromiumOptions(profile);
    QProcess dump;
    dump.start(chromium, common + QStringList{"--dump-dom", base_.toString()});
    // Waited for with the event loop running: the simulated devices live in
    // this process and must go on answering fernlog meanwhile.
    ASSERT_TRUE(QTest::qWaitFor([&] { return dump.state() == QProcess::NotRunning; }, 60000));
    const QString dom = QString::fromUtf8(dump.readAllStandardOutput());
    ASSERT_TRUE(dom.contains("<h1>Fernlog status</h1>"))
        << dom.toStdString() << dump.readAllStandardError().toStdString();
    EXPECT_TRUE(
        dom.contains(u"<tr><td>Kitchen</td><td><a href=\"sensor/1\">Freezer</a></td>"
                     "<td>80 \u00b0F</td><td class=\"alarm\">ALARM</td>"))
        << dom.toStdString();
    EXPECT_TRUE(
        dom.contains("<td>Cellar</td><td><a href=\"sensor/3\">Wine</a></td><td>No Data</td>"
                     "<td class=\"nodata\">NO DATA</td>"))
        << dom.toStdString();
    // The hostile name is shown as text and runs nothing.
    EXPECT_TRUE(
        dom.contains(u">&lt;script&gt;alert(1)&lt;/script&gt;</a></td><td>35 \u00b0F</td>"));
    EXPECT_FALSE(dom.contains("<script"));
    // The alarm and the device that does not answer are listed.
    const qsizetype alarms = dom.indexOf("<table id=\"alarms\">");
    ASSERT_GE(alarms, 0);
    EXPECT_TRUE(dom.indexOf("\">Freezer</a></td><td>80</td>", alarms) > alarms);
    const qsizetype down = dom.indexOf("<table id=\"down\">");
    ASSERT_GE(down, 0);
    EXPECT_TRUE(dom.indexOf("<td>Cellar</td><td>127.0.0.3</td>", down) > down);
    // No mail server is set: the page says alarm e-mail can go nowhere.
    const qsizetype warnings = dom.indexOf("<ul id=\"warnings\" class=\"bad\">");
    ASSERT_GE(warnings, 0) << dom.toStdString();
    EXPECT_GT(dom.indexOf("<li>No alarm or device-failure e-mail can be sent: no SMTP host is set"
                          "</li>",
                          warnings),
              warnings);

    // The README's picture is taken the same way (FERNLOG_WEB_SCREENSHOT).
    QString picture = qEnvironmentVariable("FERNLOG_WEB_SCREENSHOT");
    if (picture.isEmpty()) picture = profile.filePath("status.png");
    QProcess shot;
    shot.start(chromium, common + QStringList{"--screenshot=" + picture, "--window-size=720,500",
                                              "--hide-scrollbars", base_.toString()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return shot.state() == QProcess::NotRunning; }, 60000));
    QFile png(picture);
    ASSERT_TRUE(png.open(QIODevice::ReadOnly)) << shot.readAll().toStdString();
    EXPECT_TRUE(png.read(8).startsWith("\x89PNG"));
}

// A sensor's page draws its month of one-minute readings as a chart whose
// line breaks where the sensor was silent.
TEST_F(WebSimTest, ChromiumDrawsASensorsHistoryWithItsOutage) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    const QString chromium = Needed("chromium");
    ASSERT_FALSE(chromium.isEmpty());
    // Sensor 99 is not polled: only its data logs tell of it. Silent from
    // ten to seven hours ago.
    const QDateTime now = QDateTime::currentDateTime();
    QMap<QString, QByteArray> files;
    for (int m = 30 * 1440; m > 0; --m) {
        if (m <= 600 && m > 420) continue;
        const QDateTime when = now.addSecs(-60 * m);
        files[DataLogs::InstantaneousFileName(99, when)] +=
            DataLogs::EncodeInstant(when, 36 + 4 * std::sin(m / 90.0) + (m % 1440 < 30 ? 6 : 0));
    }
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QFile file(FilePath(it.key()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(it.value()) == it->size());
    }
    ASSERT_TRUE(DataLogs::SaveSensorDatToFile(Dir(), 99, "Cold room", "Kitchen", QString()));

    QTemporaryDir profile;
    const QStringList common = ChromiumOptions(profile);
    for (const char* range : {"24h", "30d"}) {
        const QString page =
            base_.resolved(QUrl(QStringLiteral("sensor/99?range=") + range)).toString();
        QProcess dump;
        dump.start(chromium, common + QStringList{"--dump-dom", page});
        ASSERT_TRUE(dump.waitForFinished(60000));
        const QString dom = QString::fromUtf8(dump.readAllStandardOutput());
        ASSERT_TRUE(dom.contains("<svg id=\"chart\"")) << dom.toStdString();
        const auto line = QRegularExpression("class=\"line\"[^>]* d=\"([^\"]*)\"").match(dom);
        ASSERT_TRUE(line.hasMatch()) << range;
        // Drawn in two pieces, each a few points per pixel column at most.
        EXPECT_EQ(line.captured(1).count('M'), 2) << range;
        EXPECT_LT(line.captured(1).count('L'), 2000) << range;
        EXPECT_TRUE(dom.contains("<h1>Kitchen - Cold room</h1>")) << range;
    }

    // The README's picture (FERNLOG_DOCS_SHOTS=folder).
    const QString folder = qEnvironmentVariable("FERNLOG_DOCS_SHOTS");
    const QString picture = QDir(folder.isEmpty() ? profile.path() : folder).filePath("sensor.png");
    QProcess shot;
    shot.start(chromium,
               common + QStringList{"--screenshot=" + picture, "--window-size=820,640",
                                    "--hide-scrollbars",
                                    base_.resolved(QUrl("sensor/99?range=24h")).toString()});
    ASSERT_TRUE(shot.waitForFinished(60000));
    QFile png(picture);
    ASSERT_TRUE(png.open(QIODevice::ReadOnly)) << shot.readAll().toStdString();
    EXPECT_TRUE(png.read(8).startsWith("\x89PNG"));
}

// The browser test's node script (tests/browser, set up by scripts/setup-deps)
// signs in, acknowledges the freezer's alarm and reads who was told, signs
// off a day of a sensor and switches its chart to 7 days, adds and removes a
// maintenance window by clicking, and has a page of another origin post a
// comment, which is refused.
TEST_F(WebSimTest, ChromiumSignsInAndAcknowledgesAnAlarmFromItsPage) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    const QString node = Needed("node");
    ASSERT_FALSE(node.isEmpty());
    ASSERT_TRUE(QFile::exists(FERNLOG_BROWSER_DIR "/node_modules/playwright-core"))
        << "playwright-core is not installed in tests/browser (scripts/setup-deps)";
    ASSERT_TRUE(DataLogs::SaveReading(Dir(), 99, "Cold room", "Kitchen", "F", 36,
                                      QDateTime::currentDateTime().addSecs(-600)));
    QProcess script;
    script.setProcessChannelMode(QProcess::SeparateChannels);
    script.start(node, {FERNLOG_BROWSER_DIR "/alarm.mjs", base_.toString(), "admin", "cold room",
                        "Freezer", "99"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.state() == QProcess::NotRunning; }, 120000));
    const QString id = QString::fromUtf8(script.readAllStandardOutput()).trimmed();
    ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();

    const auto command = [](const QStringList& args) {
        QProcess fernlog;
        fernlog.start(FERNLOG_PATH, args);
        fernlog.waitForFinished(20000);
        return QJsonDocument::fromJson(fernlog.readAllStandardOutput()).array();
    };
    const QJsonArray alarms = command({"alarms", "--json", "--dir", Dir()});
    const auto alarm = std::find_if(alarms.begin(), alarms.end(), [&](const QJsonValue& a) {
        return QString::number(a.toObject()["id"].toInteger()) == id;
    });
    ASSERT_NE(alarm, alarms.end()) << id.toStdString();
    EXPECT_EQ(alarm->toObject()["state"], "acknowledged");
    EXPECT_EQ(alarm->toObject()["acknowledgedBy"], "Ann Lee");
    // The forged comment left no row.
    QStringList web;
    for (const auto& row : command({"audit", "--json", "--dir", Dir()})) {
        if (row.toObject()["origin"] == "web") web << row.toObject()["action"].toString();
    }
    web.sort();
    EXPECT_EQ(
        web, (QStringList{"acknowledge", "day review", "maintenance", "remove maintenance window"}))
        << web.join(", ").toStdString();
}

// Ready once the first cycle has ended (its figure in the status), then the
// watchdog fed at half its time while polling is alive.
TEST_F(WebSimTest, TellsTheServiceManagerReadyAfterTheFirstCycleAndFeedsTheWatchdog) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    QStringList messages;
    const auto fedAfterReady = [&] {
        const qsizetype ready = messages.indexOf(QRegularExpression("^READY=1\n.*"));
        return ready < 0 ? 0 : messages.mid(ready).count("WATCHDOG=1");
    };
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            messages = notify_.Messages();
            return fedAfterReady() >= 2;
        },
        10000))
        << messages.join(" / ").toStdString();
    const QStringList ready = messages.filter("READY=1");
    ASSERT_EQ(ready.size(), 1) << messages.join(" / ").toStdString();
    EXPECT_TRUE(QRegularExpression("^READY=1\nSTATUS=polling: first cycle took \\d+ ms$")
                    .match(ready.first())
                    .hasMatch())
        << fernlog_->Output().toStdString();
}
