#include "db/Provision.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace Provision {

bool CreateDatabase(const QString& dir, QString* error) {
    if (!QDir().mkpath(dir)) {
        if (error) *error = QStringLiteral("cannot create directory ") + dir;
        return false;
    }
    const QString path = QDir(dir).filePath(QStringLiteral("zolo.mdb"));
    const QString name = QStringLiteral("provision-") + path;
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            if (error) *error = db.lastError().text();
            ok = false;
        } else {
            QStringList lines;
            for (const QString& line : SchemaSql().split(QLatin1Char('\n'))) {
                if (!line.trimmed().startsWith(QLatin1String("--"))) lines << line;
            }
            for (const QString& statement : lines.join(QLatin1Char('\n')).split(QLatin1Char(';'))) {
                if (statement.trimmed().isEmpty()) continue;
                QSqlQuery query(db);
                if (!query.exec(statement)) {
                    if (error) *error = query.lastError().text();
                    ok = false;
                    break;
                }
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

}  // namespace Provision
