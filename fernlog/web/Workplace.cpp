#include "web/Workplace.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>
#include <QUrlQuery>

#include "common/Clock.h"
#include "common/FolderLock.h"
#include "common/ProgramDir.h"
#include "core/AlarmHandling.h"
#include "core/AlarmViews.h"
#include "core/SensorHistory.h"
#include "core/Silences.h"
#include "db/SensorDatabase.h"
#include "db/ServerDatabase.h"
#include "web/Pdf.h"
#include "web/Render.h"

namespace Web {
namespace {

using AlarmTimeline::Event;
using AlarmViews::View;

constexpr char kHtml[] = "text/html; charset=utf-8";
constexpr char kJson[] = "application/json";

QString Esc(const QString& text) {
    return HtmlEscape(text);
}

// What an action or a page could not do, and its status.
struct Outcome {
    int status = 200;
    QString message;
    bool ok() const { return status < 300; }
};
Outcome Fault(int status, const QString& message) {
    return {status, message};
}

bool IsApi(const Request& request) {
    return request.path.startsWith(QLatin1String("/api/"));
}

QString Page(const QString& title, const QString& body, const Access& access) {
    return PageStart(title, QString()) + Navigation(access) + body + PageEnd(QString());
}

Response Html(int status, const QString& title, const QString& body, const Access& access) {
    return {status, kHtml, Page(title, body, access).toUtf8()};
}

Response Json(int status, const QJsonValue& value) {
    const QJsonDocument document =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return {status, kJson, document.toJson(QJsonDocument::Indented)};
}

// A refusal as the client reads it: JSON for the API, a page otherwise.
Response Refusal(const Request& request, const Access& access, const Outcome& outcome) {
    if (IsApi(request)) return Json(outcome.status, QJsonObject{{"error", outcome.message}});
    const QString title = outcome.status == 404   ? QStringLiteral("Not found")
                          : outcome.status == 401 ? QStringLiteral("Sign-in needed")
                          : outcome.status == 403 ? QStringLiteral("Refused")
                                                  : QStringLiteral("Not done");
    return Html(outcome.status, title,
                QStringLiteral("<p class=\"bad\" id=\"reason\">%1</p>\n").arg(Esc(outcome.message)),
                access);
}

Response SeeOther(const QString& location, const QByteArray& cookie = QByteArray()) {
    Response response{303, "text/plain; charset=utf-8", "see " + location.toUtf8() + '\n'};
    response.headers.append({"Location", location.toUtf8()});
    if (!cookie.isEmpty()) response.headers.append({"Set-Cookie", cookie});
    return response;
}

// A form's or a query's fields; a form encodes a blank as '+'.
QUrlQuery Fields(const QByteArray& encoded) {
    QByteArray text = encoded;
    text.replace('+', "%20");
    return QUrlQuery(QString::fromLatin1(text));
}
QString Field(const QUrlQuery& fields, const char* name) {
    return fields.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
}

// Where to go back to after a form: a path of this listener, never another
// site ("//host" or a scheme).
QString LocalPath(const QString& path, const QString& otherwise) {
    static const QRegularExpression local(QStringLiteral("^/[A-Za-z0-9/_.?=&%-]*$"));
    return local.match(path).hasMatch() && !path.startsWith(QLatin1String("//")) ? path : otherwise;
}

// A POST from a page of this listener: its Origin, or without one its
// Referer, is http:// and the Host the request was sent to.
bool SameOrigin(const Request& request) {
    if (request.host.trimmed().isEmpty()) return false;
    const QByteArray self = "http://" + request.host.trimmed().toLower();
    if (!request.origin.isEmpty()) return request.origin.trimmed().toLower() == self;
    const QByteArray referer = request.referer.trimmed().toLower();
    return !referer.isEmpty() && (referer == self || referer.startsWith(self + '/'));
}

QString Hidden(const char* name, const QString& value) {
    return QStringLiteral("<input type=\"hidden\" name=\"%1\" value=\"%2\">")
        .arg(QString::fromLatin1(name), Esc(value));
}

QString Csrf(const Access& access) {
    return access.session ? Hidden("csrf", QString::fromLatin1(access.session->csrf)) : QString();
}

QString Duration(const QDateTime& from, const QDateTime& to) {
    if (!from.isValid() || !to.isValid()) return QStringLiteral("-");
    const qint64 s = qMax<qint64>(0, from.secsTo(to));
    return s >= 3600 ? QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s / 60 % 60)
                     : QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
}

// ---- The alarm list ----

struct Filter {
    QString device, sensor, state;
    QDateTime from, to;
    int page = 1;
};

Outcome ParseFilter(const QUrlQuery& q, Filter& f) {
    f.device = Field(q, "device").trimmed();
    f.sensor = Field(q, "sensor").trimmed();
    f.state = Field(q, "state").trimmed().toLower();
    const QStringList states{QString(), "any", "active", "open", "acknowledged", "closed"};
    if (!states.contains(f.state)) {
        return Fault(400, QStringLiteral("state is one of active, open, acknowledged, closed or "
                                         "any, not '%1'")
                              .arg(f.state));
    }
    for (const auto& [name, when] : {std::pair{"from", &f.from}, std::pair{"to", &f.to}}) {
        const QString text = Field(q, name).trimmed();
        if (text.isEmpty()) continue;
        const auto parsed = AlarmHandling::ParseTime(text);
        if (!parsed) {
            return Fault(400, QStringLiteral("%1 takes a time such as 2026-12-09T02:00, not '%2'")
                                  .arg(QString::fromLatin1(name), text));
        }
        *when = *parsed;
    }
    if (f.from.isValid() && f.to.isValid() && f.to < f.from) {
        return Fault(400, QStringLiteral("the range ends before it starts"));
    }
    const QString page = Field(q, "page").trimmed();
    if (!page.isEmpty()) {
        bool ok = false;
        f.page = page.toInt(&ok);
        if (!ok || f.page < 1) {
            return Fault(400, QStringLiteral("page is a number from 1, not '%1'").arg(page));
        }
    }
    return {};
}

bool Matches(const View& v, const Filter& f) {
    const auto& r = v.record;
    if (!f.device.isEmpty() && r.server.trimmed().compare(f.device, Qt::CaseInsensitive) != 0) {
        return false;
    }
    if (!f.sensor.isEmpty() && r.sensor.trimmed().compare(f.sensor, Qt::CaseInsensitive) != 0 &&
        QString::number(r.sensorId) != f.sensor) {
        return false;
    }
    const QString state = v.State();
    if (f.state == QLatin1String("active")
            ? state == QLatin1String("closed")
            : !f.state.isEmpty() && f.state != QLatin1String("any") && state != f.state) {
        return false;
    }
    // Alarms that were on at some time of the range.
    if (f.to.isValid() && r.start > f.to) return false;
    if (f.from.isValid() && r.end.isValid() && r.end < f.from) return false;
    return true;
}

Outcome Alarms(const Filter& filter, QList<View>& shown, int& total) {
    QList<View> views;
    QString error;
    if (!AlarmViews::List(views, false, QDateTime(), &error)) return Fault(503, error);
    QList<View> matching;
    for (const View& v : views) {
        if (Matches(v, filter)) matching << v;
    }
    total = int(matching.size());
    shown = matching.mid(qsizetype(filter.page - 1) * kPageSize, kPageSize);
    return {};
}

QString FilterQuery(const Filter& f, int page) {
    QUrlQuery q;
    if (!f.device.isEmpty()) q.addQueryItem("device", f.device);
    if (!f.sensor.isEmpty()) q.addQueryItem("sensor", f.sensor);
    if (!f.state.isEmpty()) q.addQueryItem("state", f.state);
    if (f.from.isValid()) q.addQueryItem("from", f.from.toString("yyyy-MM-ddTHH:mm"));
    if (f.to.isValid()) q.addQueryItem("to", f.to.toString("yyyy-MM-ddTHH:mm"));
    q.addQueryItem("page", QString::number(page));
    return q.toString(QUrl::FullyEncoded);
}

Response AlarmsPage(const Request& request, const Access& access) {
    Filter f;
    if (const Outcome bad = ParseFilter(Fields(request.query.toLatin1()), f); !bad.ok()) {
        return Refusal(request, access, bad);
    }
    QList<View> shown;
    int total = 0;
    if (const Outcome bad = Alarms(f, shown, total); !bad.ok())
        return Refusal(request, access, bad);
    if (IsApi(request)) {
        QJsonArray list;
        for (const View& v : shown) list.append(AlarmViews::Json(v));
        Response response = Json(200, list);
        response.headers.append({"X-Total-Count", QByteArray::number(total)});
        return response;
    }
    QString html;
    QTextStream out(&html);
    QList<ServerDatabase::ServerRow> servers;
    ServerDatabase::ListServers(servers);
    out << "<form method=\"get\" action=\"/alarms\" id=\"filter\"><label>Device <select "
           "name=\"device\"><option value=\"\">any</option>";
    for (const auto& s : servers) {
        const QString name = s.name.trimmed();
        out << "<option" << (name.compare(f.device, Qt::CaseInsensitive) == 0 ? " selected" : "")
            << ">" << Esc(name) << "</option>";
    }
    out << "</select></label> <label>Sensor <input name=\"sensor\" size=\"12\" value=\""
        << Esc(f.sensor) << "\"></label> <label>State <select name=\"state\">";
    for (const char* s : {"any", "active", "open", "acknowledged", "closed"}) {
        out << "<option" << (f.state == QLatin1String(s) ? " selected" : "") << ">" << s
            << "</option>";
    }
    out << "</select></label> <label>From <input type=\"datetime-local\" name=\"from\" value=\""
        << (f.from.isValid() ? f.from.toString("yyyy-MM-ddTHH:mm") : QString())
        << "\"></label> <label>To <input type=\"datetime-local\" name=\"to\" value=\""
        << (f.to.isValid() ? f.to.toString("yyyy-MM-ddTHH:mm") : QString())
        << "\"></label> <button>Filter</button></form>\n";
    out << "<p>" << total << " alarm(s), newest first.</p>\n";
    out << "<div class=\"scroll\"><table id=\"alarmlist\"><tr><th>No.</th><th>Device</th>"
           "<th>Sensor</th><th>Start</th><th>End</th><th>State</th><th>Acknowledged by</th>"
           "<th>Silenced</th></tr>\n";
    for (const View& v : shown) {
        const auto& r = v.record;
        out << "<tr><td><a href=\"/alarm/" << r.id << "\">" << r.id << "</a></td><td>"
            << Esc(r.server) << "</td><td><a href=\"/alarm/" << r.id << "\">" << Esc(r.sensor)
            << "</a></td><td>" << PageTime(r.start) << "</td><td>"
            << (r.end.isValid() ? PageTime(r.end) : QStringLiteral("open")) << "</td><td>"
            << v.State() << "</td><td>" << (v.ack ? Esc(v.ack->by) : QString()) << "</td><td>"
            << (v.silenced ? "yes" : "") << "</td></tr>\n";
    }
    if (shown.isEmpty()) out << "<tr><td colspan=\"8\">No alarm.</td></tr>\n";
    out << "</table></div>\n<p>";
    if (f.page > 1) out << "<a href=\"/alarms?" << FilterQuery(f, f.page - 1) << "\">Newer</a> ";
    if (qint64(f.page) * kPageSize < total) {
        out << "<a href=\"/alarms?" << FilterQuery(f, f.page + 1) << "\">Older</a>";
    }
    out << "</p>\n";
    out.flush();
    return Html(200, QStringLiteral("Alarms"), html, access);
}

// ---- One alarm ----

std::optional<qint64> AlarmNumber(const QString& text) {
    bool ok = false;
    const qint64 id = text.toLongLong(&ok);
    return ok && id > 0 ? std::optional(id) : std::nullopt;
}

Outcome ReadAlarm(qint64 id, View& view, QList<Event>& events) {
    QString error;
    if (AlarmViews::Read(id, view, events, &error)) return {};
    return Fault(error.startsWith(QLatin1String("there is no alarm")) ? 404 : 503, error);
}

// Who was told, from the timeline's notices that went out. Attempts that
// failed are named apart: an inspector must not read one as a notice
// received.
QString Told(const QList<Event>& events) {
    QStringList told, failed;
    for (const Event& e : events) {
        if (e.channel.isEmpty()) continue;  // not a notice
        if (e.result == QLatin1String("sent") ||
            e.result == QLatin1String("handed to the outbox")) {
            if (!e.to.isEmpty() && !told.contains(e.to)) told << e.to;
        } else {
            failed << (e.to.isEmpty() ? e.channel : e.channel + QStringLiteral(" to ") + e.to) +
                          QStringLiteral(": ") + e.result;
        }
    }
    QString text = told.isEmpty() ? QStringLiteral("nobody") : told.join(QStringLiteral(", "));
    if (!failed.isEmpty()) text += QStringLiteral(" (not told: ") + failed.join("; ") + u')';
    return text;
}
// Who acknowledged, from the timeline.
QStringList Acknowledgers(const QList<Event>& events) {
    QStringList by;
    for (const Event& e : events) {
        if (e.kind == QLatin1String("acknowledged") && !by.contains(e.by)) by << e.by;
    }
    return by;
}

// The readings during the alarm, from its sensor's data logs.
struct Excursion {
    QString unavailable;  // why there are none
    QString unit;
    std::optional<double> minimum, maximum;
    std::vector<std::pair<QDateTime, std::optional<double>>> readings;
};
// Readings a report lists at most: more are thinned evenly, so that it
// still prints on one page.
constexpr int kReportReadings = 48;

Excursion ReadExcursion(const ServerDatabase::AlarmRecord& record) {
    Excursion e;
    SensorHistory::History history;
    const QDateTime end = record.end.isValid() ? record.end : Clock::Now();
    if (!SensorHistory::Read(record.sensorId, record.start, end, history, &e.unavailable)) {
        return e;
    }
    e.unit = history.unit;
    for (const auto& [at, value] : history.points) {
        if (!value) continue;
        e.minimum = e.minimum ? qMin(*e.minimum, *value) : *value;
        e.maximum = e.maximum ? qMax(*e.maximum, *value) : *value;
    }
    const size_t n = history.points.size();
    const size_t step =
        n > size_t(kReportReadings) ? (n + kReportReadings - 1) / kReportReadings : 1;
    for (size_t i = 0; i < n; i += step) e.readings.push_back(history.points[i]);
    if (e.readings.empty()) e.unavailable = QStringLiteral("no reading was logged during it");
    return e;
}

QString Value(const std::optional<double>& value, const QString& unit) {
    if (!value) return QStringLiteral("-");
    const QString number = QString::number(*value, 'g', 15);
    return unit.isEmpty() ? number : number + u' ' + unit;
}

// The device row and sensor port of an alarm, for its silence form.
std::optional<std::pair<qint64, int>> DevicePort(const ServerDatabase::AlarmRecord& record) {
    QList<ServerDatabase::ServerRow> servers;
    ServerDatabase::ListServers(servers);
    for (const auto& server : servers) {
        if (server.name.trimmed() == record.server.trimmed()) {
            return std::pair{server.id, Silences::PortOf(server.id, record.sensorId)};
        }
    }
    return std::nullopt;
}

QString ActionForms(const View& v, const Access& access) {
    const qint64 id = v.record.id;
    if (!access.writable) {
        return QStringLiteral(
            "<p class=\"note noprint\">Actions from the browser are off: set an administrator "
            "login (fernlog settings) or a [Web] Token.</p>\n");
    }
    if (!access.session) {
        return Sessions::LoginSet()
                   ? QStringLiteral(
                         "<p class=\"noprint\"><a href=\"/login?next=/alarm/%1\">Sign "
                         "in</a> to acknowledge, comment or resolve.</p>\n")
                         .arg(id)
                   : QString();
    }
    const QString by = Esc(access.session->user);
    const auto form = [&](const QString& action, const QString& fields, const QString& button) {
        return QStringLiteral(
                   "<form class=\"act\" method=\"post\" action=\"%1\">%2<label>Name <input "
                   "type=\"text\" name=\"by\" required value=\"%3\"></label>%4<button>%5</button>"
                   "</form>\n")
            .arg(action, Csrf(access), by, fields, button);
    };
    QString html = QStringLiteral("<h2 class=\"noprint\">Act</h2>\n");
    const QString base = QStringLiteral("/alarm/%1/").arg(id);
    if (!v.record.end.isValid() && !v.ack) {
        html += form(base + "ack",
                     "<label>Comment <input type=\"text\" name=\"comment\"></label><label>For "
                     "(90m, 4h, 2d; empty: until it ends) <input type=\"text\" name=\"for\" "
                     "size=\"6\"></label>",
                     "Acknowledge");
    }
    html +=
        form(base + "comment",
             "<label>Comment <input type=\"text\" name=\"text\" required></label>", "Add comment");
    html += form(base + "resolve",
                 "<label>Resolution <textarea name=\"text\" rows=\"2\" required></textarea>"
                 "</label>",
                 "Save resolution");
    if (!v.record.end.isValid()) {
        if (const auto where = DevicePort(v.record)) {
            const QString scope =
                QStringLiteral(
                    "<label>What <select name=\"port\">%1<option value=\"\">the whole "
                    "device</option></select></label>")
                    .arg(where->second == Silences::kDevice
                             ? QString()
                             : QStringLiteral("<option value=\"%1\">this sensor (port %1)</option>")
                                   .arg(where->second));
            html += form(QStringLiteral("/silences"),
                         Hidden("device", v.record.server.trimmed()) +
                             Hidden("return", QStringLiteral("/alarm/%1").arg(id)) + scope +
                             "<label>For (90m, 4h, 2d) <input type=\"text\" name=\"for\" "
                             "required value=\"4h\" size=\"6\"></label><label>Comment <input "
                             "type=\"text\" name=\"comment\"></label>",
                         QStringLiteral("Silence"));
        }
    }
    return html;
}

Response AlarmPage(const Request& request, const Access& access, qint64 id) {
    View v;
    QList<Event> events;
    if (const Outcome bad = ReadAlarm(id, v, events); !bad.ok()) {
        return Refusal(request, access, bad);
    }
    if (IsApi(request)) return Json(200, AlarmViews::DetailJson(v, events));
    const auto& r = v.record;
    const QString told = Told(events);
    const QStringList acks = Acknowledgers(events);
    const Excursion x = ReadExcursion(r);
    QString html;
    QTextStream out(&html);
    out << "<p id=\"state\">State: <b>" << v.State() << "</b>"
        << (v.ack ? QStringLiteral(" by ") + Esc(v.ack->by) : QString())
        << (v.silenced ? " &middot; silenced" : "")
        << " &middot; <a class=\"noprint\" href=\"/alarm/" << id
        << "/report.pdf\">PDF report</a></p>\n";
    out << "<h2>Excursion report</h2>\n<table id=\"report\">"
        << "<tr><th>Device</th><td>" << Esc(r.server) << "</td></tr>"
        << "<tr><th>Sensor</th><td>" << Esc(r.sensor) << "</td></tr>"
        << "<tr><th>Start</th><td>" << PageTime(r.start) << "</td></tr>"
        << "<tr><th>End</th><td>" << (r.end.isValid() ? PageTime(r.end) : QStringLiteral("open"))
        << "</td></tr><tr><th>Duration</th><td>"
        << Duration(r.start, r.end.isValid() ? r.end : Clock::Now())
        << (r.end.isValid() ? "" : " so far") << "</td></tr>"
        << "<tr><th>Reading at start</th><td>" << Esc(r.currentData) << "</td></tr>"
        << "<tr><th>Minimum</th><td id=\"minimum\">" << Esc(Value(x.minimum, x.unit))
        << "</td></tr><tr><th>Maximum</th><td id=\"maximum\">" << Esc(Value(x.maximum, x.unit))
        << "</td></tr>"
        << "<tr><th>Cause</th><td class=\"wrap\">" << Esc(r.cause) << "</td></tr>"
        << "<tr><th>Told</th><td class=\"wrap\">" << Esc(told)
        << "</td></tr><tr><th>Acknowledged by</th><td>"
        << (acks.isEmpty() ? QStringLiteral("nobody") : Esc(acks.join(QStringLiteral(", "))))
        << "</td></tr><tr><th>Resolution</th><td class=\"wrap\" id=\"resolution\">"
        << Esc(r.resolution).replace(u'\r', QString()).replace(u'\n', QStringLiteral("<br>"))
        << "</td></tr></table>\n";
    out << "<h2>Readings</h2>\n";
    if (!x.unavailable.isEmpty()) {
        out << "<p class=\"note\">None: " << Esc(x.unavailable) << "</p>\n";
    } else {
        out << "<p id=\"readings\">";
        for (const auto& [at, value] : x.readings) {
            out << "<span>" << PageTime(QDateTime(at.date(), at.time())) << ": "
                << (value ? Esc(Value(value, x.unit)) : QStringLiteral("no data")) << "</span>; ";
        }
        out << "</p>\n";
    }
    out << "<h2>Timeline</h2>\n<div class=\"scroll\"><table id=\"timeline\"><tr><th>When</th>"
           "<th>What</th><th>By</th><th>Text</th><th>Notice</th></tr>\n";
    for (const Event& e : events) {
        out << "<tr><td>" << AlarmTimeline::Local(e.at) << "</td><td>" << Esc(e.kind) << "</td><td>"
            << Esc(e.by) << "</td><td class=\"wrap\">" << Esc(e.text) << "</td><td class=\"wrap\">"
            << (e.channel.isEmpty()
                    ? QString()
                    : Esc(QStringLiteral("%1 to %2: %3").arg(e.channel, e.to, e.result)))
            << "</td></tr>\n";
    }
    out << "</table></div>\n" << ActionForms(v, access);
    out.flush();
    return Html(200, QStringLiteral("Alarm %1: %2 on %3").arg(id).arg(r.sensor, r.server), html,
                access);
}

Response AlarmReport(const Request& request, const Access& access, qint64 id) {
    View v;
    QList<Event> events;
    if (const Outcome bad = ReadAlarm(id, v, events); !bad.ok()) {
        return Refusal(request, access, bad);
    }
    const auto& r = v.record;
    const QString told = Told(events);
    const QStringList acks = Acknowledgers(events);
    const Excursion x = ReadExcursion(r);
    QList<Pdf::Line> lines{
        {QStringLiteral("Alarm %1: %2 on %3").arg(id).arg(r.sensor, r.server), 16, true},
        {QStringLiteral("Excursion report, made %1").arg(PageTime(Clock::Now())), 9},
        {QString(), 6},
        {QStringLiteral("State: ") + v.State() + (v.silenced ? QStringLiteral(", silenced") : "")},
        {QStringLiteral("Start: ") + PageTime(r.start)},
        {QStringLiteral("End: ") + (r.end.isValid() ? PageTime(r.end) : QStringLiteral("open"))},
        {QStringLiteral("Duration: ") + Duration(r.start, r.end.isValid() ? r.end : Clock::Now())},
        {QStringLiteral("Reading at start: ") + r.currentData},
        {QStringLiteral("Minimum: %1   Maximum: %2")
             .arg(Value(x.minimum, x.unit), Value(x.maximum, x.unit))},
        {QStringLiteral("Cause: ") + r.cause},
        {QStringLiteral("Told: ") + told},
        {QStringLiteral("Acknowledged by: ") +
         (acks.isEmpty() ? QStringLiteral("nobody") : acks.join(", "))},
        {QStringLiteral("Resolution: ") +
         QString(r.resolution).replace(u'\r', u' ').replace(u'\n', u' ')},
        {QString(), 6},
        {QStringLiteral("Timeline"), 12, true}};
    for (const Event& e : events) lines.append({AlarmTimeline::Line(e), 9});
    lines.append({QString(), 6});
    lines.append({QStringLiteral("Readings"), 12, true});
    QStringList readings;
    for (const auto& [at, value] : x.readings) {
        readings << PageTime(QDateTime(at.date(), at.time())) + QStringLiteral(": ") +
                        (value ? Value(value, x.unit) : QStringLiteral("no data"));
    }
    lines.append({x.unavailable.isEmpty() ? readings.join(QStringLiteral("; "))
                                          : QStringLiteral("None: ") + x.unavailable,
                  8});
    Response response{200, "application/pdf",
                      Pdf::Document(lines, QStringLiteral("Alarm %1").arg(id))};
    response.headers.append(
        {"Content-Disposition", "inline; filename=\"alarm-" + QByteArray::number(id) + ".pdf\""});
    return response;
}

// ---- Sign-in ----

Response LoginPage(const Access& access, const QString& next, const QString& message,
                   int status = 200) {
    QString html;
    if (!message.isEmpty()) {
        html += QStringLiteral("<p class=\"bad\" id=\"reason\">%1</p>\n").arg(Esc(message));
    }
    if (access.session) {
        html += QStringLiteral("<p>You are signed in as %1.</p>\n").arg(Esc(access.session->user));
    } else if (!Sessions::LoginSet()) {
        html += QStringLiteral(
            "<p>No administrator login is set (fernlog settings), so nobody signs in here.</p>\n");
    } else {
        html += QStringLiteral(
                    "<form class=\"act\" method=\"post\" action=\"/login\">%1<label>User name "
                    "<input type=\"text\" name=\"user\" autocomplete=\"username\" required>"
                    "</label><label>Password <input type=\"password\" name=\"password\" "
                    "autocomplete=\"current-password\" required></label><button>Sign in</button>"
                    "</form>\n")
                    .arg(Hidden("next", next));
    }
    return Html(status, QStringLiteral("Sign in"), html, access);
}

Response SignIn(const Request& request, const Access& access) {
    const QUrlQuery form = Fields(request.body);
    const QString next = LocalPath(Field(form, "next"), QStringLiteral("/"));
    if (!Sessions::LoginSet()) {
        return LoginPage(access, next, QStringLiteral("No administrator login is set."), 403);
    }
    if (!SameOrigin(request)) {
        return LoginPage(access, next, QStringLiteral("Sign in from this listener's own page."),
                         403);
    }
    if (const qint64 wait = Sessions::LockedFor(request.peer); wait > 0) {
        Response response = LoginPage(
            access, next, QStringLiteral("Too many failed sign-ins: try again in %1 s.").arg(wait),
            429);
        response.headers.append({"Retry-After", QByteArray::number(wait)});
        return response;
    }
    const auto session = Sessions::SignIn(Field(form, "user"), Field(form, "password"));
    if (!session) {
        Sessions::Failed(request.peer);
        return LoginPage(access, next, QStringLiteral("Wrong user name or password."), 403);
    }
    Sessions::Succeeded(request.peer);
    return SeeOther(next, Sessions::OpenCookie(*session));
}

// ---- Actions ----

// A request's fields: the form's, or the API's JSON object.
struct Input {
    QUrlQuery form;
    QJsonObject json;
    bool api = false;
    QString Text(const char* name) const {
        if (!api) return Field(form, name);
        const QJsonValue value = json.value(QLatin1String(name));
        return value.isDouble() ? QString::number(value.toDouble()) : value.toString();
    }
    bool Has(const char* name) const {
        return api ? json.contains(QLatin1String(name)) : form.hasQueryItem(QLatin1String(name));
    }
};

// A rule's refusal (a closed alarm, an empty name) is the client's; the
// store's own is the server's.
Outcome Refused(const QString& error) {
    const bool store = error.contains(AlarmHandling::StoreRefusal()) ||
                       error.startsWith(QLatin1String("zolo.mdb refused"));
    return Fault(store ? 503 : 400, error);
}

Outcome AlarmAction(qint64 id, const QString& verb, const Input& in,
                    const AlarmHandling::Actor& actor) {
    if (actor.by.isEmpty()) return Fault(400, QStringLiteral("a name is needed: who acts (by)"));
    AlarmHandling::AlarmRef alarm;
    QString error;
    if (!AlarmHandling::LookUp(id, alarm, &error)) {
        return Fault(error.startsWith(QLatin1String("there is no alarm")) ? 404 : 503, error);
    }
    // The text of a comment or a resolution; the API's "comment" does too.
    const QString text = in.Has("text") ? in.Text("text") : in.Text("comment");
    bool done = false;
    if (verb == QLatin1String("ack")) {
        QDateTime expires;
        const QString forText = in.Text("for").trimmed();
        if (!forText.isEmpty()) {
            const auto seconds = AlarmHandling::ParseDuration(forText);
            if (!seconds) {
                return Fault(400, QStringLiteral("for takes a duration such as 90m, 4h or 2d, not "
                                                 "'%1'")
                                      .arg(forText));
            }
            expires = Clock::Now().addSecs(*seconds);
        }
        done = AlarmHandling::Acknowledge(alarm, actor, in.Text("comment"), expires, &error);
    } else if (text.trimmed().isEmpty()) {
        return Fault(400, QStringLiteral("%1 needs a text").arg(verb));
    } else if (verb == QLatin1String("comment")) {
        done = AlarmHandling::Comment(alarm, actor, text, &error);
    } else {
        done = AlarmHandling::Resolve(alarm, actor, text, &error);
    }
    return done ? Outcome{} : Refused(error);
}

Outcome FindServer(const QString& device, ServerDatabase::ServerRow& row) {
    QList<ServerDatabase::ServerRow> servers;
    QString error;
    if (!ServerDatabase::ListServers(servers, &error)) return Fault(503, error);
    const auto it = std::find_if(servers.cbegin(), servers.cend(),
                                 [&](const auto& s) { return s.name.trimmed() == device; });
    if (it == servers.cend()) {
        return Fault(404, QStringLiteral("there is no device named '%1'").arg(device));
    }
    row = *it;
    return {};
}

// An unknown number is not there; any other refusal is the rule's or the
// store's.
Outcome Missing(const QString& error) {
    return error.startsWith(QLatin1String("there is no")) ||
                   error.startsWith(QLatin1String("there are no"))
               ? Fault(404, error)
               : Refused(error);
}

Outcome WindowAddAction(const Input& in, const AlarmHandling::Actor& actor, qint64& id) {
    const QString device = in.Text("device").trimmed();
    if (device.isEmpty())
        return Fault(400, QStringLiteral("a maintenance window needs the device"));
    if (actor.by.isEmpty()) return Fault(400, QStringLiteral("a name is needed: who acts (by)"));
    Silences::Window window;
    window.comment = in.Text("comment");
    QString error;
    if (!Silences::ParseSchedule(in.Text("from"), in.Text("to"), in.Text("weekly"), QString(),
                                 window, &error)) {
        return Fault(400, error);
    }
    const FolderLock::WriteLock lock(ProgramDir::Path(), 0);
    if (!lock.Held()) return Fault(503, lock.Error());
    ServerDatabase::ServerRow row;
    if (const Outcome bad = FindServer(device, row); !bad.ok()) return bad;
    window.deviceId = row.id;
    window.device = row.name.trimmed();
    if (!Silences::AddWindow(window, actor, id, &error)) return Refused(error);
    return {};
}

Outcome WindowRemoveAction(qint64 id, const AlarmHandling::Actor& actor) {
    if (actor.by.isEmpty()) return Fault(400, QStringLiteral("a name is needed: who acts (by)"));
    const FolderLock::WriteLock lock(ProgramDir::Path(), 0);
    if (!lock.Held()) return Fault(503, lock.Error());
    QString error;
    return Silences::RemoveWindow(id, actor, &error) ? Outcome{} : Missing(error);
}

Outcome ReviewAction(qint64 sensorId, const Input& in, const AlarmHandling::Actor& actor,
                     QDate& date) {
    const QString text = in.Text("date").trimmed();
    date = QDate::fromString(text, Qt::ISODate);
    if (!date.isValid() || text.size() != 10) {
        return Fault(400,
                     QStringLiteral("date takes a day such as 2026-12-09, not '%1'").arg(text));
    }
    if (actor.by.isEmpty())
        return Fault(400, QStringLiteral("a name is needed: who reviewed (by)"));
    const FolderLock::WriteLock lock(ProgramDir::Path(), 0);
    if (!lock.Held()) return Fault(503, lock.Error());
    QString error;
    return SensorHistory::SignOffDay(sensorId, date, actor, &error) ? Outcome{} : Missing(error);
}

Outcome SilenceAction(const Input& in, const AlarmHandling::Actor& actor, qint64& id) {
    const QString device = in.Text("device").trimmed();
    if (device.isEmpty()) return Fault(400, QStringLiteral("a silence needs the device"));
    if (actor.by.isEmpty()) return Fault(400, QStringLiteral("a name is needed: who acts (by)"));
    const QString forText = in.Text("for").trimmed(), untilText = in.Text("until").trimmed();
    if (forText.isEmpty() == untilText.isEmpty()) {
        return Fault(400, QStringLiteral("a silence takes one of for (90m, 4h, 2d) and until"));
    }
    QDateTime end;
    if (!forText.isEmpty()) {
        const auto seconds = AlarmHandling::ParseDuration(forText);
        if (!seconds) {
            return Fault(400, QStringLiteral("for takes a duration such as 90m, 4h or 2d, not '%1'")
                                  .arg(forText));
        }
        end = Clock::Now().addSecs(*seconds);
    } else {
        const auto parsed = AlarmHandling::ParseTime(untilText);
        if (!parsed) {
            return Fault(400, QStringLiteral("until takes a time such as 2026-12-09T02:00, not "
                                             "'%1'")
                                  .arg(untilText));
        }
        if (*parsed <= Clock::Now()) {
            return Fault(400, QStringLiteral("until %1 has passed").arg(untilText));
        }
        end = *parsed;
    }
    int port = Silences::kDevice;
    const QString portText = in.Text("port").trimmed();
    if (!portText.isEmpty()) {
        bool ok = false;
        port = portText.toInt(&ok);
        if (!ok || port < 0) {
            return Fault(400, QStringLiteral("port takes a port number, not '%1'").arg(portText));
        }
    }
    // Taken without waiting: the event loop does not stop for a command.
    const FolderLock::WriteLock lock(ProgramDir::Path(), 0);
    if (!lock.Held()) return Fault(503, lock.Error());
    ServerDatabase::ServerRow found;
    if (const Outcome bad = FindServer(device, found); !bad.ok()) return bad;
    QString error;
    if (port != Silences::kDevice) {
        QList<ServerDatabase::SensorListing> sensors;
        if (!ServerDatabase::ListSensors(found.id, sensors, &error)) return Fault(503, error);
        if (std::none_of(sensors.cbegin(), sensors.cend(),
                         [port](const auto& s) { return s.port == port; })) {
            return Fault(404, QStringLiteral("%1 has no sensor on port %2").arg(device).arg(port));
        }
    }
    if (!Silences::AddSilence(found.id, device, port, end, actor, in.Text("comment"), id, &error)) {
        return Refused(error);
    }
    return {};
}

Response SignOut(const Request& request, const Access& access) {
    if (access.session) Sessions::SignOut(access.session->id);
    Q_UNUSED(request);
    return SeeOther(QStringLiteral("/"), Sessions::EndCookie());
}

}  // namespace

QString CsrfField(const Access& access) {
    return Csrf(access);
}

QString Navigation(const Access& access) {
    // The links between the pages come with every page's start; this is who
    // is signed in.
    QString html = QStringLiteral("<p class=\"noprint\">");
    if (access.session) {
        html += QStringLiteral(
                    "<span id=\"signedin\">Signed in as <b>%1</b></span> <form class=\"inline\" "
                    "method=\"post\" action=\"/logout\">%2<button>Sign out</button></form>")
                    .arg(Esc(access.session->user), Csrf(access));
    } else if (Sessions::LoginSet()) {
        html += QStringLiteral("<a href=\"/login\">Sign in</a>");
    } else {
        return {};
    }
    return html + QStringLiteral("</p>\n");
}

Response Unauthorized(const Request& request) {
    if (!IsApi(request) && request.path != QLatin1String("/metrics") && Sessions::LoginSet()) {
        return {401, kHtml,
                Page(QStringLiteral("Sign-in needed"),
                     QStringLiteral("<p>unauthorized: <a href=\"/login\">sign in</a> or send the "
                                    "token.</p>\n"),
                     Access{})
                    .toUtf8()};
    }
    return {401, "text/plain; charset=utf-8", "unauthorized\n"};
}

std::optional<Response> Get(const Request& request, const Access& access) {
    const QString& path = request.path;
    if (path == QLatin1String("/login")) {
        const QString next =
            LocalPath(Field(Fields(request.query.toLatin1()), "next"), QStringLiteral("/"));
        return LoginPage(access, next, QString());
    }
    if (path == QLatin1String("/alarms") || path == QLatin1String("/api/v1/alarms")) {
        return AlarmsPage(request, access);
    }
    static const QRegularExpression alarm(
        QStringLiteral("^/(?:alarm|api/v1/alarms)/([^/]+)(/report\\.pdf)?$"));
    const auto match = alarm.match(path);
    if (!match.hasMatch()) return std::nullopt;
    const auto id = AlarmNumber(match.captured(1));
    if (!id) {
        return Refusal(
            request, access,
            Fault(404, QStringLiteral("'%1' is not an alarm number").arg(match.captured(1))));
    }
    if (!match.captured(2).isEmpty()) {
        if (IsApi(request)) return std::nullopt;
        return AlarmReport(request, access, *id);
    }
    return AlarmPage(request, access, *id);
}

Response Post(const Request& request, const Access& access) {
    const bool api = IsApi(request);
    if (!access.writable) {
        return Refusal(request, access,
                       Fault(403, QStringLiteral("writes are off: set an administrator login "
                                                 "(fernlog settings) or a [Web] Token")));
    }
    if (request.path == QLatin1String("/login")) return SignIn(request, access);
    const bool fromElsewhere = !request.origin.isEmpty() || !request.referer.isEmpty();
    Input in;
    in.api = api;
    if (access.token) {
        // A program sends no Origin; a browser page that does must be ours.
        if (fromElsewhere && !SameOrigin(request)) {
            return Refusal(request, access,
                           Fault(403, QStringLiteral("refused: sent from another site's page")));
        }
    } else if (access.session) {
        if (!SameOrigin(request)) {
            return Refusal(request, access,
                           Fault(403, QStringLiteral("refused: sent from another site's page")));
        }
    } else {
        return Refusal(request, access,
                       Fault(401, QStringLiteral("sign in (or send the token) to do that")));
    }
    if (api) {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(request.body, &parseError);
        if (!document.isObject()) {
            return Refusal(request, access,
                           Fault(400, QStringLiteral("the body is not a JSON object")));
        }
        in.json = document.object();
    } else {
        in.form = Fields(request.body);
    }
    // A session's forms carry its anti-forgery token; the API's requests
    // from a session, the header.
    if (!access.token) {
        const QByteArray given = api ? request.csrfHeader : Field(in.form, "csrf").toLatin1();
        if (given.isEmpty() || !Sessions::SameSecret(given, access.session->csrf)) {
            return Refusal(request, access,
                           Fault(403, QStringLiteral("refused: the form is out of date or not "
                                                     "this listener's; reload the page")));
        }
    }
    if (request.path == QLatin1String("/logout")) return SignOut(request, access);

    const AlarmHandling::Actor actor{
        in.Text("by").trimmed(),
        access.session ? access.session->user : QStringLiteral("web API token"),
        AlarmHandling::Origin::Web};
    static const QRegularExpression alarmAction(
        QStringLiteral("^/(?:alarm|api/v1/alarms)/([^/]+)/(ack|comment|resolve)$"));
    if (const auto match = alarmAction.match(request.path); match.hasMatch()) {
        const auto id = AlarmNumber(match.captured(1));
        if (!id) {
            return Refusal(
                request, access,
                Fault(404, QStringLiteral("'%1' is not an alarm number").arg(match.captured(1))));
        }
        const Outcome outcome = AlarmAction(*id, match.captured(2), in, actor);
        if (!outcome.ok()) return Refusal(request, access, outcome);
        if (!api) return SeeOther(QStringLiteral("/alarm/%1").arg(*id));
        View v;
        QList<Event> events;
        if (const Outcome bad = ReadAlarm(*id, v, events); !bad.ok()) {
            return Refusal(request, access, bad);
        }
        return Json(200, AlarmViews::DetailJson(v, events));
    }
    if (request.path == QLatin1String("/silences") ||
        request.path == QLatin1String("/api/v1/silences")) {
        qint64 id = 0;
        const Outcome outcome = SilenceAction(in, actor, id);
        if (!outcome.ok()) return Refusal(request, access, outcome);
        if (!api) return SeeOther(LocalPath(in.Text("return"), QStringLiteral("/")));
        return Json(201, QJsonObject{{"id", id}});
    }
    if (request.path == QLatin1String("/maintenance") ||
        request.path == QLatin1String("/api/v1/maintenance")) {
        qint64 id = 0;
        const Outcome outcome = WindowAddAction(in, actor, id);
        if (!outcome.ok()) return Refusal(request, access, outcome);
        if (!api) return SeeOther(QStringLiteral("/maintenance"));
        return Json(201, QJsonObject{{"id", id}});
    }
    static const QRegularExpression windowRemove(
        QStringLiteral("^/(?:api/v1/)?maintenance/([^/]+)/remove$"));
    if (const auto match = windowRemove.match(request.path); match.hasMatch()) {
        const auto id = AlarmNumber(match.captured(1));
        const Outcome outcome =
            id ? WindowRemoveAction(*id, actor)
               : Fault(404, QStringLiteral("'%1' is not a window number").arg(match.captured(1)));
        if (!outcome.ok()) return Refusal(request, access, outcome);
        if (!api) return SeeOther(QStringLiteral("/maintenance"));
        return Json(200, QJsonObject{{"id", *id}, {"removed", true}});
    }
    static const QRegularExpression review(
        QStringLiteral("^/(?:sensor|api/v1/sensors)/([^/]+)/review$"));
    if (const auto match = review.match(request.path); match.hasMatch()) {
        const auto id = AlarmNumber(match.captured(1));
        QDate date;
        const Outcome outcome =
            id ? ReviewAction(*id, in, actor, date)
               : Fault(404, QStringLiteral("'%1' is not a sensor number").arg(match.captured(1)));
        if (!outcome.ok()) return Refusal(request, access, outcome);
        if (!api) {
            return SeeOther(LocalPath(in.Text("return"), QStringLiteral("/sensor/%1").arg(*id)));
        }
        return Json(
            201,
            QJsonObject{{"sensorId", *id}, {"date", date.toString(Qt::ISODate)}, {"by", actor.by}});
    }
    return Refusal(request, access, Fault(404, QStringLiteral("nothing to post to here")));
}

}  // namespace Web
