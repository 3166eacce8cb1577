// The channel outbox "FernlogChannelOutbox.dat" as found beside the
// database: the input is the file. What decodes must encode and decode
// again to the same notices, in the same order, retry schedule included,
// and every notice kept has a channel, a delivery id and a document.
#include "FuzzSupport.h"
#include "core/ChannelOutbox.h"

namespace {
bool Same(const ChannelOutbox::Entry& a, const ChannelOutbox::Entry& b) {
    return a.channel == b.channel && a.event == b.event && a.delivery == b.delivery &&
           a.body == b.body && a.attempts == b.attempts && a.firstAttempt == b.firstAttempt &&
           a.nextAttempt == b.nextAttempt;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<ChannelOutbox::Entry> entries;
    QString error;
    if (!ChannelOutbox::Decode(Fuzz::Bytes(data, size), entries, &error)) return 0;
    for (const ChannelOutbox::Entry& e : entries) {
        FUZZ_CHECK(!e.channel.isEmpty() && !e.delivery.isEmpty() && !e.body.isEmpty());
        FUZZ_CHECK(e.attempts >= 0);
    }
    std::vector<ChannelOutbox::Entry> again;
    FUZZ_CHECK(ChannelOutbox::Decode(ChannelOutbox::Encode(entries), again, &error) &&
               error.isEmpty());
    FUZZ_CHECK(again.size() == entries.size());
    for (size_t i = 0; i < entries.size(); ++i) FUZZ_CHECK(Same(entries[i], again[i]));
    return 0;
}
