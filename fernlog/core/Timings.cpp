#include "core/Timings.h"

#include <QtGlobal>

#include "common/TestWaits.h"

namespace Waits {
namespace {
Timings current;
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
    Timings parsed;
    if (!TestWaits::Parse(text,
                          {{"connect", &parsed.connectMs},
                           {"answer", &parsed.answerMs},
                           {"tick", &parsed.tickMs},
                           {"stop", &parsed.stopMs},
                           {"channel", &parsed.channelMs}},
                          error)) {
        return false;
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
