// TiffView: the view model's geometry on the window: its viewport from the
// window's size, its scroll bars as the window's, its steps shown.
#include "TiffView.h"

#include "CommandIds.h"

#include <commctrl.h>

namespace {
RECT toRect(const RectI& r) { return {r.left, r.top, r.right, r.bottom}; }
} // namespace

int TiffView::scrollPos(int bar) const
{
    return window_ ? GetScrollPos(window_, bar) : 0;
}

void TiffView::syncViewport()
{
    if (!window_)
        return;
    // The client area plus the bars the window shows: the area the model
    // lays the image and its bars out in.
    RECT client = {};
    GetClientRect(window_, &client);
    const LONG style = GetWindowLongA(window_, GWL_STYLE);
    const int32_t width = client.right + ((style & WS_VSCROLL) ? GetSystemMetrics(SM_CXVSCROLL) : 0);
    const int32_t height = client.bottom + ((style & WS_HSCROLL) ? GetSystemMetrics(SM_CYHSCROLL) : 0);
    if (width != model_.viewportWidth() || height != model_.viewportHeight())
        model_.setViewport(width, height);
}

void TiffView::ensureFitted()
{
    if (!image_ || !window_ || model_.fitted())
        return;
    syncViewport();
    if (model_.ensureFitted())
        updateTipRects();
}

void TiffView::applyScrollBars()
{
    if (!window_)
        return;
    // Showing or hiding a bar sends a size message: the model has laid out
    // both bars already.
    layoutBusy_ = true;
    auto setBar = [this](int which, const ViewState::Bar& bar) {
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        info.nMin = 0;
        info.nMax = bar.range;
        info.nPage = UINT(bar.page);
        info.nPos = bar.position;
        SetScrollInfo(window_, which, &info, bar.shown);
        ShowScrollBar(window_, which, bar.shown);
    };
    setBar(SB_VERT, model_.verticalBar());
    setBar(SB_HORZ, model_.horizontalBar());
    layoutBusy_ = false;
}

void TiffView::updateScrollBars()
{
    if (!image_ || !window_)
        return;
    syncViewport();
    applyScrollBars();
    updateTipRects();
}

bool TiffView::showScrolled(int32_t hp, int32_t vp)
{
    const int32_t h = model_.horizontalBar().position, v = model_.verticalBar().position;
    if (!window_ || (h == hp && v == vp))
        return false;
    // Only a bar whose position changed is set (and redrawn); then the whole
    // view is painted again and the tooltip rectangles move.
    if (h != hp)
        SetScrollPos(window_, SB_HORZ, h, TRUE);
    if (v != vp)
        SetScrollPos(window_, SB_VERT, v, TRUE);
    InvalidateRect(window_, nullptr, FALSE);
    UpdateWindow(window_);
    updateTipRects();
    return true;
}

void TiffView::runGeometryCommand(int commandId)
{
    syncViewport();
    if (!model_.command(commandId)) {
        // At a limit, or no room: no change, no repaint. A fit measured the
        // window without bars and leaves them hidden.
        if (commandId == ID_FIT_WINDOW || commandId == ID_FIT_WIDTH || commandId == ID_FIT_HEIGHT)
            applyScrollBars();
        return;
    }
    if (commandId == ID_ZOOM_IN || commandId == ID_ZOOM_OUT) {
        // Zoom steps paint no intermediate state while the bars change.
        SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
        applyScrollBars();
        updateTipRects();
        SendMessageA(window_, WM_SETREDRAW, TRUE, 0);
        // Redrawing was off while the scroll bars changed: paint them too.
        RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
        return;
    }
    applyScrollBars();
    updateTipRects();
    redrawNow();
}

void TiffView::onSize()
{
    if (!layoutBusy_)
        updateScrollBars();
}

void TiffView::onScroll(int bar, WPARAM wParam)
{
    const bool horizontal = bar == SB_HORZ;
    const ViewState::Bar& state = horizontal ? model_.horizontalBar() : model_.verticalBar();
    // The message carries the thumb in 16 bits; beyond that range the bar's
    // 32-bit track position is the one to follow.
    int32_t thumb = short(HIWORD(wParam));
    if (state.range > 32767) {
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_TRACKPOS;
        GetScrollInfo(window_, bar, &info);
        thumb = info.nTrackPos;
    }
    model_.scroll(horizontal, LOWORD(wParam), thumb);
    SetScrollPos(window_, bar, state.position, TRUE);
    InvalidateRect(window_, nullptr, FALSE);
    UpdateWindow(window_);
    updateTipRects();
}

void TiffView::updateTipRects()
{
    if (!tooltip_ || !window_)
        return;
    if (currentHotspot_)
        showTip(*currentHotspot_, hotspotClientRect(*currentHotspot_));
    else
        hideTip();
}

RECT TiffView::hotspotClientRect(const ViewHotspot& hotspot) const
{
    return toRect(model_.hotspotVisibleRect(hotspot));
}

RECT TiffView::hotspotLocation(const ViewHotspot& hotspot) const
{
    return toRect(model_.hotspotLocation(hotspot));
}

RECT TiffView::centreImageRect(const RECT& client) const
{
    return toRect(::centreImageRect({client.left, client.top, client.right, client.bottom}, model_.scaledWidth(),
                                    model_.scaledHeight()));
}

POINT TiffView::documentPoint(POINT client) const
{
    const PointI p = model_.documentPoint(client.x, client.y);
    return {p.x, p.y};
}

const ViewHotspot* TiffView::hotspotAt(POINT document) const
{
    const int i = model_.hotspotAtDocument(document.x, document.y);
    return i >= 0 ? model_.hotspots()[size_t(i)].get() : nullptr;
}
