// The record journal "FernlogJournal.dat" as found beside the database: the
// input is the file. What decodes must encode and decode again to the same
// changes, and every change kept names its owner and its record.
#include "FuzzSupport.h"
#include "core/Journal.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<Journal::Change> changes;
    qint64 next = 0;
    QString since;
    QString error;
    if (!Journal::Decode(Fuzz::Bytes(data, size), changes, next, since, &error)) return 0;
    for (const Journal::Change& c : changes) {
        FUZZ_CHECK(c.row > 0 || c.ref > 0);
        FUZZ_CHECK(c.owner >= 0 && next >= 0);
    }
    std::vector<Journal::Change> again;
    qint64 nextAgain = 0;
    QString sinceAgain;
    FUZZ_CHECK(Journal::Decode(Journal::Encode(changes, next, since), again, nextAgain, sinceAgain,
                               &error) &&
               error.isEmpty());
    FUZZ_CHECK(again == changes && nextAgain == next && sinceAgain == since);
    return 0;
}
