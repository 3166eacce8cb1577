#include "core/ServerData.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <vector>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "common/ProgramDir.h"
#include "core/Alarms.h"
#include "core/DataLogs.h"
#include "core/Decoding.h"
#include "core/EmailNotification.h"
#include "core/Outbox.h"
#include "core/SensorState.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"

namespace ServerData {

QString LogDirInUse;

namespace {
// The outbox's name for the log directory notice, by tblLogFileBackup row.
const QString kBackupReceipt = QStringLiteral("log-file-backup");

// Registered as the program loads (see Outbox::SetReceiptHandler).
[[maybe_unused]] const bool kReceiptKnown =
    Outbox::SetReceiptHandler(kBackupReceipt, [](qint64 row, bool sent, const QString& reason) {
        QString error;
        if (!ServerDatabase::SetEmailSent(
                ServerDatabase::MailedRow::LogFileBackup, row,
                sent ? Clock::DbStamp() : EmailNotification::MailErrorText(reason), &error)) {
            ErrorLog::RecordError(QStringLiteral("Outbox"), error);
        }
        EmailNotification::ShowMailError(sent, QString());
    });

// Each device's temperature unit, from its last decoded readings: a device
// that stops answering keeps its own unit, not the last decoded device's.
QHash<qint64, QString>& DeviceUnits() {
    static QHash<qint64, QString> units;
    return units;
}

QString UnitOf(qint64 deviceId) {
    const bool decoded = Decoding::Readings[0] != Decoding::kNoData;
    if (decoded) DeviceUnits().insert(deviceId, Decoding::TempUnit);
    return DeviceUnits().value(deviceId);
}

// The log directory, unless it is the program directory under another
// spelling: copies there would land in the same files and count twice.
QString CopyDirectory(const QString& logDir) {
    if (logDir.isEmpty()) return QString();
    const QString canonical = QFileInfo(logDir).canonicalFilePath();
    if (!canonical.isEmpty() && canonical == QFileInfo(ProgramDir::Path()).canonicalFilePath()) {
        return QString();
    }
    return logDir;
}

// What the database said last of a device's named sensors, used while it
// cannot be read.
struct DeviceRegister {
    QList<ServerDatabase::SensorEntry> sensors;
};
qint64 readingsTaken = 0;

QHash<qint64, DeviceRegister>& LastRegister() {
    static QHash<qint64, DeviceRegister> devices;
    return devices;
}
}  // namespace

bool DatabaseOut = false;

bool ProcessServerData(const ServerDatabase::ServerRow& server) {
    const qint64 deviceId = server.id;
    const QString& model = server.model;
    DeviceRegister device;
    if (ServerDatabase::ListSensors(deviceId, device.sensors)) {
        LastRegister().insert(deviceId, device);
    } else if (DatabaseOut && LastRegister().contains(deviceId)) {
        device = LastRegister().value(deviceId);
    } else {
        return true;
    }
    const QString& deviceName = server.name;
    const QString& emailList = server.emailList;
    const QString logDir = CopyDirectory(LogDirInUse.trimmed());
    const QString unit = UnitOf(deviceId);
    // One time for the whole device: every reading of it was taken at once.
    const QDateTime now = Clock::Now();
    bool copied = false;  // a reading was copied into the log directory
    bool copiesWritten = true;
    StatusGridModel& grid = StatusGrid::Model();

    // A port outside 0-9 reuses the previous sensor's values; before any,
    // there are none.
    float value = Decoding::kNoData;
    int minutes = 0;
    int status = 0;
    for (const ServerDatabase::SensorEntry& sensor : device.sensors) {
        const int port = sensor.port;
        Alarms::SensorReading r;
        r.sensorId = sensor.id;
        r.sensorName = sensor.name;
        r.notes = sensor.notes;
        r.sensorType = sensor.type;
        r.deviceId = deviceId;
        r.deviceName = deviceName;
        r.emailList = emailList;
        r.port = port;
        r.units = Decoding::PortUnits(model, port, unit);

        GridRow& row = grid.CurrentRowFor(r.sensorId);
        row.device = deviceName;
        row.sensor = r.sensorName;
        row.sensorId = r.sensorId;
        row.units = r.units;
        row.deviceId = deviceId;
        row.port = port;

        if (port >= 0 && port <= 9) {
            value = Decoding::Readings[static_cast<size_t>(3 * port)];
            minutes = static_cast<int>(Decoding::Readings[static_cast<size_t>(3 * port + 1)]);
            status = static_cast<int>(Decoding::Readings[static_cast<size_t>(3 * port + 2)]);
        }
        r.value = value;
        r.minutes = minutes;
        r.status = status;

        if (SensorState::ReadingText(value, r.sensorType, row.reading)) {
            ++readingsTaken;
            row.lastGood = now;
            DataLogs::SaveReading(ProgramDir::Path(), r.sensorId, r.sensorName, deviceName, r.units,
                                  value, now);
            if (!logDir.isEmpty()) {
                copied = true;
                copiesWritten &= DataLogs::SaveReading(logDir, r.sensorId, r.sensorName, deviceName,
                                                       r.units, value, now);
            }
        }
        r.readingText = row.reading;
        row.value = value;

        const SensorState::RowStatus rowStatus = Alarms::ProcessAlarm(r);
        // The alarm step may have added rows; find the row again.
        GridRow& done = grid.CurrentRow();
        done.status = rowStatus.word;
        done.colour = rowStatus.colour;
        done.handling = rowStatus.handling;
        grid.CurrentRowChanged();
        grid.MoveToNextRow();
    }
    // Once per device, not per sensor.
    if (copied) CheckLogDirectory(logDir, copiesWritten);
    return true;
}

void CheckLogDirectory(const QString& logDir, bool copiesWritten) {
    ServerDatabase::OpenRecord open;
    int count = 0;
    // Old data files in a directory that became read-only must not hide the
    // outage, so failed writes count as well.
    // The first match is enough: the directory gains a file per sensor per
    // month, and listing it whole stalled every cycle.
    const bool hasDataFiles =
        copiesWritten && QDirIterator(logDir, {QStringLiteral("*.dat")}, QDir::Files).hasNext();
    if (!ServerDatabase::ReadOpenBackupError(open, count)) return;
    const auto update = [&open](const QVariantMap& columns) {
        QString error;
        if (ServerDatabase::UpdateRecord(ServerDatabase::MailedRow::LogFileBackup, open.id, columns,
                                         &error) == ServerDatabase::Written::Failed) {
            EventLog::Warning(QStringLiteral("The log directory's outage record cannot be "
                                             "updated: ") +
                              error);
        }
    };

    if (hasDataFiles) {
        if (count > 0) {
            EventLog::Info(QStringLiteral("Data logs are written to ") + logDir +
                           QStringLiteral(" again"));
            const QString now = Clock::DbStamp();
            update({{QStringLiteral("LatestAttempt"), now}, {QStringLiteral("BackOnLine"), now}});
        }
        return;
    }
    if (count > 0) return;  // one e-mail per outage
    if (!ServerDatabase::AddLogFileBackupError(
            QStringLiteral("Failed to write log files to backup directory ") + logDir) ||
        !ServerDatabase::ReadOpenBackupError(open, count) || count == 0) {
        return;
    }
    EventLog::Warning(QStringLiteral("Data logs cannot be written to ") + logDir +
                      QStringLiteral("; a backup copy is kept in ") + ProgramDir::Path());
    QString errorText;
    // EmailSent is written when the e-mail's delivery ends.
    const bool posted = EmailNotification::PostTextEmail(
        QStringLiteral("There was an error writing data log files to the programmed directory ") +
            logDir + QStringLiteral(".  A backup copy is being kept in ") + ProgramDir::Path(),
        errorText, kBackupReceipt, open.id);
    if (!posted) {
        update({{QStringLiteral("EmailSent"), EmailNotification::MailErrorText(errorText)}});
        EmailNotification::ShowMailError(false, QString());
    }
}

qint64 ReadingsTaken() {
    return readingsTaken;
}

void Reset() {
    readingsTaken = 0;
    LogDirInUse.clear();
    DeviceUnits().clear();
    LastRegister().clear();
    DatabaseOut = false;
}

}  // namespace ServerData
