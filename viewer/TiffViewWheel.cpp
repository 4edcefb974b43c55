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
    const bool hasImage = window_ && image_ && model_.fitted();

    if (message == WM_MOUSEWHEEL && (keys & MK_CONTROL)) {
        // Ctrl+wheel zooms the viewer and never the page around it.
        if (!hasImage || lensActive_)
            return true;
        POINT p = {short(LOWORD(lParam)), short(HIWORD(lParam))};
        ScreenToClient(window_, &p);
        // As the zoom buttons do (an open tip goes), with the scroll
        // positions that keep the image point under the pointer before the
        // window is drawn again.
        syncViewport();
        if (!model_.wheelZoom(delta, p.x, p.y))
            return true;   // at a limit
        SendMessageA(tooltip_, TTM_ACTIVATE, FALSE, 0);
        SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
        applyScrollBars();
        SendMessageA(window_, WM_SETREDRAW, TRUE, 0);
        RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
        updateTipRects();
        SendMessageA(tooltip_, TTM_ACTIVATE, TRUE, 0);
        showKeyTip();
        return true;
    }

    const bool tilt = message == WM_MOUSEHWHEEL;
    const bool horizontal = tilt || (keys & MK_SHIFT);
    const int32_t hp = model_.horizontalBar().position, vp = model_.verticalBar().position;
    // Where there is no image, or the whole image is visible this way, the
    // page around scrolls instead. The lens keeps its picture until the drag
    // ends: the wheel is used but moves nothing.
    if (!model_.wheel(lensActive_ ? 0 : delta, horizontal, tilt, wheelLines(tilt)))
        return false;
    if (showScrolled(hp, vp))
        showKeyTip();
    return true;
}
