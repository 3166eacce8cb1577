#include "settings/FolderRules.h"

#include <QDir>
#include <QFileInfo>

#include "common/Ansi.h"
#include "common/Dialogs.h"
#include "core/ServerData.h"
#include "core/Settings.h"

namespace FolderRules {

bool IgnoresCase(const QString& dir) {
    const QString upper = dir.toUpper();
    const QFileInfo chosen(dir);
    if (!chosen.isDir()) return false;
    if (upper == dir) return true;
    const QFileInfo other(upper);
    return other.isDir() && other.canonicalFilePath() == chosen.canonicalFilePath();
}

QString LogDirText(const QString& chosen) {
    const QString path = QDir::toNativeSeparators(chosen);
    return IgnoresCase(chosen) ? path.toUpper() : path;
}

QString PathProblem(const QString& path) {
    if (Ansi::Decode(Ansi::Encode(path)) != path) {
        return QStringLiteral("The folder ") + path +
               QStringLiteral(
                   " contains characters that the settings file cannot store.  "
                   "Please choose another folder.");
    }
    constexpr int kLength = decltype(ConfigRecord::LogDir)::kLength;
    if (path.size() > kLength) {
        return QStringLiteral("The path of the folder ") + path +
               QStringLiteral(
                   " is longer than %1 characters, which is the most the settings "
                   "file can store.  Please choose a folder with a shorter path.")
                   .arg(kLength);
    }
    return QString();
}

bool ChooseLogDir(const QString& chosen) {
    const QString text = LogDirText(chosen);
    const QString problem = PathProblem(text);
    if (!problem.isEmpty()) {
        Dialogs::Message(problem, Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
        return false;
    }
    ServerData::LogDirInUse = text;
    ConfigParameters.LogDir = text;
    return true;
}

}  // namespace FolderRules
