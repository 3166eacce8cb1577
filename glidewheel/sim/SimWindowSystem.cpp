#include "SimWindowSystem.h"

#include <algorithm>

namespace glidewheel::sim {

SimWindowSystem::SimWindowSystem() {
    metricValues.cxVScroll = 16;
    metricValues.cyHScroll = 16;
    metricValues.cyVArrow = 16;
    metricValues.cxHArrow = 16;
    metricValues.cyVThumb = 16;
    metricValues.cxHThumb = 16;
    metricValues.cxBorder = 1;
    metricValues.cyBorder = 1;
    metricValues.cxFrame = 4;
    metricValues.cyFrame = 4;
    metricValues.cxDrag = 4;
    metricValues.cyDrag = 4;
    metricValues.cxScreen = 1024;
    metricValues.cyScreen = 768;
}

Hwnd SimWindowSystem::Create(const std::string& cls, Rect rect, std::uint32_t style, Hwnd parent,
                             std::uint32_t exStyle) {
    Hwnd h;
    if (!reuse_.empty()) {
        h = reuse_.back();
        reuse_.pop_back();
    } else {
        h = next_;
        next_ += 4;
    }
    SimWindow w;
    w.cls = cls;
    w.style = style | (parent ? ws::kChild : 0);
    w.exStyle = exStyle;
    w.rect = rect;
    w.parent = parent;
    windows_[h] = w;
    if (parent) {
        windows_.at(parent).children.push_back(h);
    } else {
        topLevel.push_back(h);
    }
    return h;
}

void SimWindowSystem::Destroy(Hwnd w) {
    auto it = windows_.find(w);
    if (it == windows_.end()) return;
    for (Hwnd c : std::vector<Hwnd>(it->second.children)) Destroy(c);
    const Hwnd p = it->second.parent;
    auto& list = p ? windows_.at(p).children : topLevel;
    list.erase(std::remove(list.begin(), list.end(), w), list.end());
    windows_.erase(w);
}

const SimWindow* SimWindowSystem::Find(Hwnd w) const {
    auto it = windows_.find(w);
    return it == windows_.end() ? nullptr : &it->second;
}

std::string SimWindowSystem::className(Hwnd w) {
    const SimWindow* s = Find(w);
    return s ? s->cls : std::string();
}
std::uint32_t SimWindowSystem::style(Hwnd w) {
    const SimWindow* s = Find(w);
    return s ? s->style : 0;
}
std::uint32_t SimWindowSystem::exStyle(Hwnd w) {
    const SimWindow* s = Find(w);
    return s ? s->exStyle : 0;
}
Rect SimWindowSystem::windowRect(Hwnd w) {
    const SimWindow* s = Find(w);
    return s ? s->rect : Rect{};
}

// The client area: the rectangle less its border, caption and own bars.
Rect SimWindowSystem::clientRect(Hwnd w) {
    const SimWindow* s = Find(w);
    if (!s) return {};
    Rect r = s->rect;
    int edge = 0;
    if (s->style & ws::kThickFrame) {
        edge = metricValues.cxFrame;
    } else if (s->style & ws::kBorder) {
        edge = metricValues.cxBorder;
    }
    r.left += edge;
    r.top += edge;
    r.right -= edge;
    r.bottom -= edge;
    if ((s->style & ws::kCaption) == ws::kCaption) r.top += 20;
    if (s->menuBar) r.top += 20;
    if (s->style & ws::kVScroll) {
        if (s->exStyle & ws::kExLeftScrollBar) {
            r.left += metricValues.cxVScroll;
        } else {
            r.right -= metricValues.cxVScroll;
        }
    }
    if (s->style & ws::kHScroll) r.bottom -= metricValues.cyHScroll;
    return r;
}

Hwnd SimWindowSystem::parent(Hwnd w) {
    const SimWindow* s = Find(w);
    return s ? s->parent : 0;
}
Hwnd SimWindowSystem::owner(Hwnd w) {
    const SimWindow* s = Find(w);
    return s ? s->owner : 0;
}
Hwnd SimWindowSystem::firstChild(Hwnd w) {
    const SimWindow* s = Find(w);
    return s && !s->children.empty() ? s->children.front() : 0;
}
Hwnd SimWindowSystem::nextSibling(Hwnd w) {
    const SimWindow* s = Find(w);
    if (!s) return 0;
    const auto& list = s->parent ? windows_.at(s->parent).children : topLevel;
    auto it = std::find(list.begin(), list.end(), w);
    return it != list.end() && std::next(it) != list.end() ? *std::next(it) : 0;
}
bool SimWindowSystem::isVisible(Hwnd w) {
    for (const SimWindow* s = Find(w); s; s = s->parent ? Find(s->parent) : nullptr) {
        if (!(s->style & ws::kVisible)) return false;
        if (!s->parent) return true;
    }
    return false;
}
bool SimWindowSystem::isEnabled(Hwnd w) {
    const SimWindow* s = Find(w);
    return s && !(s->style & ws::kDisabled);
}
bool SimWindowSystem::hasMenuBar(Hwnd w) {
    const SimWindow* s = Find(w);
    return s && s->menuBar;
}

Hwnd SimWindowSystem::Deepest(Hwnd w, Point p) {
    for (Hwnd c : windows_.at(w).children) {
        const SimWindow& s = windows_.at(c);
        if ((s.style & ws::kVisible) && s.rect.contains(p)) return Deepest(c, p);
    }
    return w;
}

Hwnd SimWindowSystem::windowFromPoint(Point p) {
    for (Hwnd t : topLevel) {
        const SimWindow& s = windows_.at(t);
        if ((s.style & ws::kVisible) && s.rect.contains(p)) return Deepest(t, p);
    }
    return kDesktop;
}

int SimWindowSystem::hitTest(Hwnd w, Point) {
    const SimWindow* s = Find(w);
    return s ? s->hitTest : 0;
}

std::uint32_t SimWindowSystem::systemMenuCapabilities(Hwnd w, unsigned) {
    const SimWindow* s = Find(w);
    return s ? s->capabilities : 0;
}

bool SimWindowSystem::post(Hwnd w, std::uint32_t message, std::uint64_t wParam,
                           std::int64_t lParam) {
    std::lock_guard lock(postedMutex);
    posted.push_back({w, message, wParam, lParam});
    return true;
}

bool SimWindowSystem::sendTimeout(Hwnd w, std::uint32_t message, std::uint64_t, std::int64_t,
                                  unsigned, std::int64_t* result) {
    const SimWindow* s = Find(w);
    if (!s || !s->onSend) return false;
    return s->onSend(message, result);
}

void SimWindowSystem::sleep(unsigned ms) {
    now += ms + sleepOvershootMs;
    totalSlept += ms + sleepOvershootMs;
    if (onSleep) onSleep();
}

void SimWindowSystem::setCursor(Cursor c) {
    cursor = c;
    ++cursorSets;
}

}  // namespace glidewheel::sim
