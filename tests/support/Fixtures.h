#pragma once

#include <gtest/gtest.h>

#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <ostream>

#include "common/Clock.h"
#include "common/Dialogs.h"

// Readable failure messages for text comparisons.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

// The model text the register keeps for a QX700-5.
inline const QString kKeeperModel = QStringLiteral("Model QX700-5: Refrigerator/Freezer Keeper");

// `text` filled with blanks to `length` bytes, as fixed-length fields are.
inline QByteArray Padded(const QByteArray& text, int length) {
    return text + QByteArray(length - text.size(), ' ');
}

// The test's clock at that minute.
inline void ClockAt(int y, int mo, int d, int h, int mi) {
    Clock::SetForTest(QDateTime(QDate(y, mo, d), QTime(h, mi, 0)));
}

// A fresh program directory for one test: settings, database and files of
// the code under test land here and vanish afterwards. The clock is real
// unless the test sets it; dialogs go to the console unless the test
// scripts them.
class ProgramDirTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Creates zolo.mdb in the directory.
    void ProvisionDatabase();
    // Makes `dir` (a SmallDisk's, for full-disk cases) the program directory
    // for the rest of the test, with copies of the files made so far.
    void MoveProgramDir(const QString& dir);
    QString Dir() const { return path_; }
    QString FilePath(const QString& name) const;

    // Rows of a plain query against the test's database, each row's columns
    // joined by '|' (NULL shows as "<null>").
    QStringList Rows(const QString& sql) const;

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString path_;
};

// Answers every dialog from a queue (Ok/Yes when empty) and records what
// was shown.
class DialogScript {
  public:
    DialogScript();
    ~DialogScript();
    void Answer(Dialogs::Answer answer, const QString& text = QString());
    const std::vector<Dialogs::Request>& Shown() const { return shown_; }
    QStringList Texts() const;

  private:
    std::deque<Dialogs::Reply> replies_;
    std::vector<Dialogs::Request> shown_;
};

// A program run to its end: its exit status (-1 when it did not start, end
// in time or end normally) and what it printed.
struct ProgramRun {
    int status = -1;
    QString out, err;
};
// Runs `program` with `args` and `input` on its standard input while this
// thread's event loop goes on (simulated devices, test servers); killed
// after `timeoutMs`.
ProgramRun RunProgram(const QString& program, const QStringList& args, const QByteArray& input = {},
                      int timeoutMs = 60000);

// A file's bytes; empty when it cannot be read.
QByteArray ReadAll(const QString& path);
// The same, but "<missing>" when it cannot be read, where a missing file must
// not pass for an empty one.
QByteArray ReadAllOrMissing(const QString& path);
