// fernlog init: a program folder made ready from the shell, with what the
// program itself would make on its first start.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "app/AdminCommands.h"
#include "app/AdminCommon.h"
#include "common/ProgramDir.h"
#include "core/Options.h"
#include "core/Settings.h"
#include "db/Database.h"
#include "db/Provision.h"

using namespace AdminCommon;

namespace AdminCommands {

int Init(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Makes a program folder ready to use: the folder, an empty zolo.mdb, the settings file "
        "with its defaults and the options file with every section. What exists is kept."));
    const QCommandLineOption dir = DirOption();
    parser.addOption(dir);
    if (const auto status = Parse(parser, argc, argv, 1)) return *status;
    QCoreApplication app(argc, argv);
    const QString path = ProgramDir::Configure(parser.value(dir));
    const QString shown = QDir::toNativeSeparators(path);
    if (!QDir().mkpath(path))
        return Fail(QStringLiteral("the folder %1 cannot be made").arg(shown));
    Answers answers;
    const auto told = [](bool made) {
        return made ? QStringLiteral("made") : QStringLiteral("kept");
    };
    bool madeDatabase = false;
    QString error;
    if (!Provision::CreateMissingDatabase(path, &madeDatabase, &error)) {
        return Fail(QStringLiteral("cannot create the database in ") + shown +
                    QStringLiteral(": ") + error);
    }
    // The settings as the program's first start stores them: every value
    // out of range (all of them, in an empty record) gets its default.
    Settings::InitCrypt();
    const bool madeSettings = !QFileInfo::exists(Settings::FilePath());
    if (madeSettings) {
        Settings::ReadConfigFile();
        Settings::ValidateConfig();
        if (!QFileInfo::exists(Settings::FilePath()) && !Settings::SaveConfigFile()) {
            return Fail(answers.problems.value(
                0, Settings::FileName() + QStringLiteral(" could not be written")));
        }
    }
    const bool madeOptions = !QFileInfo::exists(ProgramDir::File(Options::FileName()));
    if (madeOptions && !Options::Save(Options::Values{}, &error)) {
        return Fail(Options::FileName() + QStringLiteral(" could not be written: ") + error);
    }
    HandOver({QStringLiteral("zolo.mdb"), Settings::FileName(), Options::FileName()});
    Print(QStringLiteral("%1 is ready: zolo.mdb %2, %3 %4, %5 %6")
              .arg(shown, told(madeDatabase), Settings::FileName(), told(madeSettings),
                   Options::FileName(), told(madeOptions)));
    return kDone;
}

}  // namespace AdminCommands
