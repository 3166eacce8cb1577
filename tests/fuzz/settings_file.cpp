// The settings file "FernlogConfig.dat" as found in the program directory:
// the input is the file. A file that reads is validated, stored and read
// again, and must come back as it was stored; one that does not read is
// kept, whole, as it was, with a ".bad" copy beside it.
#include <QFile>
#include <QFileInfo>

#include "FuzzSupport.h"
#include "core/Settings.h"
#include "support/FernlogState.h"

namespace {

QByteArray Content(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The fields stored as they are, i.e. all but the four enciphered ones.
ConfigRecord PlainFields(ConfigRecord r) {
    r.UserName = r.Password = r.AdminUserName = r.AdminPassword = QString();
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Fuzz::Start(argc, argv);
    Settings::InitCrypt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetFernlogState();
    Fuzz::ClearDir();
    const QByteArray file = Fuzz::Bytes(data, size);
    const QString path = Settings::FilePath();
    {
        QFile out(path);
        FUZZ_CHECK(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    }

    if (!Settings::ReadConfigFile()) {
        FUZZ_CHECK(ConfigParameters == ConfigRecord());
        FUZZ_CHECK(Content(path) == file);
        FUZZ_CHECK(Content(path + QStringLiteral(".bad")) == file);
        return 0;
    }
    FUZZ_CHECK(file.size() == Settings::kRecordLength);
    const ConfigRecord read = ConfigParameters;

    // Values out of range get their defaults and are stored at once.
    Settings::ValidateConfig();
    const ConfigRecord validated = ConfigParameters;
    if (!Settings::SaveConfigFile()) return 0;  // a deciphered value too long to store again
    FUZZ_CHECK(QFileInfo(path).size() == Settings::kRecordLength);
    const ConfigRecord stored = ConfigParameters;

    Settings::Reset();
    FUZZ_CHECK(Settings::ReadConfigFile());
    FUZZ_CHECK(ConfigParameters == stored);
    // Storing changes nothing that validation left alone.
    if (validated == read) FUZZ_CHECK(PlainFields(ConfigParameters) == PlainFields(read));
    return 0;
}
