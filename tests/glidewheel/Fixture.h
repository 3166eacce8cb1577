// A library wired to a simulated desktop: one frame window in the
// foreground, the pointer over a point of it.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "Library.h"
#include "SimWindowSystem.h"

namespace glidewheel::test {

constexpr std::uint32_t kFrameStyle = ws::kVisible | ws::kCaption | ws::kSysMenu | ws::kThickFrame;

inline std::uint64_t WheelParam(int delta, std::uint32_t keys = 0) {
    return (static_cast<std::uint64_t>(static_cast<std::uint16_t>(delta)) << 16) | keys;
}

class GlidewheelTest : public ::testing::Test {
  protected:
    GlidewheelTest() {
        lib.ws = &ws;
        lib.record = &record;
        lib.cursors = &cursors;
        lib.process = &process;
        frame = ws.Create("Frame", {0, 0, 800, 600}, kFrameStyle);
        ws.foregroundWindow = frame;
        ws.pointer = {100, 100};
    }

    // One wheel turn at w as the system delivers it: through the queue (the
    // get-message hook); a window that ignores it passes it up to the frame,
    // which returns 0 (the call-return hook).
    void Turn(Hwnd w, int delta = -120, std::uint32_t keys = 0, bool ignored = true) {
        Message m{w, msg::kMouseWheel, WheelParam(delta, keys), 0};
        GetMessageHook(lib, m);
        if (ignored) CallWndRetHook(lib, {frame, msg::kMouseWheel, m.wParam, 0}, 0);
    }

    std::vector<sim::Posted> Scrolls() const {
        std::vector<sim::Posted> out;
        for (const auto& p : ws.posted) {
            if (p.message == msg::kVScroll) out.push_back(p);
        }
        return out;
    }
    std::vector<std::uint64_t> Codes() const {
        std::vector<std::uint64_t> out;
        for (const auto& p : Scrolls()) out.push_back(p.wParam);
        return out;
    }
    ScrollTarget Cached(Hwnd w) { return process.cache.at(w); }

    sim::SimWindowSystem ws;
    SharedRecord record{};
    CursorSlots cursors;
    ProcessState process;
    Library lib;
    Hwnd frame = 0;
};

}  // namespace glidewheel::test
