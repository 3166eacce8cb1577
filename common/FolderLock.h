#pragma once

#include <QString>

// Two locks on the program directory, each a file in it held with flock:
// - the program lock, held for a running fernlog's life, so that a second
//   one on the same folder does not poll, mail and share its outbox too;
// - the write lock, held for the few moments of a read, change and write of
//   the folder's files, by the administration commands and by the program's
//   own writes of the same files, so that changes made at once are applied
//   one after another and none is lost.
// Commands take only the write lock: they work while the program runs.
// A lock ends with its process, however that ends.
namespace FolderLock {

inline constexpr char kProgramLockName[] = "FernlogProgram.lock";
inline constexpr char kWriteLockName[] = "FernlogWrite.lock";
// How long a writer waits for another one before it gives up.
constexpr int kWriteWaitMs = 5000;

// Held until destroyed (the program's life).
class ProgramLock {
  public:
    ProgramLock() = default;
    ~ProgramLock();
    ProgramLock(const ProgramLock&) = delete;
    ProgramLock& operator=(const ProgramLock&) = delete;
    // Takes the lock of `folder` and writes this process's PID into it. False
    // with the reason when another program holds it (naming its PID) or the
    // lock file cannot be made.
    bool Acquire(const QString& folder, QString* error = nullptr);

  private:
    int fd_ = -1;
};

// Taken on construction, waiting at most `waitMs`, and held until
// destroyed. Nested in one process for one folder (a command whose save goes
// through the program's own saving), the inner ones simply go on under the
// outer one. A folder where not even the lock file can be made is one where
// nothing can be written: the writer goes on and meets its own failure there.
class WriteLock {
  public:
    explicit WriteLock(const QString& folder, int waitMs = kWriteWaitMs);
    // The program directory's.
    WriteLock();
    ~WriteLock();
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;
    bool Held() const { return held_; }
    // Why it is not held: another writer kept it longer than the wait.
    QString Error() const { return error_; }

  private:
    QString folder_;
    int fd_ = -1;
    bool nested_ = false;  // under an outer holder of this process
    bool outer_ = false;   // the holder the nested ones go on under
    bool held_ = false;
    QString error_;
};

}  // namespace FolderLock
