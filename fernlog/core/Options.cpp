#include "core/Options.h"

#include <QFile>

#include "common/ProgramDir.h"
#include "common/SafeFile.h"

namespace Options {
namespace {
const QString kRecoveryNotices = QStringLiteral("RecoveryNotices");
const QString kConnections = QStringLiteral("Connections");

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
    const QByteArray text =
        "[Notifications]\n"
        "# 1: an e-mail when an alarm ends and when a failed device answers again.\n" +
        kRecoveryNotices.toUtf8() + '=' + (values.recoveryNotices ? "1" : "0") +
        "\n\n[Polling]\n"
        "# Devices read at once in a polling cycle (1 to 1024); 1: one after the other.\n" +
        kConnections.toUtf8() + '=' + QByteArray::number(values.connections) + '\n';
    return SafeFile::Replace(ProgramDir::File(FileName()), text, error);
}

}  // namespace Options
