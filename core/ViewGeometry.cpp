// Plain geometry of the viewer; no platform calls, so it is tested and fuzzed
// without a window.
#include "ViewGeometry.h"

#include <algorithm>
#include <climits>
#include <cmath>

int32_t saturatingTrunc(double value)
{
    if (!(value == value))
        return 0;
    if (value >= double(INT32_MAX))
        return INT32_MAX;
    if (value <= double(INT32_MIN))
        return INT32_MIN;
    return int32_t(value);
}

namespace {

int32_t truncate(double value) { return saturatingTrunc(value); }

// The fit before any side is raised to one pixel.
SizeI fitUnraised(int32_t aw, int32_t ah, int32_t w, int32_t h)
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

} // namespace

SizeI fitSize(int32_t aw, int32_t ah, int32_t w, int32_t h)
{
    SizeI s = fitUnraised(aw, ah, w, h);
    if (aw > 0 && ah > 0 && w > 0 && h > 0) {
        s.width = std::max(s.width, 1);
        s.height = std::max(s.height, 1);
    }
    return s;
}

Fit fitImage(int32_t aw, int32_t ah, int32_t W, int32_t H)
{
    Fit fit;
    const SizeI raw = fitUnraised(aw, ah, W, H);
    fit.size = fitSize(aw, ah, W, H);
    if (fit.size.width <= 0 || fit.size.height <= 0)
        return fit;   // no room: no fit
    if (raw.width < 1 && raw.height >= 1)
        fit.scale = double(fit.size.height) / H;
    else
        fit.scale = double(fit.size.width) / W;
    return fit;
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
    // A part of a pixel is shown as that whole pixel.
    int64_t across = truncate(dw / scale), down = truncate(dh / scale);
    if (dw > 0 && s.left < W)
        across = std::max<int64_t>(across, 1);
    if (dh > 0 && s.top < H)
        down = std::max<int64_t>(down, 1);
    s.right = int32_t(s.left + std::min<int64_t>(int64_t(W) - s.left, across));
    s.bottom = int32_t(s.top + std::min<int64_t>(int64_t(H) - s.top, down));
    return s;
}

SizeI scaledSize(int32_t W, int32_t H, double scale)
{
    SizeI s = {truncate(W * scale), truncate(H * scale)};
    if (scale > 0 && W > 0 && H > 0) {
        s.width = std::max(s.width, 1);
        s.height = std::max(s.height, 1);
    }
    return s;
}

int32_t saturate(int64_t value)
{
    return int32_t(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, value)));
}

RectI fractionRect(double left, double top, double right, double bottom, int32_t imageLeft, int32_t imageTop,
                   int32_t scaledWidth, int32_t scaledHeight)
{
    return {truncate(imageLeft + left * scaledWidth), truncate(imageTop + top * scaledHeight),
            truncate(imageLeft + right * scaledWidth), truncate(imageTop + bottom * scaledHeight)};
}

RectI offsetRect(RectI r, int32_t dx, int32_t dy)
{
    return {saturate(int64_t(r.left) - dx), saturate(int64_t(r.top) - dy), saturate(int64_t(r.right) - dx),
            saturate(int64_t(r.bottom) - dy)};
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
    case 5: return saturate(int64_t(thumb) - position);   // SB_THUMBTRACK
    case 6: return -5;                // SB_TOP moves one line only
    case 7: return 5;                 // SB_BOTTOM moves one line only
    default: return 0;                // SB_ENDSCROLL
    }
}
