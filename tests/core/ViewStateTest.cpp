// The portable zoom and scroll model against the table the Windows viewer's
// tests check too.
#include "CommandIds.h"
#include "GeometryTable.h"
#include "ViewState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace {

void runStep(ViewState& view, const GeometryStep& step)
{
    if (step.name == "paint")
        view.ensureFitted();
    else if (const int command = geometryStepCommand(step.name))
        view.command(command);
    else if (step.name == "hscroll" || step.name == "vscroll")
        view.scroll(step.name == "hscroll", step.arguments.at(0), step.arguments.at(1));
    else if (step.name == "resize")
        view.setViewport(step.arguments.at(0), step.arguments.at(1));
    else
        FAIL() << "unknown step " << step.name;
}

TEST(ViewState, FollowsTheSharedGeometryTable)
{
    GeometryTable table;
    std::string error;
    ASSERT_TRUE(readGeometryTable(ROZERADO_GEOMETRY_TABLE, table, error)) << error;
    ASSERT_GE(table.cases.size(), 5u);
    for (const GeometryCase& c : table.cases) {
        ViewState view(table.scrollBarSize);
        view.setViewport(c.viewportWidth, c.viewportHeight);
        view.setImage(c.imageWidth, c.imageHeight);
        for (const GeometryStep& step : c.steps) {
            runStep(view, step);
            const std::string where = c.name + " " + describeExpected(step);
            EXPECT_NEAR(view.scale(), step.scale, 5e-7) << where;
            EXPECT_EQ(view.scaledWidth(), step.scaledWidth) << where;
            EXPECT_EQ(view.scaledHeight(), step.scaledHeight) << where;
            EXPECT_EQ(view.horizontalBar().shown, step.horizontalBar) << where;
            EXPECT_EQ(view.verticalBar().shown, step.verticalBar) << where;
            EXPECT_EQ(view.horizontalBar().position, step.horizontalPosition) << where;
            EXPECT_EQ(view.verticalBar().position, step.verticalPosition) << where;
        }
    }
}

TEST(ViewState, ClientAreaLosesTheShownBars)
{
    ViewState view(16);
    view.setViewport(600, 400);
    view.setImage(1000, 2000);
    ASSERT_TRUE(view.ensureFitted());
    EXPECT_EQ(view.client().width(), 600);
    view.command(ID_ACTUAL_SIZE);
    EXPECT_EQ(view.client().width(), 584);
    EXPECT_EQ(view.client().height(), 384);
    // Centred where the image is smaller than the client area.
    view.command(ID_FIT_WINDOW);
    EXPECT_EQ(view.imageRect().left, 200);
    EXPECT_EQ(view.imageRect().right, 400);
}

// As the window does: a pan stops at range - page, where the page is the
// client size measured before the bars were shown (600 x 400 here).
TEST(ViewState, PanStopsAtRangeLessPage)
{
    ViewState view(16);
    view.setViewport(600, 400);
    view.setImage(1000, 2000);
    view.ensureFitted();
    view.command(ID_ACTUAL_SIZE);
    EXPECT_TRUE(view.pan(-100, -50));   // dragging left and up shows more to the right and below
    EXPECT_EQ(view.horizontalBar().position, 100);
    EXPECT_EQ(view.verticalBar().position, 50);
    EXPECT_TRUE(view.pan(-100000, -100000));
    EXPECT_EQ(view.horizontalBar().position, 1000 - 600);
    EXPECT_EQ(view.verticalBar().position, 2000 - 400);
    EXPECT_FALSE(view.pan(-5, -5));   // nothing moves
    EXPECT_TRUE(view.pan(100000, 100000));
    EXPECT_EQ(view.horizontalBar().position, 0);
    EXPECT_EQ(view.verticalBar().position, 0);
}

TEST(ViewState, HotspotsFollowZoomAndScroll)
{
    ViewState view(16);
    view.setViewport(600, 400);
    view.setImage(1000, 2000);
    view.addHotspot(100, 200, 300, 400);
    view.addHotspot(0, 0, 1000, 2000);   // the whole image, after the first
    view.ensureFitted();                 // scale 0.2, image at x 200..400
    const RectI h = view.hotspotRect(0);
    EXPECT_EQ(h.left, 220);
    EXPECT_EQ(h.top, 40);
    EXPECT_EQ(h.right, 260);
    EXPECT_EQ(h.bottom, 80);
    EXPECT_EQ(view.hotspotRect(2).right, 0);   // no such hotspot
    struct Probe { int x, y, hit; } probes[] = {
        {220, 40, 0}, {260, 80, 0}, {261, 80, 1}, {219, 60, 1}, {199, 60, -1}, {401, 60, -1},
    };
    for (const Probe& p : probes)
        EXPECT_EQ(view.hotspotAt(p.x, p.y), p.hit) << p.x << "," << p.y;
    view.command(ID_ACTUAL_SIZE);
    view.setPosition(false, 150);
    EXPECT_EQ(view.hotspotRect(0).top, 200);
    EXPECT_EQ(view.hotspotAt(150, 60), 0);   // document point (150, 210)
    EXPECT_EQ(view.hotspotAt(150, 260), 1);
}

TEST(ViewState, NoImageAndNoRoomDoNothing)
{
    ViewState view(16);
    EXPECT_FALSE(view.ensureFitted());
    EXPECT_FALSE(view.command(ID_ZOOM_IN));
    view.setImage(100, 100);
    EXPECT_FALSE(view.ensureFitted());   // no viewport yet
    EXPECT_FALSE(view.command(ID_FIT_WINDOW));
    view.setViewport(50, 50);
    EXPECT_TRUE(view.ensureFitted());
    EXPECT_DOUBLE_EQ(view.scale(), 0.5);
    EXPECT_FALSE(view.pan(10, 10));
    EXPECT_EQ(view.hotspotAt(10, 10), -1);
}

} // namespace

namespace {

// Keys and the wheel scroll as far as a pan drag goes, and only where the
// image does not fit; Ctrl+wheel zooms about the pointer.
TEST(ViewState, KeysAndWheelScrollAsTheViewerWindowDoes)
{
    ViewState view(17);
    view.setViewport(600, 400);
    view.setImage(1000, 2000);
    view.ensureFitted();
    EXPECT_FALSE(view.wheel(-120, false, false, 3));   // all of it visible: the page's wheel
    view.command(ID_ACTUAL_SIZE);
    EXPECT_TRUE(view.wheel(-120, false, false, 3));
    EXPECT_EQ(view.verticalBar().position, 15);
    EXPECT_TRUE(view.wheel(-40, false, false, 3));      // a third of a notch: 5 pixels
    EXPECT_EQ(view.verticalBar().position, 20);
    EXPECT_TRUE(view.wheel(-120, true, false, 3));      // Shift: sideways
    EXPECT_EQ(view.horizontalBar().position, 15);
    view.scrollFor(ViewAction::BottomRight);
    EXPECT_EQ(view.horizontalBar().position, 1000 - 600);
    EXPECT_EQ(view.verticalBar().position, 2000 - 400);
    view.scrollFor(ViewAction::TopLeft);
    view.scrollFor(ViewAction::LineDown);
    EXPECT_EQ(view.verticalBar().position, kScrollLine);
    view.setPosition(false, 15);
    view.setPosition(true, 0);
    EXPECT_TRUE(view.wheelZoom(120, 300, 200));
    EXPECT_NEAR(view.scale(), 1.05, 1e-9);
    // Image point (300, 215) stays under the pointer: at 1.05 it is at (315, 225.75).
    EXPECT_EQ(view.horizontalBar().position, 15);
    EXPECT_EQ(view.verticalBar().position, 26);
}

} // namespace

namespace {

// The two edges every shell shares. The bar's own requests reach one
// position past the image's last pixel (the platform's limit); every other
// way of scrolling stops at range - page. Zooming out stops at 100 pixels of
// width or at the fit, whichever is less, so a view that zoomed in can
// always zoom back out to its fit.
TEST(ViewState, EdgesOfTheRangeAndOfTheZoom)
{
    ViewState view(16);
    view.setViewport(600, 400);
    view.setImage(1000, 2000);
    view.ensureFitted();
    view.command(ID_ACTUAL_SIZE);   // client 584 x 384
    view.scroll(false, 5, 5000);
    EXPECT_EQ(view.verticalBar().position, 2000 - 400 + 1) << "the bar's last position";
    view.scrollFor(ViewAction::BottomRight);
    EXPECT_EQ(view.verticalBar().position, 2000 - 400) << "keys stop where the image ends";
    EXPECT_EQ(view.verticalBar().scrollEnd(), 2000 - 400);
    EXPECT_EQ(view.verticalBar().lastPosition(), 2000 - 400 + 1);

    struct Thin { int32_t w, h; double fitScale, minScale; } cases[] = {
        {1, 65535, 400.0 / 65535, 400.0 / 65535},   // one pixel wide: the fit is the limit
        {50, 10000, 0.04, 0.04},                    // 2 pixels wide fitted, under 100
        {50, 40, 10.0, 2.0},                        // 100 pixels of width, under the fit
    };
    for (const Thin& c : cases) {
        ViewState thin(16);
        thin.setViewport(600, 400);
        thin.setImage(c.w, c.h);
        ASSERT_TRUE(thin.ensureFitted());
        EXPECT_DOUBLE_EQ(thin.scale(), c.fitScale) << c.w << " x " << c.h;
        EXPECT_DOUBLE_EQ(thin.minScale(), c.minScale) << c.w << " x " << c.h;
        for (int i = 0; i < 100; ++i)
            thin.command(ID_ZOOM_IN);
        for (int i = 0; i < 100; ++i)
            thin.command(ID_ZOOM_OUT);
        EXPECT_DOUBLE_EQ(thin.scale(), c.minScale) << "zoomed back out, " << c.w << " x " << c.h;
    }
}

// A scale asked for from outside (an address, a saved view) is held within
// the zoom limits, and what is not a positive number leaves the view alone.
TEST(ViewState, SetScaleKeepsWithinTheLimits)
{
    ViewState unfitted(16);
    unfitted.setViewport(600, 400);
    unfitted.setImage(1000, 2000);
    EXPECT_FALSE(unfitted.setScale(0.5)) << "before the first fit";
    EXPECT_DOUBLE_EQ(unfitted.scale(), 1.0);

    struct Case { double asked; bool changed; double scale; int32_t scaledWidth; } cases[] = {
        {0.5, true, 0.5, 500},
        {0.2, false, 0.2, 200},     // the fit's own scale: no change
        {0.01, true, 0.1, 100},     // below the least zoom: 100 pixels of width
        {50.0, true, 3.0, 3000},    // above the greatest
        {0.0, false, 0.2, 200},
        {-2.0, false, 0.2, 200},
        {std::nan(""), false, 0.2, 200},
        {INFINITY, false, 0.2, 200},
    };
    for (const Case& c : cases) {
        ViewState view(16);
        view.setViewport(600, 400);
        view.setImage(1000, 2000);
        view.addHotspot(100, 200, 300, 400);
        ASSERT_TRUE(view.ensureFitted());
        ASSERT_DOUBLE_EQ(view.scale(), 0.2);
        EXPECT_EQ(view.setScale(c.asked), c.changed) << c.asked;
        EXPECT_DOUBLE_EQ(view.scale(), c.scale) << c.asked;
        EXPECT_EQ(view.scaledWidth(), c.scaledWidth) << c.asked;
        EXPECT_EQ(view.scaledHeight(), 2 * c.scaledWidth) << c.asked;
        EXPECT_EQ(view.verticalBar().shown, 2 * c.scaledWidth > 400) << c.asked;
        // The hotspots follow the new scale.
        const RectI r = view.hotspotRect(0);
        EXPECT_EQ(r.right - r.left, int32_t(200 * c.scale + 0.5)) << c.asked;
    }
}

// An image 2^31 - 1 pixels wide at 1:1: positions, pages and hotspot edges
// lie at the end of the 32-bit range, and every sum saturates (the native
// build runs this under the undefined-behaviour sanitizer).
TEST(ViewState, PositionsAtTheEndOfTheRangeSaturate)
{
    ViewState view(16);
    view.setViewport(600, 400);
    view.setImage(INT32_MAX, 1);
    view.addHotspot(INT32_MAX - 10, 0, INT32_MAX, 1);
    ASSERT_TRUE(view.ensureFitted());
    view.command(ID_ACTUAL_SIZE);
    ASSERT_EQ(view.scaledWidth(), INT32_MAX);
    view.scroll(true, 5, INT32_MAX);
    const int32_t last = view.horizontalBar().lastPosition();
    EXPECT_EQ(view.horizontalBar().position, last);
    view.scroll(true, 3, 0);   // a page further
    view.scroll(true, 1, 0);   // a line further
    EXPECT_EQ(view.horizontalBar().position, last);
    view.scroll(true, 5, -32768);   // the thumb far before the position
    EXPECT_EQ(view.horizontalBar().position, 0);
    EXPECT_TRUE(view.scrollToHotspot(0));
    const RectI shown = view.hotspotLocation(*view.hotspots()[0]);
    EXPECT_GE(shown.left, 0);
    EXPECT_LE(shown.right, view.client().width());
    EXPECT_EQ(view.hotspotAt(shown.left, shown.top), 0);
    view.setPosition(true, last);
    EXPECT_EQ(view.documentPoint(view.client().width() - 1, 0).x, INT32_MAX) << "the strip past the last pixel";
    EXPECT_EQ(view.documentPoint(view.client().width(), 0).x, INT32_MAX) << "saturated";
    EXPECT_GE(view.hotspotLocation(*view.hotspots()[0]).left, 0);
}

} // namespace
