// The e-mail outbox "FernlogOutbox.dat" as found beside the database: the
// input is the file. What decodes must encode and decode again to the same
// messages, retry schedule included; a report name never leaves the program
// directory.
#include "FuzzSupport.h"
#include "core/Outbox.h"

namespace {
bool Same(const Outbox::Entry& a, const Outbox::Entry& b) {
    if (a.recipients.size() != b.recipients.size()) return false;
    for (size_t i = 0; i < a.recipients.size(); ++i) {
        if (a.recipients[i].name != b.recipients[i].name ||
            a.recipients[i].address != b.recipients[i].address) {
            return false;
        }
    }
    return a.reportFile == b.reportFile && a.receipt == b.receipt && a.rowId == b.rowId &&
           a.errorFunction == b.errorFunction && a.subject == b.subject &&
           a.fromName == b.fromName && a.fromAddress == b.fromAddress && a.body == b.body &&
           a.attempts == b.attempts && a.firstAttempt == b.firstAttempt &&
           a.nextAttempt == b.nextAttempt;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<Outbox::Entry> entries;
    QString error;
    if (!Outbox::Decode(Fuzz::Bytes(data, size), entries, &error)) return 0;
    for (const Outbox::Entry& e : entries) {
        FUZZ_CHECK(!e.reportFile.contains(u'/') && !e.reportFile.contains(u'\\'));
        FUZZ_CHECK(!e.recipients.empty());
        FUZZ_CHECK(e.attempts >= 0);
    }
    std::vector<Outbox::Entry> again;
    FUZZ_CHECK(Outbox::Decode(Outbox::Encode(entries), again, &error) && error.isEmpty());
    FUZZ_CHECK(again.size() == entries.size());
    for (size_t i = 0; i < entries.size(); ++i) FUZZ_CHECK(Same(entries[i], again[i]));
    return 0;
}
