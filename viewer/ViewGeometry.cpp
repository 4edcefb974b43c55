// Plain geometry of the viewer; no platform calls, so it is tested and fuzzed
// without a window.
#include "ViewGeometry.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Truncation toward zero, saturated to the 32-bit range (NaN gives 0).
int32_t truncate(double value)
{
    if (!(value == value))
        return 0;
    if (value >= double(INT32_MAX))
        return INT32_MAX;
    if (value <= double(INT32_MIN))
        return INT32_MIN;
    return int32_t(value);
}

} // namespace

SizeI fitSize(int32_t aw, int32_t ah, int32_t w, int32_t h)
{
    if (w <= 0 || h <= 0)
        return {};
    const double a = double(w) / double(h);
    if (a >= 1.0) {
        if (aw / a <= ah)
            return {aw, truncate(aw / a)};
        return {truncate(ah * a), ah};
    }
    if (ah * a <= aw)
        return {truncate(ah * a), ah};
    return {aw, truncate(aw / a)};
}

RectI centreImageRect(RectI r, int32_t scaledWidth, int32_t scaledHeight)
{
    if (scaledWidth < r.right - r.left) {
        r.left = (r.right - scaledWidth - r.left) / 2;
        r.right = r.left + scaledWidth;
    }
    if (scaledHeight < r.bottom - r.top) {
        r.top = (r.bottom - scaledHeight - r.top) / 2;
        r.bottom = r.top + scaledHeight;
    }
    return r;
}

double zoomInScale(double scale, double maxScale)
{
    if (scale >= maxScale)
        return scale;
    const double step = scale > 1.0 ? 0.1 : 0.05;
    return std::min(scale + step, maxScale);
}

double zoomOutScale(double scale, double minScale)
{
    if (scale <= minScale)
        return scale;
    const double step = scale > 1.0 ? 0.1 : 0.05;
    return std::max(scale - step, minScale);
}

RectI visibleSource(int32_t hpos, int32_t vpos, double scale, int32_t dw, int32_t dh, int32_t W, int32_t H)
{
    RectI s;
    if (!(scale > 0))
        return s;
    s.left = truncate(hpos / scale);
    s.top = truncate(vpos / scale);
    s.right = s.left + std::min<int64_t>(int64_t(W) - s.left, truncate(dw / scale));
    s.bottom = s.top + std::min<int64_t>(int64_t(H) - s.top, truncate(dh / scale));
    return s;
}

SizeI scaledSize(int32_t W, int32_t H, double scale)
{
    return {truncate(W * scale), truncate(H * scale)};
}

namespace {
// Fits `along` (the client's and image's size along the fitted axis) and
// checks the other axis: when it would then need a scroll bar, 20 pixels
// are left for the bar.
double fitAlong(int32_t along, int32_t imageAlong, int32_t across, int32_t imageAcross)
{
    if (imageAlong <= 0)
        return 0;
    double scale = double(along) / imageAlong;
    if (truncate(imageAcross * scale) > across)
        scale = double(along - 20) / imageAlong;
    return scale;
}
} // namespace

double fitWidthScale(int32_t cw, int32_t ch, int32_t W, int32_t H)
{
    return fitAlong(cw, W, ch, H);
}

double fitHeightScale(int32_t cw, int32_t ch, int32_t W, int32_t H)
{
    return fitAlong(ch, H, cw, W);
}

int32_t scrollDistance(int request, int32_t page, int32_t position, int32_t thumb)
{
    switch (request) {
    case 0: return -5;                // SB_LINEUP, SB_LINELEFT
    case 1: return 5;                 // SB_LINEDOWN, SB_LINERIGHT
    case 2: return -page;             // SB_PAGEUP
    case 3: return page;              // SB_PAGEDOWN
    case 4:                           // SB_THUMBPOSITION
    case 5: return thumb - position;  // SB_THUMBTRACK
    case 6: return -5;                // SB_TOP moves one line only
    case 7: return 5;                 // SB_BOTTOM moves one line only
    default: return 0;                // SB_ENDSCROLL
    }
}
