// The hook procedures' handling of wheel, scroll, paint and cursor messages:
// the wheel settings, the fast and slow paths with their cache, and the
// paint and zoom trackers.
#include <algorithm>
#include <atomic>
#include <thread>

#include "Fixture.h"

namespace glidewheel::test {
namespace {

using CodeList = std::vector<std::uint64_t>;

class Hooks : public GlidewheelTest {
  protected:
    Hooks() { doc = ws.Create("Doc", {10, 30, 410, 330}, ws::kVisible | ws::kVScroll, frame); }
    Hwnd doc = 0;
};

// --- lines per notch and page mode -------------------------------------

TEST(WheelSettings, SystemAnswerGivesLinesOrPageMode) {
    EXPECT_EQ(ReadWheelSettings(false, 9).linesPerNotch, 3u);
    EXPECT_FALSE(ReadWheelSettings(false, 9).pageMode);
    EXPECT_EQ(ReadWheelSettings(true, 5).linesPerNotch, 5u);
    EXPECT_FALSE(ReadWheelSettings(true, 5).pageMode);
    EXPECT_TRUE(ReadWheelSettings(true, 65535).pageMode);
    EXPECT_TRUE(ReadWheelSettings(true, 0xFFFFFFFF).pageMode);
    EXPECT_EQ(ReadWheelSettings(true, 0xFFFFFFFF).linesPerNotch, 3u);
}

TEST_F(Hooks, FiveLinesPerNotchWhateverTheDelta) {
    lib.settings = ReadWheelSettings(true, 5);
    for (int delta : {-120, -1, -720}) {
        ws.posted.clear();
        PostScroll(lib, {doc, doc}, WheelParam(delta));
        EXPECT_EQ(Codes(), (CodeList{1, 1, 1, 1, 1, 8})) << delta;
    }
    ws.posted.clear();
    PostScroll(lib, {doc, doc}, WheelParam(360));
    EXPECT_EQ(Codes(), (CodeList{0, 0, 0, 0, 0, 8}));
}

TEST_F(Hooks, PageModePostsOnePageAndEndScroll) {
    lib.settings = ReadWheelSettings(true, 0xFFFFFFFF);
    PostScroll(lib, {doc, doc}, WheelParam(-240));
    PostScroll(lib, {doc, doc}, WheelParam(120));
    EXPECT_EQ(Codes(), (CodeList{3, 8, 2, 8}));
}

TEST_F(Hooks, ZeroDeltaPostsNothingAndLParamIsTheBar) {
    PostScroll(lib, {doc, doc}, WheelParam(0));
    EXPECT_TRUE(ws.posted.empty());
    PostScroll(lib, {doc, 0x1234}, WheelParam(-120));
    ASSERT_EQ(Scrolls().size(), 4u);
    for (const auto& p : Scrolls()) {
        EXPECT_EQ(p.window, doc);
        EXPECT_EQ(p.lParam, 0x1234);
    }
}

// --- Ctrl+wheel ------------------------------------------------------------

TEST_F(Hooks, CtrlWheelNeverScrolls) {
    Turn(doc, -120, kMkControl);
    Turn(doc, -120, kMkControl);
    EXPECT_TRUE(Scrolls().empty());
    // Not even through a target cached by a plain turn.
    Turn(doc);
    const auto before = Scrolls().size();
    ASSERT_GT(before, 0u);
    Turn(doc, 120, kMkControl);
    EXPECT_EQ(Scrolls().size(), before);
    // Ctrl together with another key is a plain turn.
    Turn(doc, 120, kMkControl | 0x0004);
    EXPECT_GT(Scrolls().size(), before);
}

// --- fast and slow paths, cache ----------------------------------------------

TEST_F(Hooks, IgnoredWheelScrollsTheOwnBarOnceEachTurn) {
    Turn(doc);
    EXPECT_EQ(Codes(), (CodeList{1, 1, 1, 8}));  // the slow path
    EXPECT_EQ(Cached(doc), (ScrollTarget{doc, doc}));
    Turn(doc, 120);
    EXPECT_EQ(Codes(), (CodeList{1, 1, 1, 8, 0, 0, 0, 8}));  // the fast path alone
    for (const auto& p : Scrolls()) EXPECT_EQ(p.window, doc);
}

TEST_F(Hooks, WindowThatHandlesTheWheelIsNeverScrolled) {
    for (int i = 0; i < 3; ++i) Turn(doc, -120, 0, /*ignored=*/false);
    EXPECT_TRUE(Scrolls().empty());
    EXPECT_TRUE(Cached(doc).empty());
    // Handled at the top: a non-zero result.
    Hwnd other = ws.Create("Other", {420, 30, 700, 300}, ws::kVisible | ws::kVScroll, frame);
    ws.pointer = {500, 100};
    Message m{other, msg::kMouseWheel, WheelParam(-120), 0};
    GetMessageHook(lib, m);
    CallWndRetHook(lib, {frame, msg::kMouseWheel, m.wParam, 0}, 1);
    EXPECT_TRUE(Scrolls().empty());
}

TEST_F(Hooks, SlowPathOnlyForTheForegroundWindow) {
    ws.foregroundWindow = ws.Create("Elsewhere", {900, 0, 1000, 100});
    Turn(doc);
    EXPECT_TRUE(Scrolls().empty());
    ws.Window(ws.foregroundWindow).cls = "CorelDRAW 12";
    ws.foregroundWindow = frame;
    ws.Window(frame).cls = "CorelDRAW 12";
    Turn(doc);
    EXPECT_TRUE(Scrolls().empty());
}

TEST_F(Hooks, WindowThatScrollsItselfIsLeftAlone) {
    Message m{doc, msg::kMouseWheel, WheelParam(-120), 0};
    GetMessageHook(lib, m);
    CallWndRetHook(lib, {doc, msg::kVScroll, 1, 0}, 0);  // the application's own
    CallWndRetHook(lib, {frame, msg::kMouseWheel, m.wParam, 0}, 0);
    EXPECT_TRUE(process.selfScrolling.contains(doc));
    Turn(doc);
    Turn(doc);
    EXPECT_TRUE(Scrolls().empty());
    // Known to scroll itself: a target cached before that is not used.
    process.cache[doc] = {doc, doc};
    FastPath(lib, doc, WheelParam(-120));
    EXPECT_TRUE(Scrolls().empty());
}

// A scroll message the application sends to a window the library scrolls
// (a key in a list, say) does not make it one that scrolls itself.
TEST_F(Hooks, ScrollMessageToAServedWindowKeepsItServed) {
    Turn(doc);
    CallWndRetHook(lib, {doc, msg::kVScroll, 1, 0}, 0);
    ws.posted.clear();
    Turn(doc);
    EXPECT_EQ(Codes(), (CodeList{1, 1, 1, 8}));
}

TEST_F(Hooks, EmptyTargetIsSearchedAgainOnlyWithThePointerInside) {
    Hwnd list = ws.Create("List", {420, 30, 700, 300}, ws::kVisible | ws::kHScroll, frame);
    ws.pointer = {500, 100};
    Turn(list);
    EXPECT_TRUE(Cached(list).empty());
    // The window gains a vertical bar; a later turn inside finds it.
    ws.Window(list).style |= ws::kVScroll;
    ws.pointer = {100, 100};  // outside, over doc and its bar: nothing
    Turn(list);
    EXPECT_TRUE(Scrolls().empty());
    ws.pointer = {500, 100};
    Turn(list);
    EXPECT_EQ(Cached(list), (ScrollTarget{list, list}));
    EXPECT_EQ(Scrolls().size(), 4u);
}

TEST_F(Hooks, SecondTurnAtAnUnhandledWindowStoresTheEmptyTarget) {
    Turn(doc, -120, 0, false);
    EXPECT_FALSE(process.cache.contains(doc));
    EXPECT_EQ(process.lastWheelWindow.load(), doc);
    Turn(doc, -120, 0, false);
    EXPECT_TRUE(process.cache.contains(doc));
}

TEST_F(Hooks, DestroyedWindowLeavesNoEntryForAReusedHandle) {
    // Its target is its parent's bar, not one of its own.
    ws.Window(frame).style |= ws::kVScroll;
    ws.Window(doc).style &= ~ws::kVScroll;
    Turn(doc);
    ASSERT_EQ(Cached(doc), (ScrollTarget{frame, frame}));
    const Hwnd old = doc;
    CallWndRetHook(lib, {old, msg::kNcDestroy, 0, 0}, 0);
    ws.Destroy(old);
    ws.Window(frame).style &= ~ws::kVScroll;
    ws.ReuseHandle(old);
    // A window without scroll bars gets the old handle value.
    Hwnd reused = ws.Create("Plain", {10, 30, 410, 330}, ws::kVisible, frame);
    ASSERT_EQ(reused, old);
    ws.posted.clear();
    Turn(reused);
    Turn(reused);
    EXPECT_TRUE(Scrolls().empty());
    EXPECT_TRUE(Cached(reused).empty());
}

// A turn served from the cache is served once: the slow path of the same
// turn must not search again because its last wheel window was destroyed
// (reset to none) or never got an entry (it handled its own turn).
TEST_F(Hooks, OneTurnScrollsOnceWhateverCameBefore) {
    Hwnd list = ws.Create("List", {420, 30, 700, 300}, ws::kVisible | ws::kVScroll, frame);
    Turn(doc);
    ws.pointer = {500, 100};
    Turn(list);
    CallWndRetHook(lib, {list, msg::kNcDestroy, 0, 0}, 0);
    ws.Destroy(list);
    ws.pointer = {100, 100};
    ws.posted.clear();
    Turn(doc);
    EXPECT_EQ(Codes(), (CodeList{1, 1, 1, 8}));
    EXPECT_FALSE(process.cache.contains(0));

    Hwnd handles = ws.Create("Handles", {420, 30, 700, 300}, ws::kVisible | ws::kVScroll, frame);
    ws.pointer = {500, 100};
    Turn(handles, -120, 0, /*ignored=*/false);
    ws.pointer = {100, 100};
    ws.posted.clear();
    Turn(doc);
    EXPECT_EQ(Codes(), (CodeList{1, 1, 1, 8}));
    EXPECT_FALSE(process.cache.contains(handles));  // doc's target is not its
}

// After a destroy no window is the last wheel window: a scroll message the
// application sends before the next turn must not mark the dead handle (and
// so the next window to get it) as scrolling by itself.
TEST_F(Hooks, DestroyLeavesNoLastWheelWindow) {
    Turn(doc);
    const Hwnd old = doc;
    CallWndRetHook(lib, {old, msg::kNcDestroy, 0, 0}, 0);
    ws.Destroy(old);
    CallWndRetHook(lib, {frame, msg::kVScroll, 1, 0}, 0);
    ws.ReuseHandle(old);
    // A turn that comes only by a send: no wheel window to keep a target for.
    CallWndRetHook(lib, {frame, msg::kMouseWheel, WheelParam(-120), 0}, 0);
    EXPECT_TRUE(process.cache.empty());
    ASSERT_EQ(ws.Create("Doc", {10, 30, 410, 330}, ws::kVisible | ws::kVScroll, frame), old);
    ws.posted.clear();
    Turn(old);
    EXPECT_EQ(Codes(), (CodeList{1, 1, 1, 8}));
    EXPECT_TRUE(process.selfScrolling.empty());
}

TEST_F(Hooks, DestroyedBarControlIsDroppedFromTargets) {
    process.cache[0x777] = {doc, 0x888};
    ForgetWindow(lib, 0x888);
    EXPECT_FALSE(process.cache.contains(0x777));
}

TEST_F(Hooks, MapsSurviveTwoThreadsTurningTheWheelAtOnce) {
    std::atomic<bool> go{false};
    auto worker = [&](Hwnd base) {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < 20000; ++i) {
            const Hwnd w = base + (i % 64) * 4;
            {
                std::lock_guard lock(process.mutex);
                process.cache[w] = {w, w};
            }
            FastPath(lib, w, WheelParam(-120));
            if (i % 7 == 0) OnVScroll(lib);
            if (i % 5 == 0) ForgetWindow(lib, w);
        }
    };
    std::thread a(worker, 0x100000), b(worker, 0x200000);
    go = true;
    a.join();
    b.join();
    std::lock_guard lock(process.mutex);
    for (const auto& [w, t] : process.cache) EXPECT_EQ(t.window, w);
}

// --- installing and removing the hooks ---------------------------------------

// The system's hooks: live handles; Unhook of one it does not hold answers
// Unknown, and fails while failUnhook is set.
struct FakeHooks : HookSystem {
    std::vector<HookHandle> live;
    HookHandle next = 0x100;
    bool failUnhook = false;
    bool failCallRet = false;

    HookHandle Hook(HookKind kind) override {
        if (kind == HookKind::CallWndRet && failCallRet) return 0;
        live.push_back(++next);
        return next;
    }
    Unhooked Unhook(HookHandle h) override {
        auto it = std::find(live.begin(), live.end(), h);
        if (it == live.end()) return Unhooked::Unknown;
        if (failUnhook) return Unhooked::Failed;
        live.erase(it);
        return Unhooked::Removed;
    }
};

TEST(HookInstall, FailedRemovalKeepsItsHandleAndBlocksASecondPair) {
    FakeHooks system;
    HookSlots slots;
    EXPECT_EQ(UninstallHooks(slots, system), 0);
    EXPECT_EQ(InstallHooks(slots, system), 1);
    EXPECT_EQ(InstallHooks(slots, system), 0);
    EXPECT_EQ(system.live.size(), 2u);

    system.failUnhook = true;
    EXPECT_EQ(UninstallHooks(slots, system), 0);
    EXPECT_NE(slots.getMsg, 0u);
    EXPECT_NE(slots.callRet, 0u);
    EXPECT_EQ(InstallHooks(slots, system), 0);
    EXPECT_EQ(system.live.size(), 2u);

    system.failUnhook = false;
    EXPECT_EQ(UninstallHooks(slots, system), 1);
    EXPECT_TRUE(system.live.empty());
    EXPECT_EQ(slots.getMsg, 0u);
    EXPECT_EQ(slots.callRet, 0u);
    EXPECT_EQ(UninstallHooks(slots, system), 0);
}

TEST(HookInstall, LeftoverGetMessageHookIsRemovedFirstOrNothingIsInstalled) {
    FakeHooks system;
    HookSlots slots;
    system.failCallRet = true;  // a half-way install: its get-message hook stays
    EXPECT_EQ(InstallHooks(slots, system), 0);
    ASSERT_EQ(system.live.size(), 1u);
    system.failCallRet = false;
    system.failUnhook = true;
    EXPECT_EQ(InstallHooks(slots, system), 0);
    EXPECT_EQ(system.live.size(), 1u);
    system.failUnhook = false;
    EXPECT_EQ(InstallHooks(slots, system), 1);
    EXPECT_EQ(system.live.size(), 2u);
    // The installer ends: the system drops its hooks, and the handles left
    // in the shared section must not block the next install.
    system.live.clear();
    EXPECT_EQ(UninstallHooks(slots, system), 0);
    EXPECT_EQ(InstallHooks(slots, system), 1);
}

// --- paint tracking ----------------------------------------------------------

TEST_F(Hooks, PaintTrackingListsAtMostTenWindows) {
    TrackPaintMessage(lib);
    EXPECT_EQ(record.paintCount, 2u);
    EXPECT_EQ(record.paintWindows[0], doc);    // under the pointer
    EXPECT_EQ(record.paintWindows[1], frame);  // foreground
    for (Hwnd w = 1; w <= 9; ++w) TrackWheel(lib, 0x9000 + w, WheelParam(-120));
    EXPECT_EQ(record.paintCount, 10u);
    EXPECT_EQ(record.paintWindows[9], 0x9008u);  // the eleventh is not listed
    OnPaint(lib, 0x9009);
    EXPECT_EQ(record.paintSeen, 0);
    OnPaint(lib, 0x9003);
    EXPECT_EQ(record.paintSeen, 1);
}

TEST_F(Hooks, CorruptCountInTheSharedRecordStaysInBounds) {
    record.paintTracking = 1;
    record.paintCount = 1000;
    record.zoomCount = 0xFFFFFFFF;
    record.ctrlWheelTick = ws.now;
    const SharedRecord before = record;
    TrackWheel(lib, doc, WheelParam(-120, kMkControl));
    EXPECT_EQ(record.lastDelta, -120);
    EXPECT_EQ(record.zoomButtonsWindow, before.zoomButtonsWindow);
    OnPaint(lib, 0x4242);  // scans at most ten entries
    EXPECT_EQ(record.paintSeen, 0);
}

TEST_F(Hooks, WasThereAPaintMessageZeroAnswersAtOnce) {
    TrackPaintMessage(lib);
    OnPaint(lib, frame);
    EXPECT_EQ(WasThereAPaintMessage(lib, 0), 1);
    EXPECT_EQ(record.paintTracking, 0);
    EXPECT_EQ(ws.totalSlept, 0u);
    EXPECT_EQ(WasThereAPaintMessage(lib, -5), 1);
    EXPECT_EQ(ws.totalSlept, 0u);
}

TEST_F(Hooks, WasThereAPaintMessageNeverWaitsPastItsLimit) {
    // Exact sleeps: the whole limit, for limits off the 20 ms grid too.
    for (int limit : {1, 20, 21, 30, 55, 100}) {
        TrackPaintMessage(lib);
        ws.totalSlept = 0;
        EXPECT_EQ(WasThereAPaintMessage(lib, limit), 0);
        EXPECT_EQ(ws.totalSlept, static_cast<unsigned>(limit)) << limit;
        EXPECT_EQ(record.paintTracking, 0);
    }
    // Sleeps that last longer than asked (the system's timer granularity):
    // counting sleeps would wait 49 x 31 ms for a one-second limit.
    ws.sleepOvershootMs = 11;
    for (int limit : {100, 200, 1000}) {
        TrackPaintMessage(lib);
        ws.totalSlept = 0;
        WasThereAPaintMessage(lib, limit);
        EXPECT_LE(ws.totalSlept, static_cast<unsigned>(limit)) << limit;
        EXPECT_GT(ws.totalSlept + 62, static_cast<unsigned>(limit)) << limit;
    }
}

// Sleeps of 31 ms for 20 asked must not end a 60 ms wait after the first.
TEST_F(Hooks, WasThereAPaintMessageSeesAPaintLateInItsLimit) {
    ws.sleepOvershootMs = 11;
    TrackPaintMessage(lib);
    const std::uint32_t start = ws.now;
    ws.onSleep = [&] {
        if (ws.now - start >= 40) OnPaint(lib, doc);
    };
    EXPECT_EQ(WasThereAPaintMessage(lib, 60), 1);
    EXPECT_LE(ws.now - start, 60u);
}

TEST_F(Hooks, WasThereAPaintMessageStopsWhenThePaintComes) {
    TrackPaintMessage(lib);
    int sleeps = 0;
    ws.onSleep = [&] {
        if (++sleeps == 3) OnPaint(lib, doc);
    };
    EXPECT_EQ(WasThereAPaintMessage(lib, 5000), 1);
    EXPECT_EQ(sleeps, 3);
}

// --- zoom tracking -----------------------------------------------------------

TEST_F(Hooks, CtrlWheelThenRepaintPostsOneZoomNotification) {
    const Hwnd buttons = 0x4444;
    SetZoomBtnsWindow(lib, buttons);
    Turn(doc, 240, kMkControl);
    ws.now += 300;
    OnPaint(lib, doc);
    OnPaint(lib, doc);
    ASSERT_EQ(ws.posted.size(), 1u);
    EXPECT_EQ(ws.posted[0].window, buttons);
    EXPECT_EQ(ws.posted[0].message, msg::kZoomNotify);
    EXPECT_EQ(ws.posted[0].wParam, frame);
    EXPECT_EQ(ws.posted[0].lParam, 240);
}

TEST_F(Hooks, RepaintAfter600MsPostsNoZoomNotification) {
    SetZoomBtnsWindow(lib, 0x4444);
    Turn(doc, -120, kMkControl);
    ws.now += 600;
    OnPaint(lib, doc);
    EXPECT_TRUE(ws.posted.empty());
    EXPECT_EQ(record.zoomPending, 0);
    EXPECT_EQ(record.zoomCount, 0u);
}

TEST_F(Hooks, ZoomCandidatesRestartAfterAPause) {
    TrackWheel(lib, 0x10, WheelParam(-120, kMkControl));
    ws.now += 100;
    TrackWheel(lib, 0x20, WheelParam(-120, kMkControl));
    EXPECT_EQ(record.zoomCount, 2u);
    ws.now += 501;
    TrackWheel(lib, 0x30, WheelParam(-120, kMkControl));
    EXPECT_EQ(record.zoomCount, 1u);
    EXPECT_EQ(record.zoomWindows[0], 0x30u);
    // Without a zoom-buttons window nothing is posted, and the turn is over.
    OnPaint(lib, 0x30);
    EXPECT_TRUE(ws.posted.empty());
    EXPECT_EQ(record.zoomPending, 0);
}

// --- custom cursor -----------------------------------------------------------

TEST_F(Hooks, CapturedCursorReplacesTheWindowsOwn) {
    ws.cursor = 0x11;
    CaptureCustomCursor(lib, 0x22, false);
    EXPECT_EQ(record.cursorCaptured, 1);
    EXPECT_NE(cursors.custom, 0u);
    EXPECT_EQ(ws.cursor, cursors.custom);
    const Cursor saved = cursors.saved;
    EXPECT_NE(saved, 0u);

    ws.cursor = 0x99;  // the window set its own
    Message m{doc, msg::kSetCursor, 0, 0};
    GetMessageHook(lib, m);
    EXPECT_EQ(m.message, msg::kNull);
    EXPECT_EQ(ws.cursor, cursors.custom);
    Message move{doc, msg::kMouseMove, 0, 0};
    GetMessageHook(lib, move);
    EXPECT_EQ(move.message, msg::kNull);

    ClearCaptureCustomCursor(lib);
    EXPECT_EQ(record.cursorCaptured, 0);
    EXPECT_EQ(ws.cursor, saved);
    EXPECT_EQ(cursors.custom, 0u);
    Message after{doc, msg::kSetCursor, 0, 0};
    GetMessageHook(lib, after);
    EXPECT_EQ(after.message, msg::kSetCursor);
}

// A window that sets its own cursor loses it at its next message of any
// kind, and at its next repaint.
TEST_F(Hooks, CapturedCursorIsPutBackOnEveryMessageAndRepaint) {
    CaptureCustomCursor(lib, 0x22, false);
    ws.cursor = 0x99;
    Message key{doc, 0x0100, 0, 0};
    GetMessageHook(lib, key);
    EXPECT_EQ(ws.cursor, cursors.custom);
    EXPECT_EQ(key.message, 0x0100u);
    ws.cursor = 0x99;
    CallWndRetHook(lib, {doc, msg::kPaint, 0, 0}, 0);
    EXPECT_EQ(ws.cursor, cursors.custom);
}

TEST_F(Hooks, CaptureWithoutACursorOnlySetsTheFlag) {
    cursors.saved = 0x77;
    CaptureCustomCursor(lib, 0, false);
    EXPECT_EQ(record.cursorCaptured, 1);
    EXPECT_EQ(cursors.custom, 0u);
    EXPECT_EQ(cursors.saved, 0x77u);
    ws.cursor = 0x99;
    Message m{doc, msg::kSetCursor, 0, 0};
    GetMessageHook(lib, m);
    EXPECT_EQ(ws.cursor, 0x99u);  // no custom cursor to set
    EXPECT_EQ(m.message, msg::kNull);
}

TEST_F(Hooks, KeepSavedLeavesTheSavedCursor) {
    cursors.saved = 0x77;
    CaptureCustomCursor(lib, 0x22, true);
    EXPECT_EQ(cursors.saved, 0x77u);
}

TEST_F(Hooks, OtherMessagesPassUntouched) {
    const int sets = ws.cursorSets;
    for (std::uint32_t m : {0x0100u, 0x0113u, 0x0001u, 0x0114u}) {
        Message msg{doc, m, 1, 2};
        GetMessageHook(lib, msg);
        CallWndRetHook(lib, msg, 0);
        EXPECT_EQ(msg.message, m);
    }
    EXPECT_TRUE(ws.posted.empty());
    EXPECT_EQ(ws.cursorSets, sets);
    EXPECT_TRUE(process.cache.empty());
}

}  // namespace
}  // namespace glidewheel::test
