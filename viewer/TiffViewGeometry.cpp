// TiffView: zoom model, fits, scroll bars and hotspot rectangles.
#include "TiffView.h"

#include <commctrl.h>

#include <algorithm>

namespace {
RectI toRectI(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
RECT toRect(const RectI& r) { return {r.left, r.top, r.right, r.bottom}; }
} // namespace

int TiffView::scrollPos(int bar) const
{
    return window_ ? GetScrollPos(window_, bar) : 0;
}

RECT TiffView::centreImageRect(const RECT& client) const
{
    return toRect(::centreImageRect(toRectI(client), scaledWidth_, scaledHeight_));
}

RECT TiffView::visibleSource(int dw, int dh) const
{
    return toRect(::visibleSource(scrollPos(SB_HORZ), scrollPos(SB_VERT), scale_, dw, dh, W_, H_));
}

POINT TiffView::documentPoint(POINT client) const
{
    return {client.x + scrollPos(SB_HORZ), client.y + scrollPos(SB_VERT)};
}

SIZE TiffView::clientSizeWithoutBars()
{
    // The fits measure the client area without scroll bars: the bars that an
    // earlier zoom needed must not make the fitted image smaller than the
    // window, nor stay when the fitted image no longer needs them.
    // updateScrollBars shows again what the new scale needs.
    layoutBusy_ = true;
    ShowScrollBar(window_, SB_BOTH, FALSE);
    layoutBusy_ = false;
    RECT client = {};
    GetClientRect(window_, &client);
    return {client.right, client.bottom};
}

void TiffView::initialFit()
{
    RECT client = {};
    GetClientRect(window_, &client);
    const Fit fit = fitImage(client.right, client.bottom, W_, H_);
    if (fit.size.width <= 0 || fit.size.height <= 0)
        return;   // no room yet: fitted again at the next paint
    scaledWidth_ = fit.size.width;
    scaledHeight_ = fit.size.height;
    scale_ = fit.scale;
    minScale_ = 100.0 / W_;
    maxScale_ = 3.0;
    updateHotspotRects();
    updateTipRects();
}

void TiffView::ensureFitted()
{
    if (image_ && window_ && scaledWidth_ == 0)
        initialFit();
}

void TiffView::zoomTo(double newScale, bool suspendRedraw)
{
    if (newScale == scale_)
        return;   // at a limit: no change, no repaint
    scale_ = newScale;
    const SizeI size = scaledSize(W_, H_, scale_);
    scaledWidth_ = size.width;
    scaledHeight_ = size.height;
    if (suspendRedraw)
        SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
    updateScrollBars();
    if (suspendRedraw) {
        SendMessageA(window_, WM_SETREDRAW, TRUE, 0);
        // Redrawing was off while the scroll bars changed: paint them too.
        RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
        return;
    }
    redrawNow();
}

void TiffView::fitWindow()
{
    const SIZE client = clientSizeWithoutBars();
    const Fit fit = fitImage(client.cx, client.cy, W_, H_);
    if (fit.size.width <= 0 || fit.size.height <= 0)
        return;   // no room: the image keeps its scale
    scaledWidth_ = fit.size.width;
    scaledHeight_ = fit.size.height;
    scale_ = fit.scale;
    updateScrollBars();
    redrawNow();
}

void TiffView::fitAxis(bool width)
{
    const SIZE client = clientSizeWithoutBars();
    const double scale =
        width ? fitWidthScale(client.cx, client.cy, W_, H_) : fitHeightScale(client.cx, client.cy, W_, H_);
    if (!(scale > 0))
        return;   // no room (a window narrower than a scroll bar): the image keeps its scale
    scale_ = scale;
    const SizeI size = scaledSize(W_, H_, scale_);
    scaledWidth_ = size.width;
    scaledHeight_ = size.height;
    // A fit may go beyond the zoom limit; zooming in then starts from there.
    maxScale_ = std::max(maxScale_, scale_);
    updateScrollBars();
    redrawNow();
}

void TiffView::actualSize()
{
    scaledWidth_ = W_;
    scaledHeight_ = H_;
    scale_ = 1.0;
    updateScrollBars();
    redrawNow();
}

void TiffView::updateScrollBars()
{
    if (!image_ || !window_)
        return;
    layoutBusy_ = true;
    RECT client = {};
    GetClientRect(window_, &client);
    const int cw = client.right, ch = client.bottom;
    const int hpos = GetScrollPos(window_, SB_HORZ), vpos = GetScrollPos(window_, SB_VERT);

    auto setBar = [this](int bar, int scaled, int clientSize, int position) {
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        info.nMin = 0;
        info.nMax = scaled;
        info.nPage = UINT(std::max(0, std::min(clientSize, scaled)));
        const BOOL needed = scaled > clientSize;
        // A bar that is not needed is at 0: its range would otherwise leave
        // position 1 and hide the image's first row or column.
        info.nPos = needed ? std::max(0, std::min(scaled - 1, position)) : 0;
        SetScrollInfo(window_, bar, &info, needed);
        ShowScrollBar(window_, bar, needed);
    };
    setBar(SB_VERT, scaledHeight_, ch, vpos);
    setBar(SB_HORZ, scaledWidth_, cw, hpos);
    updateHotspotRects();
    updateTipRects();
    layoutBusy_ = false;
}

void TiffView::onSize()
{
    if (!layoutBusy_)
        updateScrollBars();
}

void TiffView::onScroll(int bar, WPARAM wParam)
{
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
    GetScrollInfo(window_, bar, &info);
    const int request = LOWORD(wParam);
    // The message carries the thumb in 16 bits; beyond that range the bar's
    // 32-bit track position is the one to follow.
    int thumb = short(HIWORD(wParam));
    if (info.nMax > 32767)
        thumb = info.nTrackPos;
    const int distance = scrollDistance(request, int(info.nPage), info.nPos, thumb);
    SetScrollPos(window_, bar, info.nPos + distance, TRUE);
    InvalidateRect(window_, nullptr, FALSE);
    UpdateWindow(window_);
    updateTipRects();
}

void TiffView::updateHotspotRects()
{
    RECT client = {};
    if (window_)
        GetClientRect(window_, &client);
    const RECT r = centreImageRect(client);
    for (auto& h : hotspots_) {
        const RectI p = fractionRect(h->leftFraction, h->topFraction, h->rightFraction, h->bottomFraction, r.left,
                                     r.top, scaledWidth_, scaledHeight_);
        h->pixelLeft = p.left;
        h->pixelTop = p.top;
        h->pixelRight = p.right;
        h->pixelBottom = p.bottom;
    }
}

RECT TiffView::hotspotClientRect(const ViewHotspot& h) const
{
    RECT client = {};
    if (window_)
        GetClientRect(window_, &client);
    const RectI p = offsetRect({h.pixelLeft, h.pixelTop, h.pixelRight, h.pixelBottom}, scrollPos(SB_HORZ),
                               scrollPos(SB_VERT));
    // Right and bottom edges belong to the hotspot; a tool rectangle ends
    // one past them. Beyond the client area nothing can point.
    RECT r = {std::max<LONG>(p.left, client.left), std::max<LONG>(p.top, client.top),
              std::min<LONG>(p.right, client.right - 1) + 1, std::min<LONG>(p.bottom, client.bottom - 1) + 1};
    if (r.left >= r.right || r.top >= r.bottom)
        r = RECT{};
    return r;
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

const ViewHotspot* TiffView::hotspotAt(POINT p) const
{
    RECT client = {};
    if (window_)
        GetClientRect(window_, &client);
    const RECT r = centreImageRect(client);
    const int i = hotspotIndex_.firstContaining(hotspots_, p.x, p.y, r.left, r.top, scaledWidth_, scaledHeight_);
    return i >= 0 ? hotspots_[size_t(i)].get() : nullptr;
}
