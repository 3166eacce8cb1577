#include "core/Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include "common/FolderLock.h"
#include "common/ProgramDir.h"
#include "common/SafeFile.h"
#include "core/Crypt.h"
#include "db/ErrorLog.h"

ConfigRecord ConfigParameters;

namespace Settings {
namespace {

// The one list of the record's fields in file order; both directions use it.
template <class Record, class Visitor>
void VisitFields(Record& r, Visitor&& v) {
    v("Reserved1", r.Reserved1);
    v("Reserved2", r.Reserved2);
    v("Reserved3", r.Reserved3);
    v("OrgName", r.OrgName);
    v("OrgAddress", r.OrgAddress);
    v("OrgPhoneNumber", r.OrgPhoneNumber);
    v("PrinterName", r.PrinterName);
    v("PrinterIndex", r.PrinterIndex);
    v("AutoPrintReport", r.AutoPrintReport);
    v("Reserved4", r.Reserved4);
    v("TimeToPrint", r.TimeToPrint);
    v("AMPM", r.AMPM);
    v("Host", r.Host);
    v("UserName", r.UserName);
    v("Password", r.Password);
    v("LoginDomain", r.LoginDomain);
    v("AuthenticationMethod", r.AuthenticationMethod);
    v("ServerFailureEmailAddress", r.ServerFailureEmailAddress);
    v("SMTPPort", r.SMTPPort);
    v("ServerTimeOut", r.ServerTimeOut);
    v("CommunicationRetry", r.CommunicationRetry);
    v("TCPTimeOut", r.TCPTimeOut);
    v("UpdateRate", r.UpdateRate);
    v("Authentication", r.Authentication);
    v("SSL", r.SSL);
    v("FromAddress", r.FromAddress);
    v("SystemOKEmail", r.SystemOKEmail);
    v("LastSystemOKEmail", r.LastSystemOKEmail);
    v("EnableTrending", r.EnableTrending);
    v("AdminUserName", r.AdminUserName);
    v("AdminPassword", r.AdminPassword);
    v("LogDir", r.LogDir);
}

struct Writer {
    QByteArray& out;
    template <int N>
    void operator()(const char*, const FixedText<N>& field) {
        out.append(field.Bytes());
    }
    template <class Int>
    void operator()(const char*, Int value) {
        char raw[sizeof(Int)];
        qToLittleEndian(value, raw);
        out.append(raw, sizeof(Int));
    }
};

struct Reader {
    const QByteArray& in;
    qsizetype pos = 0;
    template <int N>
    void operator()(const char*, FixedText<N>& field) {
        field.SetBytes(in.mid(pos, N));
        pos += N;
    }
    template <class Int>
    void operator()(const char*, Int& value) {
        value = qFromLittleEndian<Int>(in.constData() + pos);
        pos += sizeof(Int);
    }
};

// The four enciphered fields, in the order they are deciphered.
template <class Record, class Visitor>
void VisitEnciphered(Record& r, Visitor&& v) {
    v(QStringLiteral("UserName"), r.UserName);
    v(QStringLiteral("Password"), r.Password);
    v(QStringLiteral("AdminUserName"), r.AdminUserName);
    v(QStringLiteral("AdminPassword"), r.AdminPassword);
}

// Keeps an unreadable settings file beside the original before anything can
// write defaults over it. An identical earlier copy is not made again.
// The file's bytes as this program first read them, last wrote them, or
// last noticed them changed (ChangedOnDisk); null before any.
QByteArray& KnownBytes() {
    static QByteArray bytes;
    return bytes;
}

void KeepBadCopy(const QString& path, const QByteArray& content) {
    QString copy = path + QStringLiteral(".bad");
    for (int n = 2; QFileInfo::exists(copy); ++n) {
        QFile existing(copy);
        if (existing.open(QIODevice::ReadOnly) && existing.readAll() == content) return;
        copy = path + QStringLiteral(".bad") + QString::number(n);
    }
    // Whole or not at all: a copy cut short by a full disk would pass for
    // the kept file while the original is written over.
    QString error;
    if (!SafeFile::Replace(copy, content, &error, SafeFile::Mode::Private)) {
        ErrorLog::RecordError(QStringLiteral("Error keeping a copy of the unreadable file ") + path,
                              error);
    }
}
}  // namespace

QString FileName() {
    return QStringLiteral("FernlogConfig.dat");
}

QString FilePath() {
    return ProgramDir::File(FileName());
}

QByteArray Serialize(const ConfigRecord& record) {
    QByteArray out;
    out.reserve(kRecordLength);
    VisitFields(record, Writer{out});
    Q_ASSERT(out.size() == kRecordLength);
    return out;
}

std::optional<ConfigRecord> Deserialize(const QByteArray& bytes) {
    if (bytes.size() != kRecordLength) return std::nullopt;
    ConfigRecord record;
    VisitFields(record, Reader{bytes});
    return record;
}

void InitCrypt() {
    Crypt::InitCrypt();
}

bool ReadConfigFile() {
    const QString path = FilePath();
    if (!QFileInfo::exists(path)) return false;
    const QString function = QStringLiteral("Error reading configuration parameters from ") + path;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ErrorLog::RecordError(function, file.errorString());
        return false;
    }
    // Read whole: a file of the wrong length is kept as it is, not cut.
    const QByteArray content = file.readAll();
    file.close();
    // Later reads (the cycle reads the file too) leave the mark alone, so
    // that a change made meanwhile is still noticed.
    if (KnownBytes().isNull()) KnownBytes() = content;

    std::optional<ConfigRecord> record = Deserialize(content);
    QString cause;
    if (!record) {
        cause = QStringLiteral("The file is %1 bytes long; a settings file is %2 bytes.")
                    .arg(content.size())
                    .arg(kRecordLength);
    } else {
        VisitEnciphered(*record, [&](const QString& name, FixedText<100>& field) {
            if (!cause.isEmpty()) return;
            const QByteArray stored = field.Bytes();
            // A field that holds nothing at all (never stored) reads as empty.
            if (Ansi::Trimmed(stored).isEmpty()) {
                field.Set(QString());
                return;
            }
            const auto plain = Crypt::DecryptFromText(stored);
            if (!plain) {
                cause = QStringLiteral("The stored value of ") + name +
                        QStringLiteral(" cannot be deciphered.");
                return;
            }
            field.Set(Ansi::Decode(*plain));
        });
    }
    if (!cause.isEmpty()) {
        ErrorLog::RecordError(function, cause);
        KeepBadCopy(path, content);
        return false;
    }
    ConfigParameters = *record;
    return true;
}

namespace {
// A field as the settings' listing shows it.
struct FieldText {
    QStringList& out;
    template <int N>
    void operator()(const char*, const FixedText<N>& field) {
        out << field.Text().trimmed();
    }
    template <class Int>
    void operator()(const char*, Int value) {
        out << QString::number(value);
    }
};
struct FieldName {
    QStringList& out;
    template <class Field>
    void operator()(const char* name, const Field&) {
        out << QString::fromLatin1(name);
    }
};
}  // namespace

QStringList Differences(const ConfigRecord& before, const ConfigRecord& after) {
    QStringList names, old, now, changes;
    VisitFields(before, FieldName{names});
    VisitFields(before, FieldText{old});
    VisitFields(after, FieldText{now});
    static const QStringList secret{"UserName", "Password", "AdminUserName", "AdminPassword"};
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (old[i] == now[i] || names[i] == QLatin1String("LastSystemOKEmail") ||
            names[i].startsWith(QLatin1String("Reserved"))) {
            continue;
        }
        changes << (secret.contains(names[i])
                        ? names[i] + QStringLiteral(": (secret) -> (changed secret)")
                        : names[i] + QStringLiteral(": ") + old[i] + QStringLiteral(" -> ") +
                              now[i]);
    }
    return changes;
}

bool SaveConfigFile() {
    const QString path = FilePath();
    const QString function = QStringLiteral("Error saving configuration parameters to ") + path;
    // Never in the middle of a command's change of the file.
    const FolderLock::WriteLock lock;
    if (!lock.Held()) {
        ErrorLog::RecordError(function, lock.Error());
        return false;
    }

    ConfigRecord copy = ConfigParameters;
    QString cause;
    VisitEnciphered(ConfigParameters, [&](const QString& name, FixedText<100>& field) {
        field.Set(field.Text());
        if (cause.isEmpty() && Ansi::Encode(field.Text()).size() > Crypt::kMaxPlainLength) {
            cause = name + QStringLiteral(" is longer than %1 characters and cannot be stored.")
                               .arg(Crypt::kMaxPlainLength);
        }
    });
    if (cause.isEmpty()) {
        VisitEnciphered(copy, [&](const QString& name, FixedText<100>& field) {
            if (!cause.isEmpty()) return;
            const auto text = Crypt::EncryptToText(Ansi::Encode(field.Text()));
            if (!text) {
                cause = QStringLiteral("The value of ") + name +
                        QStringLiteral(" could not be enciphered.");
                return;
            }
            field.SetBytes(*text);
        });
    }
    if (!cause.isEmpty()) {
        ErrorLog::RecordError(function, cause);
        return false;
    }

    // Written beside and renamed over the old file, so that a failed write
    // never leaves a damaged settings file.
    QString error;
    // It holds the SMTP and administrator passwords: for its owner only.
    const QByteArray bytes = Serialize(copy);
    if (!SafeFile::Replace(path, bytes, &error, SafeFile::Mode::Private)) {
        ErrorLog::RecordError(function, error);
        return false;
    }
    KnownBytes() = bytes;
    return true;
}

bool ChangedOnDisk() {
    QFile file(FilePath());
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = file.readAll();
    if (bytes == KnownBytes()) return false;
    KnownBytes() = bytes;
    return true;
}

bool ApplyDefaults() {
    ConfigRecord& c = ConfigParameters;
    bool changed = false;
    auto apply = [&](qint16& value, bool outOfRange, qint16 fallback) {
        if (outOfRange) {
            value = fallback;
            changed = true;
        }
    };
    apply(c.TCPTimeOut, c.TCPTimeOut < 1 || c.TCPTimeOut > 9, 2);
    apply(c.CommunicationRetry, c.CommunicationRetry < 1, 1);
    apply(c.UpdateRate, c.UpdateRate < 5, 60);
    // The port is stored in a signed field: ports above 32767 read back
    // negative and are valid all the same.
    apply(c.SMTPPort, static_cast<quint16>(c.SMTPPort) == 0, 25);
    apply(c.ServerTimeOut, c.ServerTimeOut < 1, 30);
    if (c.AuthenticationMethod.IsEmpty()) {
        c.AuthenticationMethod = QStringLiteral("NONE");
        changed = true;
    }
    return changed;
}

bool ValidateConfig() {
    if (!ApplyDefaults()) return true;
    SaveConfigFile();
    return false;
}

void Reset() {
    ConfigParameters = ConfigRecord();
    KnownBytes().clear();
}

}  // namespace Settings
