#include "core/Journal.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QVariantMap>
#include <map>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "common/ProgramDir.h"
#include "common/SafeFile.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"

namespace Journal {
namespace {

using ServerDatabase::Written;

const QString kStatusKey = QStringLiteral("Database records ");

struct KindName {
    Kind kind;
    const char* name;
};
constexpr KindName kKinds[] = {
    {Kind::AlarmOpen, "alarm-open"},         {Kind::AlarmUpdate, "alarm-update"},
    {Kind::AlarmClose, "alarm-close"},       {Kind::FailureOpen, "failure-open"},
    {Kind::FailureUpdate, "failure-update"}, {Kind::FailureBack, "failure-back"},
};

QString NameOf(Kind kind) {
    for (const KindName& k : kKinds) {
        if (k.kind == kind) return QString::fromLatin1(k.name);
    }
    return {};
}

std::optional<Kind> KindOf(const QString& name) {
    for (const KindName& k : kKinds) {
        if (name == QLatin1String(k.name)) return k.kind;
    }
    return std::nullopt;
}

struct State {
    bool loaded = false;
    std::vector<Change> changes;
    qint64 nextRef = 0;
    QString since;  // general date text of the first change kept
    bool told = false;
    // The first opening made after the file was read may have been written
    // by the run that was stopped before it could note it.
    bool fromDisk = false;
    std::map<Kind, WrittenHandler> handlers;
};

State& S() {
    static State state;
    return state;
}

QString Path() {
    return ProgramDir::File(FileName());
}

void Save() {
    State& s = S();
    QString error;
    if (s.changes.empty() && !QFile::exists(Path())) return;
    if (!SafeFile::Replace(Path(), Encode(s.changes, s.nextRef, s.since), &error)) {
        ErrorLog::RecordError(QStringLiteral("Journal"), error);
    }
}

void Load() {
    State& s = S();
    if (s.loaded) return;
    s.loaded = true;
    // Refs of a run whose file is gone must not meet a new run's.
    s.nextRef = QDateTime::currentMSecsSinceEpoch();
    QFile file(Path());
    if (!file.exists()) return;
    if (!file.open(QIODevice::ReadOnly)) {
        ErrorLog::RecordError(QStringLiteral("Journal"),
                              file.errorString() + QStringLiteral(": ") + Path());
        return;
    }
    const QByteArray content = file.readAll();
    QString error;
    qint64 next = 0;
    if (!Decode(content, s.changes, next, s.since, &error)) {
        SafeFile::KeepCopy(Path(), content);
        StatusList::ShowStatus(QStringLiteral("Journal: "),
                               FileName() + QStringLiteral(" was damaged and is kept as ") +
                                   FileName() + QStringLiteral(".bad"));
    }
    if (!error.isEmpty()) ErrorLog::RecordError(QStringLiteral("Journal"), error);
    s.nextRef = std::max(s.nextRef, next);
    for (const Change& c : s.changes) s.nextRef = std::max(s.nextRef, c.ref);
    s.fromDisk = !s.changes.empty();
}

// The records wait: told once, in the status list and the error log (whose
// fallback, while the database refuses its entry too, is standard error or
// the service log).
void TellWaiting(const QString& reason) {
    State& s = S();
    if (s.since.isEmpty()) s.since = Clock::GeneralDateText();
    if (s.told) return;
    s.told = true;
    StatusList::ShowStatus(kStatusKey, QStringLiteral("cannot be written since ") + s.since +
                                           QStringLiteral("; they wait in ") + FileName());
    ErrorLog::RecordError(
        QStringLiteral("Journal"),
        QStringLiteral("The database does not take the alarm and failure records (") + reason +
            QStringLiteral("); they are kept in ") + FileName() +
            QStringLiteral(" and written when it does"));
}

void TellWritten(int count) {
    State& s = S();
    StatusList::ShowStatus(kStatusKey, QStringLiteral("delete"));
    const QString text = QStringLiteral(
                             "The database takes the alarm and failure records again (they waited "
                             "since ") +
                         s.since + QStringLiteral("); %1 change(s) written").arg(count);
    if (EventLog::HasSink()) {
        EventLog::Info(text);
    } else {
        QTextStream(stderr) << Clock::DbStamp() << "  " << text << Qt::endl;
    }
    s.since.clear();
    s.told = false;
}

ServerDatabase::MailedRow TableOf(Kind kind) {
    return IsAlarm(kind) ? ServerDatabase::MailedRow::Alarm
                         : ServerDatabase::MailedRow::ServerFailure;
}

// One change made in the database; `row` is what it wrote or targeted.
Written Make(const Change& c, bool mayExist, qint64& row, QString& error) {
    if (IsOpening(c.kind)) {
        if (c.kind == Kind::AlarmOpen) {
            const ServerDatabase::AlarmOpening a{c.owner,
                                                 c.time,
                                                 c.server,
                                                 c.sensor,
                                                 c.currentData,
                                                 c.tol,
                                                 c.cause.value_or(QString()),
                                                 c.emailSent};
            if (mayExist && ServerDatabase::FindAlarm(a, row, &error) && row > 0) {
                return Written::Done;
            }
            return ServerDatabase::InsertAlarm(a, row, &error);
        }
        const ServerDatabase::FailureOpening f{c.owner, c.server, c.time};
        if (mayExist && ServerDatabase::FindFailure(f, row, &error) && row > 0) {
            return Written::Done;
        }
        return ServerDatabase::InsertFailure(f, row, &error);
    }
    row = c.row;
    if (row <= 0) {
        // Its opening was refused for good, so it has no record.
        error = QStringLiteral("The record this change is about was never written.");
        return Written::Gone;
    }
    QVariantMap columns;
    switch (c.kind) {
        case Kind::AlarmUpdate:
        case Kind::FailureUpdate:
            if (c.cause) columns.insert(QStringLiteral("CauseOfAlarm"), *c.cause);
            if (c.serverName) columns.insert(QStringLiteral("ServerName"), *c.serverName);
            if (c.emailSent) columns.insert(QStringLiteral("EmailSent"), *c.emailSent);
            break;
        case Kind::AlarmClose:
            columns.insert(QStringLiteral("AlarmEnd"), c.time);
            columns.insert(QStringLiteral("AlarmActive"), 0);
            break;
        case Kind::FailureBack:
            columns.insert(QStringLiteral("BackOnLine"), c.time);
            break;
        default:
            break;
    }
    if (columns.isEmpty()) return Written::Done;
    return ServerDatabase::UpdateRecord(TableOf(c.kind), row, columns, &error);
}

QString IdText(qint64 id) {
    return QString::number(id);
}

QByteArray EncodeChange(const Change& c) {
    QJsonObject o{{QStringLiteral("change"), NameOf(c.kind)},
                  {QStringLiteral("owner"), IdText(c.owner)}};
    if (c.row > 0) o.insert(QStringLiteral("row"), IdText(c.row));
    if (c.ref > 0) o.insert(QStringLiteral("ref"), IdText(c.ref));
    if (!c.time.isEmpty()) o.insert(QStringLiteral("time"), c.time);
    if (c.kind == Kind::AlarmOpen) {
        o.insert(QStringLiteral("server"), c.server);
        o.insert(QStringLiteral("sensor"), c.sensor);
        o.insert(QStringLiteral("currentData"), c.currentData);
        o.insert(QStringLiteral("tol"), c.tol);
    } else if (c.kind == Kind::FailureOpen) {
        o.insert(QStringLiteral("server"), c.server);
    }
    if (c.cause) o.insert(QStringLiteral("cause"), *c.cause);
    if (c.emailSent) o.insert(QStringLiteral("emailSent"), *c.emailSent);
    if (c.serverName) o.insert(QStringLiteral("serverName"), *c.serverName);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

// A change kept is one line added to the file: a long outage costs a line
// per change, not the whole file again.
void Keep(const Change& change, const QString& reason) {
    State& s = S();
    s.changes.push_back(change);
    TellWaiting(reason);
    const QFileInfo file(Path());
    QString error;
    const bool appended =
        file.exists() && file.size() > 0
            ? SafeFile::WriteTail(Path(), file.size(), EncodeChange(change), &error)
            : SafeFile::Replace(Path(), Encode(s.changes, s.nextRef, s.since), &error);
    if (!appended) ErrorLog::RecordError(QStringLiteral("Journal"), error);
}

void Notify(const Change& change, qint64 row) {
    const auto handler = S().handlers.find(change.kind);
    if (handler != S().handlers.end()) handler->second(change, row);
}

qint64 IdOf(const QJsonObject& o, const char* key, bool& ok) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) return 0;
    bool read = false;
    const qint64 id = v.toString().toLongLong(&read);
    if (!read || id < 0) ok = false;
    return id;
}

std::optional<QString> TextOf(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString()) return std::nullopt;
    return v.toString();
}

bool ChangeOf(const QJsonValue& value, Change& c) {
    if (!value.isObject()) return false;
    const QJsonObject o = value.toObject();
    const std::optional<Kind> kind = KindOf(o.value(QStringLiteral("change")).toString());
    if (!kind) return false;
    c.kind = *kind;
    bool ok = true;
    c.owner = IdOf(o, "owner", ok);
    c.row = IdOf(o, "row", ok);
    c.ref = IdOf(o, "ref", ok);
    c.time = o.value(QStringLiteral("time")).toString();
    if (c.kind == Kind::AlarmOpen || c.kind == Kind::FailureOpen) {
        c.server = o.value(QStringLiteral("server")).toString();
    }
    if (c.kind == Kind::AlarmOpen) {
        c.sensor = o.value(QStringLiteral("sensor")).toString();
        c.currentData = o.value(QStringLiteral("currentData")).toString();
        c.tol = o.value(QStringLiteral("tol")).toInteger();
    }
    c.cause = TextOf(o, "cause");
    c.emailSent = TextOf(o, "emailSent");
    c.serverName = TextOf(o, "serverName");
    const bool update = c.kind == Kind::AlarmUpdate || c.kind == Kind::FailureUpdate;
    // An update may not know its record's owner; every other change does,
    // and happened at a time.
    const bool placed = update || (c.owner > 0 && Clock::FromDbStamp(c.time).isValid());
    // An opening names itself by its ref; every other change names a record.
    const bool named = IsOpening(c.kind) ? c.ref > 0 : (c.row > 0 || c.ref > 0);
    return ok && placed && named;
}

}  // namespace

QString FileName() {
    return QStringLiteral("FernlogJournal.dat");
}

bool IsAlarm(Kind kind) {
    return kind == Kind::AlarmOpen || kind == Kind::AlarmUpdate || kind == Kind::AlarmClose;
}

bool ChangesWaitFor(qint64 owner, bool alarm) {
    for (const Change& c : Waiting()) {
        if (IsAlarm(c.kind) == alarm && c.owner == owner) return true;
    }
    return false;
}

Known WithWaiting(Known k, qint64 owner, bool alarm) {
    const Kind opening = alarm ? Kind::AlarmOpen : Kind::FailureOpen;
    const Kind closing = alarm ? Kind::AlarmClose : Kind::FailureBack;
    for (const Change& c : Waiting()) {
        if (IsAlarm(c.kind) != alarm) continue;
        if (c.kind == opening && c.owner == owner) {
            k = Known{true, 0, c.ref, c.time,
                      alarm ? c.emailSent.value_or(QString()) : QStringLiteral("False")};
        } else if (Targets(c, k.row, k.ref)) {
            if (c.kind == closing) {
                k = Known();
            } else if (c.emailSent) {
                k.emailSent = *c.emailSent;
            }
        }
    }
    return k;
}

bool IsOpening(Kind kind) {
    return kind == Kind::AlarmOpen || kind == Kind::FailureOpen;
}

bool Targets(const Change& c, qint64 row, qint64 ref) {
    return (row > 0 && c.row == row) || (ref > 0 && c.ref == ref);
}

QByteArray Encode(const std::vector<Change>& changes, qint64 nextRef, const QString& since) {
    QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("journal"), 1},
                                                 {QStringLiteral("nextRef"), IdText(nextRef)},
                                                 {QStringLiteral("since"), since}})
                           .toJson(QJsonDocument::Compact) +
                       '\n';
    for (const Change& c : changes) bytes += EncodeChange(c);
    return bytes;
}

bool Decode(const QByteArray& bytes, std::vector<Change>& changes, qint64& nextRef, QString& since,
            QString* error) {
    changes.clear();
    nextRef = 0;
    since.clear();
    const QList<QByteArray> lines = bytes.split('\n');
    const QJsonObject header = QJsonDocument::fromJson(lines.value(0)).object();
    if (!header.contains(QStringLiteral("journal"))) {
        if (error) *error = FileName() + QStringLiteral(" is not a record journal");
        return false;
    }
    nextRef = std::max<qint64>(0, header.value(QStringLiteral("nextRef")).toString().toLongLong());
    since = header.value(QStringLiteral("since")).toString();
    int skipped = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].trimmed().isEmpty()) continue;
        const QJsonDocument doc = QJsonDocument::fromJson(lines[i]);
        Change c;
        if (doc.isObject() && ChangeOf(doc.object(), c)) {
            changes.push_back(std::move(c));
        } else {
            ++skipped;
        }
    }
    if (error) {
        *error = skipped
                     ? FileName() +
                           QStringLiteral(": %1 change(s) not understood, left out").arg(skipped)
                     : QString();
    }
    return true;
}

qint64 NewRef() {
    Load();
    const qint64 ref = ++S().nextRef;
    return ref;
}

qint64 Write(const Change& change) {
    State& s = S();
    Load();
    if (!s.changes.empty()) {
        Keep(change, QStringLiteral("earlier changes wait"));
        return 0;
    }
    qint64 row = 0;
    QString error;
    switch (Make(change, false, row, error)) {
        case Written::Done:
            return row;
        case Written::Gone:
            ErrorLog::RecordError(QStringLiteral("Journal"), error);
            return 0;
        case Written::Failed:
            Keep(change, error);
            return 0;
    }
    return 0;
}

const std::vector<Change>& Waiting() {
    Load();
    return S().changes;
}

bool Empty() {
    return Waiting().empty();
}

bool Apply() {
    State& s = S();
    Load();
    if (s.changes.empty()) return true;
    int written = 0;
    while (!s.changes.empty()) {
        const Change c = s.changes.front();
        qint64 row = 0;
        QString error;
        const Written result = Make(c, s.fromDisk, row, error);
        if (result == Written::Failed) {
            if (written > 0) Save();
            TellWaiting(error);
            return false;
        }
        s.changes.erase(s.changes.begin());
        if (result == Written::Gone) {
            ErrorLog::RecordError(QStringLiteral("Journal"), error);
            continue;
        }
        ++written;
        if (IsOpening(c.kind)) {
            s.fromDisk = false;
            // The changes after it name the record by its row from now on.
            for (Change& later : s.changes) {
                if (later.ref == c.ref && IsAlarm(later.kind) == IsAlarm(c.kind)) {
                    later.row = row;
                    later.ref = 0;
                }
            }
            Notify(c, row);
            // An opening written twice would be a second record: noted at once.
            Save();
        } else {
            Notify(c, row);
        }
    }
    Save();
    TellWritten(written);
    return true;
}

bool SetWrittenHandler(Kind kind, WrittenHandler handler) {
    S().handlers[kind] = std::move(handler);
    return true;
}

void Reset() {
    State& s = S();
    std::map<Kind, WrittenHandler> handlers = std::move(s.handlers);
    s = State();
    s.handlers = std::move(handlers);
}

}  // namespace Journal
