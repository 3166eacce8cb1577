#include "db/ErrorLog.h"

#include "common/Clock.h"
#include "db/Database.h"

namespace ErrorLog {

bool RecordError(const QString& function, const QString& cause) {
    Database::Connection connection;
    if (!connection.Open()) return false;
    return connection.Exec(
        QStringLiteral("INSERT INTO tblErrors (myTime, myFunction, Cause) VALUES (?, ?, ?)"),
        {Clock::DbStamp(), function, cause});
}

}  // namespace ErrorLog
