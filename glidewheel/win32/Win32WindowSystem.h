// The window system of a real Windows desktop, for the hook library's core.
#pragma once

#include <windows.h>

#include "WindowSystem.h"

namespace glidewheel::win32 {

// Handles are 32-bit values, sign-extended into a pointer as the system does.
inline HWND ToWin(Hwnd h) {
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(static_cast<INT32>(h)));
}
inline Hwnd FromWin(HWND h) {
    return static_cast<Hwnd>(reinterpret_cast<UINT_PTR>(h));
}

class Win32WindowSystem : public WindowSystem {
  public:
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
    Hwnd desktop() override;
    Hwnd foreground() override;
    Hwnd windowFromPoint(Point p) override;
    Point cursorPos() override;
    Metrics metrics() override;
    int hitTest(Hwnd w, Point p) override;
    std::uint32_t systemMenuCapabilities(Hwnd w, unsigned timeoutMs) override;
    bool post(Hwnd w, std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) override;
    bool sendTimeout(Hwnd w, std::uint32_t message, std::uint64_t wParam, std::int64_t lParam,
                     unsigned timeoutMs, std::int64_t* result) override;
    std::uint32_t tickCount() override;
    void sleep(unsigned ms) override;
    Cursor currentCursor() override;
    void setCursor(Cursor c) override;
    Cursor copyCursor(Cursor c) override;
};

}  // namespace glidewheel::win32
