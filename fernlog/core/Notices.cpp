#include "core/Notices.h"

#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/AlarmHandling.h"
#include "core/ChannelOutbox.h"
#include "core/Channels.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/Outbox.h"
#include "core/Settings.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"

namespace Notices {
namespace {

constexpr int kKeptFailures = 50;
// The administrator's e-mail about a failed channel: its own failure is
// told in the log only, so two failing ways never tell each other forever.
const QString kFailureReceipt = QStringLiteral("notice-failed");
const QString kFailedEvent = QStringLiteral("notification.failed");

QList<Failure>& Kept() {
    static QList<Failure> failures;
    return failures;
}

QJsonValue Time(const QDateTime& when) {
    return when.isValid() ? QJsonValue(AlarmHandling::IsoText(when)) : QJsonValue();
}

QJsonValue Text(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// The alarm's page (the status page for a notice of no alarm), when the
// listener is on; a listener on every address is named by the machine's name.
QJsonValue PageUrl(qint64 alarmId) {
    const QString listen = Options::Load().webListen.trimmed();
    if (listen.isEmpty()) return {};
    const qsizetype colon = listen.lastIndexOf(u':');
    QString host = listen.left(colon);
    if (host.isEmpty() || host == QLatin1String("0.0.0.0") || host == QLatin1String("[::]")) {
        host = QHostInfo::localHostName();
    }
    QString url = QStringLiteral("http://") + host + listen.mid(colon) + u'/';
    if (alarmId > 0) url += QStringLiteral("alarm/%1").arg(alarmId);
    return url;
}

bool Matches(const Channels::Channel& c, const Event& e) {
    if (c.kind != QLatin1String("webhook") && c.kind != QLatin1String("command")) return false;
    if (e.name == kFailedEvent) return c.fallback;
    if (!c.events.isEmpty() && !c.events.contains(e.name)) return false;
    if (!c.devices.isEmpty() && !c.devices.contains(e.deviceName.trimmed())) return false;
    return true;
}

void FillDevice(Event& e) {
    if ((e.deviceId <= 0 && e.deviceName.isEmpty()) ||
        (e.deviceId > 0 && !e.deviceName.isEmpty() && !e.deviceAddress.isEmpty())) {
        return;
    }
    QList<ServerDatabase::ServerRow> servers;
    if (!ServerDatabase::ListServers(servers)) return;
    for (const auto& s : servers) {
        if (e.deviceId > 0 ? s.id != e.deviceId : s.name.trimmed() != e.deviceName) continue;
        e.deviceId = s.id;
        if (e.deviceName.isEmpty()) e.deviceName = s.name.trimmed();
        if (e.deviceAddress.isEmpty()) e.deviceAddress = s.ip.trimmed();
    }
}

}  // namespace

Event DeviceEvent(const QString& name, qint64 deviceId, const QString& deviceName,
                  const QString& address, const QString& text) {
    Event e;
    e.name = name;
    e.deviceId = deviceId;
    e.deviceName = deviceName.trimmed();
    e.deviceAddress = address.trimmed();
    e.text = text;
    return e;
}

std::optional<double> ValueOf(const QString& readingText) {
    bool ok = false;
    const double value = readingText.trimmed().toDouble(&ok);
    // The probe's fault codes are not readings.
    if (!ok || value == 999 || value == -999 || value == 1000) return std::nullopt;
    return value;
}

QByteArray Document(const Event& e, const QDateTime& sentAt) {
    QJsonObject root{{QStringLiteral("version"), 1},
                     {QStringLiteral("event"), e.name},
                     {QStringLiteral("site"), ConfigParameters.OrgName.Text().trimmed()},
                     {QStringLiteral("sentAt"), Time(sentAt)},
                     {QStringLiteral("text"), Text(e.text)},
                     {QStringLiteral("url"), PageUrl(e.alarmId)}};
    if (e.name.startsWith(QLatin1String("alarm."))) {
        QJsonValue ack;
        if (e.ackAt.isValid()) {
            ack = QJsonObject{{QStringLiteral("by"), e.ackBy},
                              {QStringLiteral("at"), Time(e.ackAt)},
                              {QStringLiteral("comment"), Text(e.ackComment)}};
        }
        root.insert(
            QStringLiteral("alarm"),
            QJsonObject{
                {QStringLiteral("id"), e.alarmId > 0 ? QJsonValue(e.alarmId) : QJsonValue()},
                {QStringLiteral("start"), Time(e.start)},
                {QStringLiteral("end"), Time(e.end)},
                {QStringLiteral("state"), e.state},
                {QStringLiteral("cause"), Text(e.cause)},
                {QStringLiteral("reading"), Text(e.reading)},
                {QStringLiteral("value"), e.value ? QJsonValue(*e.value) : QJsonValue()},
                {QStringLiteral("unit"), Text(e.unit)},
                {QStringLiteral("acknowledged"), ack}});
    } else {
        root.insert(QStringLiteral("alarm"), QJsonValue());
    }
    root.insert(QStringLiteral("device"),
                e.deviceId > 0 || !e.deviceName.isEmpty()
                    ? QJsonValue(QJsonObject{{QStringLiteral("id"), e.deviceId},
                                             {QStringLiteral("name"), e.deviceName},
                                             {QStringLiteral("address"), e.deviceAddress}})
                    : QJsonValue());
    root.insert(QStringLiteral("sensor"),
                e.sensorId > 0 ? QJsonValue(QJsonObject{{QStringLiteral("id"), e.sensorId},
                                                        {QStringLiteral("name"), e.sensorName},
                                                        {QStringLiteral("port"), e.port}})
                               : QJsonValue());
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

QStringList Tell(Event e) {
    QList<Channels::Channel> channels;
    QString error;
    if (!Channels::List(channels, &error)) {
        ErrorLog::RecordError(QStringLiteral("Notices"), error);
        return {};
    }
    if (channels.isEmpty()) return {};
    FillDevice(e);
    QByteArray body;
    QStringList told;
    for (const Channels::Channel& c : channels) {
        if (!Matches(c, e)) continue;
        if (body.isEmpty()) body = Document(e, Clock::Now());
        ChannelOutbox::Post(c.name, e.name, body);
        told << c.name;
    }
    return told;
}

QList<Failure> Failures() {
    return Kept();
}

void FailedForGood(const QString& channel, const QString& event, const QString& about,
                   const QString& reason) {
    const QString line =
        QStringLiteral("Notice %1 to %2 failed for good (%3): %4")
            .arg(event,
                 channel == QLatin1String("email") ? QStringLiteral("e-mail")
                                                   : QStringLiteral("channel ") + channel,
                 about, reason);
    // A failed e-mail has its own line in the log already.
    if (channel != QLatin1String("email")) EventLog::Error(line);
    Kept().prepend(Failure{Clock::Now(), channel, event, reason});
    while (Kept().size() > kKeptFailures) Kept().removeLast();
    if (channel == QLatin1String("email")) {
        Event fallback;
        fallback.name = kFailedEvent;
        fallback.text = line;
        Tell(fallback);
        return;
    }
    if (event == kFailedEvent) return;
    QString errorText;
    if (!EmailNotification::PostTextEmail(
            QStringLiteral("A notice could not be delivered. ") + line, errorText, kFailureReceipt,
            0)) {
        ErrorLog::RecordError(QStringLiteral("Notices"), errorText);
    }
}

void Reset() {
    Kept().clear();
}

namespace {
// Registered as the program loads: an e-mail that fails for good goes to
// the fallback channels, except the one telling of a failed channel.
[[maybe_unused]] const bool kHandlersSet =
    Outbox::SetReceiptHandler(kFailureReceipt, [](qint64, bool, const QString&) {}) &&
    Outbox::SetFailureHandler(
        [](const QString& receipt, const QString& subject, const QString& reason) {
            if (receipt == kFailureReceipt) return;
            FailedForGood(QStringLiteral("email"), QStringLiteral("email"), subject, reason);
        });
}  // namespace

}  // namespace Notices
