#include "CommandIds.h"
#include "DialogWatcher.h"
#include "DibView.h"
#include "HotspotRecord.h"
#include "ResourceCounters.h"
#include "ViewerTestSupport.h"

#include <gtest/gtest.h>

#include <set>

#include <commctrl.h>
#include <tiffio.h>

namespace {

constexpr unsigned kRed = 0xFF0000;

// The palette reduction's temporary files: "<number><counter>.tif" and the
// same with "1" appended, all digits before the extension (other programs'
// files in the shared temporary directory are not the view's).
std::vector<std::string> reductionFiles()
{
    std::vector<std::string> found;
    for (const char* pattern : {"*.tif", "*.tif1"})
        for (const std::string& name : listTempFiles(pattern))
            if (name.find_first_not_of("0123456789") == name.find('.'))
                found.push_back(name);
    return found;
}

TEST(TiffViewWindow, EmptyViewIsLightGrey)
{
    ViewInWindow v(120, 80);
    Capture c = v.capture();
    ASSERT_EQ(c.width, 120);
    ASSERT_EQ(c.height, 80);
    EXPECT_EQ(c.differences(Capture{c.width, c.height, std::vector<unsigned>(c.pixels.size(), kLightGrey)},
                            {0, 0, 120, 80}),
              0);
}

TEST(TiffViewWindow, InitialFitCentresTheImageWithoutScrollBars)
{
    struct Case { int w, h; int fw, fh; RECT image; } cases[] = {
        {1000, 500, 400, 200, {0, 100, 400, 300}},
        {500, 1000, 200, 400, {100, 0, 300, 400}},
    };
    for (const Case& k : cases) {
        ScopedFile doc(writeRgbDocument(k.w, k.h));
        ViewInWindow v(400, 400);
        v.show(doc.path());
        EXPECT_EQ(v.view->scaledWidth(), k.fw);
        EXPECT_EQ(v.view->scaledHeight(), k.fh);
        EXPECT_DOUBLE_EQ(v.view->scale(), 0.4);
        EXPECT_DOUBLE_EQ(v.view->minScale(), 100.0 / k.w);
        EXPECT_DOUBLE_EQ(v.view->maxScale(), 3.0);
        EXPECT_FALSE(GetWindowLongA(v.view->hwnd(), GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL));
        Capture c = v.capture();
        const RECT& r = k.image;
        EXPECT_EQ(c.at(r.left == 0 ? 200 : r.left - 1, r.top == 0 ? 200 : r.top - 1), kLightGrey);
        EXPECT_NE(c.at(r.left, r.top), kLightGrey);
        EXPECT_NE(c.at(r.right - 1, r.bottom - 1), kLightGrey);
        EXPECT_EQ(c.at(r.right == 400 ? 200 : r.right, r.bottom == 400 ? 200 : r.bottom), kLightGrey);
    }
}

TEST(TiffViewWindow, ActualSizeDrawsExactPixelsBetweenGreyMargins)
{
    ScopedFile doc(writeRgbDocument(200, 100));
    ViewInWindow v(400, 300);
    v.show(doc.path());
    v.command(ID_ACTUAL_SIZE);
    Capture c = v.capture();
    int wrong = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x) {
            const bool inside = x >= 100 && x < 300 && y >= 100 && y < 200;
            wrong += c.at(x, y) != (inside ? rgbPattern(x - 100, y - 100) : kLightGrey);
        }
    EXPECT_EQ(wrong, 0);
}

TEST(TiffViewWindow, ZoomCommandsStepAndStopAtTheLimits)
{
    ScopedFile doc(writeRgbDocument(200, 100));
    ViewInWindow v(400, 300);
    v.show(doc.path());
    v.command(ID_ACTUAL_SIZE);
    for (double expected : {1.05, 1.15, 1.25}) {
        v.command(ID_ZOOM_IN);
        EXPECT_NEAR(v.view->scale(), expected, 1e-9);
    }
    EXPECT_EQ(v.view->scaledWidth(), 250);
    for (int i = 0; i < 40; ++i)
        v.command(ID_ZOOM_IN);
    EXPECT_DOUBLE_EQ(v.view->scale(), 3.0);
    EXPECT_EQ(v.view->scaledWidth(), 600);
    for (int i = 0; i < 40; ++i)
        v.command(ID_ZOOM_OUT);
    EXPECT_DOUBLE_EQ(v.view->scale(), 0.5);   // minScale: 100 pixels of width

    ScopedFile narrow(writeRgbDocument(50, 40));
    ViewInWindow n(400, 300);
    n.show(narrow.path());
    EXPECT_DOUBLE_EQ(n.view->minScale(), 2.0);
}

struct BarState {
    bool visible;
    int max;
    unsigned page;
};
BarState bar(HWND window, int which)
{
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(window, which, &info);
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    return {(style & (which == SB_VERT ? WS_VSCROLL : WS_HSCROLL)) != 0, info.nMax, info.nPage};
}

TEST(TiffViewWindow, FitsAndActualSizeSetScaleAndScrollBars)
{
    {
        ScopedFile doc(writeRgbDocument(1000, 2000));
        ViewInWindow v(500, 400);
        v.show(doc.path());
        v.command(ID_FIT_WIDTH);
        EXPECT_DOUBLE_EQ(v.view->scale(), 0.48);
        EXPECT_EQ(v.view->scaledWidth(), 480);
        EXPECT_EQ(v.view->scaledHeight(), 960);
        EXPECT_DOUBLE_EQ(v.view->maxScale(), 3.0);
        BarState b = bar(v.view->hwnd(), SB_VERT);
        EXPECT_TRUE(b.visible);
        EXPECT_EQ(b.max, 960);
        EXPECT_EQ(b.page, 400u);
        EXPECT_FALSE(bar(v.view->hwnd(), SB_HORZ).visible);
    }
    {
        ScopedFile doc(writeRgbDocument(100, 50));
        ViewInWindow v(900, 400);
        v.show(doc.path());
        v.command(ID_FIT_HEIGHT);
        EXPECT_DOUBLE_EQ(v.view->scale(), 8.0);
        EXPECT_DOUBLE_EQ(v.view->maxScale(), 8.0);
        v.command(ID_ZOOM_IN);
        EXPECT_DOUBLE_EQ(v.view->scale(), 8.0);
        v.command(ID_ZOOM_OUT);
        EXPECT_NEAR(v.view->scale(), 7.9, 1e-9);
        ViewInWindow narrow(600, 400);
        narrow.show(doc.path());
        narrow.command(ID_FIT_HEIGHT);
        EXPECT_DOUBLE_EQ(narrow.view->scale(), 7.6);
        EXPECT_EQ(narrow.view->scaledWidth(), 760);
        EXPECT_EQ(narrow.view->scaledHeight(), 380);
    }
    {
        ScopedFile doc(writeRgbDocument(2000, 1500));
        ViewInWindow v(500, 400);
        v.show(doc.path());
        v.command(ID_ACTUAL_SIZE);
        BarState h = bar(v.view->hwnd(), SB_HORZ), b = bar(v.view->hwnd(), SB_VERT);
        EXPECT_TRUE(h.visible);
        EXPECT_TRUE(b.visible);
        EXPECT_EQ(h.max, 2000);
        EXPECT_EQ(b.max, 1500);
        // Resizing keeps the scale; scrolling by a line moves 5 pixels, and so
        // does the request to go to the bottom.
        SendMessageA(v.view->hwnd(), WM_VSCROLL, SB_LINEDOWN, 0);
        SendMessageA(v.view->hwnd(), WM_VSCROLL, SB_BOTTOM, 0);
        EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_VERT), 10);
        SendMessageA(v.view->hwnd(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 700), 0);
        EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_HORZ), 700);
        Capture c = v.capture();
        EXPECT_EQ(c.at(0, 0), rgbPattern(700, 10));
        EXPECT_EQ(c.at(100, 50), rgbPattern(800, 60));
        // Fit window after 1:1 fills the window as if no bars had been shown.
        v.command(ID_FIT_WINDOW);
        EXPECT_EQ(v.view->scaledWidth(), 500);
        EXPECT_EQ(v.view->scaledHeight(), 375);
        EXPECT_FALSE(bar(v.view->hwnd(), SB_HORZ).visible);
    }
}

TEST(TiffViewWindow, HotspotsKeepStreamOrderSkipEmptyReferencesAndConvertTips)
{
    std::vector<FixtureHotspot> spots = {
        {"b", u"second \u4E2D", 100, 0, 200, 100},
        {"", u"no reference", 0, 0, 10, 10},
        {"a", u"", 50, 25, 150, 75},
        {"c", u"outside", -20, 0, 220, 100},
    };
    ScopedFile doc(writeRgbDocument(200, 100, spots));
    ViewInWindow v(400, 300);
    v.show(doc.path());
    const auto& shown = v.view->hotspots();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0]->hotspot->reference, "b");
    EXPECT_EQ(shown[1]->hotspot->reference, "a");
    EXPECT_EQ(shown[2]->hotspot->reference, "c");
    EXPECT_DOUBLE_EQ(shown[1]->leftFraction, 0.25);
    EXPECT_DOUBLE_EQ(shown[1]->rightFraction, 0.75);
    EXPECT_DOUBLE_EQ(shown[2]->leftFraction, -0.1);
    EXPECT_DOUBLE_EQ(shown[2]->rightFraction, 1.1);
    EXPECT_EQ(shown[0]->tipText, "second _");
    // Initial fit 400 x 200 at rows 50..249: the pixel rectangle follows.
    EXPECT_EQ(shown[1]->pixelLeft, 100);
    EXPECT_EQ(shown[1]->pixelRight, 300);
    EXPECT_EQ(shown[1]->pixelTop, 100);
    // One tooltip tool, whatever the number of hotspots; it carries the
    // text of the hotspot under the pointer, none for one without text.
    EXPECT_EQ(SendMessageA(v.view->tooltipWindow(), TTM_GETTOOLCOUNT, 0, 0), 1);
    v.pointerAt(200, 150);   // image (100, 50): "b" is first in the list there
    EXPECT_EQ(v.view->tipHotspot(), shown[0].get());
    v.pointerAt(150, 150);   // image (75, 50): only "a", which has no tip text
    EXPECT_EQ(v.view->currentHotspot(), shown[1].get());
    EXPECT_EQ(v.view->tipHotspot(), nullptr);

    // A second document is fitted afresh; the tool stays the only one.
    ScopedFile other(writeRgbDocument(100, 100, {{"x", u"tip", 0, 0, 50, 50}}));
    v.show(other.path());
    EXPECT_EQ(v.view->scaledWidth(), 300);
    EXPECT_EQ(v.view->tipHotspot(), nullptr);
    EXPECT_EQ(SendMessageA(v.view->tooltipWindow(), TTM_GETTOOLCOUNT, 0, 0), 1);
}

TEST(TiffViewWindow, OutlineFollowsThePointerOnlyInPointerMode)
{
    ScopedSettings ini("[Appearance]\r\nFRAMEWIDTH=3\r\nFRAMECOLOR=255,0,0\r\n");
    ScopedFile doc(writeRgbDocument(200, 100, {{"a", u"tip", 20, 20, 80, 60}}));
    ViewInWindow v(400, 300);
    v.show(doc.path());
    v.command(ID_ACTUAL_SIZE);
    Capture before = v.capture();
    v.pointerAt(150, 140);   // image (50, 40): inside the hotspot
    ASSERT_NE(v.view->currentHotspot(), nullptr);
    Capture outlined = v.capture();
    // The rectangle (120, 120)-(180, 160), pen 3 centred on its edges.
    EXPECT_EQ(outlined.at(120, 140), kRed);
    EXPECT_EQ(outlined.at(150, 120), kRed);
    EXPECT_EQ(outlined.at(178, 140), kRed);
    EXPECT_EQ(outlined.at(150, 140), rgbPattern(50, 40));   // inside stays the image
    EXPECT_EQ(outlined.differences(before, {0, 0, 400, 300}) > 0, true);
    EXPECT_EQ(outlined.differences(before, {0, 0, 110, 300}), 0);   // nothing changed away from it

    v.pointerAt(250, 180);   // out again: a normal paint removes the outline
    EXPECT_EQ(v.view->currentHotspot(), nullptr);
    EXPECT_EQ(v.capture().differences(before, {0, 0, 400, 300}), 0);

    v.command(ID_MAGNIFIER);
    v.pointerAt(150, 140);
    EXPECT_NE(v.view->currentHotspot(), nullptr);
    EXPECT_EQ(v.capture().differences(before, {0, 0, 400, 300}), 0);
}

TEST(TiffViewWindow, NoOutlineWhenTheFrameWidthIsZero)
{
    ScopedSettings ini("[Appearance]\r\nFRAMEWIDTH=0\r\nFRAMECOLOR=255,0,0\r\n");
    ScopedFile doc(writeRgbDocument(200, 100, {{"a", u"tip", 20, 20, 80, 60}}));
    ViewInWindow v(400, 300);
    v.show(doc.path());
    v.command(ID_ACTUAL_SIZE);
    Capture before = v.capture();
    v.pointerAt(150, 140);
    EXPECT_NE(v.view->currentHotspot(), nullptr);
    EXPECT_EQ(v.capture().differences(before, {0, 0, 400, 300}), 0);
}

TEST(TiffViewWindow, PaletteScreensGetAtMost224ColoursAndKeepSmallDepths)
{
    ScopedFile doc(writeRgbDocument(64, 48));
    ViewInWindow v(200, 150);
    v.view->setDisplayBitsPerPixel(8);
    v.show(doc.path());
    DibView reduced(v.view->image());
    EXPECT_EQ(reduced.header.biBitCount, 8);
    std::set<unsigned> used;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            used.insert(reduced.paletteRgb(reduced.byteAt(y, size_t(x))));
    EXPECT_LE(used.size(), 224u);
    EXPECT_GT(used.size(), 50u);
    EXPECT_NE(v.view->palette(), nullptr);
    EXPECT_TRUE(reductionFiles().empty());

    ScopedFile bilevel(writeBilevelDocument(64, 48, [](int x, int) { return x % 2 == 0; }));
    v.show(bilevel.path());
    EXPECT_EQ(DibView(v.view->image()).header.biBitCount, 1);
    EXPECT_NE(v.view->palette(), nullptr);

    ViewInWindow trueColour(200, 150);
    trueColour.view->setDisplayBitsPerPixel(32);
    trueColour.show(doc.path());
    EXPECT_EQ(DibView(trueColour.view->image()).header.biBitCount, 24);
    EXPECT_EQ(trueColour.view->palette(), nullptr);
}

bool gridLines(int x, int y) { return x % 400 < 3 || y % 400 < 3; }

TEST(TiffViewWindow, HugeBilevelDrawingShowsItsLinesAtEveryZoom)
{
    // A0 at 400 dpi with lines 3 pixels wide every 400 pixels.
    ScopedFile doc(writeBilevelDocument(13245, 18720, gridLines));
    ViewInWindow v(600, 848);
    v.show(doc.path());
    Capture c = v.capture();
    std::set<unsigned> colours(c.pixels.begin(), c.pixels.end());
    EXPECT_TRUE(colours.count(0x000000)) << "no black line survived";
    EXPECT_TRUE(colours.count(0xFFFFFF));
    // Every grid column line crosses the middle row.
    int blackInRow = 0;
    for (int x = 0; x < c.width; ++x)
        blackInRow += c.at(x, c.height / 2 + 7) == 0;
    EXPECT_GE(blackInRow, 30);

    // At 1:1 and at the largest zoom the lines keep their width.
    v.command(ID_ACTUAL_SIZE);
    Capture one = v.capture();
    EXPECT_EQ(one.at(2, 100), 0u);
    EXPECT_EQ(one.at(3, 100), 0xFFFFFFu);
    EXPECT_EQ(one.at(100, 401), 0u);
    for (int i = 0; i < 30; ++i)
        v.command(ID_ZOOM_IN);
    ASSERT_DOUBLE_EQ(v.view->scale(), 3.0);
    Capture zoomed = v.capture();
    EXPECT_EQ(zoomed.at(8, 100), 0u);
    EXPECT_EQ(zoomed.at(9, 100), 0xFFFFFFu);
}

TEST(TiffViewWindow, AViewCreatedAgainInANewWindowLeaksNothing)
{
    // The control destroys its window and later creates the same view again.
    ScopedFile doc(writeRgbDocument(120, 90, {{"a", u"tip", 1, 1, 50, 50}}));
    ViewInWindow v(200, 150);
    v.show(doc.path());
    auto recreate = [&] {
        DestroyWindow(v.view->hwnd());
        RECT r = {0, 0, 202, 152};
        v.view->create(v.host->hwnd(), r);
        v.capture();
    };
    recreate();
    const DWORD gdi = gdiObjects(), windows = userWindows();
    for (int i = 0; i < 20; ++i)
        recreate();
    EXPECT_EQ(gdiObjects(), gdi);
    EXPECT_EQ(userWindows(), windows);
    // The new tooltip control has its tool again, and it follows the pointer.
    EXPECT_EQ(SendMessageA(v.view->tooltipWindow(), TTM_GETTOOLCOUNT, 0, 0), 1);
    v.pointerAt(20, 20);
    EXPECT_EQ(v.view->tipHotspot(), v.view->hotspots()[0].get());
}

bool lineAt405(int x, int) { return x == 405; }

TEST(TiffViewWindow, ThinLinesSurviveShrinkingWhereTheyAre)
{
    // One black column of an 800 x 800 drawing, shrunk 8 and 2 times.
    ScopedFile doc(writeBilevelDocument(800, 800, lineAt405));
    struct Case { int size, column; } cases[] = {{100, 50}, {400, 202}};
    for (const Case& k : cases) {
        ViewInWindow v(k.size, k.size);
        v.show(doc.path());
        Capture c = v.capture();
        std::vector<int> black;
        for (int x = 0; x < k.size; ++x)
            if (c.at(x, k.size / 2) == 0)
                black.push_back(x);
        ASSERT_EQ(black.size(), 1u) << k.size;
        EXPECT_NEAR(black[0], k.column, 1) << k.size;
    }
}

TEST(TiffViewWindow, ZeroSizedClientAreaDrawsNothingAndFitsLater)
{
    ScopedFile doc(writeRgbDocument(100, 50));
    ViewInWindow v(0, 0);
    v.show(doc.path());
    EXPECT_EQ(v.view->scaledWidth(), 0);
    SetWindowPos(v.view->hwnd(), nullptr, 0, 0, 202, 102, SWP_NOZORDER);
    v.capture();
    EXPECT_EQ(v.view->scaledWidth(), 200);
}

int countColour(const Capture& c, unsigned colour)
{
    int n = 0;
    for (unsigned pixel : c.pixels)
        n += pixel == colour;
    return n;
}

unsigned solidRed(int, int) { return kRed; }

// One image column or row of 65535 pixels: visible at open, after every fit
// and over the whole range of zooms that the limits allow.
TEST(TiffViewWindow, ThinImagesAreVisibleAtEveryFitAndZoom)
{
    struct Case { int w, h; } cases[] = {{1, 65535}, {65535, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.w << "x" << k.h);
        ScopedFile doc(writeRgbDocument(k.w, k.h, {}, solidRed));
        ViewInWindow v(400, 300);
        v.show(doc.path());
        auto visible = [&](const char* when) {
            EXPECT_GT(v.view->scaledWidth(), 0) << when;
            EXPECT_GT(v.view->scaledHeight(), 0) << when;
            EXPECT_GT(countColour(v.capture(), kRed), 0) << when;
        };
        visible("at open");
        EXPECT_GT(countColour(v.capture(), kRed), 290) << "the long side fills the window";
        const struct { int command; const char* name; } steps[] = {
            {ID_FIT_WIDTH, "fit width"}, {ID_FIT_HEIGHT, "fit height"}, {ID_ACTUAL_SIZE, "1:1"},
            {ID_FIT_WINDOW, "fit window"}, {ID_ZOOM_OUT, "zoom out"}, {ID_ZOOM_OUT, "zoom out"},
        };
        for (const auto& step : steps) {
            v.command(step.command);
            visible(step.name);
        }
        for (int i = 0; i < 80 && v.view->scale() < v.view->maxScale(); ++i) {
            v.command(ID_ZOOM_IN);
            if (i % 10 == 0)
                visible("zooming in");
        }
        visible("the largest zoom");
    }
}

// A command that reaches a view before its first paint works from the new
// document, never from the scale and limits of the one before.
TEST(TiffViewWindow, CommandsBeforeTheFirstFitIgnoreTheEarlierDocument)
{
    ScopedFile first(writeRgbDocument(200, 100)), second(writeRgbDocument(100, 50));
    ViewInWindow v(400, 300);
    v.show(first.path());   // scale 2.0, limits 0.5 and 3.0
    for (int i = 0; i < 5; ++i)
        v.command(ID_ZOOM_IN);
    ASSERT_DOUBLE_EQ(v.view->scale(), 2.5);
    SetWindowPos(v.view->hwnd(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOZORDER);   // no room to fit
    v.show(second.path());
    v.command(ID_ZOOM_IN);
    EXPECT_EQ(v.view->scaledWidth(), 0) << "zoomed from the earlier document's scale";
    SetWindowPos(v.view->hwnd(), nullptr, 0, 0, 402, 302, SWP_NOMOVE | SWP_NOZORDER);
    v.capture();
    EXPECT_EQ(v.view->scaledWidth(), 400);
    EXPECT_DOUBLE_EQ(v.view->scale(), 4.0);
    EXPECT_DOUBLE_EQ(v.view->minScale(), 1.0);
}

// After a fit or a zoom out that needs no scroll bars, the view shows the
// image from its first row and column, and the pointer meets the hotspots
// where they are drawn.
TEST(TiffViewWindow, HiddenScrollBarsAreAtTheStart)
{
    // A 2000 x 1500 image, a hotspot over its first four columns: at the
    // fit into 500 x 400 (scale 0.25, rows 12 to 386) that is client column 0.
    ScopedFile doc(writeRgbDocument(2000, 1500, {{"edge", u"", 0, 0, 4, 1500}}));
    for (const int command : {int(ID_FIT_WINDOW), int(ID_ZOOM_OUT)}) {
        SCOPED_TRACE(command);
        ViewInWindow v(500, 400);
        v.show(doc.path());
        v.command(ID_ACTUAL_SIZE);
        SendMessageA(v.view->hwnd(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 700), 0);
        SendMessageA(v.view->hwnd(), WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 300), 0);
        if (command == ID_FIT_WINDOW) {
            v.command(ID_FIT_WINDOW);
        } else {
            for (int i = 0; i < 20; ++i)   // 1.0 down to the limit 0.05: no bar needed from 0.25 on
                v.command(ID_ZOOM_OUT);
        }
        const LONG style = GetWindowLongA(v.view->hwnd(), GWL_STYLE);
        ASSERT_FALSE(style & (WS_HSCROLL | WS_VSCROLL));
        EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_HORZ), 0);
        EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_VERT), 0);
        const RECT r = v.view->centreImageRect(RECT{0, 0, 500, 400});
        const Capture c = v.capture();
        EXPECT_EQ(c.at(r.left, r.top), rgbPattern(0, 0)) << "the first column and row show";
        EXPECT_NE(c.at(r.right - 1, r.top), kLightGrey) << "no grey strip at the far side";
        EXPECT_NE(c.at(r.right - 1, r.bottom - 1), kLightGrey);
        v.pointerAt(r.left, (r.top + r.bottom) / 2);
        ASSERT_NE(v.view->currentHotspot(), nullptr);
        EXPECT_EQ(v.view->currentHotspot()->hotspot->reference, "edge");
    }
}

// Hotspot edges near 2^31 image pixels: times the zoom they lie far beyond
// the 32-bit range; the hotspot still answers where it is.
TEST(TiffViewWindow, HotspotsWithEdgesNearTheIntegerLimitKeepAnswering)
{
    const int32_t max = INT32_MAX;
    ScopedFile doc(writeRgbDocument(100, 100, {{"all", u"all of it", 0, 0, max, max},
                                               {"beyond", u"beyond", max - 1000, 0, max, 100}}));
    ViewInWindow v(300, 300);
    v.show(doc.path());   // scale 3.0
    ASSERT_DOUBLE_EQ(v.view->scale(), 3.0);
    for (const POINT p : {POINT{150, 150}, POINT{2, 298}, POINT{299, 0}}) {
        v.pointerAt(-5, -5);   // outside both: the next point is entered afresh
        EXPECT_EQ(v.view->currentHotspot(), nullptr);
        v.pointerAt(p.x, p.y);
        ASSERT_NE(v.view->currentHotspot(), nullptr) << p.x << "," << p.y;
        EXPECT_EQ(v.view->currentHotspot()->hotspot->reference, "all");
        EXPECT_EQ(v.view->tipHotspot(), v.view->currentHotspot());
        const RECT tool = v.view->hotspotClientRect(*v.view->currentHotspot());
        EXPECT_TRUE(PtInRect(&tool, p)) << "the tip's rectangle holds the pointer";
    }
    const ViewHotspot& all = *v.view->hotspots()[0];
    EXPECT_EQ(all.pixelRight, max);
    EXPECT_EQ(all.pixelBottom, max);
    EXPECT_EQ(v.view->hotspots()[1]->pixelLeft, max) << "never wraps round to the left";
}

// Ten thousand hotspots: one tooltip tool, and the pointer finds the same
// hotspot as a search of the whole list would.
TEST(TiffViewWindow, ManyHotspotsShareOneTipToolAndAreFoundAsInTheList)
{
    std::vector<FixtureHotspot> spots;
    for (int i = 0; i < 10000; ++i) {
        const int x = (i * 37) % 980, y = (i * 53) % 490;
        spots.push_back({std::to_string(i), u"tip " + std::u16string(1, char16_t(u'a' + i % 26)), x, y,
                         x + 5 + i % 40, y + 3 + i % 20});
    }
    ScopedFile doc(writeRgbDocument(1000, 500, spots));
    ViewInWindow v(400, 300);
    v.show(doc.path());
    ASSERT_EQ(v.view->hotspots().size(), 10000u);
    EXPECT_EQ(SendMessageA(v.view->tooltipWindow(), TTM_GETTOOLCOUNT, 0, 0), 1);
    for (const int command : {0, int(ID_ACTUAL_SIZE), int(ID_ZOOM_IN)}) {
        if (command)
            v.command(command);
        SendMessageA(v.view->hwnd(), WM_HSCROLL, SB_PAGEDOWN, 0);
        for (int y = 0; y < 300; y += 7)
            for (int x = 0; x < 400; x += 11) {
                const POINT d = v.view->documentPoint(POINT{x, y});
                const ViewHotspot* expected = nullptr;
                for (const auto& h : v.view->hotspots())
                    if (h->contains(d.x, d.y)) {
                        expected = h.get();
                        break;
                    }
                ASSERT_EQ(v.view->hotspotAt(d), expected) << x << "," << y;
            }
    }
}

// An image that this process cannot hold is not an empty grey view: the
// view says so, in its client area, without a message box.
TEST(TiffViewWindow, ImageTooLargeForTheProcessShowsANotice)
{
    // A 64 x 64 RGB image in one strip, its size changed to 30000 x 30000
    // (2.7 GB as a 24-bit DIB).
    ScopedFile doc(uniqueTempPath(".htf"));
    TiffFixture f;
    f.width = f.height = 64, f.photometric = PHOTOMETRIC_RGB, f.samplesPerPixel = 3, f.rowsPerStrip = 64;
    f.pixels.assign(64 * 64 * 3, 200);
    ASSERT_TRUE(writeTiffFixture(doc.path(), f));
    ASSERT_TRUE(patchDirectoryEntry(doc.path(), TIFFTAG_IMAGEWIDTH, 30000));
    ASSERT_TRUE(patchDirectoryEntry(doc.path(), TIFFTAG_IMAGELENGTH, 30000));
    ASSERT_TRUE(patchDirectoryEntry(doc.path(), TIFFTAG_ROWSPERSTRIP, 30000));

    ViewInWindow v(400, 300);
    DialogWatcher watcher;
    v.show(doc.path());
    EXPECT_EQ(v.view->image(), nullptr);
    EXPECT_EQ(v.view->notice(), L"This image is too large to show: 30000 \u00D7 30000 pixels");
    const Capture c = v.capture();
    int dark = 0, darkOutsideTheMiddle = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x)
            if (c.at(x, y) == 0) {
                ++dark;
                darkOutsideTheMiddle += y < 100 || y > 200;
            }
    EXPECT_GT(dark, 100) << "the text is drawn";
    EXPECT_EQ(darkOutsideTheMiddle, 0) << "centred";
    EXPECT_EQ(c.at(5, 5), kLightGrey);
    Sleep(200);
    EXPECT_TRUE(watcher.seen().empty());

    // The next document replaces the notice.
    ScopedFile small(writeRgbDocument(20, 10, {}, solidRed));
    v.show(small.path());
    EXPECT_TRUE(v.view->notice().empty());
    EXPECT_EQ(countColour(v.capture(), 0), 0);
    EXPECT_GT(countColour(v.capture(), kRed), 50000);
}

// A 261 KB document of one row 2^31 - 1 pixels wide (a Deflate strip of
// 256 MiB of zero bytes, white): the view draws it at a fit, at 1:1 and at
// its right end, or, where the process has no room for it, says it is too
// large; it never ends the process.
TEST(TiffViewWindow, ImageAsWideAsTheSignedRangeIsDrawnOrCalledTooLarge)
{
    ScopedFile doc(uniqueTempPath(".htf"));
    ASSERT_TRUE(writeZeroDeflateDocument(doc.path(), 0x7FFFFFFF, 1));
    ViewInWindow v(400, 300);
    DialogWatcher watcher;
    v.show(doc.path());
    if (!v.view->image()) {
        EXPECT_EQ(sizeof(void*), 4u) << "a 64-bit process has room for 256 MiB";
        EXPECT_EQ(v.view->notice(), L"This image is too large to show: 2147483647 \u00D7 1 pixels");
        return;
    }
    const unsigned white = 0xFFFFFF;
    EXPECT_GE(countColour(v.capture(), white), 400) << "fitted";
    v.command(ID_ACTUAL_SIZE);
    EXPECT_GE(countColour(v.capture(), white), 400) << "1:1";
    SendMessageA(v.view->hwnd(), WM_HSCROLL, SB_RIGHT, 0);
    pumpMessages();
    EXPECT_GE(countColour(v.capture(), white), 380) << "1:1 at the right end";
    EXPECT_GT(GetScrollPos(v.view->hwnd(), SB_HORZ), 0);
    EXPECT_TRUE(watcher.seen().empty());
}

// Reading the shown document again keeps what the user chose; another image
// size is a new document.
TEST(TiffViewWindow, ReloadKeepsZoomAndScrollOfTheSameImageSize)
{
    ScopedFile doc(writeRgbDocument(2000, 1500, {{"a", u"a", 0, 0, 10, 10}}));
    ScopedFile same(writeRgbDocument(2000, 1500, {}, solidRed));
    ScopedFile other(writeRgbDocument(300, 200));
    struct Case { const ScopedFile* file; bool kept; } cases[] = {{&doc, true}, {&same, true}, {&other, false}};
    for (const Case& k : cases) {
        ViewInWindow v(500, 400);
        v.show(doc.path());
        v.command(ID_ACTUAL_SIZE);
        v.command(ID_ZOOM_IN);
        SendMessageA(v.view->hwnd(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 600), 0);
        SendMessageA(v.view->hwnd(), WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 300), 0);
        v.view->reloadImageFile(widen(k.file->path()).c_str());
        pumpMessages();
        if (k.kept) {
            EXPECT_DOUBLE_EQ(v.view->scale(), 1.05);
            EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_HORZ), 600);
            EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_VERT), 300);
            const Capture c = v.capture();
            EXPECT_EQ(c.at(0, 0), k.file == &same ? kRed : rgbPattern(571, 285));   // 600 / 1.05, 300 / 1.05
        } else {
            v.capture();
            EXPECT_EQ(v.view->scaledWidth(), 500);
            EXPECT_EQ(GetScrollPos(v.view->hwnd(), SB_HORZ), 0);
        }
    }
}

// The palette reduction's bitmaps are files of the view's own: someone
// else's files under its first names are neither deleted nor overwritten.
TEST(TiffViewWindow, PaletteReductionLeavesOtherFilesAlone)
{
    ScopedFile doc(writeRgbDocument(64, 48));
    ViewInWindow v(200, 150);
    v.view->setDisplayBitsPerPixel(8);
    const std::string first = tempDirectory() + std::to_string(reinterpret_cast<intptr_t>(v.view.get())) + "0.tif";
    ScopedFile fullColour(first), reduced(first + "1");
    ASSERT_TRUE(writeWholeFile(fullColour.path(), "theirs", 6));
    ASSERT_TRUE(writeWholeFile(reduced.path(), "theirs", 6));
    v.show(doc.path());
    EXPECT_EQ(DibView(v.view->image()).header.biBitCount, 8);
    EXPECT_EQ(readWholeFile(fullColour.path()).size(), 6u);
    EXPECT_EQ(readWholeFile(reduced.path()).size(), 6u);
}

// Without a temporary directory the reduction writes nothing anywhere: the
// reduced image is missing as when the quantizer fails (the user is told),
// and the full-colour image stays.
TEST(TiffViewWindow, PaletteReductionWithoutATemporaryDirectoryWritesNothing)
{
    ScopedFile doc(writeRgbDocument(64, 48));
    ViewInWindow v(200, 150);
    v.view->setDisplayBitsPerPixel(8);
    ScratchCurrentDirectory current;
    DialogWatcher dialogs;
    {
        TempDirectoryOverride none(unreportableTempDirectory());
        v.show(doc.path());
    }
    EXPECT_EQ(DibView(v.view->image()).header.biBitCount, 24);
    EXPECT_TRUE(listDirectory(current.path()).empty());
    Sleep(300);   // let the watcher see a box that was already answered
    const std::vector<SeenDialog> seen = dialogs.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "File Not Found!");
}

// A file name that the ANSI code page cannot spell exactly opens nothing:
// its look-alike (fullwidth "＼" for "\") would be another file.
TEST(TiffViewWindow, NameWithoutAnExactAnsiSpellingOpensNothing)
{
    ScopedFile doc(writeRgbDocument(64, 48));
    std::wstring lookAlike = widen(doc.path());
    for (wchar_t& c : lookAlike)
        if (c == L'\\')
            c = L'\xFF3C';
    ViewInWindow v(200, 150);
    DialogWatcher dialogs;
    v.view->setImageFile(lookAlike.c_str());
    EXPECT_EQ(v.view->image(), nullptr);
    v.view->setImageFile(widen(doc.path()).c_str());
    EXPECT_NE(v.view->image(), nullptr);
    Sleep(300);
    EXPECT_TRUE(dialogs.seen().empty());
}

TEST(TiffViewWindow, TwoHundredDocumentsLeaveNoHandlesOrFilesBehind)
{
    ScopedFile doc(writeRgbDocument(120, 90, {{"a", u"tip", 1, 1, 50, 50}}));
    ViewInWindow v(200, 150);
    v.view->setDisplayBitsPerPixel(8);   // the temporary-file path too
    v.show(doc.path());
    const DWORD gdi = gdiObjects(), windows = userWindows();
    ASSERT_GT(gdi, 0u);
    for (int i = 0; i < 200; ++i)
        v.show(doc.path());
    EXPECT_EQ(gdiObjects(), gdi);
    EXPECT_EQ(userWindows(), windows);
    // Whole views too: lens surfaces, font, pen, offscreen surface, tooltip.
    for (int i = 0; i < 30; ++i) {
        ViewInWindow other(200, 150);
        other.show(doc.path());
        other.command(ID_MAGNIFIER);
        other.pointerAt(50, 50, WM_LBUTTONDOWN, MK_LBUTTON);
        other.pointerAt(60, 60, WM_MOUSEMOVE, MK_LBUTTON);
        other.pointerAt(60, 60, WM_LBUTTONUP);
    }
    EXPECT_EQ(gdiObjects(), gdi);
    EXPECT_EQ(userWindows(), windows);
    EXPECT_TRUE(reductionFiles().empty());
}

} // namespace
