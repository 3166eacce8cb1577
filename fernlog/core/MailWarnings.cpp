#include "core/MailWarnings.h"

#include <QFileInfo>

#include "common/EventLog.h"
#include "core/EmailNotification.h"
#include "core/Mailer.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "core/StatusList.h"
#include "db/Database.h"
#include "db/ServerDatabase.h"

namespace MailWarnings {
namespace {
QStringList current;

// Names listed in one warning at most; a fleet without addresses would
// otherwise make one line of hundreds.
constexpr int kNamesShown = 10;

// Whether the list (as tblServers or the settings hold it) names nobody.
bool NoAddressIn(const QString& list) {
    QString addresses;
    EmailNotification::ParseEmailAddress(list, addresses);
    return addresses.split(u',', Qt::SkipEmptyParts).join(QString()).trimmed().isEmpty();
}

// Why the mailer would refuse to address a message to the list; empty when
// it would not.
QString Unaddressable(const QString& list) {
    QString addresses;
    EmailNotification::ParseEmailAddress(list, addresses);
    Mail::Message message;
    return message.AddRecipients(addresses) ? QString() : message.LastError();
}

QString Names(const QStringList& names) {
    QStringList shown = names.mid(0, kNamesShown);
    if (names.size() > kNamesShown) {
        shown << QStringLiteral("and %1 more").arg(names.size() - kNamesShown);
    }
    return shown.join(QStringLiteral(", "));
}

bool HasNamedSensors(qint64 serverId) {
    ServerDatabase::Recordset sensors;
    int count = 0;
    const bool named = ServerDatabase::LoadSensors(serverId, sensors, count);
    sensors.Release();
    return named;
}
}  // namespace

QStringList Compute(const QString& host, const QString& adminAddress,
                    const std::vector<PolledDevice>& devices) {
    QStringList warnings;
    if (devices.empty()) return warnings;
    if (host.trimmed().isEmpty()) {
        warnings << QStringLiteral(
            "No alarm or device-failure e-mail can be sent: no SMTP host is set");
    }
    QStringList unaddressed;
    for (const PolledDevice& device : devices) {
        if (!device.namedSensors) continue;
        if (NoAddressIn(device.emailList)) {
            unaddressed << device.name.trimmed();
        } else if (const QString why = Unaddressable(device.emailList); !why.isEmpty()) {
            warnings << QStringLiteral("Alarms of device %1 are not mailed: %2")
                            .arg(device.name.trimmed(), why);
        }
    }
    if (unaddressed.size() == 1) {
        warnings << QStringLiteral(
                        "Alarms of device %1 are not mailed: it has no alarm e-mail address")
                        .arg(unaddressed.first());
    } else if (!unaddressed.isEmpty()) {
        warnings << QStringLiteral(
                        "Alarms of devices %1 are not mailed: they have no alarm e-mail address")
                        .arg(Names(unaddressed));
    }
    const QString admin = NoAddressIn(adminAddress)
                              ? QStringLiteral("no Administrator Email Address is set")
                              : Unaddressable(adminAddress);
    if (!admin.isEmpty()) warnings << QStringLiteral("Device failures are not mailed: ") + admin;
    return warnings;
}

namespace {
// A line each, keyed by its own text.
void ShowLines(const QStringList& mended) {
    for (const QString& old : mended) {
        StatusList::ShowStatus(StatusKey() + old, QStringLiteral("delete"));
    }
    for (const QString& warning : current) StatusList::ShowStatus(StatusKey() + warning, QString());
}
}  // namespace

bool Check() {
    QList<ServerDatabase::ServerRow> servers;
    // A missing database is told at start already; asking it would add an
    // error for every check.
    if (ServerData::DatabaseOut || !QFileInfo(Database::Path()).isFile() ||
        !ServerDatabase::ListServers(servers)) {
        ShowLines({});
        return false;
    }
    std::vector<PolledDevice> devices;
    for (const ServerDatabase::ServerRow& server : servers) {
        if (server.enabled != 1) continue;  // polled only when 1, as the cycle does
        // The sensors matter only where the addresses cannot be used: a
        // question for each such device, not for every device every cycle.
        const bool addressed = Unaddressable(server.emailList).isEmpty();
        devices.push_back(
            {server.name, server.emailList, !addressed && HasNamedSensors(server.id)});
    }
    const QStringList warnings = Compute(
        ConfigParameters.Host.Text(), ConfigParameters.ServerFailureEmailAddress.Text(), devices);
    for (const QString& warning : warnings) {
        if (!current.contains(warning)) EventLog::Warning(warning);
    }
    QStringList mended;
    for (const QString& old : current) {
        if (warnings.contains(old)) continue;
        EventLog::Info(QStringLiteral("Mended: ") + old);
        mended << old;
    }
    current = warnings;
    // Shown again even when unchanged: the activation block clears the list.
    ShowLines(mended);
    return true;
}

QStringList Current() {
    return current;
}

QString StatusKey() {
    return QStringLiteral("E-mail warning: ");
}

void Reset() {
    current.clear();
}

}  // namespace MailWarnings
