#include "core/Options.h"

#include <QFile>

#include "common/FolderLock.h"
#include "common/ProgramDir.h"
#include "common/SafeFile.h"

namespace Options {
namespace {
const QString kRecoveryNotices = QStringLiteral("RecoveryNotices");
const QString kConnections = QStringLiteral("Connections");
const QString kRetryMinutes = QStringLiteral("RetryMinutes");
const QString kListen = QStringLiteral("Listen");
const QString kToken = QStringLiteral("Token");
const QString kRemindMinutes = QStringLiteral("RemindMinutes");
const QString kEscalateMinutes = QStringLiteral("EscalateMinutes");

bool ParseSwitch(const QString& text, bool& value) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("yes") ||
        t == QLatin1String("on")) {
        value = true;
        return true;
    }
    if (t == QLatin1String("0") || t == QLatin1String("false") || t == QLatin1String("no") ||
        t == QLatin1String("off")) {
        value = false;
        return true;
    }
    return false;
}
}  // namespace

QString FileName() {
    return QStringLiteral("FernlogOptions.ini");
}

Values Load(QString* warning) {
    Values values;
    QFile file(ProgramDir::File(FileName()));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return values;
    QStringList notUnderstood;
    // Owners may edit the file by hand on a machine without a desktop:
    // comments, blank lines, a section header and spaces are allowed.
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';') ||
            line.startsWith(u'[')) {
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        const QString key = line.left(eq).trimmed();
        bool value = false;
        bool isNumber = false;
        const int number = line.mid(eq + 1).trimmed().toInt(&isNumber);
        if (eq > 0 && key.compare(kRecoveryNotices, Qt::CaseInsensitive) == 0 &&
            ParseSwitch(line.mid(eq + 1), value)) {
            values.recoveryNotices = value;
        } else if (eq > 0 && key.compare(kConnections, Qt::CaseInsensitive) == 0 && isNumber &&
                   number >= 1 && number <= kMaxConnections) {
            values.connections = number;
        } else if (eq > 0 && key.compare(kRetryMinutes, Qt::CaseInsensitive) == 0 && isNumber &&
                   number >= 0 && number <= kMaxRetryMinutes) {
            values.retryMinutes = number;
        } else if (eq > 0 && key.compare(kRemindMinutes, Qt::CaseInsensitive) == 0 && isNumber &&
                   number >= 0 && number <= kMaxNoticeMinutes) {
            values.remindMinutes = number;
        } else if (eq > 0 && key.compare(kEscalateMinutes, Qt::CaseInsensitive) == 0 && isNumber &&
                   number >= 0 && number <= kMaxNoticeMinutes) {
            values.escalateMinutes = number;
        } else if (eq > 0 && key.compare(kListen, Qt::CaseInsensitive) == 0) {
            values.webListen = line.mid(eq + 1).trimmed();
        } else if (eq > 0 && key.compare(kToken, Qt::CaseInsensitive) == 0) {
            values.webToken = line.mid(eq + 1).trimmed();
        } else {
            notUnderstood << line;
        }
    }
    if (warning && !notUnderstood.isEmpty()) {
        *warning = FileName() + QStringLiteral(": lines not understood: ") +
                   notUnderstood.join(QStringLiteral("; "));
    }
    return values;
}

bool Save(const Values& values, QString* error) {
    const QString path = ProgramDir::File(FileName());
    // The file is read for its comments and written back: one writer at once.
    const FolderLock::WriteLock lock;
    if (!lock.Held()) {
        if (error) *error = lock.Error();
        return false;
    }
    const Values defaults;
    struct Setting {
        QString section;
        QString key;
        QByteArray value;
        bool isDefault;
        QByteArray comment;
    };
    const QList<Setting> settings = {
        {QStringLiteral("Notifications"), kRecoveryNotices, values.recoveryNotices ? "1" : "0",
         values.recoveryNotices == defaults.recoveryNotices,
         "# 1: an e-mail when an alarm ends and when a failed device answers again."},
        {QStringLiteral("Notifications"), kRemindMinutes, QByteArray::number(values.remindMinutes),
         values.remindMinutes == defaults.remindMinutes,
         "# Minutes between reminders of an unacknowledged alarm (0 to 10080); 0: none."},
        {QStringLiteral("Notifications"), kEscalateMinutes,
         QByteArray::number(values.escalateMinutes),
         values.escalateMinutes == defaults.escalateMinutes,
         "# Minutes after which an unacknowledged alarm goes to the escalation list; 0: never."},
        {QStringLiteral("Polling"), kConnections, QByteArray::number(values.connections),
         values.connections == defaults.connections,
         "# Devices read at once in a polling cycle (1 to 1024); 1: one after the other."},
        {QStringLiteral("Mail"), kRetryMinutes, QByteArray::number(values.retryMinutes),
         values.retryMinutes == defaults.retryMinutes,
         "# Minutes a failed e-mail is tried again for (0 to 1440); 0: not retried."},
        {QStringLiteral("Web"), kListen, values.webListen.toUtf8(),
         values.webListen == defaults.webListen,
         "# The status page, JSON and metrics: ADDRESS:PORT (127.0.0.1:9180); empty: off."},
        {QStringLiteral("Web"), kToken, values.webToken.toUtf8(),
         values.webToken == defaults.webToken,
         "# The token a client outside loopback must send (16 characters or more)."},
    };
    QList<QByteArray> lines;
    QFile file(path);
    const bool existed = file.open(QIODevice::ReadOnly);
    if (existed) {
        lines = file.readAll().split('\n');
        file.close();
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    }
    // Comments and lines written by hand stay as they are; only the values
    // of known keys change. A missing key is added (to the end of its
    // section, or in a new section at the end, with a comment saying what it
    // is) to a new file, or when it differs from its default.
    for (const Setting& setting : settings) {
        bool found = false;
        qsizetype sectionEnd = -1;  // after the last line of the key's section
        bool inSection = false;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString t = QString::fromUtf8(lines[i]).trimmed();
            if (t.startsWith(u'[')) {
                inSection = t.compare(u'[' + setting.section + u']', Qt::CaseInsensitive) == 0;
                if (inSection) sectionEnd = i + 1;
                continue;
            }
            if (inSection && !t.isEmpty()) sectionEnd = i + 1;
            const qsizetype eq = t.indexOf(u'=');
            if (eq > 0 && t.left(eq).trimmed().compare(setting.key, Qt::CaseInsensitive) == 0) {
                lines[i] = setting.key.toUtf8() + '=' + setting.value;
                found = true;
            }
        }
        if (found || (existed && setting.isDefault)) continue;
        const QList<QByteArray> added = {setting.comment,
                                         setting.key.toUtf8() + '=' + setting.value};
        if (sectionEnd >= 0) {
            for (qsizetype k = 0; k < added.size(); ++k) lines.insert(sectionEnd + k, added[k]);
        } else {
            if (!lines.isEmpty()) lines << QByteArray();
            lines << '[' + setting.section.toUtf8() + ']' << added;
        }
    }
    return SafeFile::Replace(path, lines.join('\n') + '\n', error, SafeFile::Mode::Private);
}

}  // namespace Options
