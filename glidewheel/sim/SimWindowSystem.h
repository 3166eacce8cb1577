// A simulated desktop for the core's tests and benchmark: windows with
// classes, styles, rectangles, parents, owners, z-order, visibility and
// scroll bars; a pointer, a foreground window, a clock, and a record of
// everything posted.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "WindowSystem.h"

namespace glidewheel::sim {

struct Posted {
    Hwnd window = 0;
    std::uint32_t message = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
};

struct SimWindow {
    std::string cls;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    Rect rect;  // screen coordinates
    Hwnd parent = 0;
    Hwnd owner = 0;
    std::vector<Hwnd> children;  // top of the z-order first
    bool menuBar = false;
    int hitTest = ht::kClient;
    std::uint32_t capabilities = 0;
    // Answers a timed send; false means it failed or timed out.
    std::function<bool(std::uint32_t, std::int64_t*)> onSend;
};

class SimWindowSystem : public WindowSystem {
  public:
    SimWindowSystem();

    // Creates a window; with a parent it is a child (placed last in z-order).
    Hwnd Create(const std::string& cls, Rect rect, std::uint32_t style = ws::kVisible,
                Hwnd parent = 0, std::uint32_t exStyle = 0);
    // Removes a window and its children; the handle may be handed out again.
    void Destroy(Hwnd w);
    void ReuseHandle(Hwnd w) { reuse_.push_back(w); }
    SimWindow& Window(Hwnd w) { return windows_.at(w); }

    // Posting is the one call the tests make from several threads at once.
    std::mutex postedMutex;
    std::vector<Posted> posted;
    Point pointer;
    Hwnd foregroundWindow = 0;
    Metrics metricValues;
    std::uint32_t now = 1000;
    unsigned sleepOvershootMs = 0;  // a sleep lasts this much longer than asked
    unsigned totalSlept = 0;
    std::function<void()> onSleep;
    Cursor cursor = 0;
    Cursor nextCopy = 0x5000;
    int cursorSets = 0;

    std::string className(Hwnd w) override;
    std::uint32_t style(Hwnd w) override;
    std::uint32_t exStyle(Hwnd w) override;
    Rect windowRect(Hwnd w) override;
    Rect clientRect(Hwnd w) override;
    Hwnd parent(Hwnd w) override;
    Hwnd owner(Hwnd w) override;
    Hwnd firstChild(Hwnd w) override;
    Hwnd nextSibling(Hwnd w) override;
    bool isVisible(Hwnd w) override;
    bool isEnabled(Hwnd w) override;
    bool hasMenuBar(Hwnd w) override;
    Hwnd desktop() override { return kDesktop; }
    Hwnd foreground() override { return foregroundWindow; }
    Hwnd windowFromPoint(Point p) override;
    Point cursorPos() override { return pointer; }
    Metrics metrics() override { return metricValues; }
    int hitTest(Hwnd w, Point p) override;
    std::uint32_t systemMenuCapabilities(Hwnd w, unsigned timeoutMs) override;
    bool post(Hwnd w, std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) override;
    bool sendTimeout(Hwnd w, std::uint32_t message, std::uint64_t wParam, std::int64_t lParam,
                     unsigned timeoutMs, std::int64_t* result) override;
    std::uint32_t tickCount() override { return now; }
    void sleep(unsigned ms) override;
    Cursor currentCursor() override { return cursor; }
    void setCursor(Cursor c) override;
    Cursor copyCursor(Cursor c) override { return c == 0 ? 0 : nextCopy++; }

    static constexpr Hwnd kDesktop = 0x10010;
    std::vector<Hwnd> topLevel;  // top of the z-order first

  private:
    const SimWindow* Find(Hwnd w) const;
    Hwnd Deepest(Hwnd w, Point p);
    std::map<Hwnd, SimWindow> windows_;
    std::vector<Hwnd> reuse_;
    Hwnd next_ = 0x20000;
};

}  // namespace glidewheel::sim
