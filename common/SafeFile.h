#pragma once

#include <QByteArray>
#include <QString>

// Replacing a whole file so that a failure at any point (full disk, power
// cut, read-only folder) leaves the old file as it was: the new contents go
// to a temporary file in the same folder, every write and the flush are
// checked, the file is synced and its size compared, then it is renamed over
// the old one and the folder is synced so that the rename itself survives.
// A symbolic link is written through (its target is replaced, the link
// stays) when the link and its target belong to the user running the
// program; any other link is refused with the reason, and the superuser
// follows none in a folder that belongs to someone else. A write-protected
// file is refused, not renamed over.
namespace SafeFile {

// Who may read the file. Private: the owner only (0600 for a new file; an
// existing file keeps its owner's read and write bits, nothing more).
// Usual: an existing file keeps its mode, a new one gets 0666 less the umask.
enum class Mode { Usual, Private };

// The whole new contents at once. False with the reason in *error.
bool Replace(const QString& path, const QByteArray& contents, QString* error = nullptr,
             Mode mode = Mode::Usual);

// Whether Replace would write `path` as far as links and write protection
// go, without writing anything: for a command that checks before it
// changes. False with the reason in *error.
bool Replaceable(const QString& path, QString* error = nullptr);

// A copy of a file that cannot be read whole, kept beside it before anything
// is written over it: `path`.bad, .bad2 ... (owner-only); an identical
// earlier copy is not made again. False with the reason in *error.
bool KeepCopy(const QString& path, const QByteArray& contents, QString* error = nullptr);

// For contents made piece by piece (exports). Nothing is visible under
// `path` until Commit succeeds; a writer destroyed uncommitted removes its
// temporary file.
class Writer {
  public:
    explicit Writer(const QString& path, Mode mode = Mode::Usual);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool Open(QString* error = nullptr);
    // False once any write has failed; later writes are ignored, and Commit
    // reports the first failure.
    bool Write(const QByteArray& bytes);
    bool Commit(QString* error = nullptr);
    void Discard();
    QString ErrorString() const { return error_; }

  private:
    bool Fail(const QString& what, int errnum);

    QString path_;
    QString target_;  // path_, or the file its symbolic links lead to
    Mode mode_;
    QString temp_;
    int fd_ = -1;
    qint64 written_ = 0;
    QString error_;
};

// For files that grow by records (data logs, mail log, exports), where a
// temporary copy per record would cost too much: `bytes` are written at
// `offset` (at the end when it is negative or past the end) and the file
// ends after them. When any write fails the file is put back as it was, its
// old length and the bytes it overwrote, so that no torn record is left for
// a reader to take as a record; a file that did not exist is removed. No
// sync: writers called for every reading cannot afford one per record.
// Symbolic links are followed as by Replace.
// False with the reason in *error.
bool WriteTail(const QString& path, qint64 offset, const QByteArray& bytes,
               QString* error = nullptr);

}  // namespace SafeFile
