#include "core/Timings.h"

#include <QSet>
#include <QStringList>
#include <QtGlobal>

namespace Waits {
namespace {
Timings current;
constexpr int kLongestMs = 600000;
}  // namespace

const Timings& Current() {
    return current;
}

void SetForTest(const Timings& timings) {
    current = timings;
}

void Reset() {
    current = Timings();
}

bool Parse(const QString& text, Timings& timings, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    Timings parsed;
    QSet<QString> seen;
    for (const QString& item : text.split(QLatin1Char(','))) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString key = item.left(equals).trimmed();
        int* field = key == QLatin1String("connect")   ? &parsed.connectMs
                     : key == QLatin1String("answer")  ? &parsed.answerMs
                     : key == QLatin1String("tick")    ? &parsed.tickMs
                     : key == QLatin1String("stop")    ? &parsed.stopMs
                     : key == QLatin1String("channel") ? &parsed.channelMs
                                                       : nullptr;
        if (equals < 0 || !field) {
            return fail(
                QStringLiteral("'%1' is not connect=MS, answer=MS, tick=MS, stop=MS or channel=MS")
                    .arg(item));
        }
        if (seen.contains(key)) return fail(QStringLiteral("%1 is given twice").arg(key));
        seen.insert(key);
        bool ok = false;
        const int value = item.mid(equals + 1).trimmed().toInt(&ok);
        if (!ok || value < 1 || value > kLongestMs) {
            return fail(QStringLiteral("%1 must be 1-%2 milliseconds, not '%3'")
                            .arg(key)
                            .arg(kLongestMs)
                            .arg(item.mid(equals + 1)));
        }
        *field = value;
    }
    timings = parsed;
    return true;
}

bool UseTestVariable(QString* error) {
    if (qEnvironmentVariableIsEmpty(kTestVariable)) return true;
    Timings timings;
    QString why;
    if (!Parse(qEnvironmentVariable(kTestVariable), timings, &why)) {
        if (error) *error = QLatin1String(kTestVariable) + QStringLiteral(": ") + why;
        return false;
    }
    current = timings;
    return true;
}

}  // namespace Waits
