#include "core/Options.h"

#include <QFile>

#include "common/ProgramDir.h"
#include "common/SafeFile.h"

namespace Options {
namespace {
const QString kRecoveryNotices = QStringLiteral("RecoveryNotices");

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
        if (eq > 0 && key.compare(kRecoveryNotices, Qt::CaseInsensitive) == 0 &&
            ParseSwitch(line.mid(eq + 1), value)) {
            values.recoveryNotices = value;
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
    const QByteArray setting =
        kRecoveryNotices.toUtf8() + '=' + (values.recoveryNotices ? "1" : "0");
    QByteArray text;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        // Comments and lines written by hand stay as they are; only the
        // value of a known key changes.
        QList<QByteArray> lines = file.readAll().split('\n');
        file.close();
        bool found = false;
        for (QByteArray& line : lines) {
            const QString t = QString::fromUtf8(line).trimmed();
            const qsizetype eq = t.indexOf(u'=');
            if (eq > 0 &&
                t.left(eq).trimmed().compare(kRecoveryNotices, Qt::CaseInsensitive) == 0) {
                line = setting;
                found = true;
            }
        }
        text = lines.join('\n');
        if (!found) {
            if (!text.isEmpty() && !text.endsWith('\n')) text += '\n';
            text += setting + '\n';
        }
    } else {
        text =
            "[Notifications]\n"
            "# 1: an e-mail when an alarm ends and when a failed device answers again.\n" +
            setting + '\n';
    }
    return SafeFile::Replace(path, text, error, SafeFile::Mode::Private);
}

}  // namespace Options
