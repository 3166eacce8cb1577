// The hook procedures run for every message of every GUI thread: this
// program feeds the core's two hook entries messages that the library does
// not handle, so that their cost per message can be measured.
//
//   glidewheel_filter_bench [N]   N rounds (default 1000000) of 8 messages
//
// It prints the time per message; glidewheel_filter_count.sh runs it under
// callgrind for the instruction count.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Library.h"
#include "SimWindowSystem.h"

int main(int argc, char** argv) {
    long rounds = 1000000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf(
                "usage: glidewheel_filter_bench [N]\n"
                "Feeds N rounds of 8 unhandled messages to the hook entries\n"
                "and prints the time per message.\n");
            return 0;
        }
        char* end = nullptr;
        rounds = std::strtol(argv[i], &end, 10);
        if (argv[i][0] == '-' || *end != '\0' || rounds <= 0) {
            std::fprintf(stderr, "glidewheel_filter_bench: unknown option %s\n", argv[i]);
            return 2;
        }
    }

    glidewheel::sim::SimWindowSystem ws;
    glidewheel::SharedRecord record{};
    glidewheel::CursorSlots cursors;
    glidewheel::ProcessState process;
    glidewheel::Library lib{&ws, &record, &cursors, &process, {}};

    // Timers, keys, characters, hit tests, activation, ...: none of them wheel,
    // paint, set-cursor, mouse-move, vertical-scroll or destroy.
    const std::uint32_t messages[8] = {0x0113, 0x0100, 0x0101, 0x0102,
                                       0x0084, 0x0006, 0x0114, 0x0210};
    const auto start = std::chrono::steady_clock::now();
    for (long r = 0; r < rounds; ++r) {
        for (std::uint32_t m : messages) {
            glidewheel::Message msg{0x20004, m, 1, 2};
            glidewheel::GetMessageHook(lib, msg);
            glidewheel::CallWndRetHook(lib, msg, 0);
        }
    }
    const auto ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld messages through both hook entries: %.2f ns per message and entry\n",
                rounds * 8, ns / (rounds * 8.0 * 2.0));
    return ws.posted.empty() ? 0 : 1;
}
