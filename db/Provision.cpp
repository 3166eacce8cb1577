#include "db/Provision.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace Provision {
namespace {
const QString kFileName = QStringLiteral("zolo.mdb");

bool ApplySchema(const QString& path, QString* error) {
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

enum class Made { Created, AlreadyThere, Failed };

// A half-written database would pass for a provisioned one ("only when
// missing" would never complete it), so a new file is finished under a name
// of its own and then renamed, which never replaces a file that appeared
// meanwhile.
Made CreateNew(const QString& dir, QString* error) {
    const QString path = QDir(dir).filePath(kFileName);
    const QString temporary =
        path + QStringLiteral(".%1.new").arg(QCoreApplication::applicationPid());
    QFile::remove(temporary);
    Made made = Made::Failed;
    if (ApplySchema(temporary, error)) {
        if (QFile::rename(temporary, path)) {
            made = Made::Created;
        } else if (QFileInfo::exists(path)) {
            made = Made::AlreadyThere;
        } else if (error) {
            *error = QStringLiteral("cannot rename %1 to %2").arg(temporary, path);
        }
    }
    if (made != Made::Created) {
        QFile::remove(temporary);
        QFile::remove(temporary + QStringLiteral("-journal"));
    }
    return made;
}

bool MakeDir(const QString& dir, QString* error) {
    if (QDir().mkpath(dir)) return true;
    if (error) *error = QStringLiteral("cannot create directory ") + dir;
    return false;
}
}  // namespace

bool CreateDatabase(const QString& dir, QString* error) {
    if (!MakeDir(dir, error)) return false;
    const QString path = QDir(dir).filePath(kFileName);
    if (!QFileInfo::exists(path)) {
        const Made made = CreateNew(dir, error);
        if (made != Made::AlreadyThere) return made == Made::Created;
    }
    return ApplySchema(path, error);
}

bool CreateMissingDatabase(const QString& dir, bool* created, QString* error) {
    if (created) *created = false;
    if (!MakeDir(dir, error)) return false;
    if (QFileInfo::exists(QDir(dir).filePath(kFileName))) return true;
    const Made made = CreateNew(dir, error);
    if (created) *created = made == Made::Created;
    return made != Made::Failed;
}

}  // namespace Provision
