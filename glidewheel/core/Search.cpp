#include "Search.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace glidewheel {

namespace {

// Bounds every walk over windows: a parent or owner chain that loops (a
// window being re-parented while we look) must not hang the hooked thread.
constexpr int kMaxChain = 64;
constexpr int kMaxDescendants = 4096;

bool ContainsText(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

Hwnd TopLevel(WindowSystem& ws, Hwnd w) {
    for (int i = 0; w != 0 && i < kMaxChain; ++i) {
        const Hwnd p = ws.parent(w);
        if (p == 0) return w;
        w = p;
    }
    return w;
}

// Any visible "ScrollBar" window below w, to any depth.
bool HasVisibleScrollBar(WindowSystem& ws, Hwnd w, int& budget) {
    for (Hwnd c = ws.firstChild(w); c != 0 && --budget > 0; c = ws.nextSibling(c)) {
        if (ws.isVisible(c) && ClassIs(ws.className(c), "ScrollBar")) return true;
        if (HasVisibleScrollBar(ws, c, budget)) return true;
    }
    return false;
}

int CountClass(WindowSystem& ws, Hwnd w, std::string_view cls, int& budget) {
    int n = 0;
    for (Hwnd c = ws.firstChild(w); c != 0 && --budget > 0; c = ws.nextSibling(c)) {
        if (ClassIs(ws.className(c), cls)) ++n;
        n += CountClass(ws, c, cls, budget);
    }
    return n;
}

std::int64_t PointParam(int x, int y) {
    return static_cast<std::int64_t>((static_cast<std::uint32_t>(y & 0xFFFF) << 16) |
                                     static_cast<std::uint32_t>(x & 0xFFFF));
}

void PostClick(WindowSystem& ws, Hwnd w, int x, int y) {
    ws.post(w, msg::kLButtonDown, 1, PointParam(x, y));
    ws.post(w, msg::kLButtonUp, 0, PointParam(x, y));
}

// A scroll-bar control or a corner marker found among a window's children.
struct ChildBar {
    BarRecord bar;
    ScrollTarget target;
    bool vertical = false;
};

struct Corner {
    bool found = false;
    Point at;
};

Rect OwnVerticalBar(const Rect& client, int width, bool left) {
    return left ? Rect{client.left - width, client.top, client.left, client.bottom}
                : Rect{client.right, client.top, client.right + width, client.bottom};
}

Rect OwnHorizontalBar(const Rect& client, int height) {
    return Rect{client.left, client.bottom, client.right, client.bottom + height};
}

}  // namespace

bool ClassIs(std::string_view cls, std::string_view name) {
    return cls.size() == name.size() &&
           std::equal(cls.begin(), cls.end(), name.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

std::string UpperCase(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

CurWindowContext::CurWindowContext(WindowSystem& ws, Hwnd pointerWindow) : ContextWaitHelper(ws) {
    Take(pointerWindow);
}

void CurWindowContext::Take(Hwnd pointerWindow) {
    WindowSystem& ws = ws_;
    ownerFrame_ = 0;
    menuOpen_ = false;
    frameCapsRead_ = ownerCapsRead_ = false;
    frame_ = TopLevel(ws, pointerWindow);
    const std::string cls = ws.className(frame_);
    if (ClassIs(cls, "#32768")) {
        // An open menu belongs to the window that is active.
        menuOpen_ = true;
        if (const Hwnd fg = ws.foreground(); fg != 0) frame_ = fg;
        return;
    }
    if (ClassIs(cls, "AwtGenericWindowClass") || ClassIs(cls, "aJavaAppletWinClass") ||
        ClassIs(cls, "OpusApp") || ClassIs(cls, "OpusMwd") || ClassIs(cls, "#32770") ||
        ClassIs(cls, "ComboLBox")) {
        Hwnd o = frame_;
        for (int i = 0; i < kMaxChain; ++i) {
            const Hwnd next = ws.owner(o);
            if (next == 0 || next == o) break;
            o = TopLevel(ws, next);
        }
        if (o != frame_) ownerFrame_ = o;
    }
}

std::uint32_t CurWindowContext::Capabilities(Hwnd w) {
    if (w == frame_) {
        if (!frameCapsRead_) frameCaps_ = QueryCapabilities(w), frameCapsRead_ = true;
        return frameCaps_;
    }
    if (w == ownerFrame_) {
        if (!ownerCapsRead_) ownerCaps_ = QueryCapabilities(w), ownerCapsRead_ = true;
        return ownerCaps_;
    }
    return QueryCapabilities(w);
}

ScrollInfo::ScrollInfo(WindowSystem& ws, Hwnd pointerWindow, Point pointer)
    : CurWindowContext(ws, pointerWindow),
      pointerWindow(pointerWindow),
      foreground(ws.foreground()),
      pointer(pointer),
      metrics(ws.metrics()) {}

bool ScrollInfo::Excluded(Hwnd w) {
    const std::string cls = ws_.className(w);
    if (ClassIs(cls, "MSHTML40_Origin_Class") || ClassIs(cls, "MSHTML_Origin_Class") ||
        ClassIs(cls, "msime")) {
        return true;
    }
    // A full-screen window (a presentation, a game) without scroll bars.
    const Rect r = ws_.windowRect(w);
    if (r.left != 0 || r.top != 0 || r.width() < metrics.cxScreen ||
        r.height() < metrics.cyScreen) {
        return false;
    }
    if (w == ws_.desktop() || !(ws_.exStyle(w) & ws::kExTopmost) || !ws_.isVisible(w) ||
        ClassIs(cls, "SysListView32")) {
        return false;
    }
    int budget = kMaxDescendants;
    return !HasVisibleScrollBar(ws_, w, budget);
}

Hwnd ScrollInfo::ReplacePointerWindow(Hwnd w) {
    const std::string cls = ws_.className(w);
    if (!ClassIs(cls, "_WwM") && !ClassIs(cls, "tooltips_class32")) return w;
    Hwnd cur = ws_.owner(w);
    if (cur == 0) cur = foreground;
    for (int depth = 0; cur != 0 && depth < kMaxChain; ++depth) {
        Hwnd next = 0;
        for (Hwnd c = ws_.firstChild(cur); c != 0; c = ws_.nextSibling(c)) {
            if (ws_.isVisible(c) && ws_.windowRect(c).contains(pointer)) {
                next = c;
                break;
            }
        }
        if (next == 0) break;
        cur = next;
    }
    return cur != 0 ? cur : w;
}

bool ScrollInfo::TooManyDocuments() {
    const Hwnd frame = ContextFrame();
    const std::string cls = ws_.className(frame);
    if (!(ClassIs(cls, "XLMAIN") || ClassIs(cls, "OpusApp")) || ws_.hasMenuBar(frame)) {
        return false;
    }
    officeFrame = true;
    Hwnd w = pointerWindow;
    for (int i = 0; w != 0 && i < kMaxChain; ++i) {
        w = ws_.parent(w);
        const std::string pc = ws_.className(w);
        if (ClassIs(pc, "XLDESK") || ClassIs(pc, "_WwB")) {
            int budget = kMaxDescendants;
            return CountClass(ws_, w, "_WwC", budget) >= 2;
        }
    }
    return false;
}

Hwnd ScrollInfo::SkipDialogLabel(Hwnd w) {
    const std::string cls = ws_.className(w);
    const bool label =
        ClassIs(cls, "Static") || (ClassIs(cls, "Button") && (ws_.style(w) & 0x7) != 0);
    if (!label) return w;
    for (Hwnd s = ws_.nextSibling(w); s != 0; s = ws_.nextSibling(s)) {
        if (!ws_.isVisible(s) || !ws_.windowRect(s).contains(pointer)) continue;
        for (Hwnd c = ws_.firstChild(s); c != 0; c = ws_.nextSibling(c)) {
            if (ws_.isVisible(c) && ws_.windowRect(c).contains(pointer)) return c;
        }
        return s;
    }
    return w;
}

void ScrollInfo::TakeOwnBars(Hwnd w) {
    const std::uint32_t style = ws_.style(w);
    if (!(style & (ws::kVScroll | ws::kHScroll))) return;
    const Rect wr = ws_.windowRect(w);
    const Rect client = ws_.clientRect(w);
    if (!vertical.found() && (style & ws::kVScroll) && wr.width() >= metrics.cxVScroll) {
        const bool left = (ws_.exStyle(w) & ws::kExLeftScrollBar) != 0;
        vertical = {w, 1, OwnVerticalBar(client, metrics.cxVScroll, left)};
        verticalTarget = {w, w};
    }
    if (!horizontal.found() && (style & ws::kHScroll) && wr.height() >= metrics.cyHScroll) {
        horizontal = {w, 0, OwnHorizontalBar(client, metrics.cyHScroll)};
        horizontalTarget = {w, w};
    }
}

// The part of w whose right and bottom edges a scroll-bar control must lie
// along. A sizeable child window (a document window in a frame) is examined
// by its corner: a size box between its two bars makes the area reach over
// the bars; otherwise it is the client area between them.
Rect ScrollInfo::ScrolledArea(Hwnd w, bool* searchable) {
    *searchable = true;
    Rect area = ws_.clientRect(w);
    const std::uint32_t style = ws_.style(w);
    const bool sizeableChild =
        (style & ws::kChild) && (style & ws::kThickFrame) && !(style & ws::kMaximize);
    if (!sizeableChild) return area;
    if (ClassIs(ws_.className(w), "EXCEL9") && !(Capabilities(w) & cap::kMaximize)) {
        *searchable = false;
        return area;
    }
    if ((style & ws::kVScroll) && (style & ws::kHScroll)) {
        const Point corner{area.right + metrics.cxVScroll / 2, area.bottom + metrics.cyHScroll / 2};
        if (ws_.hitTest(w, corner) == ht::kGrowBox) {
            area.right += metrics.cxVScroll;
            area.bottom += metrics.cyHScroll;
        }
    }
    return area;
}

void ScrollInfo::SearchChildBars(Hwnd w) {
    bool searchable = true;
    Rect area = ScrolledArea(w, &searchable);
    if (!searchable) return;

    std::vector<ChildBar> bars;
    std::vector<Point> corners;
    int budget = kMaxDescendants;
    // Children, grandchildren and great-grandchildren.
    auto visit = [&](auto& self, Hwnd parent, int level) -> void {
        for (Hwnd c = ws_.firstChild(parent); c != 0 && --budget > 0; c = ws_.nextSibling(c)) {
            if (!ws_.isVisible(c) || !ws_.isEnabled(c)) continue;
            const std::uint32_t style = ws_.style(c);
            const Rect r = ws_.windowRect(c);
            const bool v = style & ws::kVScroll;
            const bool h = style & ws::kHScroll;
            const std::string cls = UpperCase(ws_.className(c));
            auto control = [&](bool vertical) {
                bars.push_back({{c, 2, r}, {ws_.parent(c), c}, vertical});
            };
            if (v && h) {
                corners.push_back({r.right, r.bottom});
            } else if (cls == "SCROLLBAR") {
                if (style & sbs::kSizeBoxOrGrip) {
                    corners.push_back({r.right, r.bottom});
                } else {
                    control(style & sbs::kVert);
                }
            } else if (cls == "123WSCROLLBAR" || cls == "LEGO.SCROLLBAR" ||
                       cls == "INDESIGN_SCROLLBAR" || cls == "NUISCROLLBAR" ||
                       cls == "THUNDERHSCROLLBAR") {
                control(style & sbs::kVert);
            } else if (cls == "THUNDERVSCROLLBAR") {
                control(true);
            } else if (cls == "WORDPROSCROLLPARENTWNDNT") {
                const Rect client = ws_.clientRect(c);
                if (v) {
                    const bool left = ws_.exStyle(c) & ws::kExLeftScrollBar;
                    bars.push_back(
                        {{c, 1, OwnVerticalBar(client, metrics.cxVScroll, left)}, {c, c}, true});
                } else if (h) {
                    bars.push_back(
                        {{c, 0, OwnHorizontalBar(client, metrics.cyHScroll)}, {c, c}, false});
                }
            } else if (cls == "MSCTLS_STATUSBAR32") {
                // Its size grip marks the bottom of the area above it.
                if ((style & 0x0100) && !(style & 0x0001)) corners.push_back({r.right, r.top});
            } else if (cls == "AFXCONTROLBAR" || cls == "EXCEL8") {
                corners.push_back({r.right, r.bottom});
            } else if (v || h) {
                bars.push_back({{c, 2, r}, {c, c}, v});
            }
            // A sizeable child (a document window) is a scrolled area of
            // its own: its bars are not this window's.
            const bool sizeable = (style & ws::kThickFrame) && !(style & ws::kMaximize);
            if (level < kDepthLimit && !sizeable) self(self, c, level + 1);
        }
    };
    visit(visit, w, 1);

    // The corner nearest the area's own bottom-right corner places it.
    if (!corners.empty()) {
        auto distance = [&](Point p) {
            return std::abs(p.x - area.right) + std::abs(p.y - area.bottom);
        };
        const Point best = *std::min_element(corners.begin(), corners.end(), [&](Point a, Point b) {
            return distance(a) < distance(b);
        });
        area.right = best.x;
        area.bottom = best.y;
    }

    // A control must lie along the area's right (vertical) or bottom
    // (horizontal) edge within half a bar's thickness and beside the area;
    // of two, the nearer edge wins, then the longer bar, then window order.
    const int tolV = std::max(metrics.cxVScroll / 2, 2 * metrics.cxBorder);
    const int tolH = std::max(metrics.cyHScroll / 2, 2 * metrics.cyBorder);
    const ChildBar* bestV = nullptr;
    const ChildBar* bestH = nullptr;
    int bestVDist = 0, bestHDist = 0;
    for (const ChildBar& b : bars) {
        const Rect& r = b.bar.rect;
        if (b.vertical) {
            const int d = std::abs(r.right - area.right);
            if (d > tolV || r.bottom <= area.top || r.top >= area.bottom) continue;
            if (!bestV || d < bestVDist ||
                (d == bestVDist && r.height() > bestV->bar.rect.height())) {
                bestV = &b;
                bestVDist = d;
            }
        } else {
            const int d = std::abs(r.bottom - area.bottom);
            if (d > tolH || r.right <= area.left || r.left >= area.right) continue;
            if (!bestH || d < bestHDist ||
                (d == bestHDist && r.width() > bestH->bar.rect.width())) {
                bestH = &b;
                bestHDist = d;
            }
        }
    }
    if (bestV && !vertical.found()) {
        vertical = bestV->bar;
        verticalTarget = bestV->target;
    }
    if (bestH && !horizontal.found()) {
        horizontal = bestH->bar;
        horizontalTarget = bestH->target;
    }
}

void ScrollInfo::BrowserRules() {
    const std::string cls = ws_.className(pointerWindow);
    browserPane =
        ClassIs(cls, "Internet Explorer_Server") || ClassIs(cls, "HTML_Internet Explorer");
    const Hwnd frame = ContextFrame();
    const std::string fc = ws_.className(frame);
    const bool menu = ws_.hasMenuBar(frame);
    ieFrame = ClassIs(fc, "IEFrame");
    explorerFrame = !menu && (ClassIs(fc, "CabinetWClass") || ClassIs(fc, "ExploreWClass") ||
                              ClassIs(fc, "ExplorerWClass"));
    if (!browserPane) return;
    Hwnd p = pointerWindow;
    for (int i = 0; p != 0 && i < kMaxChain; ++i) {
        p = ws_.parent(p);
        if (p == 0) break;
        const std::string pc = ws_.className(p);
        if (ClassIs(pc, "SHELLDLL_DefView")) folderView = true;
        if (ClassIs(pc, "ReBarWindow32")) toolbarBand = true;
        if (ContainsText(UpperCase(pc), "AOL")) hosted = true;
    }
    if (toolbarBand) return;
    if (explorerFrame) {
        const Hwnd child = ws_.firstChild(frame);
        if (child != 0 && ClassIs(ws_.className(child), "Shell Embedding")) {
            const Rect r = ws_.windowRect(child);
            if (r.width() > metrics.cxVScroll && r.height() > metrics.cyHScroll) {
                const Rect fcr = ws_.clientRect(frame);
                PostClick(ws_, frame, r.left - fcr.left + (r.width() - metrics.cxVScroll) / 2,
                          r.top - fcr.top + (r.height() - metrics.cyHScroll) / 2);
            }
            return;
        }
    }
    // A hosted pane or a folder view scrolls itself once it has the focus.
    if (hosted || folderView) PostClick(ws_, pointerWindow, -1, -1);
}

ScrollTarget ScrollInfo::Search() {
    if (pointerWindow == 0 || Excluded(pointerWindow)) return {};
    if (const Hwnd replaced = ReplacePointerWindow(pointerWindow); replaced != pointerWindow) {
        // The frames are those of the window the search starts from.
        pointerWindow = replaced;
        Take(pointerWindow);
    }
    if (TooManyDocuments()) return {};

    const Hwnd contextFrame = ContextFrame();
    Hwnd w = pointerWindow;
    for (int i = 0; w != 0 && i < kMaxChain; ++i) {
        if (!ws_.isVisible(w) || !ws_.isEnabled(w)) break;
        w = SkipDialogLabel(w);
        TakeOwnBars(w);
        if (!vertical.found() || !horizontal.found()) SearchChildBars(w);
        if (vertical.found() && horizontal.found()) break;
        const std::uint32_t style = ws_.style(w);
        if (!(style & ws::kChild) && (ws_.exStyle(w) & ws::kExDlgModalFrame)) break;
        if ((style & ws::kCaption) == ws::kCaption &&
            ((style & (ws::kVScroll | ws::kHScroll)) || ws_.firstChild(w) != 0)) {
            break;
        }
        if (w == contextFrame || w == FrameWindow()) break;
        w = ws_.parent(w);
    }
    if (vertical.found()) return verticalTarget;
    BrowserRules();
    return {};
}

}  // namespace glidewheel
