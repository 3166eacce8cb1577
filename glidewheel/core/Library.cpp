#include "Library.h"

#include <algorithm>

#include "Search.h"

namespace glidewheel {

namespace {

constexpr std::uint32_t kZoomWindowMs = 500;
constexpr std::uint32_t kPaintPollMs = 20;
constexpr unsigned kCruiseWaitMs = 50;

// The record is shared with every hooked process: a count read from it is
// only trusted up to the list's length.
bool Listed(const std::uint32_t* list, std::uint32_t count, Hwnd w) {
    count = std::min(count, kTrackedWindows);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (list[i] == w) return true;
    }
    return false;
}

void Append(std::uint32_t* list, std::uint32_t& count, Hwnd w) {
    std::uint32_t n = count;
    if (n < kTrackedWindows) {
        list[n] = w;
        count = n + 1;
    }
}

std::int32_t WheelDelta(std::uint64_t wParam) {
    return static_cast<std::int16_t>((wParam >> 16) & 0xFFFF);
}

// Handles travel in lParam sign-extended, as the system converts them.
std::int64_t HandleParam(Hwnd w) {
    return static_cast<std::int32_t>(w);
}

}  // namespace

WheelSettings ReadWheelSettings(bool ok, std::uint32_t value) {
    WheelSettings s;
    if (!ok) return s;
    if (value == 65535 || value == 0xFFFFFFFFu) {
        s.pageMode = true;
    } else {
        s.linesPerNotch = value;
    }
    return s;
}

// The work for the messages the hooks handle, kept out of line so that the
// entries below stay a few compares for every other message.
[[gnu::noinline]] static void HandleGetMessage(Library& lib, Message& m) {
    SharedRecord& r = *lib.record;
    if (r.cursorCaptured) SetCustomCursor(lib);
    switch (m.message) {
        case msg::kMouseWheel:
            TrackWheel(lib, m.window, m.wParam);
            FastPath(lib, m.window, m.wParam);
            return;
        case msg::kPaint:
            OnPaint(lib, m.window);
            return;
        case msg::kSetCursor:
        case msg::kMouseMove:
            if (r.cursorCaptured) {
                Cursor custom = lib.cursors->custom;
                if (lib.ws->currentCursor() != custom &&
                    (m.message == msg::kMouseMove || custom != 0)) {
                    lib.ws->setCursor(custom);
                }
                // The window must not set its own cursor over the custom one.
                m.message = msg::kNull;
            }
            return;
        default:
            return;
    }
}

[[gnu::noinline]] static void HandleCallWndRet(Library& lib, const Message& m,
                                               std::int64_t result) {
    switch (m.message) {
        case msg::kMouseWheel:
            TrackWheel(lib, m.window, m.wParam);
            SlowPath(lib, m.window, m.wParam, result);
            return;
        case msg::kVScroll:
            OnVScroll(lib);
            return;
        case msg::kPaint:
            OnPaint(lib, m.window);
            return;
        case msg::kSetCursor:
            if (lib.record->cursorCaptured) {
                Cursor custom = lib.cursors->custom;
                if (custom != 0 && lib.ws->currentCursor() != custom) lib.ws->setCursor(custom);
            }
            return;
        case msg::kNcDestroy:
            // A later window may get the same handle value; it must not
            // inherit this one's target.
            ForgetWindow(lib, m.window);
            return;
        default:
            return;
    }
}

void GetMessageHook(Library& lib, Message& m) {
    const std::uint32_t id = m.message;
    if (lib.record->cursorCaptured || id == msg::kMouseWheel || id == msg::kPaint ||
        id == msg::kSetCursor || id == msg::kMouseMove) {
        HandleGetMessage(lib, m);
    }
}

void CallWndRetHook(Library& lib, const Message& m, std::int64_t result) {
    const std::uint32_t id = m.message;
    if (id == msg::kMouseWheel || id == msg::kVScroll || id == msg::kPaint ||
        id == msg::kSetCursor || id == msg::kNcDestroy) {
        HandleCallWndRet(lib, m, result);
    }
}

namespace {

// Removes the hook in slot; its handle is cleared unless the system still
// holds the hook. False unless it was installed and is now removed.
bool Remove(HookHandle& slot, HookSystem& hooks) {
    std::atomic_ref<HookHandle> a(slot);
    HookHandle h = a.load();
    if (h == 0) return false;
    switch (hooks.Unhook(h)) {
        case Unhooked::Removed:
            a.compare_exchange_strong(h, 0);
            return true;
        case Unhooked::Unknown:
            // Gone with its installer: a handle that blocks every install.
            a.compare_exchange_strong(h, 0);
            return false;
        case Unhooked::Failed:
            return false;
    }
    return false;
}

}  // namespace

int InstallHooks(HookSlots& slots, HookSystem& hooks) {
    // Installed already: installing again would hook every message twice.
    if (std::atomic_ref<HookHandle>(slots.callRet).load() != 0) return 0;
    // Left over from an install that failed half-way, or from a removal
    // that failed: it goes first, or nothing is installed.
    if (std::atomic_ref<HookHandle>(slots.getMsg).load() != 0) {
        Remove(slots.getMsg, hooks);
        if (std::atomic_ref<HookHandle>(slots.getMsg).load() != 0) return 0;
    }
    const HookHandle getMsg = hooks.Hook(HookKind::GetMessage);
    if (getMsg == 0) return 0;
    std::atomic_ref<HookHandle>(slots.getMsg).store(getMsg);
    const HookHandle callRet = hooks.Hook(HookKind::CallWndRet);
    if (callRet == 0) return 0;
    std::atomic_ref<HookHandle>(slots.callRet).store(callRet);
    return 1;
}

int UninstallHooks(HookSlots& slots, HookSystem& hooks) {
    const bool getMsg = Remove(slots.getMsg, hooks);
    const bool callRet = Remove(slots.callRet, hooks);
    return getMsg && callRet ? 1 : 0;
}

void ResetAfterInstall(SharedRecord& r) {
    r.firstWord = 0;
    r.paintWindows[0] = 0;
    r.paintCount = 0;
    r.paintTracking = 0;
    r.paintSeen = 0;
    r.ctrlWheelTick = 0;
    r.zoomCount = 0;
    std::fill(std::begin(r.zoomWindows), std::end(r.zoomWindows), 0u);
    r.lastDelta = 0;
    r.zoomPending = 0;
    r.cursorCaptured = 0;
}

void CaptureCustomCursor(Library& lib, Cursor cursor, bool keepSaved) {
    CursorSlots& c = *lib.cursors;
    c.custom = 0;
    if (cursor != 0) {
        if (!keepSaved) c.saved = lib.ws->copyCursor(lib.ws->currentCursor());
        c.custom = lib.ws->copyCursor(cursor);
        lib.ws->setCursor(c.custom);
    }
    lib.record->cursorCaptured = 1;
}

void ClearCaptureCustomCursor(Library& lib) {
    CursorSlots& c = *lib.cursors;
    lib.record->cursorCaptured = 0;
    c.custom = 0;
    lib.ws->setCursor(c.saved);
    c.saved = 0;
}

void SetCustomCursor(Library& lib) {
    if (lib.record->cursorCaptured && lib.cursors->custom != 0) {
        lib.ws->setCursor(lib.cursors->custom);
    }
}

void SetZoomBtnsWindow(Library& lib, Hwnd w) {
    lib.record->zoomButtonsWindow = w;
}

void TrackPaintMessage(Library& lib) {
    SharedRecord& r = *lib.record;
    r.paintWindows[0] = lib.ws->windowFromPoint(lib.ws->cursorPos());
    r.paintWindows[1] = lib.ws->foreground();
    r.paintCount = 2;
    r.paintSeen = 0;
    r.paintTracking = 1;
}

std::uint8_t WasThereAPaintMessage(Library& lib, std::int32_t limitMs) {
    SharedRecord& r = *lib.record;
    // Another process sets the flag; read it afresh every time.
    auto seen = [&r] { return *static_cast<volatile std::uint8_t*>(&r.paintSeen); };
    if (limitMs > 0) {
        const auto limit = static_cast<std::uint32_t>(limitMs);
        const std::uint32_t start = lib.ws->tickCount();
        // Time is taken from the clock, not counted in sleeps: a sleep may
        // last longer than asked (the system's timer granularity). The
        // longest overrun seen is taken off the next sleep, so that the
        // wait ends at the limit: not past it, and not a sleep before it.
        std::uint32_t overrun = 0;
        while (!seen()) {
            const std::uint32_t elapsed = lib.ws->tickCount() - start;
            if (elapsed >= limit || limit - elapsed <= overrun) break;
            const std::uint32_t ask = std::min(kPaintPollMs, limit - elapsed - overrun);
            const std::uint32_t before = lib.ws->tickCount();
            lib.ws->sleep(ask);
            const std::uint32_t took = lib.ws->tickCount() - before;
            if (took > ask) overrun = std::max(overrun, took - ask);
        }
    }
    r.paintTracking = 0;
    return seen();
}

void TrackWheel(Library& lib, Hwnd w, std::uint64_t wParam) {
    SharedRecord& r = *lib.record;
    if (r.paintTracking) Append(r.paintWindows, r.paintCount, w);
    if (wParam & kMkControl) {
        r.zoomPending = 1;
        const std::uint32_t now = lib.ws->tickCount();
        if (now - r.ctrlWheelTick > kZoomWindowMs) r.zoomCount = 0;
        Append(r.zoomWindows, r.zoomCount, w);
        r.ctrlWheelTick = now;
        r.lastDelta = WheelDelta(wParam);
    }
}

void OnPaint(Library& lib, Hwnd w) {
    SharedRecord& r = *lib.record;
    if (r.zoomPending) {
        if (lib.ws->tickCount() - r.ctrlWheelTick > kZoomWindowMs) {
            r.zoomPending = 0;
            r.zoomCount = 0;
        } else if (Listed(r.zoomWindows, r.zoomCount, w)) {
            const Hwnd buttons = r.zoomButtonsWindow;
            if (buttons != 0) {
                lib.ws->post(buttons, msg::kZoomNotify, lib.ws->foreground(), r.lastDelta);
            }
            r.zoomPending = 0;
        }
    }
    if (r.paintTracking && Listed(r.paintWindows, r.paintCount, w)) r.paintSeen = 1;
    SetCustomCursor(lib);
}

void FastPath(Library& lib, Hwnd w, std::uint64_t wParam) {
    if (IsZoomTurn(wParam)) return;
    ProcessState& p = *lib.process;
    ScrollTarget target;
    {
        std::lock_guard lock(p.mutex);
        // W is the last wheel window whatever happens next: the slow path of
        // this same turn looks at it, and must see that a cached target has
        // served the turn already (or that W scrolls by itself).
        const Hwnd last = p.lastWheelWindow.exchange(w);
        if (p.selfScrolling.contains(w)) return;
        auto it = p.cache.find(w);
        if (it == p.cache.end()) {
            // The application gets the first turn at a new window; a second
            // one it did not pass up marks it as needing nothing.
            if (w == last) p.cache[w] = ScrollTarget{};
            return;
        }
        target = it->second;
    }
    if (!target.empty()) PostScroll(lib, target, wParam);
}

void SlowPath(Library& lib, Hwnd h, std::uint64_t wParam, std::int64_t result) {
    if (IsZoomTurn(wParam)) return;
    WindowSystem& ws = *lib.ws;
    const Hwnd fg = ws.foreground();
    // Only a turn that travelled up to the top-level window unhandled.
    if (h != fg || result != 0) return;
    if (ws.className(fg).find("CorelDRAW") != std::string::npos) return;
    ProcessState& p = *lib.process;
    const Hwnd last = p.lastWheelWindow.load();
    bool cached = false;
    {
        std::lock_guard lock(p.mutex);
        if (p.selfScrolling.contains(last)) return;
        auto it = p.cache.find(last);
        if (it != p.cache.end()) {
            // A cached target is the fast path's to serve.
            if (!it->second.empty()) return;
            cached = true;
        }
    }
    const Point pt = ws.cursorPos();
    if (cached && !ws.windowRect(last).contains(pt)) return;

    Hwnd pointerWindow = ws.windowFromPoint(pt);
    if (ClassIs(ws.className(pointerWindow), "GwTundraCruiseWindow")) {
        std::int64_t replacement = 0;
        if (ws.sendTimeout(fg, msg::kCruiseWindow, 0, 0, kCruiseWaitMs, &replacement)) {
            pointerWindow = static_cast<Hwnd>(replacement);
        }
    }
    // The search sends timed messages: it runs without the lock.
    CFreeScrollMacro macro(ws, pointerWindow, pt, last);
    const ScrollTarget target = macro.Run();
    // No wheel window (the turn was sent, not taken from a queue, or its
    // window was destroyed): nothing to keep the target for.
    if (last != 0) {
        std::lock_guard lock(p.mutex);
        p.cache[last] = target;
    }
    if (!target.empty()) PostScroll(lib, target, wParam);
}

void OnVScroll(Library& lib) {
    ProcessState& p = *lib.process;
    std::lock_guard lock(p.mutex);
    const Hwnd last = p.lastWheelWindow.load();
    // The application turns the wheel into scroll messages by itself.
    if (last != 0 && !p.cache.contains(last)) p.selfScrolling.insert(last);
}

void ForgetWindow(Library& lib, Hwnd w) {
    ProcessState& p = *lib.process;
    std::lock_guard lock(p.mutex);
    p.cache.erase(w);
    std::erase_if(p.cache,
                  [w](const auto& e) { return e.second.window == w || e.second.bar == w; });
    p.selfScrolling.erase(w);
    Hwnd expected = w;
    p.lastWheelWindow.compare_exchange_strong(expected, 0);
}

void PostScroll(Library& lib, ScrollTarget target, std::uint64_t wParam) {
    const std::int32_t delta = WheelDelta(wParam);
    if (delta == 0) return;
    const bool up = delta > 0;
    WindowSystem& ws = *lib.ws;
    const std::int64_t lParam = HandleParam(target.bar);
    if (lib.settings.pageMode) {
        ws.post(target.window, msg::kVScroll, up ? sb::kPageUp : sb::kPageDown, lParam);
    } else {
        for (std::uint32_t i = 0; i < lib.settings.linesPerNotch; ++i) {
            ws.post(target.window, msg::kVScroll, up ? sb::kLineUp : sb::kLineDown, lParam);
        }
    }
    ws.post(target.window, msg::kVScroll, sb::kEndScroll, lParam);
}

}  // namespace glidewheel
