// Basic window-system values shared by the core, its backends and its tests.
#pragma once

#include <cstdint>

namespace glidewheel {

// Window handles are kept as 32-bit values: that is all the system uses of
// them, in 64-bit processes too, and it is what the shared record stores.
using Hwnd = std::uint32_t;
// Cursor handles never leave the backend's own tables, so any width will do.
using Cursor = std::uintptr_t;

struct Point {
    int x = 0;
    int y = 0;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool contains(Point p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    bool operator==(const Rect&) const = default;
};

// Window messages the library looks at or sends.
namespace msg {
constexpr std::uint32_t kNull = 0x0000;
constexpr std::uint32_t kNcDestroy = 0x0082;
constexpr std::uint32_t kPaint = 0x000F;
constexpr std::uint32_t kSetCursor = 0x0020;
constexpr std::uint32_t kVScroll = 0x0115;
constexpr std::uint32_t kMouseMove = 0x0200;
constexpr std::uint32_t kLButtonDown = 0x0201;
constexpr std::uint32_t kLButtonUp = 0x0202;
constexpr std::uint32_t kMouseWheel = 0x020A;
constexpr std::uint32_t kZoomNotify = 0x0411;  // to the host's zoom-buttons window
constexpr std::uint32_t kCruiseWindow =
    0x0414;  // asks the host which window is under its cruise window
}  // namespace msg

// Scroll codes of the vertical-scroll message.
namespace sb {
constexpr std::uint32_t kLineUp = 0;
constexpr std::uint32_t kLineDown = 1;
constexpr std::uint32_t kPageUp = 2;
constexpr std::uint32_t kPageDown = 3;
constexpr std::uint32_t kEndScroll = 8;
}  // namespace sb

namespace ws {
constexpr std::uint32_t kChild = 0x40000000;
constexpr std::uint32_t kVisible = 0x10000000;
constexpr std::uint32_t kDisabled = 0x08000000;
constexpr std::uint32_t kMaximize = 0x01000000;
constexpr std::uint32_t kCaption = 0x00C00000;
constexpr std::uint32_t kBorder = 0x00800000;
constexpr std::uint32_t kVScroll = 0x00200000;
constexpr std::uint32_t kHScroll = 0x00100000;
constexpr std::uint32_t kSysMenu = 0x00080000;
constexpr std::uint32_t kThickFrame = 0x00040000;
// Extended styles.
constexpr std::uint32_t kExDlgModalFrame = 0x00000001;
constexpr std::uint32_t kExTopmost = 0x00000008;
constexpr std::uint32_t kExLeftScrollBar = 0x00004000;
}  // namespace ws

// Scroll-bar control styles.
namespace sbs {
constexpr std::uint32_t kVert = 0x0001;
constexpr std::uint32_t kSizeBoxOrGrip = 0x0018;
}  // namespace sbs

// Results of hit-testing a window's non-client area.
namespace ht {
constexpr int kClient = 1;
constexpr int kGrowBox = 4;
constexpr int kRight = 11;
constexpr int kBottom = 15;
constexpr int kBottomRight = 17;
}  // namespace ht

// System-menu commands as capability bits.
namespace cap {
constexpr std::uint32_t kRestore = 2;
constexpr std::uint32_t kMove = 4;
constexpr std::uint32_t kSize = 8;
constexpr std::uint32_t kMinimize = 16;
constexpr std::uint32_t kMaximize = 32;
constexpr std::uint32_t kClose = 64;
constexpr std::uint32_t kNextWindow = 128;
constexpr std::uint32_t kPrevWindow = 256;
}  // namespace cap

// Key-state bits in the low word of a wheel message's wParam.
constexpr std::uint32_t kMkControl = 0x0008;

}  // namespace glidewheel
