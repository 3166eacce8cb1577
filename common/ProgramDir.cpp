#include "common/ProgramDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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

QString DefaultFor(const QString& executableDir, const QString& perUserDir, Origin* origin) {
    // A marker file rather than a comparison with the configured install
    // path: `cmake --install --prefix` and packaging relocate the programs,
    // and a build tree may sit anywhere, but only the build writes the marker
    // and no install rule copies it.
    const bool buildTree = QFileInfo(QDir(executableDir).filePath(kBuildTreeMarker)).isFile();
    const bool executable = buildTree || perUserDir.isEmpty();
    if (origin) *origin = executable ? Origin::Executable : Origin::PerUser;
    return executable ? executableDir : perUserDir;
}

QString Configure(const QString& dir, Origin* origin) {
    Origin from = Origin::Option;
    QString chosen = dir;
    if (chosen.isEmpty()) {
        from = Origin::Environment;
        chosen = qEnvironmentVariable("FERNLOG_DIR");
    }
    if (chosen.isEmpty()) {
        chosen =
            DefaultFor(ExecutableDir(),
                       QStandardPaths::writableLocation(QStandardPaths::AppDataLocation), &from);
    }
    if (origin) *origin = from;
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
