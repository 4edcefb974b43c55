// Calls the view geometry with the values the viewer can hand it: client
// sizes and rectangles of a window (0..32767), image sizes up to the 32-bit
// limit, scroll positions and thumbs from 0 up, and any scale including 0,
// negative ones, infinities and NaN. The sanitizers catch overflow and
// out-of-range conversions; the checks below catch results that break what
// the callers rely on.
#include "ViewGeometry.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "view geometry: %s\n", what);
        std::abort();
    }
}

double anyScale(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return in.ConsumeFloatingPoint<double>();
    case 1: return in.ConsumeFloatingPointInRange(0.0, 64.0);
    case 2: return in.ConsumeIntegralInRange(0, 640) / 20.0;   // the zoom steps' own values
    default: return in.PickValueInArray({0.0, -1.0, std::numeric_limits<double>::infinity(),
                                         std::numeric_limits<double>::quiet_NaN(), 1e-300});
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int32_t cw = in.ConsumeIntegralInRange<int32_t>(0, 32767);
    const int32_t ch = in.ConsumeIntegralInRange<int32_t>(0, 32767);
    const int32_t W = in.ConsumeIntegralInRange<int32_t>(0, INT32_MAX);
    const int32_t H = in.ConsumeIntegralInRange<int32_t>(0, INT32_MAX);
    const double scale = anyScale(in);

    const SizeI fit = fitSize(cw, ch, W, H);
    check(fit.width >= 0 && fit.width <= cw && fit.height >= 0 && fit.height <= ch, "fitSize leaves the area");
    const Fit whole = fitImage(cw, ch, W, H);
    if (cw > 0 && ch > 0 && W > 0 && H > 0)
        check(whole.size.width >= 1 && whole.size.height >= 1 && whole.scale > 0, "a fit with room loses a side");

    const SizeI scaled = scaledSize(W, H, scale);
    if (scale >= 0)
        check(scaled.width >= 0 && scaled.height >= 0, "scaledSize negative at a positive scale");

    RectI client;
    client.left = in.ConsumeIntegralInRange<int32_t>(0, 32767);
    client.top = in.ConsumeIntegralInRange<int32_t>(0, 32767);
    client.right = client.left + in.ConsumeIntegralInRange<int32_t>(0, 32767);
    client.bottom = client.top + in.ConsumeIntegralInRange<int32_t>(0, 32767);
    // A negative scale reaches the viewer only from a fit into a client
    // narrower than a scroll bar, which gives sizes of a few pixels below 0.
    const RectI centred = centreImageRect(client, std::max(scaled.width, -32767), std::max(scaled.height, -32767));
    if (scaled.width >= 0 && scaled.width < client.width())
        check(centred.width() == scaled.width, "centred image changes its width");

    const double limit = anyScale(in);
    const double in1 = zoomInScale(scale, limit), out1 = zoomOutScale(scale, limit);
    // Not strictly: a step of 0.1 vanishes next to a scale of 1e17.
    if (scale < limit)
        check(in1 >= scale && in1 <= limit, "zoom in outside [scale, limit]");
    if (scale > limit)
        check(out1 <= scale && out1 >= limit, "zoom out outside [limit, scale]");

    const int32_t hpos = in.ConsumeIntegralInRange<int32_t>(0, INT32_MAX);
    const int32_t vpos = in.ConsumeIntegralInRange<int32_t>(0, INT32_MAX);
    const RectI source = visibleSource(hpos, vpos, scale, cw, ch, W, H);
    if (scale > 0)
        check(source.right <= std::max(W, source.left) && source.bottom <= std::max(H, source.top),
              "visible source beyond the image");
    if (scale > 0 && cw > 0 && ch > 0 && source.left < W && source.top < H && source.left >= 0 && source.top >= 0)
        check(source.right > source.left && source.bottom > source.top, "a visible image part draws nothing");

    fitWidthScale(cw, ch, W, H);
    fitHeightScale(cw, ch, W, H);

    const int request = in.ConsumeIntegralInRange(0, 8);
    const int32_t page = in.ConsumeIntegralInRange<int32_t>(0, INT32_MAX);
    const int32_t position = in.ConsumeIntegralInRange<int32_t>(0, INT32_MAX);
    const int32_t thumb = in.ConsumeIntegralInRange<int32_t>(0, INT32_MAX);
    scrollDistance(request, page, position, thumb);
    return 0;
}
