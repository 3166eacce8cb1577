// What the core needs from the window system. The Win32 backend answers with
// the real calls; the tests answer from a simulated desktop.
#pragma once

#include <cstdint>
#include <string>

#include "Types.h"

namespace glidewheel {

// The system metrics a search uses, read once at its start.
struct Metrics {
    int cxVScroll = 0;  // width of a vertical scroll bar
    int cyHScroll = 0;  // height of a horizontal scroll bar
    int cyVArrow = 0;
    int cxHArrow = 0;
    int cyVThumb = 0;
    int cxHThumb = 0;
    int cxBorder = 0;
    int cyBorder = 0;
    int cxFrame = 0;
    int cyFrame = 0;
    int cxDrag = 0;
    int cyDrag = 0;
    int cxScreen = 0;
    int cyScreen = 0;
};

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;

    virtual std::string className(Hwnd w) = 0;
    virtual std::uint32_t style(Hwnd w) = 0;
    virtual std::uint32_t exStyle(Hwnd w) = 0;
    virtual Rect windowRect(Hwnd w) = 0;  // screen coordinates
    virtual Rect clientRect(Hwnd w) = 0;  // screen coordinates
    virtual Hwnd parent(Hwnd w) = 0;      // 0 for a top-level window
    virtual Hwnd owner(Hwnd w) = 0;
    virtual Hwnd firstChild(Hwnd w) = 0;  // children in window (z) order
    virtual Hwnd nextSibling(Hwnd w) = 0;
    virtual bool isVisible(Hwnd w) = 0;  // visible together with its parents
    virtual bool isEnabled(Hwnd w) = 0;
    virtual bool hasMenuBar(Hwnd w) = 0;
    virtual Hwnd desktop() = 0;
    virtual Hwnd foreground() = 0;
    virtual Hwnd windowFromPoint(Point p) = 0;
    virtual Point cursorPos() = 0;
    virtual Metrics metrics() = 0;
    virtual int hitTest(Hwnd w, Point p) = 0;
    // Enabled system-menu commands of a window as cap:: bits; each message
    // it takes is bounded by timeoutMs and skipped for a hung thread.
    virtual std::uint32_t systemMenuCapabilities(Hwnd w, unsigned timeoutMs) = 0;

    virtual bool post(Hwnd w, std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) = 0;
    // Sends and waits at most timeoutMs; false when the call failed or timed out.
    virtual bool sendTimeout(Hwnd w, std::uint32_t message, std::uint64_t wParam,
                             std::int64_t lParam, unsigned timeoutMs, std::int64_t* result) = 0;

    virtual std::uint32_t tickCount() = 0;
    virtual void sleep(unsigned ms) = 0;

    virtual Cursor currentCursor() = 0;
    virtual void setCursor(Cursor c) = 0;
    virtual Cursor copyCursor(Cursor c) = 0;
};

}  // namespace glidewheel
