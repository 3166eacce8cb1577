#include "FuzzSupport.h"

#include <ftw.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/ProgramDir.h"

namespace Fuzz {
namespace {
// Both live until the process ends and are never destroyed: libFuzzer ends
// with exit(), after which Qt's own globals are already gone.
QCoreApplication* app = nullptr;
std::string* dir = nullptr;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return ::remove(path);
}

// Plain POSIX, so that it still works at exit.
void RemoveDir() {
    if (dir) ::nftw(dir->c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}
}  // namespace

void Start(int* argc, char*** argv) {
    if (app) return;
    // Timers and the SQL layer want an application object; nothing runs its
    // event loop.
    app = new QCoreApplication(*argc, *argv);
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvane-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("fuzz: no temporary directory");
        std::abort();
    }
    dir = new std::string(pattern);
    std::atexit(RemoveDir);
    ProgramDir::Set(Dir());
}

QString Dir() {
    return QString::fromStdString(*dir);
}

QString File(const QString& name) {
    return QDir(Dir()).filePath(name);
}

void ClearDir() {
    QDir directory(Dir());
    for (const QString& name : directory.entryList(QDir::Files | QDir::Hidden | QDir::System))
        directory.remove(name);
}

QByteArray Bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

void Fail(const char* file, int line, const char* what) {
    // The sanitizers' report channel still works when libFuzzer has closed
    // the target's own standard error (-close_fd_mask=2).
    char text[512];
    std::snprintf(text, sizeof text, "fuzz check failed: %s:%d: %s", file, line, what);
    __sanitizer_report_error_summary(text);
    std::abort();
}

}  // namespace Fuzz
