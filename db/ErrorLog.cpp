#include "db/ErrorLog.h"

#include <QSet>
#include <QTextStream>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "db/Database.h"

namespace ErrorLog {
namespace {
// Kinds of error already told on standard error during the present outage
// of the database: each once, not every cycle.
QSet<QString>& ToldOnConsole() {
    static QSet<QString> told;
    return told;
}
}  // namespace

namespace {
bool Record(const QString& function, const QString& cause, bool tell) {
    Database::Connection connection;
    const bool stored =
        connection.Open() &&
        connection.Exec(
            QStringLiteral("INSERT INTO tblErrors (myTime, myFunction, Cause) VALUES (?, ?, ?)"),
            {Clock::DbStamp(), function, cause});
    if (stored) {
        ToldOnConsole().clear();
        if (tell) EventLog::Error(function + QStringLiteral(": ") + cause);
        return true;
    }
    // The error log lives in the database; when that cannot be written, the
    // error must not vanish.
    if (!ToldOnConsole().contains(function)) {
        ToldOnConsole().insert(function);
        const QString text = QStringLiteral("error log unavailable (") + connection.Error() +
                             QStringLiteral("): ") + function + QStringLiteral(": ") + cause;
        if (EventLog::HasSink()) {
            EventLog::Error(text);
        } else {
            QTextStream(stderr) << Clock::DbStamp() << "  " << text << Qt::endl;
        }
    }
    return false;
}
}  // namespace

bool RecordError(const QString& function, const QString& cause) {
    return Record(function, cause, true);
}

bool RecordToldError(const QString& function, const QString& cause) {
    return Record(function, cause, false);
}

void Reset() {
    ToldOnConsole().clear();
}

}  // namespace ErrorLog
