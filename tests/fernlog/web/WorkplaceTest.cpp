// The alarm pages and the actions from a browser or the API, asked on an
// ephemeral loopback port as a client would: who may write, and what a
// refused write leaves (nothing).
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTest>

#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "core/DataLogs.h"
#include "core/Settings.h"
#include "core/Silences.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "web/Listener.h"
#include "web/Pdf.h"

namespace {
struct Answer {
    int status = 0;
    QByteArray head, body;
    QByteArray Header(const QByteArray& name) const {
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith(name.toLower() + ':')) {
                return line.mid(name.size() + 1).trimmed();
            }
        }
        return {};
    }
};

// Two open alarms of Kitchen and one closed of Cellar; a listener with or
// without a token, and a client that sends what a browser or a program would.
class WorkplaceTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
        Clock::SetForTest(QDateTime(QDate(2026, 12, 8), QTime(3, 0)));
        const QDateTime now = Clock::Now();
        ASSERT_TRUE(
            ServerDatabase::AddAlarmRecord(3, now.addSecs(-3600), "Cellar", "Wine", "60", 4, -1));
        ASSERT_TRUE(ServerDatabase::AddAlarmRecord(1, now.addSecs(-600), "Kitchen", "Freezer", "41",
                                                   4, -1));
        ASSERT_TRUE(
            ServerDatabase::AddAlarmRecord(2, now.addSecs(-60), "Kitchen", "Door", "Open", 4, -1));
    }
    void Listen(const QString& token = QString()) {
        Web::Endpoint endpoint;
        ASSERT_TRUE(Web::ParseEndpoint("127.0.0.1:0", token, endpoint));
        listener_ = std::make_unique<Web::Listener>();
        ASSERT_TRUE(listener_->Start(endpoint));
    }
    QByteArray Self() const { return "127.0.0.1:" + QByteArray::number(listener_->Port()); }
    Answer Send(const QByteArray& method, const QByteArray& path, const QByteArray& body = {},
                QList<QByteArray> headers = {}) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, listener_->Port());
        if (!socket.waitForConnected(5000)) return {};
        QByteArray request =
            method + ' ' + path + " HTTP/1.1\r\nHost: " + Self() +
            "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
        for (const QByteArray& h : headers) request += h + "\r\n";
        socket.write(request + "\r\n" + body);
        QByteArray raw;
        (void)QTest::qWaitFor(
            [&] {
                raw += socket.readAll();
                return socket.state() == QAbstractSocket::UnconnectedState;
            },
            10000);
        raw += socket.readAll();
        const qsizetype split = raw.indexOf("\r\n\r\n");
        Answer answer;
        answer.head = raw.left(split).replace('\r', "");
        answer.body = raw.mid(split + 4);
        answer.status = raw.mid(9, 3).toInt();
        return answer;
    }
    // Signs in as a browser does; the cookie and the anti-forgery token.
    bool SignIn(QByteArray& cookie, QByteArray& csrf) {
        const Answer in = Send("POST", "/login", "user=admin&password=s3cret+word&next=/alarm/2",
                               {"Origin: http://" + Self()});
        if (in.status != 303 || in.Header("Location") != "/alarm/2") return false;
        cookie = in.Header("Set-Cookie").split(';').first();
        const Answer page = Send("GET", "/alarm/2", {}, {"Cookie: " + cookie});
        const qsizetype at = page.body.indexOf("name=\"csrf\" value=\"");
        csrf = page.body.mid(at + 19, 64);
        return at > 0;
    }
    int WebRows() {
        QList<AlarmHandling::AuditRow> rows;
        AlarmHandling::ListAudit(rows, QDateTime());
        return int(std::count_if(rows.cbegin(), rows.cend(),
                                 [](const auto& r) { return r.origin == "web"; }));
    }
    static void SetLogin() {
        ConfigParameters.AdminUserName = QStringLiteral("admin");
        ConfigParameters.AdminPassword = QStringLiteral("s3cret word");
    }

    std::unique_ptr<Web::Listener> listener_;
};
}  // namespace

TEST_F(WorkplaceTest, WritesAreOffWithoutALoginOrAToken) {
    Listen();
    const Answer answer = Send("POST", "/alarm/2/ack", "by=ann", {"Origin: http://" + Self()});
    EXPECT_EQ(answer.status, 403);
    EXPECT_TRUE(answer.body.contains("writes are off")) << answer.body.data();
    EXPECT_EQ(Send("GET", "/login").status, 200);
    EXPECT_EQ(WebRows(), 0);
}

// Failed sign-ins lock the client out for a while, refused at once; the
// session's cookie is the browser's only.
TEST_F(WorkplaceTest, SignInIsBrakedAndGivesAStrictHttpOnlyCookie) {
    SetLogin();
    Listen();
    const QByteArray origin = "Origin: http://" + Self();
    EXPECT_EQ(Send("POST", "/login", "user=admin&password=guess", {origin}).status, 403);
    const Answer braked = Send("POST", "/login", "user=admin&password=s3cret+word", {origin});
    EXPECT_EQ(braked.status, 429);
    EXPECT_EQ(braked.Header("Retry-After"), "1");
    Clock::AdvanceForTest(2);
    // Signed in from another site's page: refused, however right the login.
    EXPECT_EQ(
        Send("POST", "/login", "user=admin&password=s3cret+word", {"Origin: http://127.0.0.1:1"})
            .status,
        403);
    QByteArray cookie, csrf;
    ASSERT_TRUE(SignIn(cookie, csrf));
    const Answer in = Send("POST", "/login", "user=admin&password=s3cret+word", {origin});
    const QByteArray setCookie = in.Header("Set-Cookie");
    EXPECT_TRUE(setCookie.contains("; HttpOnly; SameSite=Strict")) << setCookie.data();
    EXPECT_TRUE(setCookie.contains("Max-Age="));
    EXPECT_GE(cookie.size() - qsizetype(sizeof "fernlog_session"), 32);
    const Answer page = Send("GET", "/", {}, {"Cookie: " + cookie});
    EXPECT_TRUE(page.body.contains("Signed in as <b>admin</b>")) << page.body.data();
    EXPECT_TRUE(page.body.contains("<button>Sign out</button>"));
    // Signed out, the cookie opens nothing.
    EXPECT_EQ(Send("POST", "/logout", "csrf=" + csrf, {origin, "Cookie: " + cookie}).status, 303);
    EXPECT_FALSE(Send("GET", "/", {}, {"Cookie: " + cookie}).body.contains("Signed in as"));
}

// A form is written only with the session, its token and this listener as
// its origin; anything else leaves the trail as it was.
TEST_F(WorkplaceTest, FormWritesNeedSessionTokenAndOwnOrigin) {
    SetLogin();
    Listen();
    QByteArray cookie, csrf;
    ASSERT_TRUE(SignIn(cookie, csrf));
    const QByteArray origin = "Origin: http://" + Self(), session = "Cookie: " + cookie;
    const QByteArray form = "by=Ann+Lee&comment=door+shut&csrf=" + csrf;
    EXPECT_EQ(Send("POST", "/alarm/2/ack", form, {origin}).status, 401);
    EXPECT_EQ(
        Send("POST", "/alarm/2/ack",
             "by=ann&csrf=" + csrf.left(63) + (csrf.endsWith('0') ? "1" : "0"), {origin, session})
            .status,
        403);
    EXPECT_EQ(Send("POST", "/alarm/2/ack", form, {"Origin: http://127.0.0.1:1", session}).status,
              403);
    EXPECT_EQ(Send("POST", "/alarm/2/ack", form, {session}).status, 403);
    EXPECT_EQ(Send("GET", "/alarm/2/ack?" + form, {}, {origin, session}).status, 404);
    EXPECT_EQ(WebRows(), 0);

    const Answer done =
        Send("POST", "/alarm/2/ack", form, {"Referer: http://" + Self() + "/alarm/2", session});
    EXPECT_EQ(done.status, 303) << done.body.data();
    EXPECT_EQ(done.Header("Location"), "/alarm/2");
    QList<AlarmHandling::AuditRow> rows;
    ASSERT_TRUE(AlarmHandling::ListAudit(rows, QDateTime(), 2));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].by, "Ann Lee");
    EXPECT_EQ(rows[0].origin, "web");
    EXPECT_EQ(rows[0].user, "admin");
    const Answer page = Send("GET", "/alarm/2", {}, {session});
    EXPECT_TRUE(page.body.contains("State: <b>acknowledged</b> by Ann Lee")) << page.body.data();
    EXPECT_FALSE(page.body.contains("<button>Acknowledge</button>"));
}

// The API's writes take the token and JSON, and answer what the commands
// print as JSON; bad input is named.
TEST_F(WorkplaceTest, ApiWritesWithTheTokenAndRefusesBadInput) {
    Listen("0123456789abcdef");
    const QByteArray bearer = "Authorization: Bearer 0123456789abcdef";
    EXPECT_EQ(Send("POST", "/api/v1/alarms/2/ack", R"({"by":"ann"})").status, 401);
    EXPECT_EQ(Send("POST", "/api/v1/alarms/9/ack", R"({"by":"ann"})", {bearer}).status, 404);
    EXPECT_EQ(Send("POST", "/api/v1/alarms/2/ack", "by=ann", {bearer}).status, 400);
    EXPECT_EQ(Send("POST", "/api/v1/alarms/2/ack", R"({"by":" "})", {bearer}).status, 400);
    EXPECT_EQ(Send("POST", "/api/v1/alarms/2/resolve", R"({"by":"ann"})", {bearer}).status, 400);
    EXPECT_EQ(WebRows(), 0);

    const Answer ack =
        Send("POST", "/api/v1/alarms/2/ack", R"({"by":"ann","comment":"on my way"})", {bearer});
    ASSERT_EQ(ack.status, 200) << ack.body.data();
    const QJsonObject alarm = QJsonDocument::fromJson(ack.body).object();
    EXPECT_EQ(alarm["state"], "acknowledged");
    EXPECT_EQ(alarm["acknowledgedBy"], "ann");
    EXPECT_EQ(alarm["events"].toArray().last().toObject()["kind"], "acknowledged");
    const Answer resolved =
        Send("POST", "/api/v1/alarms/2/resolve", R"({"by":"ann","text":"door closed"})", {bearer});
    EXPECT_TRUE(
        QJsonDocument::fromJson(resolved.body)["resolution"].toString().endsWith("door closed"));
    // A device that is not registered, then one silenced whole.
    EXPECT_EQ(
        Send("POST", "/api/v1/silences", R"({"device":"Kitchen","for":"2h","by":"ann"})", {bearer})
            .status,
        404);
    ASSERT_TRUE(ServerDatabase::AddServer("Kitchen", "QX700-5", "127.0.0.2", "", 1, "", "", 0));
    EXPECT_EQ(Send("POST", "/api/v1/silences", R"({"device":"Kitchen","for":"soon","by":"ann"})",
                   {bearer})
                  .status,
              400);
    const Answer silenced =
        Send("POST", "/api/v1/silences", R"({"device":"Kitchen","for":"2h","by":"ann"})", {bearer});
    EXPECT_EQ(silenced.status, 201) << silenced.body.data();
    QList<Silences::Silence> silences;
    ASSERT_TRUE(Silences::ListSilences(silences));
    ASSERT_EQ(silences.size(), 1);
    EXPECT_EQ(silences[0].until, Clock::Now().addSecs(7200));
    // A browser page of another site is refused even with the token.
    EXPECT_EQ(Send("POST", "/api/v1/alarms/1/ack", R"({"by":"ann"})",
                   {bearer, "Origin: http://127.0.0.1:1"})
                  .status,
              403);
    EXPECT_EQ(WebRows(), 3);
}

// A window is added and removed from /maintenance as the command does it,
// audited as the web's; a refused form stores nothing. The API does the same
// with the token.
TEST_F(WorkplaceTest, MaintenanceWindowsAreAddedAndRemovedFromThePageAndTheApi) {
    SetLogin();
    Listen("0123456789abcdef");
    ASSERT_TRUE(ServerDatabase::AddServer("Kitchen", "QX700-5", "127.0.0.2", "", 1, "", "", 0));
    QByteArray cookie, csrf;
    ASSERT_TRUE(SignIn(cookie, csrf));
    const QByteArray origin = "Origin: http://" + Self(), session = "Cookie: " + cookie;
    const QByteArray weekly = "device=Kitchen&weekly=Sun+02%3A00-04%3A00&by=Ann&csrf=" + csrf;
    EXPECT_TRUE(Send("GET", "/maintenance", {}, {session}).body.contains("<button>Add window"));
    EXPECT_EQ(Send("POST", "/maintenance", weekly, {origin}).status, 401);
    // A token with its last character changed (to one it is not).
    const QByteArray forged = weekly.chopped(1) + (weekly.endsWith('0') ? "1" : "0");
    EXPECT_EQ(Send("POST", "/maintenance", forged, {origin, session}).status, 403);
    const Answer bad = Send("POST", "/maintenance",
                            "device=Kitchen&from=2026-12-09T04%3A00&to=2026-12-09T02%3A00&by=Ann"
                            "&csrf=" +
                                csrf,
                            {origin, session});
    EXPECT_EQ(bad.status, 400);
    EXPECT_TRUE(bad.body.contains("the window ends (2026-12-09T02:00) before it starts"))
        << bad.body.data();
    QList<Silences::Window> windows;
    ASSERT_TRUE(Silences::ListWindows(windows));
    EXPECT_TRUE(windows.isEmpty());

    const Answer added = Send("POST", "/maintenance", weekly, {origin, session});
    EXPECT_EQ(added.status, 303) << added.body.data();
    ASSERT_TRUE(Silences::ListWindows(windows));
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(windows[0].weekly->Text(), "Sun 02:00-04:00");
    const QByteArray remove = "/maintenance/" + QByteArray::number(windows[0].id) + "/remove";
    EXPECT_TRUE(Send("GET", "/maintenance", {}, {session}).body.contains(remove));
    EXPECT_EQ(Send("POST", remove, "by=admin&csrf=" + csrf, {origin, session}).status, 303);
    ASSERT_TRUE(Silences::ListWindows(windows));
    EXPECT_TRUE(windows.isEmpty());
    QList<AlarmHandling::AuditRow> rows;
    ASSERT_TRUE(AlarmHandling::ListAudit(rows, QDateTime()));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].by, "Ann");
    EXPECT_EQ(rows[0].user, "admin");
    EXPECT_EQ(rows[0].origin, "web");

    const QByteArray bearer = "Authorization: Bearer 0123456789abcdef";
    const Answer api = Send("POST", "/api/v1/maintenance",
                            R"({"device":"Kitchen","from":"2026-12-09T02:00",)"
                            R"("to":"2026-12-09T04:00","by":"bob"})",
                            {bearer});
    ASSERT_EQ(api.status, 201) << api.body.data();
    const QByteArray id = QByteArray::number(QJsonDocument::fromJson(api.body)["id"].toInteger());
    EXPECT_EQ(Send("POST", "/api/v1/maintenance/99/remove", R"({"by":"bob"})", {bearer}).status,
              404);
    EXPECT_EQ(
        Send("POST", "/api/v1/maintenance/" + id + "/remove", R"({"by":"bob"})", {bearer}).status,
        200);
    EXPECT_EQ(WebRows(), 4);
}

// Each day not yet reviewed has its sign-off on the sensor's page; once
// signed off, the day shows who, and a second sign-off is refused.
TEST_F(WorkplaceTest, ASensorsDayIsSignedOffFromItsPageAndTheApi) {
    for (int h = 0; h < 6; ++h) {
        DataLogs::SaveReading(Dir(), 5, "Probe", "Walk-in", "F", 38,
                              QDateTime(QDate(2026, 12, 7), QTime(22, 0)).addSecs(1800 * h));
    }
    SetLogin();
    Listen("0123456789abcdef");
    QByteArray cookie, csrf;
    ASSERT_TRUE(SignIn(cookie, csrf));
    const QByteArray origin = "Origin: http://" + Self(), session = "Cookie: " + cookie;
    EXPECT_EQ(Send("GET", "/sensor/5", {}, {session}).body.count("<button>Sign off</button>"), 2);
    const QByteArray form = "date=2026-12-07&by=Ann&return=%2Fsensor%2F5%3Frange%3D7d&csrf=" + csrf;
    const Answer signedOff = Send("POST", "/sensor/5/review", form, {origin, session});
    EXPECT_EQ(signedOff.status, 303) << signedOff.body.data();
    EXPECT_EQ(signedOff.Header("Location"), "/sensor/5?range=7d");
    const Answer page = Send("GET", "/sensor/5", {}, {session});
    EXPECT_TRUE(page.body.contains("<td>Ann, 12/8/2026 3:00:00 AM</td>")) << page.body.data();
    EXPECT_EQ(page.body.count("<button>Sign off</button>"), 1);
    const Answer again = Send("POST", "/sensor/5/review", form, {origin, session});
    EXPECT_EQ(again.status, 400);
    EXPECT_TRUE(again.body.contains("already reviewed by Ann")) << again.body.data();

    const QByteArray bearer = "Authorization: Bearer 0123456789abcdef";
    EXPECT_EQ(
        Send("POST", "/api/v1/sensors/5/review", R"({"date":"8.12.","by":"bob"})", {bearer}).status,
        400);
    EXPECT_EQ(
        Send("POST", "/api/v1/sensors/6/review", R"({"date":"2026-12-08","by":"bob"})", {bearer})
            .status,
        404);
    const Answer api =
        Send("POST", "/api/v1/sensors/5/review", R"({"date":"2026-12-08","by":"bob"})", {bearer});
    EXPECT_EQ(api.status, 201) << api.body.data();
    EXPECT_EQ(QJsonDocument::fromJson(api.body)["by"].toString(), "bob");
    EXPECT_EQ(WebRows(), 2);
}

TEST_F(WorkplaceTest, AlarmListFiltersPagesAndNamesABadFilter) {
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(ServerDatabase::AddAlarmRecord(1, Clock::Now().addSecs(-7200 - i), "Kitchen",
                                                   "Freezer", "41", 4, -1));
    }
    Listen();
    const auto ids = [this](const QByteArray& query) {
        const Answer a = Send("GET", "/api/v1/alarms?" + query);
        QList<int> out;
        for (const auto& v : QJsonDocument::fromJson(a.body).array())
            out << v.toObject()["id"].toInt();
        return std::pair{out, a.Header("X-Total-Count").toInt()};
    };
    EXPECT_EQ(ids("device=kitchen&sensor=Door"), (std::pair{QList<int>{3}, 1}));
    EXPECT_EQ(ids("device=Kitchen&page=2").first, (QList<int>{52, 53}));
    EXPECT_EQ(ids("device=Kitchen").second, 52);
    // Open alarms that began by the range's end.
    EXPECT_EQ(ids("to=2026-12-08T00:59:30").second, 20);
    const Answer bad = Send("GET", "/alarms?state=sleeping");
    EXPECT_EQ(bad.status, 400);
    EXPECT_TRUE(bad.body.contains("not &#39;sleeping&#39;")) << bad.body.data();
    EXPECT_EQ(Send("GET", "/alarms?from=2026-12-08T03:00&to=2026-12-08T02:00").status, 400);
    EXPECT_EQ(Send("GET", "/alarm/99").status, 404);
    EXPECT_EQ(Send("GET", "/api/v1/alarms/x").status, 404);
    const Answer page = Send("GET", "/alarms?state=active");
    EXPECT_TRUE(page.body.contains("<a href=\"/alarms?state=active&page=2\">Older</a>"))
        << page.body.data();
    // A failed e-mail is an attempt, not someone told.
    ASSERT_TRUE(
        ServerDatabase::SetEmailSent(ServerDatabase::MailedRow::Alarm, 2, "mail server down"));
    EXPECT_TRUE(Send("GET", "/alarm/2")
                    .body.contains("<th>Told</th><td class=\"wrap\">nobody (not told: email: "
                                   "mail server down)</td>"));
    const Answer pdf = Send("GET", "/alarm/2/report.pdf");
    EXPECT_EQ(pdf.Header("Content-Type"), "application/pdf");
    EXPECT_TRUE(pdf.body.contains("(Alarm 2: Freezer on Kitchen) Tj"));
}

// Readers find every object through the cross-reference table; text in
// WinAnsi with its delimiters escaped.
TEST(PdfTest, OffsetsTrailerAndEncodedText) {
    const QByteArray file =
        Pdf::Document({{QString::fromUtf8("Freezer (left) 41 \u00b0F \u2013 ok\\"), 10, true},
                       {QString(200, u'x') + " tail", 10}},
                      "Alarm 1");
    EXPECT_TRUE(file.startsWith("%PDF-1.4\n%"));
    EXPECT_TRUE(file.endsWith("%%EOF\n"));
    EXPECT_TRUE(file.contains("(Freezer \\(left\\) 41 \\260F \\226 ok\\\\) Tj"));
    EXPECT_TRUE(file.contains(" tail) Tj"));
    const qsizetype start = file.lastIndexOf("startxref\n");
    const qsizetype xref = file.mid(start + 10).split('\n').first().toLongLong();
    ASSERT_TRUE(file.mid(xref).startsWith("xref\n0 8\n0000000000 65535 f \n"));
    for (int i = 1; i < 8; ++i) {
        const qsizetype offset = file.mid(xref + 9 + 20 * i, 10).toLongLong();
        EXPECT_TRUE(file.mid(offset).startsWith(QByteArray::number(i) + " 0 obj\n")) << i;
    }
    EXPECT_TRUE(file.contains("trailer\n<< /Size 8 /Root 1 0 R /Info 5 0 R >>"));
    EXPECT_TRUE(file.contains("/Count 1"));
    const qsizetype stream = file.indexOf("stream\n") + 7;
    const qsizetype length =
        file.mid(file.lastIndexOf("/Length ", stream) + 8).split(' ').first().toLongLong();
    EXPECT_EQ(file.indexOf("endstream"), stream + length);
}
