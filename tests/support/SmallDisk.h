#pragma once

#include <QString>
#include <QTemporaryDir>

// A small file system of its own (tmpfs), for tests of what happens when the
// disk is full. Mounting needs the right to mount (root in CI); where the
// machine refuses, Available() is false and SkipReason() says why, and the
// test skips with that text.
class SmallDisk {
  public:
    explicit SmallDisk(qint64 bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Available() const { return mounted_; }
    QString SkipReason() const { return reason_; }
    QString Path() const { return dir_.path(); }

    // Fills the rest of the disk with one file; Free() gives the space back.
    bool Fill();
    void Free();

    // Remounts the disk read-only, or writable again: as an unplugged or
    // write-protected drive looks to the program. Tests run as root, for
    // whom permission bits do not make a folder read-only.
    bool SetReadOnly(bool readOnly);

  private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    QString reason_;
};
