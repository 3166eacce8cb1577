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

QString ExecutableDir(char** argv) {
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    if (argv && argv[0]) return QFileInfo(QString::fromLocal8Bit(argv[0])).absolutePath();
    return QDir::currentPath();
}
}  // namespace

QString Configure(int argc, char** argv) {
    QString dir;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--dir") && i + 1 < argc) {
            dir = QString::fromLocal8Bit(argv[i + 1]);
            break;
        }
        if (arg.startsWith(QLatin1String("--dir="))) {
            dir = arg.mid(6);
            break;
        }
    }
    if (dir.isEmpty()) dir = qEnvironmentVariable("FERNLOG_DIR");
    if (dir.isEmpty()) dir = ExecutableDir(argv);
    Set(dir);
    return Path();
}

void Set(const QString& dir) {
    Current() = QDir::cleanPath(QDir(dir).absolutePath());
}

QString Path() {
    if (Current().isEmpty()) Set(ExecutableDir(nullptr));
    return Current();
}

QString File(const QString& name) {
    return Path() + QLatin1Char('/') + name;
}

}  // namespace ProgramDir
