// The search for the scroll target: the class table of child scroll-bar
// controls, the walk and where it stops, bar sizes, excluded windows and the
// browser and shell rules.
#include "Fixture.h"
#include "Search.h"

namespace glidewheel::test {
namespace {

constexpr std::uint32_t kVis = ws::kVisible;

class Search : public GlidewheelTest {
  protected:
    // A pane of the frame with the pointer at (100, 100) inside it.
    Search() { pane = ws.Create("Pane", {10, 30, 410, 330}, kVis, frame); }

    ScrollTarget Find() {
        CFreeScrollMacro macro(ws, ws.windowFromPoint(ws.pointer), ws.pointer, 0);
        return macro.Run();
    }
    // A control along the pane's right edge.
    Hwnd RightBar(const std::string& cls, std::uint32_t style, Hwnd parent = 0) {
        return ws.Create(cls, {394, 30, 410, 314}, kVis | style, parent ? parent : pane);
    }
    Hwnd BottomBar(const std::string& cls, std::uint32_t style) {
        return ws.Create(cls, {10, 314, 394, 330}, kVis | style, pane);
    }
    std::vector<sim::Posted> Clicks() const {
        std::vector<sim::Posted> out;
        for (const auto& p : ws.posted) {
            if (p.message == msg::kLButtonDown || p.message == msg::kLButtonUp) out.push_back(p);
        }
        return out;
    }

    Hwnd pane = 0;
};

// --- class table ---------------------------------------------------------------

TEST_F(Search, ScrollBarControlOrientationFromItsStyle) {
    Hwnd v = RightBar("ScrollBar", sbs::kVert);
    EXPECT_EQ(Find(), (ScrollTarget{pane, v}));
    ws.Window(v).style &= ~sbs::kVert;  // a horizontal bar on the right edge is no vertical bar
    EXPECT_TRUE(Find().empty());
}

TEST_F(Search, SizeBoxOnlyMarksTheCorner) {
    ws.Create("ScrollBar", {394, 314, 410, 330}, kVis | sbs::kSizeBoxOrGrip | sbs::kVert, pane);
    EXPECT_TRUE(Find().empty());
    // With it in the corner a bar ending above it lies along the area's edge.
    Hwnd v = RightBar("ScrollBar", sbs::kVert);
    EXPECT_EQ(Find(), (ScrollTarget{pane, v}));
}

TEST_F(Search, OtherScrollBarClassesByStyleOrByName) {
    for (const char* cls : {"123WScrollBar", "LEGO.SCROLLBAR", "InDesign_ScrollBar", "NUIScrollBar",
                            "ThunderHScrollBar"}) {
        Hwnd c = RightBar(cls, sbs::kVert);
        EXPECT_EQ(Find(), (ScrollTarget{pane, c})) << cls;
        ws.Window(c).style &= ~sbs::kVert;
        EXPECT_TRUE(Find().empty()) << cls;
        ws.Destroy(c);
    }
    Hwnd thunder = RightBar("ThunderVScrollBar", 0);
    EXPECT_EQ(Find(), (ScrollTarget{pane, thunder}));
}

TEST_F(Search, WordProParentCarriesItsOwnBar) {
    Hwnd carrier =
        ws.Create("WordProScrollParentWndNT", {380, 30, 410, 330}, kVis | ws::kVScroll, pane);
    EXPECT_EQ(Find(), (ScrollTarget{carrier, carrier}));
    // Without a vertical bar its horizontal one is the pane's bottom bar.
    ws.Window(carrier).style = kVis | ws::kChild | ws::kHScroll;
    CFreeScrollMacro macro(ws, pane, ws.pointer, 0);
    EXPECT_TRUE(macro.Run().empty());
    EXPECT_EQ(macro.Info().horizontal.window, carrier);
    EXPECT_EQ(macro.Info().horizontal.kind, 0);
    ws.Window(carrier).style = kVis | ws::kChild;  // no bar: ignored
    EXPECT_TRUE(Find().empty());
}

TEST_F(Search, ChildWithBothBarsPlacesTheAreaByItsCorner) {
    Hwnd v = ws.Create("ScrollBar", {364, 30, 380, 330}, kVis | sbs::kVert, pane);
    EXPECT_TRUE(Find().empty());
    ws.Create("Scrolled", {200, 30, 380, 200}, kVis | ws::kVScroll | ws::kHScroll, pane);
    EXPECT_EQ(Find(), (ScrollTarget{pane, v}));
}

TEST_F(Search, AnyChildWithOneBarStyleIsABar) {
    Hwnd v = RightBar("Custom", ws::kVScroll);
    EXPECT_EQ(Find(), (ScrollTarget{v, v}));
    // Both styles: a scrolled pane of its own, never the pane's bar.
    ws.Window(v).style |= ws::kHScroll;
    EXPECT_TRUE(Find().empty());
}

TEST_F(Search, ControlMustLieAlongTheRightEdge) {
    ws.Create("ScrollBar", {200, 30, 216, 330}, kVis | sbs::kVert, pane);
    EXPECT_TRUE(Find().empty());
    // Within half a bar's width it is still taken.
    Hwnd near = ws.Create("ScrollBar", {386, 30, 402, 330}, kVis | sbs::kVert, pane);
    EXPECT_EQ(Find(), (ScrollTarget{pane, near}));
}

TEST_F(Search, NearerEdgeThenLongerBarWins) {
    ws.Create("ScrollBar", {388, 30, 404, 330}, kVis | sbs::kVert, pane);  // 6 off
    Hwnd shortExact = ws.Create("ScrollBar", {394, 30, 410, 100}, kVis | sbs::kVert, pane);
    EXPECT_EQ(Find(), (ScrollTarget{pane, shortExact}));
    Hwnd longExact = ws.Create("ScrollBar", {394, 100, 410, 330}, kVis | sbs::kVert, pane);
    EXPECT_EQ(Find(), (ScrollTarget{pane, longExact}));
}

TEST_F(Search, HiddenOrDisabledControlsAndTooDeepOnesAreIgnored) {
    Hwnd v = RightBar("ScrollBar", sbs::kVert | ws::kDisabled);
    EXPECT_TRUE(Find().empty());
    ws.Window(v).style = ws::kChild | sbs::kVert;  // hidden
    EXPECT_TRUE(Find().empty());
    ws.Destroy(v);
    // Three levels down is found, four is not.
    Hwnd l1 = ws.Create("Box", {10, 30, 410, 330}, kVis, pane);
    Hwnd l2 = ws.Create("Box", {10, 30, 410, 330}, kVis, l1);
    ws.Window(l1).rect = ws.Window(l2).rect = {300, 30, 410, 330};
    Hwnd at3 = RightBar("ScrollBar", sbs::kVert, l2);
    EXPECT_EQ(Find(), (ScrollTarget{l2, at3}));
    ws.Destroy(at3);
    Hwnd l3 = ws.Create("Box", {300, 30, 410, 330}, kVis, l2);
    RightBar("ScrollBar", sbs::kVert, l3);
    EXPECT_TRUE(Find().empty());
}

// A bar that ends short of the pane's right edge lies along the edge of the
// area that a corner marker places.
TEST_F(Search, StatusBarGripPlacesTheArea) {
    Hwnd v = ws.Create("ScrollBar", {364, 30, 380, 290}, kVis | sbs::kVert, pane);
    EXPECT_TRUE(Find().empty());
    Hwnd status = ws.Create("msctls_statusbar32", {10, 300, 380, 330}, kVis | 0x0100, pane);
    EXPECT_EQ(Find(), (ScrollTarget{pane, v}));
    ws.Window(status).style |= 0x0001;  // at the top: no grip at the bottom
    EXPECT_TRUE(Find().empty());
    ws.Window(status).style = ws::kChild | kVis;  // no size grip
    EXPECT_TRUE(Find().empty());
}

TEST_F(Search, ControlBarsMarkTheCorner) {
    Hwnd v = ws.Create("ScrollBar", {364, 30, 380, 290}, kVis | sbs::kVert, pane);
    for (const char* cls : {"AfxControlBar", "EXCEL8"}) {
        Hwnd marker = ws.Create(cls, {10, 290, 380, 330}, kVis, pane);
        EXPECT_EQ(Find(), (ScrollTarget{pane, v})) << cls;
        ws.Destroy(marker);
    }
}

// --- walk and its stops -----------------------------------------------------------

TEST_F(Search, WalkFindsTheOwnBarOfAParent) {
    ws.Window(pane).style |= ws::kVScroll;
    ws.Create("Inner", {20, 40, 200, 200}, kVis, pane);
    EXPECT_EQ(Find(), (ScrollTarget{pane, pane}));
}

TEST_F(Search, DisabledOrHiddenWindowEndsTheWalk) {
    ws.Window(pane).style |= ws::kVScroll;
    Hwnd inner = ws.Create("Inner", {20, 40, 200, 200}, kVis | ws::kDisabled, pane);
    EXPECT_TRUE(Find().empty());
    ws.Window(inner).style &= ~ws::kDisabled;
    ws.Window(pane).style |= ws::kDisabled;
    EXPECT_TRUE(Find().empty());
}

TEST_F(Search, DialogLabelPassesToTheSiblingUnderThePointer) {
    Hwnd group = ws.Create("Button", {20, 40, 300, 300}, kVis | 0x7, pane);  // group box
    Hwnd list = ws.Create("ListBox", {30, 60, 200, 200}, kVis | ws::kVScroll, pane);
    EXPECT_EQ(ws.windowFromPoint(ws.pointer), group);
    EXPECT_EQ(Find(), (ScrollTarget{list, list}));
    // A push button is no label: the walk goes up to the pane, which has no bar.
    ws.Window(group).style &= ~0x7u;
    EXPECT_TRUE(Find().empty());
    // A static label passes on too, into the sibling's child under the pointer.
    ws.Window(group).cls = "Static";
    ws.Destroy(list);
    Hwnd box = ws.Create("Box", {20, 40, 300, 300}, kVis, pane);
    Hwnd inner = ws.Create("ListBox", {30, 60, 200, 200}, kVis | ws::kVScroll, box);
    EXPECT_EQ(Find(), (ScrollTarget{inner, inner}));
}

TEST_F(Search, CaptionedWindowWithChildrenStopsTheWalk) {
    ws.Window(pane).style |= ws::kVScroll;
    Hwnd doc = ws.Create("MdiChild", {20, 40, 300, 300}, kVis | ws::kCaption, pane);
    ws.Create("Content", {30, 70, 290, 290}, kVis, doc);
    EXPECT_TRUE(Find().empty());
}

TEST_F(Search, DialogFrameStopsTheWalkAndBothBarsEndIt) {
    Hwnd dialog =
        ws.Create("#32770", {0, 0, 500, 500}, kVis | ws::kVScroll, 0, ws::kExDlgModalFrame);
    ws.foregroundWindow = dialog;
    ws.topLevel = {dialog, frame};
    Hwnd box = ws.Create("Box", {10, 10, 490, 490}, kVis | ws::kHScroll, dialog);
    ws.Create("Inner", {20, 20, 300, 300}, kVis, box);
    // The dialog's own bar is reached; the walk does not go beyond.
    EXPECT_EQ(Find(), (ScrollTarget{dialog, dialog}));
}

// A window that is no child but sits inside another (a dialog placed in a
// pane) keeps the walk inside it.
TEST_F(Search, ModalFrameWindowStopsTheWalk) {
    ws.Window(pane).style |= ws::kVScroll;
    Hwnd dialog = ws.Create("Embedded", {20, 40, 300, 300}, kVis, pane, ws::kExDlgModalFrame);
    ws.Window(dialog).style &= ~ws::kChild;
    ws.Create("Inner", {30, 50, 290, 290}, kVis, dialog);
    EXPECT_TRUE(Find().empty());
    ws.Window(dialog).exStyle = 0;
    EXPECT_EQ(Find(), (ScrollTarget{pane, pane}));
}

TEST_F(Search, DropDownListUsesItsOwnersFrame) {
    Hwnd drop = ws.Create("ComboLBox", {100, 100, 300, 400}, kVis | ws::kVScroll);
    ws.Window(drop).owner = frame;
    ws.topLevel = {drop, frame};
    CurWindowContext ctx(ws, drop);
    EXPECT_EQ(ctx.FrameWindow(), drop);
    EXPECT_EQ(ctx.ContextFrame(), frame);
    EXPECT_EQ(Find(), (ScrollTarget{drop, drop}));
    // An open menu belongs to the foreground window.
    Hwnd menu = ws.Create("#32768", {500, 100, 600, 300}, kVis);
    CurWindowContext menuCtx(ws, menu);
    EXPECT_TRUE(menuCtx.MenuOpen());
    EXPECT_EQ(menuCtx.FrameWindow(), frame);
}

// Each class of the owner-chain rule takes its owner's frame as the context,
// in any letter case; another owned window keeps its own.
TEST_F(Search, OwnedWindowsOfTheChainClassesUseTheirOwnersFrame) {
    for (const char* cls :
         {"AwtGenericWindowClass", "aJavaAppletWinClass", "OpusApp", "OpusMwd", "#32770",
          "awtgenericwindowclass", "AJAVAAPPLETWINCLASS", "opusapp", "OPUSMWD"}) {
        Hwnd owned = ws.Create(cls, {500, 100, 700, 400}, kVis);
        ws.Window(owned).owner = frame;
        ws.topLevel = {owned, frame};
        EXPECT_EQ(CurWindowContext(ws, owned).ContextFrame(), frame) << cls;
        ws.Destroy(owned);
    }
    Hwnd other = ws.Create("OpusAppX", {500, 100, 700, 400}, kVis);
    ws.Window(other).owner = frame;
    ws.topLevel = {other, frame};
    EXPECT_EQ(CurWindowContext(ws, other).ContextFrame(), other);
    EXPECT_TRUE(ClassIs("scrollbar", "ScrollBar"));
    EXPECT_FALSE(ClassIs("ScrollBar2", "ScrollBar"));
}

// --- bar sizes ---------------------------------------------------------------------

TEST_F(Search, OwnBarOnlyOnAWindowAtLeastABarWide) {
    Hwnd narrow = ws.Create("Strip", {100, 40, 115, 300}, kVis | ws::kVScroll, pane);
    ws.pointer = {105, 100};
    EXPECT_TRUE(Find().empty());
    ws.Window(narrow).rect.right = 116;  // exactly one bar wide
    EXPECT_EQ(Find(), (ScrollTarget{narrow, narrow}));
}

TEST_F(Search, OnlyAHorizontalBarGivesTheEmptyTarget) {
    ws.Window(pane).style |= ws::kHScroll;
    EXPECT_TRUE(Find().empty());
    BottomBar("ScrollBar", 0);
    EXPECT_TRUE(Find().empty());
}

TEST_F(Search, LeftScrollBarSitsOnTheLeftEdge) {
    ws.Window(pane).style |= ws::kVScroll;
    ws.Window(pane).exStyle |= ws::kExLeftScrollBar;
    CFreeScrollMacro macro(ws, pane, ws.pointer, 0);
    macro.Run();
    EXPECT_EQ(macro.Info().vertical.kind, 1);
    EXPECT_EQ(macro.Info().vertical.rect, (Rect{10, 30, 26, 330}));
}

// --- excluded windows and replacements ------------------------------------------------

TEST_F(Search, ExcludedClassesAndFullScreenWindows) {
    ws.Window(pane).style |= ws::kVScroll;
    ws.Window(pane).cls = "MSHTML_Origin_Class";
    EXPECT_TRUE(Find().empty());
    ws.Window(pane).cls = "msime";
    EXPECT_TRUE(Find().empty());
    ws.Window(pane).cls = "MSHTML40_Origin_Class";
    EXPECT_TRUE(Find().empty());

    Hwnd full = ws.Create("Show", {0, 0, 1000, 768}, kVis | ws::kVScroll, 0, ws::kExTopmost);
    ws.topLevel = {full, frame};
    EXPECT_EQ(Find(), (ScrollTarget{full, full}));  // narrower than the screen
    ws.Window(full).rect.right = 1024;
    EXPECT_TRUE(Find().empty());
    ws.Window(full).exStyle = 0;  // not topmost: an ordinary window
    EXPECT_EQ(Find(), (ScrollTarget{full, full}));
    ws.Window(full).exStyle = ws::kExTopmost;
    ws.Window(full).cls = "SysListView32";
    EXPECT_EQ(Find(), (ScrollTarget{full, full}));
    ws.Window(full).cls = "Show";
    Hwnd holder = ws.Create("Holder", {900, 600, 1000, 700}, kVis, full);
    ws.Create("ScrollBar", {980, 600, 996, 700}, kVis | sbs::kVert, holder);
    EXPECT_EQ(Find(), (ScrollTarget{full, full}));
}

TEST_F(Search, TooltipIsReplacedByTheWindowUnderIt) {
    ws.Window(pane).style |= ws::kVScroll;
    for (const char* cls : {"tooltips_class32", "_WwM"}) {
        Hwnd tip = ws.Create(cls, {90, 90, 200, 110}, kVis);
        ws.Window(tip).owner = frame;
        ws.topLevel = {tip, frame};
        EXPECT_EQ(Find(), (ScrollTarget{pane, pane})) << cls;
        ws.Destroy(tip);
    }
}

// The document rules see the frame under the tooltip, not the tooltip.
TEST_F(Search, TooltipOverAnOfficeFrameWithTwoDocuments) {
    ws.Window(frame).cls = "OpusApp";
    Hwnd desk = ws.Create("_WwB", {10, 30, 410, 330}, kVis, pane);
    ws.Create("_WwC", {10, 30, 410, 330}, kVis | ws::kVScroll, desk);
    ws.Create("_WwC", {500, 30, 600, 330}, kVis, desk);
    Hwnd tip = ws.Create("tooltips_class32", {90, 90, 200, 110}, kVis);
    ws.Window(tip).owner = frame;
    ws.topLevel = {tip, frame};
    EXPECT_TRUE(Find().empty());
}

TEST_F(Search, CruiseWindowAsksTheForegroundWindow) {
    ws.Window(pane).style |= ws::kVScroll;
    Hwnd cruise = ws.Create("GwTundraCruiseWindow", {90, 90, 200, 200}, kVis);
    ws.topLevel = {cruise, frame};
    ws.Window(frame).onSend = [this](std::uint32_t m, std::int64_t* r) {
        if (m != msg::kCruiseWindow) return false;
        *r = pane;
        return true;
    };
    Turn(pane);
    EXPECT_EQ(Cached(pane), (ScrollTarget{pane, pane}));
    EXPECT_EQ(Scrolls().size(), 4u);
}

TEST_F(Search, SpreadsheetWindowNeedsItsMaximizeCommand) {
    Hwnd sheet = ws.Create("EXCEL9", {10, 30, 410, 330}, kVis | ws::kThickFrame, pane);
    Hwnd v = RightBar("ScrollBar", sbs::kVert, sheet);
    ws.Window(v).rect = {390, 34, 406, 310};  // inside its sizing border
    EXPECT_TRUE(Find().empty());
    ws.Window(sheet).capabilities = cap::kMaximize | cap::kClose;
    EXPECT_EQ(Find(), (ScrollTarget{sheet, v}));
}

// --- browser and shell rules ---------------------------------------------------------

TEST_F(Search, HostedOrFolderViewBrowserPaneGetsTheFocusByAClick) {
    for (const char* host : {"AOL Frame25", "SHELLDLL_DefView"}) {
        ws.posted.clear();
        Hwnd h = ws.Create(host, {10, 30, 410, 330}, kVis, pane);
        const char* paneClass =
            host[0] == 'A' ? "Internet Explorer_Server" : "HTML_Internet Explorer";
        Hwnd ie = ws.Create(paneClass, {10, 30, 410, 330}, kVis, h);
        EXPECT_TRUE(Find().empty());
        ASSERT_EQ(Clicks().size(), 2u) << host;
        EXPECT_EQ(Clicks()[0].window, ie);
        EXPECT_EQ(Clicks()[0].wParam, 1u);
        EXPECT_EQ(Clicks()[0].lParam, 0xFFFFFFFF);
        EXPECT_EQ(Clicks()[1].message, msg::kLButtonUp);
        EXPECT_EQ(Clicks()[1].wParam, 0u);
        ws.Destroy(h);
    }
}

TEST_F(Search, PlainOrToolbarBrowserPaneGetsNothing) {
    Hwnd ie = ws.Create("Internet Explorer_Server", {10, 30, 410, 330}, kVis, pane);
    EXPECT_TRUE(Find().empty());
    ws.Destroy(ie);
    Hwnd band = ws.Create("ReBarWindow32", {10, 30, 410, 330}, kVis, pane);
    Hwnd aol = ws.Create("AOLToolbar", {10, 30, 410, 330}, kVis, band);
    ws.Create("HTML_Internet Explorer", {10, 30, 410, 330}, kVis, aol);
    EXPECT_TRUE(Find().empty());
    EXPECT_TRUE(Clicks().empty());
}

TEST_F(Search, ExplorerFrameClicksTheShellEmbeddingCentre) {
    ws.Window(frame).style = kVis;  // no caption: client = window
    ws.Destroy(pane);
    Hwnd embed = ws.Create("Shell Embedding", {0, 0, 416, 316}, kVis, frame);
    ws.Create("Internet Explorer_Server", {0, 0, 416, 316}, kVis, embed);
    for (const char* cls : {"CabinetWClass", "ExploreWClass", "ExplorerWClass"}) {
        ws.Window(frame).cls = cls;
        ws.Window(frame).menuBar = false;
        ws.posted.clear();
        EXPECT_TRUE(Find().empty());
        ASSERT_EQ(Clicks().size(), 2u) << cls;
        EXPECT_EQ(Clicks()[0].window, frame);
        EXPECT_EQ(Clicks()[0].lParam, (150 << 16) | 200);
        // With a menu bar it is no explorer frame.
        ws.posted.clear();
        ws.Window(frame).menuBar = true;
        Find();
        EXPECT_TRUE(Clicks().empty()) << cls;
    }
    // Only a first child of that class, and larger than a bar each way.
    ws.Window(frame).menuBar = false;
    ws.posted.clear();
    ws.Window(embed).cls = "Other";
    Find();
    EXPECT_TRUE(Clicks().empty());
    ws.Window(embed).cls = "Shell Embedding";
    ws.Window(embed).rect.right = 16;
    ws.pointer = {5, 100};
    Find();
    EXPECT_TRUE(Clicks().empty());
}

TEST_F(Search, OfficeFrameWithSeveralDocumentsGivesTheEmptyTarget) {
    ws.Window(frame).cls = "XLMAIN";
    Hwnd desk = ws.Create("XLDESK", {10, 30, 410, 330}, kVis, pane);
    Hwnd doc = ws.Create("_WwC", {10, 30, 410, 330}, kVis | ws::kVScroll, desk);
    EXPECT_EQ(Find(), (ScrollTarget{doc, doc}));  // one document: the search goes on
    ws.Create("_WwC", {500, 30, 600, 330}, kVis, desk);
    EXPECT_TRUE(Find().empty());
    ws.Window(frame).menuBar = true;
    EXPECT_EQ(Find(), (ScrollTarget{doc, doc}));
}

}  // namespace
}  // namespace glidewheel::test
