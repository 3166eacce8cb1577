#include "common/ProgramDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace ProgramDir {
namespace {
QString& Current() {
    static QString dir;
    return dir;
}

QString ExecutableDir() {
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    return QDir::currentPath();
}
}  // namespace

QString Configure(const QString& dir) {
    QString chosen = dir;
    if (chosen.isEmpty()) chosen = qEnvironmentVariable("FERNLOG_DIR");
    if (chosen.isEmpty()) chosen = ExecutableDir();
    Set(chosen);
    return Path();
}

void Set(const QString& dir) {
    Current() = QDir::cleanPath(QDir(dir).absolutePath());
}

QString Path() {
    if (Current().isEmpty()) Set(ExecutableDir());
    return Current();
}

QString File(const QString& name) {
    return Path() + QLatin1Char('/') + name;
}

}  // namespace ProgramDir
