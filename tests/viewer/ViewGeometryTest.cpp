#include "ViewGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(ViewGeometry, FitSizeKeepsTheAspectRatio)
{
    struct Case { int aw, ah, w, h, fw, fh; } cases[] = {
        {400, 400, 1000, 500, 400, 200}, {400, 400, 500, 1000, 200, 400}, {400, 100, 1000, 500, 200, 100},
        {100, 400, 500, 1000, 100, 200}, {399, 300, 3, 2, 399, 266}, {0, 300, 100, 100, 0, 0},
        {600, 848, 13245, 18720, 599, 848},
    };
    for (const Case& c : cases) {
        SizeI s = fitSize(c.aw, c.ah, c.w, c.h);
        EXPECT_EQ(s.width, c.fw) << c.aw << "x" << c.ah << " " << c.w << "x" << c.h;
        EXPECT_EQ(s.height, c.fh) << c.aw << "x" << c.ah << " " << c.w << "x" << c.h;
    }
    EXPECT_EQ(fitSize(400, 400, 0, 10).width, 0);   // no image: no division by zero
}

TEST(ViewGeometry, ThinImagesFitWithAtLeastOnePixelAndTheScaleOfTheirLongSide)
{
    struct Case { int aw, ah, w, h, fw, fh; double scale; } cases[] = {
        {400, 400, 1, 65535, 1, 400, 400.0 / 65535},
        {400, 400, 65535, 1, 400, 1, 400.0 / 65535},
        {1000, 800, 2, 65535, 1, 800, 800.0 / 65535},
        {1000, 800, 65535, 3, 1000, 1, 1000.0 / 65535},
        {400, 400, 1000, 500, 400, 200, 0.4},       // ordinary images as before
        {400, 400, 333, 1000, 133, 400, 133.0 / 333},
        {0, 300, 1, 65535, 0, 0, 0.0},              // no room: no fit
    };
    for (const Case& c : cases) {
        const Fit f = fitImage(c.aw, c.ah, c.w, c.h);
        EXPECT_EQ(f.size.width, c.fw) << c.w << "x" << c.h;
        EXPECT_EQ(f.size.height, c.fh) << c.w << "x" << c.h;
        EXPECT_DOUBLE_EQ(f.scale, c.scale) << c.w << "x" << c.h;
        const SizeI s = fitSize(c.aw, c.ah, c.w, c.h);
        EXPECT_EQ(s.width, c.fw);
        EXPECT_EQ(s.height, c.fh);
    }
    // Every zoom keeps a pixel of a thin image.
    EXPECT_EQ(scaledSize(1, 65535, 0.05).width, 1);
    EXPECT_EQ(scaledSize(65535, 1, 0.0015).height, 1);
    EXPECT_EQ(scaledSize(65535, 1, 0.0015).width, 98);
    EXPECT_EQ(scaledSize(10, 10, 0.0).width, 0);
}

TEST(ViewGeometry, APartOfAPixelIsShownAsThatPixel)
{
    struct Case { int32_t hpos, vpos; double scale; int32_t dw, dh, W, H; RectI expected; } cases[] = {
        {0, 0, 380.0, 1, 398, 1, 65535, {0, 0, 1, 1}},              // fit width of 1 x 65535
        {0, 760, 380.0, 1, 298, 1, 65535, {0, 2, 1, 3}},
        {0, 0, 980.0, 500, 400, 65535, 1, {0, 0, 1, 1}},
        {0, 0, 0.4, 400, 200, 1000, 500, {0, 0, 1000, 500}},         // ordinary views unchanged
        {2000, 0, 1.0, 10, 10, 1000, 500, {2000, 0, 1000, 10}},      // beyond the image: empty
    };
    for (const Case& c : cases) {
        const RectI s = visibleSource(c.hpos, c.vpos, c.scale, c.dw, c.dh, c.W, c.H);
        EXPECT_EQ(s.left, c.expected.left);
        EXPECT_EQ(s.top, c.expected.top);
        EXPECT_EQ(s.right, c.expected.right);
        EXPECT_EQ(s.bottom, c.expected.bottom);
    }
}

TEST(ViewGeometry, HotspotEdgesSaturateInsteadOfWrapping)
{
    // A 100-pixel image at 300 view pixels: an edge at 2^31 - 1 image pixels
    // lies far beyond the 32-bit range and stops at its end.
    const double far = 2147483647.0 / 100;
    RectI r = fractionRect(0, 0, far, far, 10, 20, 300, 300);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right, INT32_MAX);
    EXPECT_EQ(r.bottom, INT32_MAX);
    r = fractionRect(-far, -far, 0.5, 0.5, 10, 20, 300, 300);
    EXPECT_EQ(r.left, INT32_MIN);
    EXPECT_EQ(r.top, INT32_MIN);
    EXPECT_EQ(r.right, 160);
    EXPECT_EQ(r.bottom, 170);
    r = offsetRect({INT32_MIN, 0, INT32_MAX, 10}, 5, -5);   // moved left and down
    EXPECT_EQ(r.left, INT32_MIN);
    EXPECT_EQ(r.right, INT32_MAX - 5);
    EXPECT_EQ(r.top, 5);
    r = offsetRect({INT32_MIN, 0, INT32_MAX, 10}, -5, 0);
    EXPECT_EQ(r.left, INT32_MIN + 5);
    EXPECT_EQ(r.right, INT32_MAX);
    EXPECT_EQ(saturatingTrunc(-2.5), -2);
    EXPECT_EQ(saturatingTrunc(1e300), INT32_MAX);
}

TEST(ViewGeometry, CentreImageRectCentresOnlyWhereTheImageIsSmaller)
{
    RectI r = centreImageRect({0, 0, 400, 400}, 400, 200);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 400);
    EXPECT_EQ(r.top, 100);
    EXPECT_EQ(r.bottom, 300);
    r = centreImageRect({0, 0, 500, 400}, 2000, 1500);
    EXPECT_EQ(r.right, 500);
    EXPECT_EQ(r.bottom, 400);
}

TEST(ViewGeometry, ZoomStepsAreAsymmetricAndClamped)
{
    // From 1.0 in: 1.05, 1.15, 1.25; out from 1.05: 0.95, then 0.90.
    double s = 1.0;
    const double in[] = {1.05, 1.15, 1.25};
    for (double expected : in) {
        s = zoomInScale(s, 3.0);
        EXPECT_NEAR(s, expected, 1e-9);
    }
    EXPECT_NEAR(zoomOutScale(1.05, 0.1), 0.95, 1e-9);
    EXPECT_NEAR(zoomOutScale(zoomOutScale(1.05, 0.1), 0.1), 0.90, 1e-9);
    EXPECT_DOUBLE_EQ(zoomInScale(2.95, 3.0), 3.0);
    EXPECT_DOUBLE_EQ(zoomInScale(3.0, 3.0), 3.0);
    EXPECT_DOUBLE_EQ(zoomOutScale(2.05, 2.0), 2.0);   // a 50-pixel image stops at 100 pixels
    EXPECT_DOUBLE_EQ(zoomOutScale(2.0, 2.0), 2.0);
    EXPECT_NEAR(zoomOutScale(8.0, 0.1), 7.9, 1e-9);
}

TEST(ViewGeometry, FitWidthAndHeightAllowForTheScrollBar)
{
    EXPECT_DOUBLE_EQ(fitWidthScale(500, 400, 1000, 2000), 0.48);
    EXPECT_DOUBLE_EQ(fitWidthScale(500, 400, 1000, 500), 0.5);
    EXPECT_DOUBLE_EQ(fitHeightScale(900, 400, 100, 50), 8.0);
    EXPECT_DOUBLE_EQ(fitHeightScale(600, 400, 100, 50), 7.6);
    SizeI s = scaledSize(1000, 2000, 0.48);
    EXPECT_EQ(s.width, 480);
    EXPECT_EQ(s.height, 960);
    EXPECT_EQ(scaledSize(100000, 100000, 1e6).width, INT32_MAX);   // saturates, never wraps
}

TEST(ViewGeometry, ScrollRequestsMoveByLinesPagesOrToTheThumb)
{
    struct Case { int request, distance; } cases[] = {
        {0, -5}, {1, 5}, {2, -400}, {3, 400}, {4, 700 - 100}, {5, 700 - 100}, {6, -5}, {7, 5}, {8, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(scrollDistance(c.request, 400, 100, 700), c.distance) << c.request;
}

TEST(ViewGeometry, VisibleSourceFollowsScrollAndStopsAtTheImage)
{
    RectI s = visibleSource(0, 0, 0.4, 400, 200, 1000, 500);
    EXPECT_EQ(s.right, 1000);
    EXPECT_EQ(s.bottom, 500);
    s = visibleSource(1500, 1100, 1.0, 500, 400, 2000, 1500);
    EXPECT_EQ(s.left, 1500);
    EXPECT_EQ(s.top, 1100);
    EXPECT_EQ(s.right, 2000);
    EXPECT_EQ(s.bottom, 1500);
    s = visibleSource(10, 10, 0.0, 400, 400, 100, 100);   // never divides by zero
    EXPECT_EQ(s.right - s.left, 0);
}

} // namespace
