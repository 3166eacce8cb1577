// The search for the scroll bar that belongs to the content under the mouse
// pointer, run once per window by the slow path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Library.h"
#include "Types.h"
#include "WindowSystem.h"

namespace glidewheel {

bool ClassIs(std::string_view cls, std::string_view name);  // case-insensitive
std::string UpperCase(std::string_view s);

// One scroll bar: kind 0 the horizontal bar of a window, 1 its vertical bar,
// 2 a scroll-bar control.
struct BarRecord {
    Hwnd window = 0;
    int kind = -1;
    Rect rect;

    bool found() const { return kind >= 0; }
};

// Timed sends on behalf of the context: a window whose thread hangs must not
// hang the wheel.
class ContextWaitHelper {
  public:
    static constexpr unsigned kWaitMs = 3000;

    explicit ContextWaitHelper(WindowSystem& ws) : ws_(ws) {}
    virtual ~ContextWaitHelper() = default;

  protected:
    std::uint32_t QueryCapabilities(Hwnd w) { return ws_.systemMenuCapabilities(w, kWaitMs); }

    WindowSystem& ws_;
};

// The frame windows of one wheel event and their system-menu capabilities.
class CurWindowContext : public ContextWaitHelper {
  public:
    CurWindowContext(WindowSystem& ws, Hwnd pointerWindow);

    virtual Hwnd FrameWindow() const { return frame_; }
    virtual Hwnd OwnerFrameWindow() const { return ownerFrame_; }
    // The window whose parents are not searched: the owner chain's root for
    // the window kinds that live in their own top-level window.
    virtual Hwnd ContextFrame() const { return ownerFrame_ ? ownerFrame_ : frame_; }
    virtual bool MenuOpen() const { return menuOpen_; }
    virtual std::uint32_t Capabilities(Hwnd w);

  protected:
    // Takes the frames of another pointer window (the window under a
    // tooltip, say), forgetting what was read for the old ones.
    void Take(Hwnd pointerWindow);

  private:
    Hwnd frame_ = 0;
    Hwnd ownerFrame_ = 0;
    bool menuOpen_ = false;
    std::uint32_t frameCaps_ = 0;
    std::uint32_t ownerCaps_ = 0;
    bool frameCapsRead_ = false;
    bool ownerCapsRead_ = false;
};

// Search state and result of one wheel event.
struct ScrollInfo : virtual CurWindowContext {
    static constexpr int kDepthLimit = 3;

    ScrollInfo(WindowSystem& ws, Hwnd pointerWindow, Point pointer);

    // Runs the search; the vertical target, or the empty target.
    ScrollTarget Search();

    Hwnd pointerWindow = 0;
    Hwnd foreground = 0;
    Point pointer;
    Metrics metrics;
    BarRecord vertical;
    BarRecord horizontal;
    ScrollTarget verticalTarget;
    ScrollTarget horizontalTarget;
    // Browser and shell flags.
    bool browserPane = false;
    bool folderView = false;
    bool toolbarBand = false;
    bool hosted = false;
    bool ieFrame = false;
    bool explorerFrame = false;
    bool officeFrame = false;

  private:
    bool Excluded(Hwnd w);
    Hwnd ReplacePointerWindow(Hwnd w);
    bool TooManyDocuments();
    Hwnd SkipDialogLabel(Hwnd w);
    void TakeOwnBars(Hwnd w);
    void SearchChildBars(Hwnd w);
    Rect ScrolledArea(Hwnd w, bool* searchable);
    void BrowserRules();
};

// What the slow path adds: the event's wheel window, for which it runs.
struct FreeScrollInfo : ScrollInfo {
    FreeScrollInfo(WindowSystem& ws, Hwnd pointerWindow, Point pointer, Hwnd wheelWindow)
        : CurWindowContext(ws, pointerWindow),
          ScrollInfo(ws, pointerWindow, pointer),
          wheelWindow(wheelWindow) {}

    Hwnd wheelWindow = 0;
};

// Built on the stack for one wheel event in the call-return hook.
class CFreeScrollMacro {
  public:
    CFreeScrollMacro(WindowSystem& ws, Hwnd pointerWindow, Point pointer, Hwnd wheelWindow)
        : info_(ws, pointerWindow, pointer, wheelWindow) {}
    virtual ~CFreeScrollMacro() = default;

    ScrollTarget Run() { return info_.Search(); }
    const FreeScrollInfo& Info() const { return info_; }

  private:
    FreeScrollInfo info_;
};

}  // namespace glidewheel
