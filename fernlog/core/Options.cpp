#include "core/Options.h"

#include <QFile>

#include "common/ProgramDir.h"
#include "common/SafeFile.h"

namespace Options {
namespace {
const QString kRecoveryNotices = QStringLiteral("RecoveryNotices");
const QString kConnections = QStringLiteral("Connections");
const QString kListen = QStringLiteral("Listen");
const QString kToken = QStringLiteral("Token");

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
    const Values defaults;
    const QList<std::pair<QString, QByteArray>> settings = {
        {kRecoveryNotices, values.recoveryNotices ? "1" : "0"},
        {kConnections, QByteArray::number(values.connections)},
    };
    const QList<bool> isDefault = {values.recoveryNotices == defaults.recoveryNotices,
                                   values.connections == defaults.connections};
    QByteArray text;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        // Comments and lines written by hand stay as they are; only the
        // values of known keys change, and a missing one is added unless it
        // has its default.
        QList<QByteArray> lines = file.readAll().split('\n');
        file.close();
        QList<bool> found(settings.size(), false);
        for (QByteArray& line : lines) {
            const QString t = QString::fromUtf8(line).trimmed();
            const qsizetype eq = t.indexOf(u'=');
            if (eq <= 0) continue;
            for (qsizetype i = 0; i < settings.size(); ++i) {
                if (t.left(eq).trimmed().compare(settings[i].first, Qt::CaseInsensitive) == 0) {
                    line = settings[i].first.toUtf8() + '=' + settings[i].second;
                    found[i] = true;
                }
            }
        }
        text = lines.join('\n');
        for (qsizetype i = 0; i < settings.size(); ++i) {
            if (found[i] || isDefault[i]) continue;
            if (!text.isEmpty() && !text.endsWith('\n')) text += '\n';
            text += settings[i].first.toUtf8() + '=' + settings[i].second + '\n';
        }
    } else {
        text = "[Notifications]\n"
               "# 1: an e-mail when an alarm ends and when a failed device answers again.\n" +
               kRecoveryNotices.toUtf8() + '=' + settings[0].second +
               "\n\n[Polling]\n"
               "# Devices read at once in a polling cycle (1 to 1024); 1: one after the other.\n" +
               kConnections.toUtf8() + '=' + settings[1].second + '\n';
    }
    return SafeFile::Replace(path, text, error, SafeFile::Mode::Private);
}

}  // namespace Options
