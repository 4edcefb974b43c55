#include "CommandIds.h"
#include "HotspotRecord.h"
#include "NavigationCallback.h"
#include "ViewerTestSupport.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Plays the container: records the references of the clicked hotspots.
struct RecordingNavigation : NavigationCallback {
    std::vector<std::string> clicked;
    bool navigateToHotspot(const ViewHotspot& h) override
    {
        clicked.push_back(h.hotspot->reference);
        return true;
    }
};

// The cursor the view set last.
HCURSOR cursorNow() { return GetCursor(); }
HCURSOR moduleCursor(int id) { return LoadCursorA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id)); }

// Shows a 100 x 100 RGB image at scale 1 in a 100 x 100 client area, so
// image, document and client coordinates agree.
struct PointerFixture {
    RecordingNavigation navigation;
    ScopedFile doc;
    ViewInWindow v;
    explicit PointerFixture(const std::vector<FixtureHotspot>& spots, int w = 100, int h = 100)
        : doc(writeRgbDocument(w, h, spots)), v(100, 100, &navigation)
    {
        v.show(doc.path());
        v.command(ID_ACTUAL_SIZE);
    }
    std::string current() const
    {
        const ViewHotspot* h = v.view->currentHotspot();
        return h ? h->hotspot->reference : "";
    }
};

TEST(TiffViewPointer, HoverEntersLeavesAndMovesBetweenHotspots)
{
    // A and B adjacent, C overlapping A's right part; edges belong to a hotspot.
    PointerFixture f({{"A", u"a", 10, 10, 20, 20}, {"B", u"", 21, 10, 40, 20}, {"C", u"c", 15, 15, 30, 30}});
    struct Step { int x, y; const char* current; } steps[] = {
        {5, 5, ""}, {20, 20, "A"}, {21, 21, "C"},   // right/bottom edge hit, then overlap entered from A
        {50, 50, ""}, {25, 12, "B"}, {16, 16, "A"},  // moving directly from B into A
        {18, 18, "A"},                               // the overlap entered from outside: first in list
        {28, 28, "C"}, {18, 18, "C"},                // the overlap entered from C's own part keeps C
        {21, 5, ""},
    };
    for (const Step& s : steps) {
        f.v.pointerAt(s.x, s.y);
        EXPECT_EQ(f.current(), s.current) << s.x << "," << s.y;
    }
}

// The tip a user sees once it appears (empty while none shows).
std::string shownTip(HWND tooltip)
{
    for (int i = 0; i < 30 && !IsWindowVisible(tooltip); ++i) {
        Sleep(50);
        pumpMessages();
    }
    if (!IsWindowVisible(tooltip))
        return "";
    char text[256] = {};
    GetWindowTextA(tooltip, text, sizeof text);
    return text;
}

// The tip always names the hotspot that a click opens: with A (first in the
// list) inside B, entering B and moving on into A keeps B current, and B's
// tip shows; moving from B straight into a neighbour shows the neighbour's.
TEST(TiffViewPointer, TheTipNamesTheCurrentHotspot)
{
    PointerFixture f({{"A", u"inner A", 20, 20, 40, 40}, {"B", u"outer B", 10, 10, 60, 60},
                      {"C", u"neighbour C", 61, 10, 90, 60}});
    HWND tooltip = f.v.view->tooltipWindow();
    struct Step { POINT at; const char* current; const char* tip; } steps[] = {
        {{15, 15}, "B", "outer B"},
        {{30, 30}, "B", "outer B"},       // into A, which lies inside B
        {{70, 30}, "C", "neighbour C"},   // straight into C
        {{30, 30}, "A", "inner A"},       // A entered from outside B: first in the list
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.tip);
        // Moves within the spot, as a resting pointer makes them.
        f.v.pointerAt(step.at.x, step.at.y);
        f.v.pointerAt(step.at.x + 1, step.at.y);
        EXPECT_EQ(f.current(), step.current);
        EXPECT_EQ(shownTip(tooltip), step.tip);
    }
    f.v.pointerAt(30, 30, WM_LBUTTONDOWN, MK_LBUTTON);
    f.v.pointerAt(30, 30, WM_LBUTTONUP);
    EXPECT_EQ(f.navigation.clicked, std::vector<std::string>{"A"});
    f.v.pointerAt(95, 95);   // no hotspot: no tip
    EXPECT_EQ(shownTip(tooltip), "");
}

TEST(TiffViewPointer, CursorFollowsModeAndHotspot)
{
    PointerFixture f({{"A", u"a", 10, 10, 40, 40}});
    f.v.pointerAt(20, 20);
    EXPECT_EQ(cursorNow(), moduleCursor(157));
    f.v.pointerAt(20, 21, WM_MOUSEMOVE, MK_LBUTTON);   // still inside: cursor not set again
    EXPECT_EQ(cursorNow(), moduleCursor(157));
    f.v.pointerAt(60, 60, WM_MOUSEMOVE, MK_LBUTTON);
    EXPECT_EQ(cursorNow(), LoadCursor(nullptr, IDC_ARROW));
    f.v.pointerAt(20, 20, WM_MOUSEMOVE, MK_LBUTTON);
    EXPECT_EQ(cursorNow(), moduleCursor(158));
    f.v.command(ID_MAGNIFIER);
    EXPECT_EQ(cursorNow(), moduleCursor(155));
    f.v.pointerAt(60, 60);
    EXPECT_EQ(cursorNow(), moduleCursor(155));
    f.v.command(ID_PAN);
    EXPECT_EQ(cursorNow(), moduleCursor(156));
    f.v.command(ID_PAN);
    EXPECT_EQ(f.v.view->mode(), TiffView::PointerMode);
    EXPECT_EQ(cursorNow(), LoadCursor(nullptr, IDC_ARROW));
}

TEST(TiffViewPointer, ReleaseOverTheCurrentHotspotNavigates)
{
    struct Case {
        int command;          // mode to be in, 0 for pointer mode
        POINT down, up;
        bool doubleClick;
        std::vector<std::string> expected;
    } cases[] = {
        {0, {60, 60}, {20, 20}, false, {"A"}},          // pressed outside, released on it
        {0, {20, 20}, {60, 60}, false, {}},             // pressed on it, released outside
        {0, {20, 20}, {20, 20}, true, {"A", "A", "A"}}, // release, double-click, release
        {ID_PAN, {20, 20}, {20, 20}, true, {"A"}},      // only the double-click
        {0, {60, 60}, {60, 60}, true, {}},              // empty area
    };
    for (const Case& c : cases) {
        PointerFixture f({{"A", u"a", 10, 10, 40, 40}});
        if (c.command)
            f.v.command(c.command);
        f.v.pointerAt(c.down.x, c.down.y);
        f.v.pointerAt(c.down.x, c.down.y, WM_LBUTTONDOWN, MK_LBUTTON);
        f.v.pointerAt(c.up.x, c.up.y, WM_MOUSEMOVE, MK_LBUTTON);
        f.v.pointerAt(c.up.x, c.up.y, WM_LBUTTONUP);
        if (c.doubleClick) {
            f.v.pointerAt(c.up.x, c.up.y, WM_LBUTTONDBLCLK, MK_LBUTTON);
            f.v.pointerAt(c.up.x, c.up.y, WM_LBUTTONUP);
        }
        EXPECT_EQ(f.navigation.clicked, c.expected) << "case " << (&c - cases);
    }
}

// ShowCursor's display count, read without changing it.
int cursorCount()
{
    ShowCursor(TRUE);
    return ShowCursor(FALSE);
}

TEST(TiffViewPointer, MagnifierDragHidesThePointerAndLeavesNoTrace)
{
    ScopedFile doc(writeRgbDocument(400, 300));
    ViewInWindow v(400, 300);
    v.show(doc.path());
    v.command(ID_ACTUAL_SIZE);
    v.command(ID_MAGNIFIER);
    const Capture before = v.capture();
    const int count = cursorCount();

    v.pointerAt(150, 120);
    v.pointerAt(150, 120, WM_LBUTTONDOWN, MK_LBUTTON);
    EXPECT_TRUE(v.view->lensActive());
    EXPECT_EQ(GetCapture(), v.view->hwnd());
    EXPECT_EQ(cursorCount(), count - 1);
    const Capture first = v.capture();
    // The lens (238 x 171, pointer at 116, 80 inside) covers (34, 40)-(272, 211).
    EXPECT_GT(first.differences(before, {34, 40, 272, 211}), 20000);
    EXPECT_EQ(first.differences(before, {0, 0, 30, 300}), 0);
    EXPECT_EQ(first.differences(before, {280, 0, 400, 300}), 0);
    // At scale 1 the lens shows the screen at twice the size: the pixel under
    // the pointer fills a 2 x 2 block near the lens's hot point.
    const unsigned centre = rgbPattern(150, 120);
    int centreBlock = 0;
    for (int y = 116; y < 126; ++y)
        for (int x = 146; x < 156; ++x)
            centreBlock += first.at(x, y) == centre;
    EXPECT_GE(centreBlock, 4);

    v.pointerAt(250, 200, WM_MOUSEMOVE, MK_LBUTTON);
    const Capture moved = v.capture();
    // Where only the first lens was, the picture is back as it was.
    EXPECT_EQ(moved.differences(before, {34, 40, 134, 120}), 0);
    EXPECT_GT(moved.differences(before, {134, 120, 372, 291}), 20000);

    // Capture lost (another window takes the mouse) ends the drag like a release.
    TestHostWindow other(10, 10);
    SetCapture(other.hwnd());
    pumpMessages();
    EXPECT_FALSE(v.view->lensActive());
    EXPECT_EQ(cursorCount(), count);
    ReleaseCapture();
    EXPECT_EQ(v.capture().differences(before, {0, 0, 400, 300}), 0);

    // A drag ended by the button: no lens, pointer shown, the count balanced.
    v.pointerAt(100, 100, WM_LBUTTONDOWN, MK_LBUTTON);
    v.pointerAt(120, 110, WM_MOUSEMOVE, MK_LBUTTON);
    v.pointerAt(120, 110, WM_LBUTTONUP);
    EXPECT_FALSE(v.view->lensActive());
    EXPECT_EQ(cursorCount(), count);
    EXPECT_EQ(v.capture().differences(before, {0, 0, 400, 300}), 0);
}

TEST(TiffViewPointer, LensBelowScaleOneShowsTheImageAndGreyBeyondIt)
{
    // 1600 x 1200 at fit into 400 x 300: scale 0.25; the lens samples the
    // image at 0.5 around the pointer, grey where it reaches past the edges.
    ScopedFile doc(writeRgbDocument(1600, 1200));
    ViewInWindow v(400, 300);
    v.show(doc.path());
    ASSERT_DOUBLE_EQ(v.view->scale(), 0.25);
    v.command(ID_MAGNIFIER);
    v.pointerAt(2, 2);
    v.pointerAt(2, 2, WM_LBUTTONDOWN, MK_LBUTTON);
    const Capture c = v.capture();
    // The lens spans image (-230, -163) to (246, 179) at twice 0.25; its part
    // left of and above the image is grey. Client (12, 12) is lens pixel
    // (126, 92), which shows image (22, 17).
    auto alike = [](unsigned a, unsigned b) {
        for (int shift = 0; shift < 24; shift += 8)
            if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > 2)
                return false;
        return true;
    };
    EXPECT_PRED2(alike, c.at(12, 12), rgbPattern(22, 17));
    EXPECT_EQ(c.at(0, 20), kLightGrey);   // left of the image's edge, inside the lens
    v.pointerAt(2, 2, WM_LBUTTONUP);
}

TEST(TiffViewPointer, PanMovesTheScrollPositionsWithThePointerWithinTheRange)
{
    {
        PointerFixture whole({}, 50, 50);   // the whole image visible: no drag
        whole.v.command(ID_PAN);
        whole.v.pointerAt(30, 30, WM_LBUTTONDOWN, MK_LBUTTON);
        EXPECT_FALSE(whole.v.view->panning());
        EXPECT_NE(GetCapture(), whole.v.view->hwnd());
    }
    ScopedFile doc(writeRgbDocument(2000, 1500));
    ViewInWindow v(500, 400);
    v.show(doc.path());
    v.command(ID_ACTUAL_SIZE);
    v.command(ID_PAN);
    v.pointerAt(200, 200, WM_LBUTTONDOWN, MK_LBUTTON);
    EXPECT_TRUE(v.view->panning());
    v.pointerAt(170, 180, WM_MOUSEMOVE, MK_LBUTTON);
    EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_HORZ), 30);
    EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_VERT), 20);
    EXPECT_EQ(v.capture().at(0, 0), rgbPattern(30, 20));
    v.pointerAt(400, 350, WM_MOUSEMOVE, MK_LBUTTON);   // far right and down: clamped at 0
    EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_HORZ), 0);
    EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_VERT), 0);
    v.pointerAt(400, 350, WM_LBUTTONUP);
    for (int i = 0; i < 5; ++i) {   // drag far left and up: clamped at nMax - nPage
        v.pointerAt(490, 390, WM_LBUTTONDOWN, MK_LBUTTON);
        v.pointerAt(0, 0, WM_MOUSEMOVE, MK_LBUTTON);
        v.pointerAt(0, 0, WM_LBUTTONUP);
    }
    EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_HORZ), 1500);
    EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_VERT), 1100);
    v.pointerAt(10, 10, WM_LBUTTONDOWN, MK_LBUTTON);
    v.pointerAt(0, 0, WM_LBUTTONUP);
    EXPECT_FALSE(v.view->panning());
}

TEST(TiffViewPointer, TooltipToolsFollowScrollingAndCommandsHideTheTip)
{
    ScopedFile doc(writeRgbDocument(2000, 1500, {{"A", u"alpha", 100, 100, 200, 150}}));
    ViewInWindow v(500, 400);
    v.show(doc.path());
    v.command(ID_ACTUAL_SIZE);
    // The view's one tool.
    auto toolRect = [&] {
        TOOLINFOA tool = {};
        tool.cbSize = 44;
        SendMessageA(v.view->tooltipWindow(), TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool));
        return tool.rect;
    };
    RECT r = toolRect();
    EXPECT_TRUE(IsRectEmpty(&r)) << "no hotspot under the pointer yet";
    v.pointerAt(150, 120);
    r = toolRect();
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 100);
    EXPECT_EQ(r.right, 201);   // edges included
    EXPECT_EQ(r.bottom, 151);
    SendMessageA(v.view->hwnd(), WM_HSCROLL, SB_LINERIGHT, 0);
    SendMessageA(v.view->hwnd(), WM_VSCROLL, SB_LINEDOWN, 0);
    r = toolRect();
    EXPECT_EQ(r.left, 95);
    EXPECT_EQ(r.top, 95);
    SendMessageA(v.view->hwnd(), WM_VSCROLL, SB_PAGEDOWN, 0);   // scrolled out of the window
    r = toolRect();
    EXPECT_TRUE(IsRectEmpty(&r));

    // Rest on the hotspot: the tip shows after its delay; a command hides it.
    SendMessageA(v.view->hwnd(), WM_VSCROLL, SB_PAGEUP, 0);
    SendMessageA(v.view->hwnd(), WM_VSCROLL, SB_LINEUP, 0);
    SendMessageA(v.view->hwnd(), WM_HSCROLL, SB_LINELEFT, 0);
    v.pointerAt(150, 120);
    for (int i = 0; i < 20 && !IsWindowVisible(v.view->tooltipWindow()); ++i) {
        Sleep(100);
        pumpMessages();
    }
    EXPECT_TRUE(IsWindowVisible(v.view->tooltipWindow()));
    v.command(ID_ZOOM_IN);
    EXPECT_FALSE(IsWindowVisible(v.view->tooltipWindow()));
}

} // namespace
