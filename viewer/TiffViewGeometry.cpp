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
    const SizeI fitted = fitSize(client.right, client.bottom, W_, H_);
    if (fitted.width <= 0 || fitted.height <= 0)
        return;   // no room yet: fitted again at the next paint
    scaledWidth_ = fitted.width;
    scaledHeight_ = fitted.height;
    scale_ = double(scaledWidth_) / W_;
    minScale_ = 100.0 / W_;
    maxScale_ = 3.0;
    updateHotspotRects();
    updateTipRects();
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
    const SizeI fitted = fitSize(client.cx, client.cy, W_, H_);
    scaledWidth_ = fitted.width;
    scaledHeight_ = fitted.height;
    scale_ = double(scaledWidth_) / W_;
    updateScrollBars();
    redrawNow();
}

void TiffView::fitAxis(bool width)
{
    const SIZE client = clientSizeWithoutBars();
    scale_ = width ? fitWidthScale(client.cx, client.cy, W_, H_) : fitHeightScale(client.cx, client.cy, W_, H_);
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
        info.nPos = std::max(0, std::min(scaled - 1, position));
        const BOOL needed = scaled > clientSize;
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
        h->pixelLeft = int32_t(r.left + h->leftFraction * scaledWidth_);
        h->pixelTop = int32_t(r.top + h->topFraction * scaledHeight_);
        h->pixelRight = int32_t(r.left + h->rightFraction * scaledWidth_);
        h->pixelBottom = int32_t(r.top + h->bottomFraction * scaledHeight_);
    }
}

void TiffView::updateTipRects()
{
    if (!tooltip_ || !window_)
        return;
    RECT client = {};
    GetClientRect(window_, &client);
    const RECT r = centreImageRect(client);
    const int hp = GetScrollPos(window_, SB_HORZ), vp = GetScrollPos(window_, SB_VERT);
    const LRESULT count = SendMessageA(tooltip_, TTM_GETTOOLCOUNT, 0, 0);
    for (auto& h : hotspots_) {
        if (h->tipText.empty())
            continue;
        TOOLINFOA tool = {};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;   // up to and including lParam: 44 bytes on 32-bit, 64 on 64-bit Windows
        tool.uFlags = 0;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(h.get());
        tool.rect.left = LONG(r.left + h->leftFraction * scaledWidth_ - hp);
        tool.rect.top = LONG(r.top + h->topFraction * scaledHeight_ - vp);
        tool.rect.right = LONG(r.left + h->rightFraction * scaledWidth_ - hp);
        tool.rect.bottom = LONG(r.top + h->bottomFraction * scaledHeight_ - vp);
        tool.lpszText = const_cast<char*>(h->tipText.c_str());
        SendMessageA(tooltip_, count == 0 ? TTM_ADDTOOLA : TTM_NEWTOOLRECTA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void TiffView::removeTipTools()
{
    if (!tooltip_)
        return;
    // Tools are identified by the address of their ViewHotspot; remove them
    // all while those entries still exist.
    for (auto& h : hotspots_) {
        if (h->tipText.empty())
            continue;
        TOOLINFOA tool = {};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(h.get());
        SendMessageA(tooltip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}
