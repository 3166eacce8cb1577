// The web side without devices: the views of a snapshot, and the listener
// on an ephemeral loopback port, asked as a client would.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTest>
#include <QTimeZone>
#include <memory>
#include <tuple>
#include <vector>

#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "core/DataLogs.h"
#include "core/Polling.h"
#include "core/Silences.h"
#include "core/StatusGrid.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "web/Listener.h"
#include "web/Render.h"
#include "web/Snapshot.h"

namespace {
struct Reply {
    int status = 0;
    QByteArray body;
};

Reply Get(quint16 port, const QString& path, const QByteArray& authorization = {}) {
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)));
    if (!authorization.isEmpty()) request.setRawHeader("Authorization", authorization);
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 10000)) return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

// What a client bound to `from` gets for the raw `request`, read until the
// listener closes the connection or `waitMs` pass; `closed` tells which.
QByteArray RawExchange(quint16 port, const QByteArray& request, bool& closed,
                       const QHostAddress& from = QHostAddress::LocalHost, int waitMs = 5000) {
    QTcpSocket socket;
    socket.bind(from, 0);
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000)) return {};
    socket.write(request);
    QByteArray answer;
    closed = QTest::qWaitFor(
        [&] {
            if (socket.isOpen()) answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        waitMs);
    return socket.isOpen() ? answer + socket.readAll() : answer;
}

Web::Snapshot Hostile() {
    Web::Snapshot s;
    s.title = "Fernlog";
    s.generated = QDateTime(QDate(2026, 12, 7), QTime(3, 0), QTimeZone::utc());
    Web::SensorView sensor;
    sensor.id = 7;
    sensor.device = "Lab \"B\"\\1";
    sensor.name = "<script>alert('x')</script>";
    sensor.reading = "80";
    sensor.value = 80;
    sensor.units = "F";
    sensor.status = "ALARM";
    sensor.colour = Colour::Red;
    sensor.alarm = true;
    s.sensors.push_back(sensor);
    s.devices.push_back({1, "Line\nbreak & <b>", "127.0.0.2", false, false, {}, s.generated});
    s.alarms.push_back({7, sensor.device, sensor.name, "80", s.generated});
    return s;
}
}  // namespace

using WebTest = FernlogTest;

// Names come from whoever edits the register: each view keeps them text.
TEST_F(WebTest, HostileNamesStayTextInEveryView) {
    const Web::Snapshot s = Hostile();
    const QString page = QString::fromUtf8(Web::StatusPage(s));
    EXPECT_FALSE(page.contains("<script")) << page.toStdString();
    EXPECT_FALSE(page.contains("<b>"));
    EXPECT_EQ(page.count("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"), 2);
    EXPECT_TRUE(page.contains("<td class=\"alarm\">ALARM</td>"));
    EXPECT_TRUE(page.contains("<td>80 F</td>"));

    const QJsonObject json = QJsonDocument::fromJson(Web::StatusJson(s)).object();
    EXPECT_EQ(json["sensors"].toArray()[0].toObject()["name"].toString(),
              "<script>alert('x')</script>");
    EXPECT_EQ(json["devices"].toArray()[0].toObject()["name"].toString(), "Line\nbreak & <b>");

    const QString metrics = QString::fromUtf8(Web::Metrics(s));
    EXPECT_TRUE(metrics.contains(
        "fernlog_sensor_value{device=\"Lab \\\"B\\\"\\\\1\",sensor=\"<script>alert('x')</script>\","
        "sensor_id=\"7\",unit=\"F\"} 80\n"))
        << metrics.toStdString();
    EXPECT_TRUE(metrics.contains(
        "fernlog_device_up{device=\"Line\\nbreak & <b>\",address=\"127.0.0.2\"} 0\n"));
}

// With a token set, nothing but 401 comes back without it, on any path.
TEST_F(WebTest, WrongOrMissingTokenGets401AndNothingElse) {
    const QString token = "0123456789abcdef";
    const auto get = [&token](const char* path, const QByteArray& auth) {
        return Web::Respond({"GET", path, auth}, token);
    };
    for (const char* path : {"/", "/metrics", "/api/v1/status", "/healthz", "/nothing"}) {
        for (const QByteArray& auth :
             {QByteArray(), QByteArray("Bearer 0123456789abcdeF"),
              QByteArray("Bearer 0123456789abcdef0"), QByteArray("0123456789abcdef")}) {
            const Web::Response reply = get(path, auth);
            EXPECT_EQ(reply.status, 401) << path << " " << auth.toStdString();
            EXPECT_EQ(reply.body, "unauthorized\n");
        }
    }
    const Web::Response ok = get("/metrics", "Bearer 0123456789abcdef");
    EXPECT_EQ(ok.status, 200);
    EXPECT_TRUE(ok.body.contains("fernlog_cycles_total 0\n"));
    // The scheme's name is case-insensitive; the token is not.
    EXPECT_EQ(get("/metrics", "bearer 0123456789abcdef").status, 200);
    EXPECT_EQ(get("/metrics", "BEARER  0123456789abcdef").status, 200);
    EXPECT_EQ(get("/nothing", "Bearer 0123456789abcdef").status, 404);

    // On the wire, with the challenge.
    Web::Endpoint endpoint;
    ASSERT_TRUE(Web::ParseEndpoint("127.0.0.1:0", token, endpoint));
    Web::Listener listener;
    ASSERT_TRUE(listener.Start(endpoint));
    bool closed = false;
    const QByteArray wire = RawExchange(listener.Port(), "GET /metrics HTTP/1.0\r\n\r\n", closed);
    EXPECT_TRUE(wire.startsWith("HTTP/1.1 401 Unauthorized\r\n")) << wire.data();
    EXPECT_TRUE(wire.contains("\r\nWWW-Authenticate: Bearer realm=\"fernlog\"\r\n"));
}

TEST_F(WebTest, AddressOutsideLoopbackNeedsALongToken) {
    Web::Endpoint endpoint;
    QString error;
    EXPECT_FALSE(Web::ParseEndpoint("0.0.0.0:9180", "", endpoint, &error));
    EXPECT_TRUE(error.contains("needs a token of at least 16 characters")) << error.toStdString();
    EXPECT_FALSE(Web::ParseEndpoint("0.0.0.0:9180", "fifteen-chars-x", endpoint));
    EXPECT_TRUE(Web::ParseEndpoint("0.0.0.0:9180", "sixteen-chars-xy", endpoint));
    EXPECT_TRUE(Web::ParseEndpoint("[::1]:9180", "", endpoint));
    EXPECT_TRUE(endpoint.address.isLoopback());
    // Octal-looking and named addresses are refused, as everywhere.
    EXPECT_FALSE(Web::ParseEndpoint("127.0.0.010:9180", "", endpoint));
    EXPECT_FALSE(Web::ParseEndpoint("localhost:9180", "", endpoint));
    EXPECT_FALSE(Web::ParseEndpoint("127.0.0.1:65536", "", endpoint));
    EXPECT_FALSE(Web::ParseEndpoint("127.0.0.1", "", endpoint));
}

// A cycle that ends keeps /healthz at 200; three update periods without one
// turn it to 503 with the reason.
TEST_F(WebTest, HealthTurns503WhenPollingStops) {
    ProvisionDatabase();
    Clock::SetForTest(QDateTime(QDate(2026, 12, 7), QTime(3, 0), QTimeZone::utc()));
    Web::MarkStarted();
    Polling::TicksPerUpdate = 12;  // a minute
    const auto get = [](const char* path) { return Web::Respond({"GET", path}, {}); };

    Polling::PollAll();  // an empty register: the cycle ends at once
    Polling::StartPollTimer();
    EXPECT_EQ(Polling::LastCycle().number, 1);
    Clock::AdvanceForTest(179);
    Web::Response reply = get("/healthz");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "ok\n");

    Clock::AdvanceForTest(2);
    reply = get("/healthz");
    EXPECT_EQ(reply.status, 503);
    // The cycle's end is its start plus its measured length: a slow
    // (sanitized) run may end it a second later.
    EXPECT_TRUE(reply.body.startsWith("no polling cycle has ended for 18")) << reply.body.data();
    EXPECT_TRUE(reply.body.endsWith(" s (allowed 180 s)\n")) << reply.body.data();
    EXPECT_TRUE(get("/metrics").body.contains("fernlog_healthy 0\n"));
    Clock::SetForTest(QDateTime());
}

// A client that sends too much, and more clients than allowed, lose their
// own connections; the listener goes on answering.
TEST_F(WebTest, FloodAndOversizedRequestsCostOnlyTheirOwnConnections) {
    Web::Endpoint endpoint;
    ASSERT_TRUE(Web::ParseEndpoint("127.0.0.1:0", "", endpoint));
    Web::Listener listener;
    ASSERT_TRUE(listener.Start(endpoint));

    QTcpSocket big;
    big.connectToHost(QHostAddress::LocalHost, listener.Port());
    ASSERT_TRUE(big.waitForConnected(5000));
    big.write("GET / HTTP/1.1\r\nHost: x\r\nX-Filler: " +
              QByteArray(Web::kMaxRequestBytes + 1000, 'a'));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return big.state() == QAbstractSocket::UnconnectedState; }, 10000));

    // 40 connections from one address that send nothing: those past its
    // share are closed, the others held, and a client at another address is
    // still answered at once.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 40; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, listener.Port());
        ASSERT_TRUE(idle.back()->waitForConnected(5000));
    }
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return idle.back()->state() == QAbstractSocket::UnconnectedState; }, 10000));
    EXPECT_EQ(idle.front()->state(), QAbstractSocket::ConnectedState);
    bool closed = false;
    const QByteArray probe =
        RawExchange(listener.Port(), "GET /healthz HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", closed,
                    QHostAddress("127.0.0.9"), 1000);
    EXPECT_TRUE(probe.startsWith("HTTP/1.1 ")) << probe.data();
    EXPECT_TRUE(closed);
    EXPECT_EQ(idle.front()->state(), QAbstractSocket::ConnectedState);
    idle.clear();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Get(listener.Port(), "/healthz").status != 0; }, 10000));
}

// A client that asks for the close gets it after the answer, instead of
// waiting for the idle time-out; one that asks to keep the connection keeps it.
TEST_F(WebTest, ConnectionIsClosedAfterTheAnswerWhenTheClientAsks) {
    Web::Endpoint endpoint;
    ASSERT_TRUE(Web::ParseEndpoint("127.0.0.1:0", "", endpoint));
    Web::Listener listener;
    ASSERT_TRUE(listener.Start(endpoint));
    bool closed = false;
    for (const QByteArray& request :
         {QByteArray("GET /nothing HTTP/1.0\r\n\r\n"),
          QByteArray("GET /nothing HTTP/1.1\r\nHost: localhost\r\nConnection: Close\r\n\r\n")}) {
        const QByteArray answer = RawExchange(listener.Port(), request, closed);
        EXPECT_TRUE(closed) << request.data();
        EXPECT_TRUE(answer.contains("\r\nConnection: close\r\n")) << answer.data();
        EXPECT_TRUE(answer.endsWith("not found\n")) << answer.data();
    }
    const QByteArray kept =
        RawExchange(listener.Port(), "GET /nothing HTTP/1.0\r\nConnection: keep-alive\r\n\r\n",
                    closed, QHostAddress::LocalHost, 1000);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(kept.endsWith("not found\n")) << kept.data();
}

// Without a token, only loopback names are answered: a page that points a
// name of its own at 127.0.0.1 (DNS rebinding) reads nothing. With a token
// the name does not matter.
TEST_F(WebTest, LoopbackWithoutTokenAnswersOnlyLoopbackHosts) {
    Web::Request request{"GET", "/nothing", {}, {}, {}};
    for (const char* host : {"", "localhost", "LOCALHOST:9180", "app.localhost.", "127.0.0.1:9180",
                             "127.3.4.5", "[::1]:9180", "[::1]"}) {
        request.host = host;
        EXPECT_EQ(Web::Respond(request, {}).status, 404) << host;
    }
    for (const char* host : {"evil.example:9180", "localhost.evil.example", "10.0.0.1",
                             "127.0.0.010", "[::2]:9180", "[::1]x", "0x7f000001"}) {
        request.host = host;
        const Web::Response response = Web::Respond(request, {});
        EXPECT_EQ(response.status, 403) << host;
        EXPECT_EQ(response.body, "only loopback names are answered without a token\n");
    }
    request.host = "evil.example";
    request.authorization = "Bearer 0123456789abcdef";
    EXPECT_EQ(Web::Respond(request, "0123456789abcdef").status, 404);
}

// The page lists the open alarms from the database; while another program
// holds the file locked it says so (its own connection waits for no lock).
TEST_F(WebTest, OpenAlarmsAreListedAndALockedDatabaseIsTold) {
    ProvisionDatabase();
    ASSERT_TRUE(ServerDatabase::AddAlarmRecord(3, QDateTime(QDate(2026, 12, 7), QTime(3, 0)),
                                               "Kitchen", "Fridge <1>", "41", 4, -1));
    const auto get = [](const char* path) { return Web::Respond({"GET", path}, {}); };
    const QByteArray listed = get("/").body;
    EXPECT_TRUE(
        listed.contains("<tr><td>Kitchen</td><td><a href=\"sensor/3\">Fridge "
                        "&lt;1&gt;</a></td><td>41</td><td><a href=\"alarm/"))
        << listed.data();
    EXPECT_TRUE(
        listed.contains("12/7/2026 3:00:00 AM</a></td><td class=\"state\">"
                        "unacknowledged</td>"));

    {
        QSqlDatabase locker = QSqlDatabase::addDatabase("QSQLITE", "locker");
        locker.setDatabaseName(FilePath("zolo.mdb"));
        ASSERT_TRUE(locker.open());
        QSqlQuery lock(locker);
        ASSERT_TRUE(lock.exec("BEGIN EXCLUSIVE"));
        const Web::Response page = get("/");
        EXPECT_EQ(page.status, 200);
        EXPECT_TRUE(page.body.contains("The alarm records cannot be read now."))
            << page.body.data();
        EXPECT_EQ(QJsonDocument::fromJson(get("/api/v1/status").body)["openAlarms"],
                  QJsonValue::Null);
        lock.exec("ROLLBACK");
        locker.close();
    }
    QSqlDatabase::removeDatabase("locker");
    EXPECT_TRUE(get("/").body.contains("\">Fridge &lt;1&gt;</a></td>"));
}

// A duplicate series makes Prometheus refuse the whole scrape: a sensor
// left twice in the grid is shown once.
TEST_F(WebTest, SensorLeftTwiceInTheGridIsShownOnce) {
    StatusGridModel& grid = StatusGrid::Model();
    grid.ConfigureServerStatusGrid(3);
    for (const qint64 id : {4, 5, 4}) {
        GridRow& row = grid.CurrentRow();
        row.sensorId = id;
        row.sensor = QStringLiteral("Sensor %1").arg(id);
        row.status = "Normal";
        row.value = 40.3f;
        grid.MoveToNextRow();
    }
    const Web::Snapshot s = Web::Take(false);
    ASSERT_EQ(s.sensors.size(), 2u);
    const QString metrics = QString::fromUtf8(Web::Metrics(s));
    EXPECT_EQ(metrics.count("fernlog_sensor_alarm{"), 2);
    // The device's single-precision value as the device means it.
    EXPECT_EQ(metrics.count("} 40.3\n"), 2) << metrics.toStdString();
}

// An unreadable database turns the health check to 503, but polling goes on
// with the last register: the service manager's watchdog keeps being fed,
// since a restart would not mend the file.
TEST_F(WebTest, UnreadableDatabaseIsUnhealthyButAlive) {
    Web::HealthFacts facts;
    facts.now = QDateTime(QDate(2026, 12, 7), QTime(3, 0), QTimeZone::utc());
    facts.started = facts.now.addSecs(-600);
    facts.lastCycleEnd = facts.now.addSecs(-30);
    facts.pollingScheduled = true;
    facts.databaseReadable = false;
    Web::Health health = Web::JudgeHealth(facts);
    EXPECT_FALSE(health.ok);
    EXPECT_TRUE(health.alive);
    EXPECT_TRUE(health.reason.startsWith("the database cannot be read"));
    // A cycle that does not end stops both.
    facts.lastCycleEnd = facts.now.addSecs(-181);
    health = Web::JudgeHealth(facts);
    EXPECT_FALSE(health.ok || health.alive);
    EXPECT_EQ(health.reason, "no polling cycle has ended for 181 s (allowed 180 s)");
}

// What people did about the alarms shows beside them: an acknowledged
// alarm, a silenced port, a device in its weekly maintenance.
TEST_F(WebTest, AcknowledgedAndSilencedInTheJsonAndTheMetrics) {
    ProvisionDatabase();
    Clock::SetForTest(QDateTime(QDate(2026, 12, 6), QTime(3, 0)));  // a Sunday
    ASSERT_TRUE(ServerDatabase::AddAlarmRecord(3, Clock::Now().addSecs(-120), "Kitchen", "Probe",
                                               "41", 4, -1));
    ASSERT_TRUE(ServerDatabase::AddAlarmRecord(4, Clock::Now().addSecs(-60), "Kitchen", "Door",
                                               "Open", 4, -1));
    StatusGridModel& grid = StatusGrid::Model();
    grid.ConfigureServerStatusGrid(3);
    for (const auto& [sensor, device, port, status] :
         std::vector<std::tuple<qint64, qint64, int, QString>>{
             {3, 1, 0, "ALARM"}, {4, 1, 5, "ALARM"}, {5, 2, 0, "Normal"}}) {
        GridRow& row = grid.CurrentRow();
        row.sensorId = sensor;
        row.deviceId = device;
        row.port = port;
        row.sensor = QStringLiteral("Sensor %1").arg(sensor);
        row.status = status;
        grid.MoveToNextRow();
    }
    const AlarmHandling::Actor ann{"ann", "ann", AlarmHandling::Origin::Command};
    ASSERT_TRUE(AlarmHandling::Acknowledge({1, "Kitchen", true}, ann, "", QDateTime()));
    qint64 id = 0;
    ASSERT_TRUE(Silences::AddSilence(1, "Kitchen", 5, Clock::Now().addSecs(3600), ann, "", id));
    Silences::Window window;
    window.deviceId = 2;
    window.device = "Pantry";
    window.weekly = Silences::ParseWeekly("Sun 02:00-04:00");
    QString error;
    ASSERT_TRUE(Silences::AddWindow(window, ann, id, &error)) << error.toStdString();

    const Web::Snapshot s = Web::Take(true);
    const QJsonObject json = QJsonDocument::fromJson(Web::StatusJson(s)).object();
    QStringList sensors;
    for (const auto& v : json["sensors"].toArray()) {
        sensors << QStringLiteral("%1 %2 %3")
                       .arg(v.toObject()["id"].toInt())
                       .arg(v.toObject()["acknowledged"].toBool())
                       .arg(v.toObject()["silenced"].toBool());
    }
    EXPECT_EQ(sensors, (QStringList{"3 1 0", "4 0 1", "5 0 1"}));
    QStringList alarms;
    for (const auto& v : json["openAlarms"].toArray()) {
        alarms << QStringLiteral("%1 %2")
                      .arg(v.toObject()["id"].toInt())
                      .arg(v.toObject()["state"].toString());
    }
    EXPECT_EQ(alarms, (QStringList{"1 acknowledged", "2 open"}));
    const QString page = QString::fromUtf8(Web::StatusPage(s));
    for (const char* state :
         {"3\">Sensor 3</a>.*?\"state\">acknowledged<", "4\">Sensor 4</a>.*?\"state\">silenced<",
          "5\">Sensor 5</a>.*?\"state\">in maintenance<",
          "alarm/2\">.*?\"state\">unacknowledged, silenced<"}) {
        EXPECT_TRUE(page.contains(QRegularExpression(state))) << state;
    }

    const QString metrics = QString::fromUtf8(Web::Metrics(Web::Take(false)));
    EXPECT_TRUE(metrics.contains("\nfernlog_alarms_unacknowledged 1\n")) << metrics.toStdString();
    EXPECT_TRUE(metrics.contains(
        "fernlog_sensor_alarm_acknowledged{device=\"\",sensor=\"Sensor 3\",sensor_id=\"3\","
        "unit=\"\"} 1\n"));
    EXPECT_EQ(metrics.count(QRegularExpression("fernlog_silenced\\{[^}]*\\} 1\n")), 2);
}

// A month of readings is read and written out on a worker thread: its
// answer still comes before that of the request sent after it.
TEST_F(WebTest, AnswerMadeBesideTheEventLoopKeepsItsPlaceOnTheConnection) {
    Clock::SetForTest(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
    for (int m = 1; m <= 3; ++m) {
        DataLogs::SaveReading(Dir(), 5, "Probe", "Walk-in", "F", m,
                              QDateTime(QDate(2026, 12, 7), QTime(7, 56 + m)));
    }
    Web::Endpoint endpoint;
    ASSERT_TRUE(Web::ParseEndpoint("127.0.0.1:0", "", endpoint));
    Web::Listener listener;
    ASSERT_TRUE(listener.Start(endpoint));
    bool closed = false;
    const QByteArray answer =
        RawExchange(listener.Port(),
                    "GET /api/v1/sensors/5/history HTTP/1.1\r\nHost: localhost\r\n\r\n"
                    "GET /nothing HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n",
                    closed);
    EXPECT_TRUE(closed);
    const qsizetype history = answer.indexOf("{\"sensorId\":5,");
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200 OK\r\n")) << answer.data();
    EXPECT_GT(history, 0) << answer.data();
    EXPECT_GT(answer.indexOf("HTTP/1.1 404 Not Found\r\n"), history) << answer.data();
}
