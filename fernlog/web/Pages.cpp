#include "web/Pages.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QUrlQuery>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "core/DataLogs.h"
#include "core/HistoryExport.h"
#include "core/SensorHistory.h"
#include "core/Silences.h"
#include "db/ServerDatabase.h"
#include "web/Render.h"

namespace Web {
namespace {

const QByteArray kHtml = "text/html; charset=utf-8";
const QByteArray kJson = "application/json";

Response PlainText(int status, const QString& text) {
    return {status, "text/plain; charset=utf-8", text.toUtf8() + '\n'};
}

// A page that only says what went wrong, with the links to the others.
Response ErrorPage(int status, const QString& title, const QString& text, const QString& base) {
    return {status, kHtml,
            (PageStart(title, base) + QStringLiteral("<p class=\"bad\">") + HtmlEscape(text) +
             QStringLiteral("</p>\n") + PageEnd(base))
                .toUtf8()};
}

// The ID of "/PREFIX/ID" followed by `suffix`; nullopt for any other path.
std::optional<qint64> IdIn(const QString& path, QLatin1String prefix, QLatin1String suffix = {}) {
    if (!path.startsWith(prefix) || !path.endsWith(suffix)) return std::nullopt;
    const QStringView digits =
        QStringView(path).mid(prefix.size(), path.size() - prefix.size() - suffix.size());
    if (digits.isEmpty() || digits.size() > 18 || digits.startsWith(u'0')) return std::nullopt;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9') return std::nullopt;
    }
    return digits.toLongLong();
}

// The wall-clock time the data logs stamp readings with, held as UTC.
QDateTime Wall(const QDateTime& when) {
    return QDateTime(when.date(), when.time(), Qt::UTC);
}

qint64 WallSeconds(const QDateTime& when) {
    return when.date().toJulianDay() * 86400 + when.time().msecsSinceStartOfDay() / 1000;
}

QString WallText(const QDateTime& wall, const QString& format) {
    return wall.toString(format);
}

// A sensor the program knows: in the register or with data logs.
struct SensorName {
    QString device, name;
};
std::optional<SensorName> KnownSensor(qint64 id) {
    for (const SensorView& s : Take(false).sensors) {
        if (s.id == id) return SensorName{s.device, s.name};
    }
    for (const QString& directory : HistoryExport::CurrentDirectories()) {
        if (QFileInfo::exists(QDir(directory).filePath(DataLogs::DescriptionFileName(id)))) {
            return SensorName{};
        }
    }
    return std::nullopt;
}

// Where the running program logs, taken on the main thread for a worker
// that reads its history.
struct LogSource {
    QStringList directories = HistoryExport::CurrentDirectories();
    int updateSeconds = SensorHistory::UpdateSeconds();
};

// The history of a known sensor up to `to`, which is not later than now; a
// sensor with no data log yet has none. Safe on a worker thread.
bool ReadHistory(const LogSource& source, qint64 id, const QDateTime& from, const QDateTime& to,
                 SensorHistory::History& history, QString& error) {
    if (SensorHistory::Read(source.directories, source.updateSeconds, id, from, to, history,
                            &error)) {
        return true;
    }
    for (const QString& directory : source.directories) {
        if (!QDir(directory)
                 .entryList({QStringLiteral("Sensor-%1*.dat").arg(id)}, QDir::Files)
                 .isEmpty()) {
            return false;
        }
    }
    history = {};
    return true;
}

// ISO 8601 with the local offset of the moment the wall-clock time names,
// written by hand: a month of readings is tens of thousands of times. Clocks
// change on the hour: the offset is looked up once per hour.
class OffsetTimes {
  public:
    void Append(const QDateTime& wall, QByteArray& out) {
        const qint64 seconds = WallSeconds(wall);
        if (seconds / 3600 != hour_) {
            hour_ = seconds / 3600;
            const int offset = QDateTime(wall.date(), wall.time(), Qt::LocalTime).offsetFromUtc();
            const int minutes = std::abs(offset) / 60;
            std::snprintf(suffix_, sizeof suffix_, "%c%02d:%02d", offset < 0 ? '-' : '+',
                          minutes / 60, minutes % 60);
        }
        int year = 0, month = 0, day = 0;
        wall.date().getDate(&year, &month, &day);
        const int s = static_cast<int>(seconds % 86400);
        char text[48];
        const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%s", year,
                                    month, day, s / 3600, s / 60 % 60, s % 60, suffix_);
        out.append(text, n);
    }

  private:
    qint64 hour_ = -1;
    char suffix_[16] = {};
};

QString ValueText(double value) {
    return QString::number(value, 'g', 15);
}

// ---------------------------------------------------------------------------
// The chart: server-drawn SVG. Each pixel column keeps the lowest and the
// highest value in it, so that 43,200 readings draw as a few thousand
// points with their shape, and every gap breaks the line.

constexpr int kChartWidth = 800, kChartHeight = 260;
constexpr int kLeft = 56, kRight = 8, kTop = 10, kBottom = 24;

struct Period {
    qint64 from, to;  // wall seconds
};

QString Chart(const SensorHistory::History& h, const QDateTime& from, const QDateTime& to,
              const std::vector<Period>& alarms) {
    const int plotW = kChartWidth - kLeft - kRight, plotH = kChartHeight - kTop - kBottom;
    const qint64 t0 = WallSeconds(from), t1 = std::max(WallSeconds(to), t0 + 1);
    double lo = 0, hi = 0;
    bool any = false;
    for (const auto& point : h.points) {
        if (!point.second) continue;
        lo = any ? std::min(lo, *point.second) : *point.second;
        hi = any ? std::max(hi, *point.second) : *point.second;
        any = true;
    }
    if (hi - lo < 1e-9) {
        lo -= 1;
        hi += 1;
    }
    const double pad = (hi - lo) * 0.05;
    lo -= pad;
    hi += pad;
    const auto x = [&](qint64 t) {
        return kLeft + static_cast<int>(std::clamp<qint64>((t - t0) * plotW / (t1 - t0), 0, plotW));
    };
    const auto y = [&](double v) {
        return QString::number(kTop + (hi - v) / (hi - lo) * plotH, 'f', 1);
    };

    QString svg;
    svg.reserve(64 * 1024);
    svg += QStringLiteral(
               "<svg id=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\" "
               "width=\"%1\" height=\"%2\" role=\"img\" aria-label=\"readings\">")
               .arg(kChartWidth)
               .arg(kChartHeight);
    svg += QStringLiteral(
               "<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#fff\" "
               "stroke=\"#bbb\"/>")
               .arg(kLeft)
               .arg(kTop)
               .arg(plotW)
               .arg(plotH);
    for (const Period& p : alarms) {
        const int a = x(p.from), b = x(p.to);
        svg += QStringLiteral(
                   "<rect class=\"alarm\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" "
                   "fill=\"rgba(255,0,0,0.18)\"/>")
                   .arg(a)
                   .arg(kTop)
                   .arg(std::max(1, b - a))
                   .arg(plotH);
    }
    for (int i = 0; i <= 4; ++i) {
        const double v = hi - (hi - lo) * i / 4;
        const QString at = y(v);
        svg += QStringLiteral(
                   "<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" stroke=\"#e4e4e4\"/>"
                   "<text x=\"%4\" y=\"%3\" font-size=\"11\" text-anchor=\"end\" "
                   "dominant-baseline=\"middle\">%5</text>")
                   .arg(kLeft)
                   .arg(kLeft + plotW)
                   .arg(at)
                   .arg(kLeft - 4)
                   .arg(QString::number(v, 'f', std::abs(hi - lo) < 10 ? 1 : 0));
    }
    const QDateTime wallFrom = Wall(from), wallTo = Wall(to);
    const QString format =
        wallFrom.secsTo(wallTo) > 86400 ? QStringLiteral("MM-dd") : QStringLiteral("HH:mm");
    for (int i = 0; i <= 4; ++i) {
        const QDateTime at = wallFrom.addSecs(wallFrom.secsTo(wallTo) * i / 4);
        svg +=
            QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"11\" text-anchor=\"%3\">%4</text>")
                .arg(kLeft + plotW * i / 4)
                .arg(kChartHeight - 8)
                .arg(i == 0   ? "start"
                     : i == 4 ? "end"
                              : "middle")
                .arg(WallText(at, format));
    }

    QString path;
    path.reserve(32 * 1024);
    int column = -1;
    bool has = false, drawing = false;
    double low = 0, high = 0;
    const auto flush = [&] {
        if (!has) return;
        const QString px = QString::number(column);
        path += (drawing ? QLatin1Char('L') : QLatin1Char('M')) + px + u',' + y(low);
        // A column's own span, or a dot for a reading alone between gaps.
        if (high != low || !drawing) path += u'L' + px + u',' + y(high);
        drawing = true;
        has = false;
    };
    for (const auto& [when, value] : h.points) {
        if (!value) {
            flush();
            drawing = false;
            continue;
        }
        const int c = x(WallSeconds(when));
        if (c != column || !has) {
            flush();
            column = c;
            low = high = *value;
            has = true;
        } else {
            low = std::min(low, *value);
            high = std::max(high, *value);
        }
    }
    flush();
    if (!path.isEmpty()) {
        svg += QStringLiteral(
                   "<path class=\"line\" fill=\"none\" stroke=\"#1565c0\" "
                   "stroke-width=\"1.5\" stroke-linejoin=\"round\" "
                   "stroke-linecap=\"round\" d=\"") +
               path + QStringLiteral("\"/>");
    } else {
        svg += QStringLiteral(
                   "<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">No readings in "
                   "this period.</text>")
                   .arg(kLeft + plotW / 2)
                   .arg(kTop + plotH / 2);
    }
    svg += QStringLiteral("</svg>");
    return svg;
}

// The alarm periods of a sensor that overlap the chart's period.
std::vector<Period> AlarmPeriods(qint64 sensorId, const QDateTime& from, const QDateTime& to) {
    std::vector<Period> out;
    const qint64 a = WallSeconds(from), b = WallSeconds(to);
    for (const auto& p : HistoryExport::ReadAlarmPeriods()) {
        if (p.sensorId != sensorId) continue;
        const qint64 start = WallSeconds(p.start);
        const qint64 end = p.end.isValid() ? WallSeconds(p.end) : b;
        if (end < a || start > b) continue;
        out.push_back({std::max(start, a), std::min(end, b)});
    }
    return out;
}

// ---------------------------------------------------------------------------

struct Range {
    QString name;
    qint64 seconds;
};
const Range kRanges[] = {{QStringLiteral("24h"), 86400},
                         {QStringLiteral("7d"), 7 * 86400},
                         {QStringLiteral("30d"), 30 * 86400}};

// A day's sign-off, in its row: who reviewed it, the signed-in user unless
// changed.
QString SignOffForm(qint64 id, const QDate& day, const QString& range, const Access& access) {
    return QStringLiteral(
               "<form class=\"inline\" method=\"post\" action=\"/sensor/%1/review\">%2<input "
               "type=\"hidden\" name=\"date\" value=\"%3\"><input type=\"hidden\" "
               "name=\"return\" value=\"/sensor/%1?range=%4\"><input type=\"text\" name=\"by\" "
               "size=\"10\" required aria-label=\"Reviewed by\" value=\"%5\"> <button>Sign "
               "off</button></form>")
        .arg(QString::number(id), CsrfField(access), day.toString(Qt::ISODate), range,
             HtmlEscape(access.session->user));
}

Response SensorPage(qint64 id, const QUrlQuery& query, const Access& access) {
    const QString base = QStringLiteral("../");
    const QString rangeName = query.hasQueryItem(QStringLiteral("range"))
                                  ? query.queryItemValue(QStringLiteral("range"))
                                  : QStringLiteral("24h");
    const Range* range = nullptr;
    for (const Range& r : kRanges) {
        if (r.name == rangeName) range = &r;
    }
    if (!range) {
        return ErrorPage(
            400, QStringLiteral("Bad request"),
            QStringLiteral("the range \"%1\" is not one of 24h, 7d, 30d").arg(rangeName), base);
    }
    const auto known = KnownSensor(id);
    if (!known) {
        return ErrorPage(404, QStringLiteral("Not found"),
                         QStringLiteral("There is no sensor %1.").arg(id), base);
    }
    const QDateTime to = Wall(Clock::Now());
    const QDateTime from = to.addSecs(-range->seconds);
    // What the databases and settings say is read here; the logs, a month
    // of readings, beside the event loop.
    const std::vector<Period> alarms = AlarmPeriods(id, from, to);
    QList<SensorHistory::DayReview> reviews;
    QString reviewError;
    const bool reviewsRead = SensorHistory::ListDayReviews(id, reviews, from.date(), &reviewError);
    const QString navigation = Navigation(access);
    Response response;
    response.rest = [=, source = LogSource(), known = *known, rangeName = range->name] {
        SensorHistory::History h;
        QString error;
        if (!ReadHistory(source, id, from, to, h, error)) {
            return ErrorPage(500, QStringLiteral("Sensor %1").arg(id),
                             QStringLiteral("The history cannot be read: ") + error, base);
        }
        const QString device = known.device.isEmpty() ? h.device : known.device;
        const QString name = known.name.isEmpty() ? h.name : known.name;
        QString html;
        QTextStream out(&html);
        out << PageStart(
                   name.isEmpty() ? QStringLiteral("Sensor %1").arg(id) : device + " - " + name,
                   base)
            << navigation << "<p>Sensor " << id
            << (h.unit.isEmpty() ? QString() : ", " + HtmlEscape(h.unit)) << ". Last ";
        for (const Range& r : kRanges) {
            if (r.name == rangeName) {
                out << "<b>" << r.name << "</b> ";
            } else {
                out << "<a href=\"" << id << "?range=" << r.name << "\">" << r.name << "</a> ";
            }
        }
        out << "&middot; <a href=\"../api/v1/sensors/" << id
            << "/history?from=" << from.toString(Qt::ISODate).chopped(1) << "\">JSON</a></p>\n"
            << "<div class=\"scroll\">" << Chart(h, from, to, alarms)
            << "</div>\n<p class=\"state\">Shaded: during an alarm. A break in the line: no "
               "reading, or a probe fault.</p>\n";

        const std::vector<SensorHistory::Day> days = SensorHistory::Days(h);
        out << "<h2>Each day</h2>\n";
        if (!reviewsRead) {
            out << "<p class=\"bad\">The day reviews cannot be read: " << HtmlEscape(reviewError)
                << "</p>\n";
        }
        out << "<div class=\"scroll\"><table id=\"days\"><tr><th>Day</th><th>Minimum</th>"
            << "<th>Maximum</th><th>Mean</th><th>Readings</th><th>Reviewed</th></tr>\n";
        for (auto it = days.rbegin(); it != days.rend(); ++it) {
            const auto review = std::find_if(reviews.cbegin(), reviews.cend(),
                                             [&](const auto& r) { return r.date == it->date; });
            out << "<tr><td>" << it->date.toString(Qt::ISODate) << "</td><td>"
                << ValueText(it->minimum) << "</td><td>" << ValueText(it->maximum) << "</td><td>"
                << QString::number(it->mean, 'f', 2) << "</td><td>" << it->readings << "</td><td>"
                << (review != reviews.cend() ? HtmlEscape(review->by) + QStringLiteral(", ") +
                                                   PageTime(review->at.toLocalTime())
                    : access.session && reviewsRead ? SignOffForm(id, it->date, rangeName, access)
                                                    : QStringLiteral("-"))
                << "</td></tr>\n";
        }
        if (days.empty()) out << "<tr><td colspan=\"6\">No readings in this period.</td></tr>\n";
        out << "</table></div>\n" << PageEnd(base);
        out.flush();
        return Response{200, kHtml, html.toUtf8()};
    };
    return response;
}

// "from" or "to" of a history request, as the wall-clock time of the logs.
std::optional<QDateTime> TimeParameter(const QUrlQuery& query, const QString& name,
                                       const QDateTime& otherwise, QString& error) {
    if (!query.hasQueryItem(name)) return otherwise;
    const QString text = query.queryItemValue(name, QUrl::FullyDecoded);
    auto parsed = AlarmHandling::ParseTime(text);
    // A bare date is the start of the day.
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (!parsed && text.size() == 10 && date.isValid()) parsed = QDateTime(date, QTime(0, 0));
    if (!parsed) {
        error = QStringLiteral(
                    "%1: \"%2\" is not an ISO 8601 time (2026-12-09T02:00, with an "
                    "offset or Z when not local time)")
                    .arg(name, text);
        return std::nullopt;
    }
    return Wall(parsed->toLocalTime());
}

Response HistoryJson(qint64 id, const QUrlQuery& query) {
    if (!KnownSensor(id)) return PlainText(404, QStringLiteral("there is no sensor %1").arg(id));
    QString error;
    const auto to = TimeParameter(query, QStringLiteral("to"), Wall(Clock::Now()), error);
    if (!to) return PlainText(400, error);
    const auto from = TimeParameter(query, QStringLiteral("from"), to->addSecs(-86400), error);
    if (!from) return PlainText(400, error);
    if (*from > *to) return PlainText(400, QStringLiteral("from is after to"));
    if (from->secsTo(*to) > kMaxHistoryDays * 86400LL) {
        return PlainText(400, QStringLiteral("at most %1 days at once").arg(kMaxHistoryDays));
    }
    // Not later than now: the logs end there, and the worker reads no clock.
    const QDateTime end = std::min(*to, Wall(Clock::Now()));
    Response response;
    response.rest = [id, source = LogSource(), from = *from, end] {
        SensorHistory::History h;
        QString error;
        if (!ReadHistory(source, id, from, end, h, error)) {
            return PlainText(500, QStringLiteral("the history cannot be read: ") + error);
        }
        // Written by hand: a month of readings is tens of thousands of points.
        QByteArray body;
        body.reserve(static_cast<qsizetype>(h.points.size()) * 36 + 128);
        body += "{\"sensorId\":" + QByteArray::number(id) + ",\"unit\":";
        body += QJsonDocument(QJsonArray{h.unit}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
        body += ",\"points\":[";
        OffsetTimes times;
        bool first = true;
        for (const auto& [when, value] : h.points) {
            body += first ? "[\"" : ",[\"";
            first = false;
            times.Append(when, body);
            body += "\",";
            if (value) {
                char number[32];
                const auto last = std::to_chars(number, number + sizeof number, *value).ptr;
                body.append(number, last - number);
            } else {
                body += "null";
            }
            body += ']';
        }
        body += "]}";
        return Response{200, kJson, body};
    };
    return response;
}

// ---------------------------------------------------------------------------

struct Maintenance {
    QList<Silences::Silence> silences;
    QList<Silences::Window> windows;
    Silences::State state;
};

bool ReadMaintenance(Maintenance& m, QString& error) {
    return Silences::ListSilences(m.silences, &error) && Silences::ListWindows(m.windows, &error) &&
           Silences::ReadState(Clock::Now(), m.state, &error);
}

QString Local(const QDateTime& when) {
    return PageTime(when.isValid() ? when.toLocalTime() : when);
}

// A new window: a device, and either a one-off period or a weekly one.
QString WindowForm(const Access& access) {
    QList<ServerDatabase::ServerRow> servers;
    ServerDatabase::ListServers(servers);
    QString devices;
    for (const auto& s : servers) {
        devices += QStringLiteral("<option>%1</option>").arg(HtmlEscape(s.name.trimmed()));
    }
    return QStringLiteral(
               "<h3>Add a window</h3>\n<form class=\"act\" id=\"addwindow\" method=\"post\" "
               "action=\"/maintenance\">%1<label>Device <select name=\"device\" required>%2"
               "</select></label><label>From <input type=\"datetime-local\" name=\"from\">"
               "</label><label>To <input type=\"datetime-local\" name=\"to\"></label><label>or "
               "weekly <input type=\"text\" name=\"weekly\" size=\"16\" "
               "placeholder=\"Sun 02:00-04:00\"></label><label>Name <input type=\"text\" "
               "name=\"by\" required value=\"%3\"></label><label>Comment <input type=\"text\" "
               "name=\"comment\"></label><button>Add window</button></form>\n")
        .arg(CsrfField(access), devices, HtmlEscape(access.session->user));
}

Response MaintenancePage(const Access& access) {
    const QString base;
    Maintenance m;
    QString error;
    if (!ReadMaintenance(m, error)) {
        return ErrorPage(500, QStringLiteral("Maintenance"),
                         QStringLiteral("The silences cannot be read: ") + error, base);
    }
    const QDateTime now = Clock::Now();
    QString html;
    QTextStream out(&html);
    out << PageStart(QStringLiteral("Silences and maintenance"), base) << Navigation(access)
        << "<p>While one covers a device or sensor, readings and alarms are recorded as always; "
           "no notice about them is sent.</p>\n<h2>Silences</h2>\n";
    if (m.silences.isEmpty()) {
        out << "<p id=\"silences\">None in force or planned.</p>\n";
    } else {
        out << "<div class=\"scroll\"><table id=\"silences\"><tr><th>#</th><th>Device</th>"
            << "<th>Port</th><th>From</th><th>Until</th><th>Now</th><th>By</th><th>Comment</th>"
            << "</tr>\n";
        for (const auto& s : m.silences) {
            out << "<tr><td>" << s.id << "</td><td>" << HtmlEscape(s.device) << "</td><td>"
                << (s.port == Silences::kDevice ? QStringLiteral("all") : QString::number(s.port))
                << "</td><td>" << Local(s.from) << "</td><td>" << Local(s.until) << "</td><td>"
                << (s.from <= now ? "in force" : "planned") << "</td><td>" << HtmlEscape(s.by)
                << "</td><td>" << HtmlEscape(s.comment) << "</td></tr>\n";
        }
        out << "</table></div>\n";
    }
    out << "<h2>Maintenance windows</h2>\n";
    if (m.windows.isEmpty()) {
        out << "<p id=\"windows\">None.</p>\n";
    } else {
        out << "<div class=\"scroll\"><table id=\"windows\"><tr><th>#</th><th>Device</th>"
            << "<th>When</th><th>Now</th><th>By</th><th>Comment</th>"
            << (access.session ? "<th></th>" : "") << "</tr>\n";
        for (const auto& w : m.windows) {
            const bool inForce =
                w.weekly ? m.state.maintenance.contains(w.deviceId) : w.from <= now && now < w.to;
            out << "<tr><td>" << w.id << "</td><td>" << HtmlEscape(w.device) << "</td><td>"
                << (w.weekly ? QStringLiteral("every ") + HtmlEscape(w.weekly->Text())
                             : Local(w.from) + QStringLiteral(" - ") + Local(w.to))
                << "</td><td>" << (inForce ? "in force" : "planned") << "</td><td>"
                << HtmlEscape(w.by) << "</td><td>" << HtmlEscape(w.comment) << "</td>";
            if (access.session) {
                out << "<td><form class=\"inline\" method=\"post\" action=\"/maintenance/" << w.id
                    << "/remove\">" << CsrfField(access)
                    << "<input type=\"hidden\" name=\"by\" value=\""
                    << HtmlEscape(access.session->user) << "\"><button>Remove</button></form></td>";
            }
            out << "</tr>\n";
        }
        out << "</table></div>\n";
    }
    if (access.session) out << WindowForm(access);
    out << "<p><small><a href=\"api/v1/maintenance\">JSON</a></small></p>\n" << PageEnd(base);
    out.flush();
    return {200, kHtml, html.toUtf8()};
}

Response MaintenanceJson() {
    Maintenance m;
    QString error;
    if (!ReadMaintenance(m, error)) {
        return PlainText(500, QStringLiteral("the silences cannot be read: ") + error);
    }
    QJsonArray silences, windows;
    for (const auto& s : m.silences) silences.append(Silences::Json(s));
    for (const auto& w : m.windows) windows.append(Silences::Json(w));
    const QJsonObject root{{"silences", silences}, {"windows", windows}};
    return {200, kJson, QJsonDocument(root).toJson(QJsonDocument::Compact)};
}

// ---------------------------------------------------------------------------

struct AuditPage {
    QList<AlarmHandling::AuditRow> rows;  // this page's, newest first
    int page = 1, pages = 1, total = 0;
    bool verified = false;
    qint64 firstBad = 0;
};

// The page asked for; false with the reason (`status` 400 for a bad page
// number, 500 when the trail cannot be read).
bool ReadAudit(const QUrlQuery& query, AuditPage& a, int& status, QString& error) {
    if (query.hasQueryItem(QStringLiteral("page"))) {
        bool ok = false;
        a.page = query.queryItemValue(QStringLiteral("page")).toInt(&ok);
        if (!ok || a.page < 1) {
            status = 400;
            error = QStringLiteral("page: \"%1\" is not a page number from 1")
                        .arg(query.queryItemValue(QStringLiteral("page")));
            return false;
        }
    }
    status = 500;
    QList<AlarmHandling::AuditRow> all;
    if (QFileInfo::exists(AlarmHandling::Path())) {
        int rows = 0;
        if (!AlarmHandling::VerifyAudit(a.firstBad, rows, &error) ||
            !AlarmHandling::ListAudit(all, QDateTime(), 0, &error)) {
            return false;
        }
    }
    a.verified = a.firstBad == 0;
    a.total = static_cast<int>(all.size());
    a.pages = std::max(1, (a.total + kAuditPageRows - 1) / kAuditPageRows);
    const int end = a.total - (a.page - 1) * kAuditPageRows;
    for (int i = end - 1; i >= 0 && i >= end - kAuditPageRows; --i) a.rows.append(all[i]);
    return true;
}

Response AuditHtml(const QUrlQuery& query) {
    const QString base;
    AuditPage a;
    int status = 0;
    QString error;
    if (!ReadAudit(query, a, status, error)) {
        return ErrorPage(status, QStringLiteral("Audit trail"), error, base);
    }
    QString html;
    QTextStream out(&html);
    out << PageStart(QStringLiteral("Audit trail"), base);
    if (a.verified) {
        out << "<p id=\"verify\">All " << a.total << " rows match their chain.</p>\n";
    } else {
        out << "<p id=\"verify\" class=\"bad\">The trail does not match its chain from row "
            << a.firstBad << " on: a row was changed or removed.</p>\n";
    }
    out << "<p>Newest first; page " << a.page << " of " << a.pages << ".";
    if (a.page > 1) out << " <a href=\"audit?page=" << a.page - 1 << "\">Newer</a>";
    if (a.page < a.pages) out << " <a href=\"audit?page=" << a.page + 1 << "\">Older</a>";
    out << "</p>\n<div class=\"scroll\"><table id=\"audit\"><tr><th>#</th><th>When</th>"
        << "<th>Who</th><th>From</th><th>Action</th><th>Alarm</th><th>Device</th><th>Old</th>"
        << "<th>New</th></tr>\n";
    for (const auto& r : a.rows) {
        out << "<tr><td>" << r.id << "</td><td>" << Local(r.at) << "</td><td>" << HtmlEscape(r.by)
            << " (" << HtmlEscape(r.user) << ")</td><td>" << HtmlEscape(r.origin) << "</td><td>"
            << HtmlEscape(r.action) << "</td><td>";
        if (r.alarm) out << "<a href=\"alarm/" << r.alarm << "\">" << r.alarm << "</a>";
        out << "</td><td>" << HtmlEscape(r.device) << "</td><td>" << HtmlEscape(r.oldValue)
            << "</td><td>" << HtmlEscape(r.newValue) << "</td></tr>\n";
    }
    if (a.rows.isEmpty()) out << "<tr><td colspan=\"9\">No rows.</td></tr>\n";
    out << "</table></div>\n<p><small><a href=\"api/v1/audit?page=" << a.page
        << "\">JSON</a></small></p>\n"
        << PageEnd(base);
    out.flush();
    return {200, kHtml, html.toUtf8()};
}

Response AuditJson(const QUrlQuery& query) {
    AuditPage a;
    int status = 0;
    QString error;
    if (!ReadAudit(query, a, status, error)) return PlainText(status, error);
    QJsonArray rows;
    for (const auto& r : a.rows) rows.append(AlarmHandling::Json(r));
    const QJsonObject root{{"verified", a.verified},
                           {"firstBadRow", a.firstBad ? QJsonValue(a.firstBad) : QJsonValue()},
                           {"total", a.total},
                           {"page", a.page},
                           {"pages", a.pages},
                           {"rows", rows}};
    return {200, kJson, QJsonDocument(root).toJson(QJsonDocument::Compact)};
}

}  // namespace

bool AnswerPage(const Request& request, const Access& access, Response& response) {
    const QString& path = request.path;
    const QUrlQuery query(request.query);
    if (const auto id = IdIn(path, QLatin1String("/sensor/"))) {
        response = SensorPage(*id, query, access);
    } else if (const auto id =
                   IdIn(path, QLatin1String("/api/v1/sensors/"), QLatin1String("/history"))) {
        response = HistoryJson(*id, query);
    } else if (path.startsWith(QLatin1String("/sensor/"))) {
        response = ErrorPage(404, QStringLiteral("Not found"),
                             QStringLiteral("There is no such sensor."), QStringLiteral("../"));
    } else if (path == QLatin1String("/maintenance")) {
        response = MaintenancePage(access);
    } else if (path == QLatin1String("/api/v1/maintenance")) {
        response = MaintenanceJson();
    } else if (path == QLatin1String("/audit")) {
        response = AuditHtml(query);
    } else if (path == QLatin1String("/api/v1/audit")) {
        response = AuditJson(query);
    } else {
        return false;
    }
    return true;
}

}  // namespace Web
