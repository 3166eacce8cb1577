#include "core/AlertmanagerSync.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <memory>

#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "core/ChannelOutbox.h"
#include "core/EmailNotification.h"
#include "core/Journal.h"
#include "core/Outbox.h"
#include "core/ServiceLog.h"
#include "core/Settings.h"
#include "core/Silences.h"
#include "core/StatusGrid.h"
#include "core/WebRequest.h"
#include "db/ServerDatabase.h"

namespace AlertmanagerSync {
namespace {

constexpr int kMaxAlarms = 1000;
// A silence of an acknowledgement without an end is made for a day and
// lengthened when less than half of it is left.
constexpr qint64 kSilenceSecs = 24 * 3600;
constexpr qint64 kSilenceRenewSecs = 12 * 3600;
// The silence list keeps expired silences for days: read whole, up to this.
constexpr qint64 kMaxListBytes = 1 << 20;

const QString kSensorAlarm = QStringLiteral("FernlogSensorAlarm");
const QString kDeviceDown = QStringLiteral("FernlogDeviceDown");

OutcomeHandler& Handler() {
    static OutcomeHandler handler;
    return handler;
}

QString Iso(const QDateTime& when) {
    return when.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime FromIso(const QString& text) {
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

// Pushed alerts end this far ahead: three update periods and a minute, at
// least five minutes, so a late cycle never lets one lapse.
qint64 LifetimeSecs() {
    return qMax<qint64>(300, 3 * qint64{qMax<qint16>(ConfigParameters.UpdateRate, 1)} + 60);
}

QUrl Endpoint(const QUrl& base, const QString& path) {
    QUrl url = base;
    QString prefix = url.path();
    if (!prefix.endsWith(u'/')) prefix += u'/';
    url.setPath(prefix + path);
    url.setQuery(QString());
    return url;
}

// One alert as fernlog knows it. `end` invalid: still open.
struct Item {
    QString key;  // one per sensor or device: two records of it never go out together
    qint64 deviceId = 0;
    QString device;
    qint64 alarmId = 0;  // tblAlarms.IDNum; 0 for a failure or a record still waiting
    QJsonObject labels, annotations;
    QDateTime start, end;
    std::optional<AlarmHandling::Acknowledgement> ack;
};

// An open record as the database holds it with the journal's waiting
// changes applied; the ends the journal holds are collected in `ended`.
struct Known {
    qint64 row = 0, ref = 0;
    QString start, emailSent, server, sensor, currentData;
};
struct Ended {
    qint64 owner = 0;
    Known record;
    QString end;
};
void ApplyWaiting(bool alarms, QHash<qint64, Known>& open, QList<Ended>& ended) {
    for (const Journal::Change& c : Journal::Waiting()) {
        if (Journal::IsAlarm(c.kind) != alarms) continue;
        if (Journal::IsOpening(c.kind)) {
            open[c.owner] = Known{
                0,        c.ref,    c.time,       c.emailSent.value_or(QStringLiteral("False")),
                c.server, c.sensor, c.currentData};
            continue;
        }
        for (auto it = open.begin(); it != open.end(); ++it) {
            if (!Journal::Targets(c, it->row, it->ref)) continue;
            if (c.kind == Journal::Kind::AlarmClose || c.kind == Journal::Kind::FailureBack) {
                ended << Ended{it.key(), *it, c.time};
                open.erase(it);
            } else if (c.emailSent) {
                it->emailSent = *c.emailSent;
            }
            break;
        }
    }
}

QString LatestReading(qint64 sensorId) {
    for (const GridRow& row : StatusGrid::Model().Rows()) {
        if (row.sensorId == sensorId) return ServiceLog::ReadingWithUnit(row.reading, row.units);
    }
    return {};
}

Item SensorItem(qint64 sensorId, qint64 deviceId, const QString& device, const QString& sensor,
                const QString& firstReading, const QDateTime& start) {
    Item item;
    item.key = QStringLiteral("sensor %1").arg(sensorId);
    item.deviceId = deviceId;
    item.device = device;
    item.start = start;
    item.labels = {{"alertname", kSensorAlarm},
                   {"site", ConfigParameters.OrgName.Text().trimmed()},
                   {"device", device},
                   {"sensor", sensor},
                   {"sensor_id", QString::number(sensorId)},
                   {"severity", QStringLiteral("critical")}};
    const QString latest = LatestReading(sensorId);
    item.annotations = {
        {"summary", QStringLiteral("Sensor %1 on %2 is in alarm").arg(sensor, device)},
        {"description",
         QStringLiteral("In alarm since %1 (reading %2)%3.")
             .arg(Clock::GeneralDateText(start), firstReading,
                  latest.isEmpty() ? QString() : QStringLiteral(", latest reading ") + latest)}};
    return item;
}

Item DeviceItem(const ServerDatabase::ServerRow& server, const QDateTime& offLine) {
    Item item;
    item.key = QStringLiteral("device %1").arg(server.id);
    item.deviceId = server.id;
    item.device = server.name.trimmed();
    item.start = offLine;
    item.labels = {{"alertname", kDeviceDown},
                   {"site", ConfigParameters.OrgName.Text().trimmed()},
                   {"device", item.device},
                   {"severity", QStringLiteral("warning")}};
    item.annotations = {
        {"summary",
         QStringLiteral("Device %1 (%2) is not answering").arg(item.device, server.ip.trimmed())},
        {"description", QStringLiteral("No answer from %1 since %2.")
                            .arg(item.device, Clock::GeneralDateText(offLine))}};
    return item;
}

// What Alertmanager should hold now: the open alarms and told failures not
// covered by a silence, and what ended within two lifetimes (before that,
// the copy there has ended by itself). False when the records cannot be
// read: nothing is pushed then, rather than resolving what is still open.
bool Collect(const QDateTime& now, QList<Item>& open, QList<Item>& ended) {
    QList<ServerDatabase::ServerRow> servers;
    QList<ServerDatabase::OpenAlarm> alarms;
    if (!ServerDatabase::ListServers(servers) ||
        !ServerDatabase::ListOpenAlarms(alarms, kMaxAlarms))
        return false;
    const auto serverNamed = [&](const QString& name) -> const ServerDatabase::ServerRow* {
        for (const auto& s : servers) {
            if (s.name.trimmed() == name.trimmed()) return &s;
        }
        return nullptr;
    };
    const auto serverOf = [&](qint64 id) -> const ServerDatabase::ServerRow* {
        for (const auto& s : servers) {
            if (s.id == id) return &s;
        }
        return nullptr;
    };
    const QDateTime since = now.addSecs(-2 * LifetimeSecs());

    QHash<qint64, Known> openAlarms;
    for (const auto& a : alarms) {
        openAlarms[a.sensorId] =
            Known{a.id, 0, Clock::DbStamp(a.start), QString(), a.server, a.sensor, a.currentData};
    }
    QList<Ended> journalEnds;
    ApplyWaiting(true, openAlarms, journalEnds);
    QSet<QString> keys;
    for (auto it = openAlarms.cbegin(); it != openAlarms.cend(); ++it) {
        const auto* server = serverNamed(it->server);
        if (!server) continue;
        const QDateTime start = Clock::FromDbStamp(it->start);
        if (Silences::Covers(server->id, Silences::PortOf(server->id, it.key()), now)) continue;
        Item item = SensorItem(it.key(), server->id, server->name.trimmed(), it->sensor,
                               it->currentData, start);
        item.alarmId = it->row;
        if (item.alarmId > 0 &&
            !AlarmHandling::CurrentAcknowledgement(item.alarmId, now, item.ack)) {
            item.ack.reset();
        }
        keys << item.key;
        open << item;
    }
    QList<ServerDatabase::AlarmRecord> closed;
    ServerDatabase::ListAlarmsEndedSince(since, closed);
    for (const Ended& e : journalEnds) {
        ServerDatabase::AlarmRecord r;
        r.sensorId = e.owner;
        r.server = e.record.server;
        r.sensor = e.record.sensor;
        r.currentData = e.record.currentData;
        r.start = Clock::FromDbStamp(e.record.start);
        r.end = Clock::FromDbStamp(e.end);
        closed << r;
    }
    for (const auto& r : closed) {
        const auto* server = serverNamed(r.server);
        const QString key = QStringLiteral("sensor %1").arg(r.sensorId);
        if (!server || keys.contains(key)) continue;
        Item item = SensorItem(r.sensorId, server->id, server->name.trimmed(), r.sensor,
                               r.currentData, r.start);
        item.end = r.end;
        ended << item;
    }

    QHash<qint64, Known> openFailures;
    for (const auto& s : servers) {
        ServerDatabase::OpenRecord row;
        if (ServerDatabase::ReadOpenFailure(s.id, row) && row.id > 0) {
            openFailures[s.id] = Known{row.id, 0, row.start, row.emailSent, s.name, {}, {}};
        }
    }
    journalEnds.clear();
    ApplyWaiting(false, openFailures, journalEnds);
    for (auto it = openFailures.cbegin(); it != openFailures.cend(); ++it) {
        const auto* server = serverOf(it.key());
        // Told as e-mail is: from the outage's second failed cycle, when its
        // e-mail went out, is on its way or could not be made.
        const bool told =
            it->emailSent != QLatin1String("False") ||
            (it->row > 0 && Outbox::Pending(EmailNotification::FailureMailReceipt(), it->row));
        if (!server || server->enabled != 1 || !told ||
            Silences::Covers(server->id, Silences::kDevice, now)) {
            continue;
        }
        open << DeviceItem(*server, Clock::FromDbStamp(it->start));
        keys << open.last().key;
    }
    QList<ServerDatabase::FailurePeriod> back;
    ServerDatabase::ListFailuresEndedSince(since, back);
    for (const Ended& e : journalEnds) {
        back << ServerDatabase::FailurePeriod{e.owner, e.record.server,
                                              Clock::FromDbStamp(e.record.start),
                                              Clock::FromDbStamp(e.end)};
    }
    for (const auto& f : back) {
        const auto* server = serverOf(f.serverId);
        if (!server || keys.contains(QStringLiteral("device %1").arg(f.serverId))) continue;
        Item item = DeviceItem(*server, f.offLine);
        item.end = f.backOnLine;
        ended << item;
    }
    return true;
}

bool ForTarget(const Item& item, const Target& target) {
    if (target.devices.isEmpty()) return true;
    for (const QString& name : target.devices) {
        if (name.trimmed().compare(item.device, Qt::CaseInsensitive) == 0) return true;
    }
    return false;
}

QJsonObject AlertJson(const Item& item, const QDateTime& endsAt) {
    QJsonObject alert{
        {"labels", item.labels}, {"annotations", item.annotations}, {"endsAt", Iso(endsAt)}};
    // A start the record does not hold is left to Alertmanager (its arrival):
    // an invalid time would have the whole push refused.
    if (item.start.isValid()) alert["startsAt"] = Iso(item.start);
    return alert;
}

QJsonArray Matchers(const QJsonObject& labels) {
    QJsonArray matchers;
    for (auto it = labels.begin(); it != labels.end(); ++it) {
        if (it.key() == QLatin1String("severity")) continue;
        matchers.append(QJsonObject{
            {"name", it.key()}, {"value", it.value()}, {"isRegex", false}, {"isEqual", true}});
    }
    return matchers;
}

// Matchers compared as a set: Alertmanager need not keep their order.
QSet<QString> MatcherSet(const QJsonArray& matchers) {
    QSet<QString> set;
    for (const QJsonValue& m : matchers) {
        set << m["name"].toString() + (m["isRegex"].toBool() ? u'~' : u'=') +
                   (m["isEqual"].toBool(true) ? u'=' : u'!') + m["value"].toString();
    }
    return set;
}

// A silence of ours as Alertmanager lists it.
struct Existing {
    QString id;
    qint64 alarm = 0;
    QJsonObject json;
    QDateTime endsAt;
};
QList<Existing> OurSilences(const QByteArray& list, const QString& site) {
    static const QRegularExpression mark(QStringLiteral("\\(fernlog alarm (\\d+)\\)$"));
    QList<Existing> ours;
    for (const QJsonValue& v : QJsonDocument::fromJson(list).array()) {
        const QJsonObject s = v.toObject();
        const QString state = s["status"].toObject()["state"].toString();
        if (state != QLatin1String("active") && state != QLatin1String("pending")) continue;
        const auto match = mark.match(s["comment"].toString());
        if (!match.hasMatch()) continue;
        bool ourSite = false;
        for (const QJsonValue& m : s["matchers"].toArray()) {
            ourSite = ourSite || (m["name"].toString() == QLatin1String("site") &&
                                  m["value"].toString() == site);
        }
        if (!ourSite) continue;
        ours << Existing{s["id"].toString(), match.captured(1).toLongLong(), s,
                         FromIso(s["endsAt"].toString())};
    }
    return ours;
}

// One request that must go out to bring the silences in line.
struct Change {
    QByteArray method;
    QString path;
    QJsonObject body;
};
QList<Change> SilenceChanges(const QList<Item>& open, const QList<Existing>& existing,
                             const QDateTime& now) {
    QList<Change> changes;
    QSet<QString> kept;
    for (const Item& item : open) {
        if (!item.ack || item.alarmId <= 0) continue;
        const AlarmHandling::Acknowledgement& ack = *item.ack;
        const QString comment =
            (ack.comment.trimmed().isEmpty() ? QStringLiteral("Acknowledged in fernlog")
                                             : ack.comment.trimmed()) +
            u' ' + SilenceMark(item.alarmId);
        const QJsonArray matchers = Matchers(item.labels);
        const bool fixedEnd = ack.expires.isValid();
        const QDateTime wantedEnd = fixedEnd ? ack.expires : now.addSecs(kSilenceSecs);
        QJsonObject silence{{"matchers", matchers},
                            {"startsAt", Iso(now)},
                            {"endsAt", Iso(wantedEnd)},
                            {"createdBy", ack.by},
                            {"comment", comment}};
        bool have = false;
        for (const Existing& e : existing) {
            if (have || e.alarm != item.alarmId || e.json["createdBy"].toString() != ack.by ||
                e.json["comment"].toString() != comment ||
                MatcherSet(e.json["matchers"].toArray()) != MatcherSet(matchers)) {
                continue;
            }
            have = true;
            kept << e.id;
            const bool endFits = fixedEnd ? qAbs(e.endsAt.secsTo(wantedEnd)) <= 60
                                          : e.endsAt >= now.addSecs(kSilenceRenewSecs);
            if (!endFits) {
                // The same silence, its end moved: Alertmanager keeps its id.
                silence["id"] = e.id;
                silence["startsAt"] = e.json["startsAt"];
                changes << Change{"POST", QStringLiteral("api/v2/silences"), silence};
            }
        }
        if (!have) changes << Change{"POST", QStringLiteral("api/v2/silences"), silence};
    }
    for (const Existing& e : existing) {
        if (!kept.contains(e.id)) {
            changes << Change{"DELETE", QStringLiteral("api/v2/silence/") + e.id, {}};
        }
    }
    return changes;
}

// The silence list, read whole up to kMaxListBytes within the channel
// time-out; `done(body, error)` on the main thread unless `context` is gone.
void ReadList(const QUrl& url, QObject* context, std::function<void(QByteArray, QString)> done) {
    WebRequest::Request request;
    request.method = "GET";
    request.url = url;
    request.keepBytes = kMaxListBytes;
    WebRequest::Send(request, context, [done](const WebRequest::Answer& a) {
        if (a.cut) {
            done({}, QStringLiteral("the silence list is larger than %1 bytes").arg(kMaxListBytes));
        } else if (!a.error.isEmpty()) {
            done({}, a.error);
        } else if (a.status != 200) {
            done({}, QStringLiteral("HTTP %1 for the silence list").arg(a.status));
        } else {
            done(a.body, QString());
        }
    });
}

// One target's exchanges of one cycle; ends by telling the outcome and
// deleting itself.
class Sync : public QObject {
  public:
    Sync(Target target, QList<Item> open, QList<Item> ended, QDateTime now)
        : target_(std::move(target)),
          open_(std::move(open)),
          ended_(std::move(ended)),
          now_(std::move(now)) {}

    void Start() {
        QJsonArray alerts;
        // Ends first: a sensor's closed record never overwrites its new one.
        for (const Item& item : ended_) alerts.append(AlertJson(item, item.end));
        const QDateTime until = now_.addSecs(LifetimeSecs());
        for (const Item& item : open_) alerts.append(AlertJson(item, until));
        if (alerts.isEmpty()) {
            ReadSilences();
            return;
        }
        Send("POST", QStringLiteral("api/v2/alerts"), QJsonDocument(alerts).toJson(),
             [this] { ReadSilences(); });
    }

  private:
    void ReadSilences() {
        QUrl url = Endpoint(target_.url, QStringLiteral("api/v2/silences"));
        ReadList(url, this, [this](const QByteArray& list, const QString& error) {
            if (!error.isEmpty()) {
                Fail(error);
                Finish();
                return;
            }
            const QList<Change> changes = SilenceChanges(
                open_, OurSilences(list, ConfigParameters.OrgName.Text().trimmed()), now_);
            waiting_ = static_cast<int>(changes.size());
            if (waiting_ == 0) Finish();
            for (const Change& c : changes) {
                Send(c.method, c.path,
                     c.body.isEmpty() ? QByteArray() : QJsonDocument(c.body).toJson(), [this] {
                         if (--waiting_ == 0) Finish();
                     });
            }
        });
    }

    void Send(const QByteArray& method, const QString& path, const QByteArray& body,
              std::function<void()> then) {
        WebRequest::Request request;
        request.method = method;
        request.url = Endpoint(target_.url, path);
        request.body = body;
        if (!body.isEmpty()) request.headers = {{"Content-Type", "application/json"}};
        WebRequest::Send(request, this, [this, method, path, then](const WebRequest::Answer& a) {
            if (!a.Success())
                Fail(QString::fromLatin1(method) + u' ' + path + QStringLiteral(": ") + a.Reason());
            then();
        });
    }

    void Fail(const QString& reason) {
        if (reason_.isEmpty()) reason_ = reason;
    }

    void Finish();

    Target target_;
    QList<Item> open_, ended_;
    QDateTime now_;
    int waiting_ = 0;
    QString reason_;
};

QHash<QString, QPointer<Sync>>& Running() {
    static QHash<QString, QPointer<Sync>> running;
    return running;
}

void Sync::Finish() {
    Running().remove(target_.channel);
    const bool delivered = reason_.isEmpty();
    if (Handler()) {
        Handler()(target_.channel, delivered, reason_);
    } else {
        ChannelOutbox::CountSync(target_.channel, delivered, reason_);
    }
    deleteLater();
}

}  // namespace

void AfterCycle(const QList<Target>& targets) {
    if (targets.isEmpty()) return;
    const QDateTime now = Clock::Now();
    QList<Item> open, ended;
    if (!Collect(now, open, ended)) return;
    for (const Target& target : targets) {
        if (Running().value(target.channel)) continue;
        QList<Item> mine, mineEnded;
        for (const Item& item : open) {
            if (ForTarget(item, target)) mine << item;
        }
        for (const Item& item : ended) {
            if (ForTarget(item, target)) mineEnded << item;
        }
        auto* sync = new Sync(target, mine, mineEnded, now);
        Running()[target.channel] = sync;
        sync->Start();
    }
}

void SetOutcomeHandler(OutcomeHandler handler) {
    Handler() = std::move(handler);
}

bool SendTest(const QUrl& url, QString& answer, QString* error) {
    const QDateTime now = Clock::Now();
    const QString site = ConfigParameters.OrgName.Text().trimmed();
    const QJsonObject alert{
        {"labels", QJsonObject{{"alertname", QStringLiteral("FernlogTest")},
                               {"site", site},
                               {"severity", QStringLiteral("none")}}},
        {"annotations",
         QJsonObject{{"summary", QStringLiteral("Test alert from fernlog at ") + site}}},
        {"startsAt", Iso(now)},
        {"endsAt", Iso(now.addSecs(300))}};
    WebRequest::Request request;
    request.url = Endpoint(url, QStringLiteral("api/v2/alerts"));
    request.headers = {{"Content-Type", "application/json"}};
    request.body = QJsonDocument(QJsonArray{alert}).toJson();
    const WebRequest::Answer a = WebRequest::SendAndWait(request);
    answer = a.error.isEmpty() ? QStringLiteral("HTTP %1 %2").arg(a.status).arg(a.text.trimmed())
                               : a.error;
    if (!a.Success() && error) *error = a.Reason();
    return a.Success();
}

bool Busy() {
    for (const auto& sync : Running()) {
        if (sync) return true;
    }
    return false;
}

QString SilenceMark(qint64 alarmId) {
    return QStringLiteral("(fernlog alarm %1)").arg(alarmId);
}

void Reset() {
    Handler() = nullptr;
    for (const auto& sync : Running()) {
        if (sync) sync->deleteLater();
    }
    Running().clear();
}

}  // namespace AlertmanagerSync
