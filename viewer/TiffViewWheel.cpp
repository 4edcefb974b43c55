// TiffView: the mouse wheel scrolls, and with Ctrl zooms about the pointer.
#include "TiffView.h"

#include <commctrl.h>

#include <algorithm>

#ifndef SPI_GETWHEELSCROLLCHARS
#define SPI_GETWHEELSCROLLCHARS 0x006C   // Windows Vista and later; older systems fail the call
#endif

namespace {

// The system's wheel setting: lines (or characters, for a tilting wheel) per
// notch; -1 for a page per notch.
int32_t wheelLines(bool tilt)
{
    UINT lines = 3;
    if (!SystemParametersInfoA(tilt ? SPI_GETWHEELSCROLLCHARS : SPI_GETWHEELSCROLLLINES, 0, &lines, 0))
        lines = 3;
    if (lines == WHEEL_PAGESCROLL)
        return -1;
    return int32_t(std::min<UINT>(lines, 10000));
}

} // namespace

bool TiffView::onWheel(UINT message, WPARAM wParam, LPARAM lParam)
{
    const int32_t delta = GET_WHEEL_DELTA_WPARAM(wParam);
    const WORD keys = GET_KEYSTATE_WPARAM(wParam);
    const bool hasImage = window_ && image_ && scaledWidth_ > 0;

    if (message == WM_MOUSEWHEEL && (keys & MK_CONTROL)) {
        // Ctrl+wheel zooms the viewer and never the page around it.
        if (!hasImage || lensActive_)
            return true;
        int32_t steps = wheelZoom_.add(delta, 1);
        POINT p = {short(LOWORD(lParam)), short(HIWORD(lParam))};
        ScreenToClient(window_, &p);
        double scale = scale_;
        for (; steps > 0; --steps)
            scale = zoomInScale(scale, maxScale_);
        for (; steps < 0; ++steps)
            scale = zoomOutScale(scale, minScale_);
        zoomAbout(scale, p);
        return true;
    }

    const bool tilt = message == WM_MOUSEHWHEEL;
    const bool horizontal = tilt || (keys & MK_SHIFT);
    WheelAccumulator& accumulator = horizontal ? wheelHorizontal_ : wheelVertical_;
    const ScrollAxis axis = scrollAxis(horizontal ? SB_HORZ : SB_VERT);
    if (!hasImage || axis.maximum <= 0) {
        // The whole image is visible this way: the page around scrolls instead.
        accumulator.reset();
        return false;
    }
    if (lensActive_)
        return true;   // the lens keeps its picture until the drag ends
    const int32_t pixels = accumulator.add(delta, wheelPixelsPerNotch(wheelLines(tilt), axis.page));
    // Turning the wheel away from the user scrolls down or right, as does
    // tilting it right; toward the user (a positive delta) up or left.
    const int64_t by = tilt ? int64_t(pixels) : -int64_t(pixels);
    const int32_t position = clampScroll(axis, int64_t(axis.position) + by);
    if (horizontal)
        scrollTo(position, scrollPos(SB_VERT));
    else
        scrollTo(scrollPos(SB_HORZ), position);
    return true;
}

void TiffView::zoomAbout(double newScale, POINT p)
{
    if (newScale == scale_)
        return;   // at a limit
    RECT client = {};
    GetClientRect(window_, &client);
    p.x = std::max<LONG>(0, std::min<LONG>(client.right, p.x));
    p.y = std::max<LONG>(0, std::min<LONG>(client.bottom, p.y));
    const RECT before = centreImageRect(client);
    const int hp = scrollPos(SB_HORZ), vp = scrollPos(SB_VERT);
    const double oldScale = scale_;

    // As the zoom buttons do (an open tip goes), with the scroll positions
    // that keep the image point under the pointer before the window is drawn
    // again.
    SendMessageA(tooltip_, TTM_ACTIVATE, FALSE, 0);
    scale_ = newScale;
    const SizeI size = scaledSize(W_, H_, scale_);
    scaledWidth_ = size.width;
    scaledHeight_ = size.height;
    SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
    updateScrollBars();
    GetClientRect(window_, &client);
    const RECT after = centreImageRect(client);
    const int32_t newH = scrollAfterZoom(p.x, hp, before.left, oldScale, scale_, after.left,
                                         scrollAxis(SB_HORZ).maximum);
    const int32_t newV = scrollAfterZoom(p.y, vp, before.top, oldScale, scale_, after.top,
                                         scrollAxis(SB_VERT).maximum);
    SetScrollPos(window_, SB_HORZ, newH, FALSE);
    SetScrollPos(window_, SB_VERT, newV, FALSE);
    SendMessageA(window_, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
    updateTipRects();
    SendMessageA(tooltip_, TTM_ACTIVATE, TRUE, 0);
    showKeyTip();
}
