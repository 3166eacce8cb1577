// An archive given to "fernlog restore": the input is the file. What decodes
// names only files of a program folder, never a path, and encodes and
// decodes again to the same files.
#include "FuzzSupport.h"
#include "core/Backup.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<Tar::Entry> files;
    QString error;
    if (!Backup::Decode(Fuzz::Bytes(data, size), files, &error)) {
        FUZZ_CHECK(files.empty() && !error.isEmpty());
        return 0;
    }
    for (const Tar::Entry& file : files) {
        FUZZ_CHECK(Backup::FileNames().contains(file.name));
        FUZZ_CHECK(file.type == '0' || file.type == '\0');
    }
    std::vector<Tar::Entry> again;
    FUZZ_CHECK(Backup::Decode(Backup::Encode(files, Fuzz::Dir(), QDateTime::currentDateTimeUtc()),
                              again, &error));
    FUZZ_CHECK(again.size() == files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        FUZZ_CHECK(again[i].name == files[i].name && again[i].data == files[i].data &&
                   again[i].mode == files[i].mode);
    }
    return 0;
}
