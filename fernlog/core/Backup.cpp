#include "Backup.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <memory>
#include <optional>

#include "common/ProgramDir.h"
#include "common/SafeFile.h"
#include "core/AlarmHandling.h"
#include "core/ChannelOutbox.h"
#include "core/Journal.h"
#include "core/Options.h"
#include "core/Outbox.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "db/Database.h"
#include "db/Snapshot.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace Backup {
namespace {

// The first line of the manifest: a later layout gets another number.
constexpr char kFormat[] = "fernlog backup 1";
// What SQLite keeps beside a database file while it writes.
const QStringList kCompanions{QStringLiteral("-journal"), QStringLiteral("-wal"),
                              QStringLiteral("-shm")};

bool Fail(QString* error, const QString& reason) {
    if (error) *error = reason;
    return false;
}

QByteArray Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// Mode and owner of a file of the folder, as tar keeps them.
void Describe(const QString& path, Tar::Entry& entry) {
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        entry.mode = int(st.st_mode & 0777);
        entry.uid = st.st_uid;
        entry.gid = st.st_gid;
    }
#else
    Q_UNUSED(path);
    Q_UNUSED(entry);
#endif
}

bool IsPath(const QString& name) {
    return name.isEmpty() || name.contains(u'/') || name.contains(u'\\') ||
           name == QLatin1String(".") || name == QLatin1String("..");
}

// One file of the folder with its bytes, mode and owner; nullopt when it
// does not exist, false when it cannot be read.
bool Take(const QString& name, std::optional<Tar::Entry>& entry, QString* error) {
    entry.reset();
    const QString path = ProgramDir::File(name);
    if (!QFileInfo::exists(path) && name != Database::FileName()) return true;
    Tar::Entry taken;
    taken.name = name;
    QString reason;
    if (DatabaseNames().contains(name)) {
        if (!Snapshot::Take(path, taken.data, &reason)) {
            return Fail(error, QStringLiteral("%1 cannot be copied: %2").arg(name, reason));
        }
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return Fail(error,
                        QStringLiteral("%1 cannot be read: %2").arg(name, file.errorString()));
        }
        taken.data = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            return Fail(error,
                        QStringLiteral("%1 cannot be read: %2").arg(name, file.errorString()));
        }
    }
    Describe(path, taken);
    entry = std::move(taken);
    return true;
}

bool Same(const std::optional<Tar::Entry>& a, const std::optional<Tar::Entry>& b) {
    return a.has_value() == b.has_value() && (!a || a->data == b->data);
}

}  // namespace

QString ManifestName() {
    return QStringLiteral("FernlogBackup.txt");
}

QStringList FileNames() {
    return {Journal::FileName(), Database::FileName(),      AlarmHandling::FileName(),
            Outbox::FileName(),  ChannelOutbox::FileName(), Settings::FileName(),
            Options::FileName()};
}

QStringList DatabaseNames() {
    return {Database::FileName(), AlarmHandling::FileName()};
}

bool Collect(std::vector<Tar::Entry>& files, QString* error) {
    files.clear();
    const QString journal = Journal::FileName();
    // The program moves a waiting write into the database and then takes it
    // out of the journal (the file is replaced whole). A journal that is the
    // same before and after the databases' copies matches them, as it would
    // after a stop at any moment; one that changed meanwhile is read again.
    constexpr int kAttempts = 5;
    for (int attempt = 0; attempt < kAttempts && files.empty(); ++attempt) {
        std::vector<Tar::Entry> taken;
        std::optional<Tar::Entry> before, after;
        if (!Take(journal, before, error)) return false;
        if (before) taken.push_back(*before);
        for (const QString& name : FileNames()) {
            if (name == journal) continue;
            std::optional<Tar::Entry> entry;
            if (!Take(name, entry, error)) return false;
            if (entry) taken.push_back(std::move(*entry));
            if (name == AlarmHandling::FileName() && !Take(journal, after, error)) return false;
        }
        if (Same(before, after)) files = std::move(taken);
    }
    if (files.empty()) {
        return Fail(error, QStringLiteral("%1 changed each time the databases were copied; try "
                                          "again")
                               .arg(journal));
    }
    return true;
}

QByteArray Encode(const std::vector<Tar::Entry>& files, const QString& origin,
                  const QDateTime& made) {
    QByteArray manifest = QByteArray(kFormat) + '\n';
    manifest += "made " + made.toUTC().toString(Qt::ISODate).toUtf8() + " of " +
                QDir::toNativeSeparators(origin).toUtf8() + " by fernlog " +
                Startup::VersionText().toUtf8() + '\n';
    for (const Tar::Entry& file : files) {
        manifest += "file " + file.name.toUtf8() + ' ' + QByteArray::number(file.data.size()) +
                    ' ' + Sha256(file.data) + '\n';
    }
    Tar::Entry head;
    head.name = ManifestName();
    head.data = manifest;
    std::vector<Tar::Entry> entries{head};
    entries.insert(entries.end(), files.begin(), files.end());
    for (Tar::Entry& entry : entries) entry.mtime = made.toSecsSinceEpoch();
    entries.front().uid = files.empty() ? 0 : files.front().uid;
    entries.front().gid = files.empty() ? 0 : files.front().gid;
    entries.front().mode = 0600;
    return Tar::Encode(entries);
}

bool Decode(const QByteArray& archive, std::vector<Tar::Entry>& files, QString* error) {
    files.clear();
    std::vector<Tar::Entry> entries, found;
    QString reason;
    if (!Tar::Decode(archive, entries, &reason)) {
        if (reason == QLatin1String("it is no tar archive")) {
            return Fail(error, QStringLiteral("is not a fernlog backup: it is no tar archive"));
        }
        return Fail(error, QStringLiteral("is damaged: ") + reason);
    }
    // A member that would land outside the folder or on something else than
    // a plain file is refused, whatever else the archive holds.
    for (const Tar::Entry& entry : entries) {
        if (IsPath(entry.name)) {
            return Fail(error, QStringLiteral("holds a member with a path, '%1'").arg(entry.name));
        }
        if (entry.type != '0' && entry.type != '\0') {
            return Fail(error,
                        QStringLiteral("holds '%1', which is not a plain file").arg(entry.name));
        }
    }
    if (entries.empty() || entries.front().name != ManifestName()) {
        return Fail(error, QStringLiteral("is not a fernlog backup: it does not begin with %1")
                               .arg(ManifestName()));
    }
    const QList<QByteArray> lines = entries.front().data.split('\n');
    if (lines.value(0) != kFormat) {
        return Fail(error, QStringLiteral("is not a fernlog backup that this fernlog reads ('%1')")
                               .arg(QString::fromUtf8(lines.value(0).left(60))));
    }
    struct Listed {
        qint64 size = -1;
        QByteArray sha256;
        bool found = false;
    };
    QHash<QString, Listed> listed;
    const QStringList known = FileNames();
    for (const QByteArray& line : lines.mid(1)) {
        if (!line.startsWith("file ")) continue;
        const QList<QByteArray> words = line.split(' ');
        const QString name = QString::fromUtf8(words.value(1));
        bool ok = false;
        const qint64 size = words.value(2).toLongLong(&ok);
        if (words.size() != 4 || !ok || !known.contains(name) || listed.contains(name)) {
            return Fail(error, QStringLiteral("is damaged: its manifest line '%1' is not one "
                                              "fernlog backup writes")
                                   .arg(QString::fromUtf8(line.left(120))));
        }
        listed.insert(name, {size, words.value(3), false});
    }
    for (size_t i = 1; i < entries.size(); ++i) {
        const Tar::Entry& entry = entries[i];
        if (!known.contains(entry.name)) {
            return Fail(
                error,
                QStringLiteral("holds '%1', which is no file of a program folder").arg(entry.name));
        }
        const auto it = listed.find(entry.name);
        if (it == listed.end()) {
            return Fail(error, QStringLiteral("is damaged: it holds %1, which its manifest does "
                                              "not name")
                                   .arg(entry.name));
        }
        if (it->found) return Fail(error, QStringLiteral("holds %1 twice").arg(entry.name));
        if (it->size != entry.data.size() || it->sha256 != Sha256(entry.data)) {
            return Fail(error, QStringLiteral("is damaged: %1 is not what was backed up (its "
                                              "size or SHA-256 differs)")
                                   .arg(entry.name));
        }
        it->found = true;
        found.push_back(entry);
    }
    for (auto it = listed.cbegin(); it != listed.cend(); ++it) {
        if (!it->found) {
            return Fail(error, QStringLiteral("is damaged: %1, which its manifest names, is "
                                              "missing")
                                   .arg(it.key()));
        }
    }
    if (!listed.contains(Database::FileName())) {
        return Fail(error, QStringLiteral("holds no %1").arg(Database::FileName()));
    }
    files = std::move(found);
    return true;
}

bool Place(const std::vector<Tar::Entry>& files, QString* error) {
    // Each file is written whole beside its place first: a full disk then
    // leaves the folder as it was.
    std::vector<std::unique_ptr<SafeFile::Writer>> writers;
    QSet<QString> restored;
    for (const Tar::Entry& file : files) {
        auto writer = std::make_unique<SafeFile::Writer>(ProgramDir::File(file.name),
                                                         SafeFile::Mode::Private);
        QString reason;
        if (!writer->Open(&reason) || !writer->Write(file.data)) {
            if (reason.isEmpty()) reason = writer->ErrorString();
            return Fail(error, QStringLiteral("%1 cannot be written: %2").arg(file.name, reason));
        }
        writers.push_back(std::move(writer));
        restored.insert(file.name);
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const Tar::Entry& file = files[i];
        const QString path = ProgramDir::File(file.name);
        // A journal left beside the old database would be rolled into the
        // new one on its first open.
        if (DatabaseNames().contains(file.name)) {
            for (const QString& companion : kCompanions) QFile::remove(path + companion);
        }
        QString reason;
        if (!writers[i]->Commit(&reason)) {
            return Fail(error, QStringLiteral("%1 cannot be written: %2").arg(file.name, reason));
        }
        // Written for the owner only, then given the mode it had; its owner
        // keeps reading and writing it, whatever the archive says.
#ifdef Q_OS_UNIX
        if (::chmod(QFile::encodeName(path).constData(), mode_t((file.mode & 0777) | 0600)) != 0) {
            return Fail(error, QStringLiteral("%1 cannot be given its mode").arg(file.name));
        }
#endif
    }
    for (const QString& name : FileNames()) {
        if (restored.contains(name)) continue;
        const QString path = ProgramDir::File(name);
        if (QFileInfo::exists(path) && !QFile::remove(path)) {
            return Fail(error, QStringLiteral("%1, which the backup does not hold, cannot be "
                                              "removed")
                                   .arg(name));
        }
        if (DatabaseNames().contains(name)) {
            for (const QString& companion : kCompanions) QFile::remove(path + companion);
        }
    }
    return true;
}

}  // namespace Backup
