// The hook library's decisions, independent of the window system: the hook
// procedures' message handling, the exported services, the wheel settings,
// the per-process target cache and the scroll posting.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>

#include "SharedRecord.h"
#include "Types.h"
#include "WindowSystem.h"

namespace glidewheel {

// Where the scroll messages for one window go: the window that receives them
// and the handle passed as their lParam (a scroll-bar control, or the window
// itself when the bar is its own).
struct ScrollTarget {
    Hwnd window = 0;
    Hwnd bar = 0;

    bool empty() const { return window == 0 && bar == 0; }
    bool operator==(const ScrollTarget&) const = default;
};

struct WheelSettings {
    std::uint32_t linesPerNotch = 3;
    bool pageMode = false;
};

// The system's answer for the wheel scroll lines: ok tells whether the call
// succeeded.
WheelSettings ReadWheelSettings(bool ok, std::uint32_t value);

// Per-process state. The maps are reached from every GUI thread of the
// process, so they are only touched under the mutex; the mutex is never
// taken for a message the library does not handle.
struct ProcessState {
    std::atomic<Hwnd> lastWheelWindow{0};
    std::mutex mutex;
    std::map<Hwnd, ScrollTarget> cache;
    std::set<Hwnd> selfScrolling;
};

// Copies of the host's cursors, kept in the library's shared section.
struct CursorSlots {
    Cursor custom = 0;
    Cursor saved = 0;
};

struct Library {
    WindowSystem* ws = nullptr;
    SharedRecord* record = nullptr;
    CursorSlots* cursors = nullptr;
    ProcessState* process = nullptr;
    WheelSettings settings;
};

// The system's window hooks, behind the install and uninstall logic.
using HookHandle = std::uintptr_t;
enum class HookKind { GetMessage, CallWndRet };
// Unknown: the system no longer knows the handle (the process that
// installed the hook has ended, and the system removed it).
enum class Unhooked { Removed, Unknown, Failed };

class HookSystem {
  public:
    virtual ~HookSystem() = default;
    virtual HookHandle Hook(HookKind kind) = 0;  // 0 when it failed
    virtual Unhooked Unhook(HookHandle h) = 0;
};

// The two hook handles, kept in the library's shared section; 0 when not
// installed. Changed only with atomic operations.
struct HookSlots {
    HookHandle callRet = 0;
    HookHandle getMsg = 0;
};

// 1 when both hooks are now installed. A hook that cannot be removed keeps
// its handle: the next install fails instead of hooking everything twice,
// and the next uninstall tries again.
int InstallHooks(HookSlots& slots, HookSystem& hooks);
// 1 when both hooks were installed and are now removed.
int UninstallHooks(HookSlots& slots, HookSystem& hooks);

struct Message {
    Hwnd window = 0;
    std::uint32_t message = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
};

// The hook procedures' work. GetMessageHook may replace the message by the
// null message; both return at once for a message that is none of theirs.
void GetMessageHook(Library& lib, Message& m);
void CallWndRetHook(Library& lib, const Message& m, std::int64_t result);

// Services behind the exports.
void ResetAfterInstall(SharedRecord& r);
void CaptureCustomCursor(Library& lib, Cursor cursor, bool keepSaved);
void ClearCaptureCustomCursor(Library& lib);
void SetCustomCursor(Library& lib);
void SetZoomBtnsWindow(Library& lib, Hwnd w);
void TrackPaintMessage(Library& lib);
std::uint8_t WasThereAPaintMessage(Library& lib, std::int32_t limitMs);

// Pieces of the hooks, reachable for the tests.
void TrackWheel(Library& lib, Hwnd w, std::uint64_t wParam);
void OnPaint(Library& lib, Hwnd w);
void FastPath(Library& lib, Hwnd w, std::uint64_t wParam);
void SlowPath(Library& lib, Hwnd h, std::uint64_t wParam, std::int64_t result);
void OnVScroll(Library& lib);
void ForgetWindow(Library& lib, Hwnd w);
void PostScroll(Library& lib, ScrollTarget target, std::uint64_t wParam);

// A wheel turn with exactly the Ctrl key down is the application's (zoom).
inline bool IsZoomTurn(std::uint64_t wParam) {
    return (wParam & 0xFFFF) == kMkControl;
}

}  // namespace glidewheel
