#include "Win32WindowSystem.h"

namespace glidewheel::win32 {

namespace {

Rect FromRect(const RECT& r) {
    return Rect{r.left, r.top, r.right, r.bottom};
}

}  // namespace

std::string Win32WindowSystem::className(Hwnd w) {
    char buf[256];
    const int n = GetClassNameA(ToWin(w), buf, sizeof buf);
    return n > 0 ? std::string(buf, n) : std::string();
}

std::uint32_t Win32WindowSystem::style(Hwnd w) {
    return static_cast<std::uint32_t>(GetWindowLongW(ToWin(w), GWL_STYLE));
}

std::uint32_t Win32WindowSystem::exStyle(Hwnd w) {
    return static_cast<std::uint32_t>(GetWindowLongW(ToWin(w), GWL_EXSTYLE));
}

Rect Win32WindowSystem::windowRect(Hwnd w) {
    RECT r{};
    GetWindowRect(ToWin(w), &r);
    return FromRect(r);
}

Rect Win32WindowSystem::clientRect(Hwnd w) {
    RECT r{};
    GetClientRect(ToWin(w), &r);
    MapWindowPoints(ToWin(w), nullptr, reinterpret_cast<POINT*>(&r), 2);
    return FromRect(r);
}

Hwnd Win32WindowSystem::parent(Hwnd w) {
    // GetParent would answer the owner of a top-level window.
    const HWND p = GetAncestor(ToWin(w), GA_PARENT);
    return p == GetDesktopWindow() ? 0 : FromWin(p);
}

Hwnd Win32WindowSystem::owner(Hwnd w) {
    return FromWin(GetWindow(ToWin(w), GW_OWNER));
}
Hwnd Win32WindowSystem::firstChild(Hwnd w) {
    return FromWin(GetWindow(ToWin(w), GW_CHILD));
}
Hwnd Win32WindowSystem::nextSibling(Hwnd w) {
    return FromWin(GetWindow(ToWin(w), GW_HWNDNEXT));
}
bool Win32WindowSystem::isVisible(Hwnd w) {
    return IsWindowVisible(ToWin(w));
}
bool Win32WindowSystem::isEnabled(Hwnd w) {
    return IsWindowEnabled(ToWin(w));
}

bool Win32WindowSystem::hasMenuBar(Hwnd w) {
    // A child window's "menu" is its control identifier.
    return !(style(w) & WS_CHILD) && GetMenu(ToWin(w)) != nullptr;
}

Hwnd Win32WindowSystem::desktop() {
    return FromWin(GetDesktopWindow());
}
Hwnd Win32WindowSystem::foreground() {
    return FromWin(GetForegroundWindow());
}

Hwnd Win32WindowSystem::windowFromPoint(Point p) {
    return FromWin(WindowFromPoint(POINT{p.x, p.y}));
}

Point Win32WindowSystem::cursorPos() {
    POINT p{};
    GetCursorPos(&p);
    return Point{p.x, p.y};
}

Metrics Win32WindowSystem::metrics() {
    Metrics m;
    m.cxVScroll = GetSystemMetrics(SM_CXVSCROLL);
    m.cyHScroll = GetSystemMetrics(SM_CYHSCROLL);
    m.cyVArrow = GetSystemMetrics(SM_CYVSCROLL);
    m.cxHArrow = GetSystemMetrics(SM_CXHSCROLL);
    m.cyVThumb = GetSystemMetrics(SM_CYVTHUMB);
    m.cxHThumb = GetSystemMetrics(SM_CXHTHUMB);
    m.cxBorder = GetSystemMetrics(SM_CXBORDER);
    m.cyBorder = GetSystemMetrics(SM_CYBORDER);
    m.cxFrame = GetSystemMetrics(SM_CXFRAME);
    m.cyFrame = GetSystemMetrics(SM_CYFRAME);
    m.cxDrag = GetSystemMetrics(SM_CXDRAG);
    m.cyDrag = GetSystemMetrics(SM_CYDRAG);
    m.cxScreen = GetSystemMetrics(SM_CXSCREEN);
    m.cyScreen = GetSystemMetrics(SM_CYSCREEN);
    return m;
}

int Win32WindowSystem::hitTest(Hwnd w, Point p) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(ToWin(w), WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y), SMTO_ABORTIFHUNG,
                             3000, &result)) {
        return 0;
    }
    return static_cast<int>(static_cast<LRESULT>(result));
}

std::uint32_t Win32WindowSystem::systemMenuCapabilities(Hwnd w, unsigned timeoutMs) {
    const HWND h = ToWin(w);
    const HMENU menu = GetSystemMenu(h, FALSE);
    if (!menu) return 0;
    // The window enables and greys its commands when the menu is initialised.
    DWORD_PTR ignored = 0;
    const WPARAM m = reinterpret_cast<WPARAM>(menu);
    if (!SendMessageTimeoutW(h, WM_INITMENU, m, 0, SMTO_ABORTIFHUNG, timeoutMs, &ignored) ||
        !SendMessageTimeoutW(h, WM_INITMENUPOPUP, m, MAKELPARAM(0, TRUE), SMTO_ABORTIFHUNG,
                             timeoutMs, &ignored)) {
        return 0;
    }
    static const struct {
        UINT command;
        std::uint32_t bit;
    } commands[] = {{SC_RESTORE, 2},   {SC_MOVE, 4},   {SC_SIZE, 8},         {SC_MINIMIZE, 16},
                    {SC_MAXIMIZE, 32}, {SC_CLOSE, 64}, {SC_NEXTWINDOW, 128}, {SC_PREVWINDOW, 256}};
    std::uint32_t caps = 0;
    for (const auto& c : commands) {
        const UINT state = GetMenuState(menu, c.command, MF_BYCOMMAND);
        if (state != static_cast<UINT>(-1) && !(state & (MF_GRAYED | MF_DISABLED))) caps |= c.bit;
    }
    return caps;
}

bool Win32WindowSystem::post(Hwnd w, std::uint32_t message, std::uint64_t wParam,
                             std::int64_t lParam) {
    return PostMessageW(ToWin(w), message, static_cast<WPARAM>(wParam),
                        static_cast<LPARAM>(lParam));
}

bool Win32WindowSystem::sendTimeout(Hwnd w, std::uint32_t message, std::uint64_t wParam,
                                    std::int64_t lParam, unsigned timeoutMs, std::int64_t* result) {
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(ToWin(w), message, static_cast<WPARAM>(wParam),
                             static_cast<LPARAM>(lParam), SMTO_ABORTIFHUNG, timeoutMs, &r)) {
        return false;
    }
    *result = static_cast<std::int64_t>(r);
    return true;
}

std::uint32_t Win32WindowSystem::tickCount() {
    return GetTickCount();
}
void Win32WindowSystem::sleep(unsigned ms) {
    Sleep(ms);
}
Cursor Win32WindowSystem::currentCursor() {
    return reinterpret_cast<Cursor>(GetCursor());
}
void Win32WindowSystem::setCursor(Cursor c) {
    SetCursor(reinterpret_cast<HCURSOR>(c));
}

Cursor Win32WindowSystem::copyCursor(Cursor c) {
    return c ? reinterpret_cast<Cursor>(CopyIcon(reinterpret_cast<HICON>(c))) : 0;
}

}  // namespace glidewheel::win32
