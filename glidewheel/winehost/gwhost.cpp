// gwhost.exe: tests glidewheel.dll for real, across processes. It loads the
// library, installs its hooks, starts itself a second time as a program with
// windows of several kinds, turns the wheel at them, and checks from what
// the windows received that the library did (or did not) scroll them. Then
// it uninstalls the hooks and checks that they are gone.
//
//   gwhost.exe [--dll PATH]      run the test; exit status 0 when all checks pass
//   gwhost.exe --windows         the second process (started by the test)
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kLogName[] = L"GwHostLog";
constexpr UINT kSync = WM_APP + 1;
constexpr UINT kSync2 = WM_APP + 2;
constexpr UINT kForeground = WM_APP + 3;
constexpr UINT kDestroyList = WM_APP + 4;
constexpr UINT kZoomNotify = 0x0411;
constexpr DWORD kWaitMs = 5000;  // bound of every wait for the other process

// The window kinds of the second process.
enum Kind : int {
    kOwnBar,         // ignores the wheel, has its own vertical bar
    kBarControl,     // ignores the wheel, a "SCROLLBAR" control along its right edge
    kHorizontal,     // a list with only a horizontal bar
    kHandles,        // handles the wheel itself
    kScrollsItself,  // turns the wheel into scroll messages by itself
    kList,           // like kOwnBar; destroyed during the test
    kKinds
};
const wchar_t* const kKindClass[kKinds] = {L"GwOwnBar",  L"GwBarControl",    L"GwHorizontal",
                                           L"GwHandles", L"GwScrollsItself", L"GwList"};

constexpr int kMaxLogged = 64;

struct WindowLog {
    volatile LONG hwnd;
    volatile LONG bar;  // the scroll-bar control of kBarControl
    volatile LONG wheels;
    volatile LONG vscrolls;
    volatile LONG codes[kMaxLogged];
    volatile LONG lparams[kMaxLogged];
    volatile LONG mouseMoves;
    volatile LONG paints;
};

// Written by the second process, read by the test.
struct HostLog {
    volatile LONG ready;
    volatile LONG frame;
    volatile LONG syncs;
    volatile LONG dllLoaded;
    volatile LONG64 cursorAtSync;
    WindowLog w[kKinds];
};

HostLog* gLog = nullptr;

HostLog* OpenLog(bool create) {
    HANDLE m = create ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           sizeof(HostLog), kLogName)
                      : OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kLogName);
    if (!m) return nullptr;
    return static_cast<HostLog*>(MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(HostLog)));
}

// ---- the second process: windows that record what they receive -------------

int KindOf(HWND w) {
    for (int k = 0; k < kKinds; ++k) {
        if (gLog->w[k].hwnd == static_cast<LONG>(reinterpret_cast<LONG_PTR>(w))) return k;
    }
    return -1;
}

LRESULT CALLBACK KindProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    const int k = KindOf(w);
    if (k < 0) return DefWindowProcW(w, m, wp, lp);
    WindowLog& log = gLog->w[k];
    switch (m) {
        case WM_MOUSEWHEEL:
            InterlockedIncrement(&log.wheels);
            // A zoom repaints the window.
            if ((GET_KEYSTATE_WPARAM(wp) & MK_CONTROL) != 0) InvalidateRect(w, nullptr, FALSE);
            if (k == kHandles) return 0;  // handled: not passed on
            if (k == kScrollsItself) {
                // Scrolls itself, and still lets the turn travel up as some
                // programs do: only the library's self-scrolling set keeps
                // it from scrolling twice.
                SendMessageW(w, WM_VSCROLL, SB_LINEDOWN, 0);
            }
            break;
        case WM_VSCROLL: {
            const LONG i = InterlockedIncrement(&log.vscrolls) - 1;
            if (i < kMaxLogged) {
                log.codes[i] = LOWORD(wp);
                log.lparams[i] = static_cast<LONG>(lp);
            }
            InvalidateRect(w, nullptr, FALSE);
            return 0;
        }
        case WM_MOUSEMOVE:
            InterlockedIncrement(&log.mouseMoves);
            return 0;
        case WM_PAINT: {
            InterlockedIncrement(&log.paints);
            PAINTSTRUCT ps;
            BeginPaint(w, &ps);
            EndPaint(w, &ps);
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(w, m, wp, lp);
}

LRESULT CALLBACK FrameProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    switch (m) {
        case kSync:
            // The library's scroll messages were posted while the wheel
            // message was handled; one more round through the queue puts
            // the answer behind them.
            PostMessageW(w, kSync2, 0, 0);
            return 0;
        case kSync2:
            gLog->cursorAtSync = reinterpret_cast<LONG_PTR>(GetCursor());
            gLog->dllLoaded = GetModuleHandleW(L"glidewheel.dll") != nullptr;
            InterlockedIncrement(&gLog->syncs);
            return 0;
        case kForeground:
            SetForegroundWindow(w);
            return 0;
        case kDestroyList:
            DestroyWindow(reinterpret_cast<HWND>(static_cast<LONG_PTR>(gLog->w[kList].hwnd)));
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(w, m, wp, lp);
    }
}

int RunWindows() {
    gLog = OpenLog(false);
    if (!gLog) return 3;
    const HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpfnWndProc = FrameProc;
    wc.lpszClassName = L"GwFrame";
    RegisterClassW(&wc);
    wc.lpfnWndProc = KindProc;
    for (const wchar_t* cls : kKindClass) {
        wc.lpszClassName = cls;
        RegisterClassW(&wc);
    }
    const HWND frame = CreateWindowExW(0, L"GwFrame", L"glidewheel test", WS_POPUP | WS_VISIBLE, 0,
                                       0, 800, 600, nullptr, nullptr, inst, nullptr);
    const DWORD child = WS_CHILD | WS_VISIBLE;
    const struct {
        DWORD style;
        int x, y;
    } layout[kKinds] = {{child | WS_VSCROLL, 10, 10},  {child, 210, 10},
                        {child | WS_HSCROLL, 410, 10}, {child | WS_VSCROLL, 610, 10},
                        {child | WS_VSCROLL, 10, 310}, {child | WS_VSCROLL, 210, 310}};
    for (int k = 0; k < kKinds; ++k) {
        const HWND w = CreateWindowExW(0, kKindClass[k], L"", layout[k].style, layout[k].x,
                                       layout[k].y, 180, 280, frame, nullptr, inst, nullptr);
        gLog->w[k].hwnd = static_cast<LONG>(reinterpret_cast<LONG_PTR>(w));
    }
    const int sb = GetSystemMetrics(SM_CXVSCROLL);
    const HWND bar =
        CreateWindowExW(0, L"SCROLLBAR", L"", child | SBS_VERT, 180 - sb, 0, sb, 280,
                        reinterpret_cast<HWND>(static_cast<LONG_PTR>(gLog->w[kBarControl].hwnd)),
                        nullptr, inst, nullptr);
    gLog->w[kBarControl].bar = static_cast<LONG>(reinterpret_cast<LONG_PTR>(bar));
    SetForegroundWindow(frame);
    UpdateWindow(frame);
    gLog->frame = static_cast<LONG>(reinterpret_cast<LONG_PTR>(frame));
    InterlockedExchange(&gLog->ready, 1);

    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return 0;
}

// ---- the test -------------------------------------------------------------------

int gFailures = 0;

void Check(bool ok, const char* what, ...) {
    va_list args;
    va_start(args, what);
    std::printf("%s: ", ok ? "ok  " : "FAIL");
    std::vprintf(what, args);
    std::printf("\n");
    va_end(args);
    std::fflush(stdout);
    if (!ok) ++gFailures;
}

template <typename Condition>
bool WaitFor(Condition done, DWORD ms = kWaitMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= ms) return false;
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        Sleep(5);
    }
    return true;
}

HWND Handle(LONG v) {
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(v));
}

struct Exports {
    int (*install)(const wchar_t*);
    int (*uninstall)();
    void (*capture)(HCURSOR, int);
    void (*clearCapture)();
    void (*setCustom)();
    void (*zoomButtons)(HWND);
    void (*trackPaint)();
    int (*wasPaint)(int);
};

class Test {
  public:
    Test(const Exports& x, HWND frame, HWND zoomSink) : x_(x), frame_(frame), zoomSink_(zoomSink) {}

    // Everything the second process has handled so far is done.
    bool Sync() {
        const LONG before = gLog->syncs;
        PostMessageW(frame_, kSync, 0, 0);
        return WaitFor([&] { return gLog->syncs != before; });
    }

    // Waits until the other process paints no more (at most two seconds).
    void Quiet() {
        LONG last = -1;
        for (int i = 0; i < 40; ++i) {
            Sync();
            LONG paints = 0;
            for (const WindowLog& w : gLog->w) paints += w.paints;
            if (paints == last) return;
            last = paints;
            Sleep(50);
        }
    }

    bool Foreground() {
        if (GetForegroundWindow() != frame_) {
            SetForegroundWindow(frame_);
            PostMessageW(frame_, kForeground, 0, 0);
        }
        return WaitFor([&] { return GetForegroundWindow() == frame_; });
    }

    // One wheel turn over the middle of a window, as the system posts it.
    // With away set the pointer is elsewhere: only a cached target can scroll.
    bool Turn(Kind k, int delta = -120, WORD keys = 0, bool away = false) {
        const HWND w = Handle(gLog->w[k].hwnd);
        RECT r;
        GetWindowRect(w, &r);
        // Left of the middle: not over kBarControl's scroll-bar control.
        const int x = r.left + (r.right - r.left) / 3, y = (r.top + r.bottom) / 2;
        if (away) {
            SetCursorPos(1000, 750);
        } else {
            SetCursorPos(x, y);
        }
        const LONG before = gLog->w[k].wheels;
        PostMessageW(w, WM_MOUSEWHEEL, MAKEWPARAM(keys, static_cast<WORD>(delta)),
                     MAKELPARAM(x, y));
        return WaitFor([&] { return gLog->w[k].wheels != before; }) && Sync();
    }

    // The scroll messages a window got from the library: posted with lParam
    // the bar's handle, where the window's own carry 0.
    std::string Posted(Kind k, LONG bar) {
        std::string s;
        const WindowLog& log = gLog->w[k];
        const LONG n = log.vscrolls < kMaxLogged ? log.vscrolls : kMaxLogged;
        for (LONG i = 0; i < n; ++i) {
            if (log.lparams[i] == 0) continue;
            s += std::to_string(log.codes[i]);
            if (log.lparams[i] != bar) s += "(lParam " + std::to_string(log.lparams[i]) + ")";
            s += ' ';
        }
        return s;
    }

    void Run() {
        WindowLog* w = gLog->w;
        Check(Foreground(), "the test frame is the foreground window");
        // Wine loads a global hook's library into another process only when
        // that process next takes a message: on a busy machine the first
        // turn could otherwise arrive before the library does.
        WaitFor([&] { return Sync() && gLog->dllLoaded == 1; });

        Check(Turn(kOwnBar) && Turn(kOwnBar, 120), "two turns at a window with its own bar");
        std::string got = Posted(kOwnBar, w[kOwnBar].hwnd);
        Check(got == "1 1 1 1 1 8 0 0 0 0 0 8 ",
              "its bar scrolled five lines a notch, down then up [%s]", got.c_str());
        Check(gLog->dllLoaded == 1, "the library is loaded in the second process");
        // The per-process cache lasts: a turn with the pointer away from the
        // window (so no search can find its bar) is served from it.
        Check(Turn(kOwnBar, -120, 0, true), "a turn with the pointer elsewhere");
        got = Posted(kOwnBar, w[kOwnBar].hwnd);
        Check(got == "1 1 1 1 1 8 0 0 0 0 0 8 1 1 1 1 1 8 ", "served from the cache [%s]",
              got.c_str());

        Check(Turn(kBarControl) && Turn(kBarControl), "two turns at a window with a bar control");
        got = Posted(kBarControl, w[kBarControl].bar);
        Check(got == "1 1 1 1 1 8 1 1 1 1 1 8 ",
              "the control's window scrolled, lParam the control [%s]", got.c_str());

        Check(Turn(kHorizontal) && Turn(kHorizontal), "two turns at a list with a horizontal bar");
        Check(w[kHorizontal].vscrolls == 0, "it was not scrolled (%ld)", w[kHorizontal].vscrolls);

        Check(Turn(kHandles) && Turn(kHandles), "two turns at a window that handles the wheel");
        Check(w[kHandles].vscrolls == 0, "it was not scrolled (%ld)", w[kHandles].vscrolls);

        Check(Turn(kScrollsItself) && Turn(kScrollsItself),
              "two turns at a window that scrolls itself");
        got = Posted(kScrollsItself, w[kScrollsItself].hwnd);
        Check(got.empty() && w[kScrollsItself].vscrolls == 2,
              "only its own two scroll messages [%s] (%ld)", got.c_str(),
              w[kScrollsItself].vscrolls);

        // A turn served from the cache scrolls once, also when the last
        // window turned at has been destroyed since.
        Check(Turn(kList), "a turn at a list with its own bar");
        Check(Posted(kList, w[kList].hwnd) == "1 1 1 1 1 8 ", "the list scrolled");
        const std::string earlier = Posted(kOwnBar, w[kOwnBar].hwnd);
        PostMessageW(frame_, kDestroyList, 0, 0);
        Check(Sync() && !IsWindow(Handle(w[kList].hwnd)), "the list is destroyed");
        Check(Turn(kOwnBar), "a turn at the first window again");
        got = Posted(kOwnBar, w[kOwnBar].hwnd).substr(earlier.size());
        Check(got == "1 1 1 1 1 8 ", "one notch, one scroll [%s]", got.c_str());

        const LONG own = w[kOwnBar].vscrolls;
        Check(Turn(kOwnBar, -120, MK_CONTROL), "a Ctrl+wheel turn");
        Check(w[kOwnBar].vscrolls == own, "Ctrl+wheel does not scroll");

        // Paint tracking through the shared record: the repaint happens in
        // the second process.
        x_.trackPaint();
        Turn(kOwnBar);
        Check(x_.wasPaint(2000) == 1, "the scrolled window's repaint was seen across processes");
        // Repaints come when the other queue is empty, so some may still
        // be due: let them pass before asking again.
        SetCursorPos(1000, 750);
        Quiet();
        x_.trackPaint();
        Check(x_.wasPaint(0) == 0, "no repaint without a turn");

        // Zoom notification: the second process posts it to our window.
        zoomNotices_ = 0;
        x_.zoomButtons(zoomSink_);
        Turn(kHandles, 120, MK_CONTROL);
        WaitFor([&] { return zoomNotices_ > 0; }, 2000);
        WaitFor([] { return false; }, 100);
        Check(zoomNotices_ == 1, "a Ctrl+wheel repaint posted one zoom notification (%d)",
              zoomNotices_);
        Check(zoomDelta_ == 120 && zoomForeground_ == frame_,
              "with the delta and the foreground window (%ld)", static_cast<long>(zoomDelta_));

        // The custom cursor lives in the shared section: the second process
        // sets it and swallows its mouse moves.
        const HCURSOR cross = LoadCursorW(nullptr, IDC_CROSS);
        x_.capture(cross, 0);
        const HCURSOR custom = GetCursor();
        const LONG moves = w[kOwnBar].mouseMoves;
        PostMessageW(Handle(w[kOwnBar].hwnd), WM_MOUSEMOVE, 0, 0);
        Sync();
        Check(w[kOwnBar].mouseMoves == moves, "a captured cursor swallows mouse moves");
        Check(custom != nullptr && gLog->cursorAtSync == reinterpret_cast<LONG_PTR>(custom),
              "the other process shows the custom cursor");
        x_.clearCapture();
        PostMessageW(Handle(w[kOwnBar].hwnd), WM_MOUSEMOVE, 0, 0);
        Sync();
        Check(w[kOwnBar].mouseMoves == moves + 1, "mouse moves pass again after the capture");

        Check(x_.uninstall() == 1, "UninstallScrollHooks removes both hooks");
        Check(x_.uninstall() == 0, "a second uninstall reports 0");
        const LONG before = w[kOwnBar].vscrolls;
        Turn(kOwnBar);
        Turn(kOwnBar);
        Check(w[kOwnBar].vscrolls == before, "no scrolling once the hooks are gone");
        for (int i = 0; i < 20 && gLog->dllLoaded; ++i) {
            Sync();
            Sleep(50);
        }
        std::printf("note: library %s loaded in the second process after uninstall\n",
                    gLog->dllLoaded ? "still" : "no longer");
    }

    static LRESULT CALLBACK SinkProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == kZoomNotify) {
            ++zoomNotices_;
            zoomForeground_ = reinterpret_cast<HWND>(wp);
            zoomDelta_ = lp;
            return 0;
        }
        return DefWindowProcW(w, m, wp, lp);
    }

  private:
    static inline int zoomNotices_ = 0;
    static inline HWND zoomForeground_ = nullptr;
    static inline LPARAM zoomDelta_ = 0;
    Exports x_;
    HWND frame_;
    HWND zoomSink_;
};

template <typename F>
bool Bind(HMODULE dll, const char* name, F& f) {
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    Check(f != nullptr, "export %s", name);
    return f != nullptr;
}

int RunTest(std::wstring dllPath) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (dllPath.empty()) {
        dllPath = self;
        dllPath = dllPath.substr(0, dllPath.find_last_of(L"\\/") + 1) + L"glidewheel.dll";
    }
    const std::wstring folder = dllPath.substr(0, dllPath.find_last_of(L"\\/"));
    const HMODULE dll = LoadLibraryW(dllPath.c_str());
    Check(dll != nullptr, "glidewheel.dll loads");
    if (!dll) return 1;
    Exports x{};
    bool bound = Bind(dll, "InstallScrollHooks", x.install);
    bound &= Bind(dll, "UninstallScrollHooks", x.uninstall);
    bound &= Bind(dll, "CaptureCustomCursor", x.capture);
    bound &= Bind(dll, "ClearCaptureCustomCursor", x.clearCapture);
    bound &= Bind(dll, "SetCustomCursor", x.setCustom);
    bound &= Bind(dll, "setZoomBtnsWindow", x.zoomButtons);
    bound &= Bind(dll, "trackPaintMessage", x.trackPaint);
    bound &= Bind(dll, "wasThereAPaintMessage", x.wasPaint);
    if (!bound) return 1;

    Check(x.uninstall() == 0, "uninstall before install reports 0");
    Check(x.install(folder.c_str()) == 1, "InstallScrollHooks succeeds");
    Check(x.install(folder.c_str()) == 0, "a second install fails");
    Check(OpenFileMappingW(FILE_MAP_READ, FALSE, L"GlidewheelData") != nullptr,
          "the shared mapping exists");

    gLog = OpenLog(true);
    if (!gLog) return 1;
    std::memset(const_cast<HostLog*>(gLog), 0, sizeof(HostLog));

    WNDCLASSW wc{};
    wc.lpfnWndProc = Test::SinkProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"GwZoomSink";
    RegisterClassW(&wc);
    const HWND sink = CreateWindowExW(0, L"GwZoomSink", L"", WS_POPUP, 900, 700, 10, 10, nullptr,
                                      nullptr, wc.hInstance, nullptr);

    // The library reads the wheel setting when it enters a process: the
    // second process must scroll by this, not by the default of three.
    Check(SystemParametersInfoW(SPI_SETWHEELSCROLLLINES, 5, nullptr, SPIF_UPDATEINIFILE),
          "the system scrolls five lines a notch");
    std::wstring cmd = L"\"" + std::wstring(self) + L"\" --windows";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(self, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        Check(false, "the second process starts");
        return 1;
    }
    const bool ready = WaitFor([] { return gLog->ready != 0; }, 20000);
    Check(ready, "the second process shows its windows");
    if (ready) {
        Test test(x, Handle(gLog->frame), sink);
        test.Run();
        PostMessageW(Handle(gLog->frame), WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(pi.hProcess, kWaitMs) != WAIT_OBJECT_0) {
        Check(false, "the second process ends");
        TerminateProcess(pi.hProcess, 1);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::printf("%s: %d failure(s)\n", gFailures ? "FAILED" : "PASSED", gFailures);
    return gFailures ? 1 : 0;
}

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: gwhost.exe [--dll PATH]\n"
                 "Tests glidewheel.dll across processes: installs its hooks, turns the wheel\n"
                 "at windows of a second process and checks what they received.\n"
                 "  --dll PATH   the library (default: glidewheel.dll beside this program)\n"
                 "  --windows    run as the second process (started by the test itself)\n"
                 "  --help       this text\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring dll;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--help") {
            Usage(stdout);
            return 0;
        }
        if (a == L"--windows") return RunWindows();
        if (a == L"--dll" && i + 1 < argc) {
            dll = argv[++i];
            continue;
        }
        std::fprintf(stderr, "gwhost: unknown option %ls\n", argv[i]);
        Usage(stderr);
        return 2;
    }
    return RunTest(dll);
}
