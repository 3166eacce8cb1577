// fernlog backup and restore: the program folder's own files in one archive,
// taken while the program runs, and put back into a folder no program uses.
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/AdminCommands.h"
#include "app/AdminCommon.h"
#include "common/ProgramDir.h"
#include "common/SafeFile.h"
#include "core/Backup.h"

using namespace AdminCommon;

namespace AdminCommands {
namespace {

QStringList Names(const std::vector<Tar::Entry>& files) {
    QStringList names;
    for (const Tar::Entry& file : files) names << file.name;
    return names;
}

QCommandLineOption ForceOption() {
    return QCommandLineOption(
        QStringLiteral("force"),
        QStringLiteral("Replace the files of a folder that already holds them (a stopped "
                       "program's); those the archive does not hold are removed."));
}

}  // namespace

int BackupCommand(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes FILE, a tar archive of the program folder's own files: consistent copies of "
        "zolo.mdb and the alarm-handling store, the settings and options files, the outbox and "
        "the journal of waiting database writes. Safe while fernlog runs. FILE is readable by "
        "its owner only: it holds the settings' secrets."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The archive to write."));
    const QCommandLineOption dir = DirOption();
    parser.addOption(dir);
    if (const auto status = Parse(parser, argc, argv, 1, 1)) return *status;
    const QString file = parser.positionalArguments().value(0);
    if (file.isEmpty()) {
        return Fail(QStringLiteral("backup takes the archive to write: fernlog backup FILE"),
                    kBadArgument);
    }
    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    const QFileInfo target(file);
    if (target.isDir()) {
        return Fail(QStringLiteral("%1 is a folder; backup takes the file to write")
                        .arg(QDir::toNativeSeparators(file)),
                    kBadArgument);
    }
    const QString folder = QDir::toNativeSeparators(ProgramDir::Path());
    std::vector<Tar::Entry> files;
    QString error;
    {
        // The settings and options as one command or the program last
        // stored them, not half-way through a change.
        const FolderLock::WriteLock lock;
        if (const auto status = Locked(lock)) return *status;
        if (!Backup::Collect(files, &error)) {
            return Fail(QStringLiteral("%1 cannot be backed up: %2").arg(folder, error));
        }
    }
    const QByteArray archive =
        Backup::Encode(files, ProgramDir::Path(), QDateTime::currentDateTimeUtc());
    if (!SafeFile::Replace(target.absoluteFilePath(), archive, &error, SafeFile::Mode::Private)) {
        return Fail(
            QStringLiteral("%1 cannot be written: %2").arg(QDir::toNativeSeparators(file), error));
    }
    Print(
        QStringLiteral("Backed up %1 into %2: %3")
            .arg(folder, QDir::toNativeSeparators(file), Names(files).join(QStringLiteral(", "))));
    return kDone;
}

int RestoreCommand(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Puts the files of FILE, an archive that fernlog backup wrote, into the program folder "
        "(made when missing), with their modes. Refused while a fernlog runs on the folder, and "
        "in a folder that already holds any of them unless --force is given. Nothing is "
        "written when the archive is damaged or not a backup."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The archive to read."));
    const QCommandLineOption dir = DirOption(), force = ForceOption();
    parser.addOptions({dir, force});
    if (const auto status = Parse(parser, argc, argv, 1, 1)) return *status;
    const QString file = parser.positionalArguments().value(0);
    if (file.isEmpty()) {
        return Fail(QStringLiteral("restore takes the archive to read: fernlog restore FILE"),
                    kBadArgument);
    }
    QCoreApplication app(argc, argv);
    const QString shownFile = QDir::toNativeSeparators(file);
    QFile input(file);
    if (!input.exists()) {
        return Fail(QStringLiteral("the archive %1 does not exist").arg(shownFile), kBadArgument);
    }
    if (QFileInfo(file).isDir() || !input.open(QIODevice::ReadOnly)) {
        return Fail(QStringLiteral("the archive %1 cannot be read: %2")
                        .arg(shownFile, QFileInfo(file).isDir() ? QStringLiteral("it is a folder")
                                                                : input.errorString()));
    }
    // A large file that is no archive at all is not read whole.
    if (!Tar::LooksLikeArchive(input.peek(512))) {
        return Fail(QStringLiteral("the archive %1 is not a fernlog backup: it is no tar "
                                   "archive; nothing was restored")
                        .arg(shownFile),
                    kBadArgument);
    }
    const QByteArray archive = input.readAll();
    if (input.error() != QFileDevice::NoError) {
        return Fail(QStringLiteral("the archive %1 cannot be read: %2")
                        .arg(shownFile, input.errorString()));
    }
    // The whole archive is judged before anything is written.
    std::vector<Tar::Entry> files;
    QString error;
    if (!Backup::Decode(archive, files, &error)) {
        return Fail(QStringLiteral("the archive %1 %2; nothing was restored").arg(shownFile, error),
                    kBadArgument);
    }

    const QString path = ProgramDir::Configure(parser.value(dir));
    const QString folder = QDir::toNativeSeparators(path);
    if (QFileInfo::exists(path) && !QFileInfo(path).isDir()) {
        return Fail(QStringLiteral("%1 is not a folder").arg(folder), kBadArgument);
    }
    if (!QDir().mkpath(path)) {
        return Fail(QStringLiteral("the folder %1 cannot be made").arg(folder));
    }
    // Held for the restore itself too: a fernlog started meanwhile would read
    // half of the old files and half of the new.
    FolderLock::ProgramLock program;
    if (!program.Acquire(path, &error)) {
        return Fail(error + QStringLiteral("; stop it before restoring, nothing was restored"));
    }
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    QStringList present;
    for (const QString& name : Backup::FileNames()) {
        if (QFileInfo::exists(ProgramDir::File(name))) present << name;
    }
    if (!present.isEmpty() && !parser.isSet(force)) {
        return Fail(QStringLiteral("the folder %1 already holds %2; fernlog restore --force "
                                   "replaces them, nothing was restored")
                        .arg(folder, present.join(QStringLiteral(", "))));
    }
    if (!Backup::Place(files, &error)) {
        return Fail(QStringLiteral("the restore into %1 did not end: %2").arg(folder, error));
    }
    HandOver(Names(files) << QString::fromLatin1(FolderLock::kProgramLockName)
                          << QString::fromLatin1(FolderLock::kWriteLockName));
    Print(QStringLiteral("Restored into %1 from %2: %3")
              .arg(folder, shownFile, Names(files).join(QStringLiteral(", "))));
    return kDone;
}

}  // namespace AdminCommands
