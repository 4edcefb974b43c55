// TiffView: modes, hover, clicks, the magnifier drag and the pan drag.
#include "TiffView.h"

#include "NavigationCallback.h"

#include <commctrl.h>

#include <algorithm>

void TiffView::toggleMode(Mode mode)
{
    if (mode_ != mode) {
        mode_ = mode;
        SetCursor(mode == MagnifierMode ? magnifierCursor_ : openHandCursor_);
    } else {
        mode_ = PointerMode;
        SetCursor(arrowCursor_);
    }
}

void TiffView::pointerMode()
{
    mode_ = PointerMode;
    redrawNow();
}

void TiffView::relayToTooltip()
{
    if (!tooltip_ || !currentMessage_)
        return;
    SendMessageA(tooltip_, TTM_ACTIVATE, TRUE, 0);
    MSG relayed = *currentMessage_;
    SendMessageA(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
}

void TiffView::onMouseMove(WPARAM keys)
{
    if (lensActive_) {
        useOffscreen_ = true;
        redrawNow();
        return;
    }
    if (panning_) {
        panStep();
        return;
    }

    pointerInput();
    // Hit tests need the pixel rectangles of a fitted image.
    ensureFitted();
    POINT p;
    GetCursorPos(&p);
    ScreenToClient(window_, &p);
    p = documentPoint(p);
    if (currentHotspot_) {
        if (currentHotspot_->contains(p.x, p.y)) {
            relayToTooltip();
            return;
        }
        currentHotspot_ = nullptr;
        if (mode_ == PointerMode)
            redrawNow();
    }
    currentHotspot_ = hotspotAt(p);
    // The tip follows the current hotspot, so it always names the hotspot
    // that a click would open.
    updateTipRects();
    if (currentHotspot_ && mode_ == PointerMode && framePen_) {
        frameOnly_ = true;
        redrawNow();
    }
    if (mode_ == MagnifierMode) {
        SetCursor(magnifierCursor_);
        return;
    }
    if (mode_ == PanMode) {
        SetCursor(openHandCursor_);
        return;
    }
    if (currentHotspot_)
        SetCursor((keys & MK_LBUTTON) ? globeHandCursor_ : pointingHandCursor_);
    else
        SetCursor(arrowCursor_);
    relayToTooltip();
}

void TiffView::panStep()
{
    POINT c;
    GetCursorPos(&c);
    const int dx = c.x - panOrigin_.x, dy = c.y - panOrigin_.y;
    SCROLLINFO h = {}, v = {};
    h.cbSize = v.cbSize = sizeof h;
    h.fMask = v.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    GetScrollInfo(window_, SB_HORZ, &h);
    GetScrollInfo(window_, SB_VERT, &v);
    auto clamp = [](const SCROLLINFO& info, int delta) {
        return std::max(0, std::min(info.nMax - int(info.nPage), info.nPos - delta));
    };
    const int newH = clamp(h, dx), newV = clamp(v, dy);
    if (newH == h.nPos && newV == v.nPos) {
        panOrigin_ = c;
        return;
    }
    // Only a bar whose position changed is set (and redrawn).
    if (newH != h.nPos)
        SetScrollPos(window_, SB_HORZ, newH, TRUE);
    if (newV != v.nPos)
        SetScrollPos(window_, SB_VERT, newV, TRUE);
    redrawNow();
    panOrigin_ = c;
    updateTipRects();
}

void TiffView::onButtonDown()
{
    switch (mode_) {
    case MagnifierMode:
        SetCapture(window_);
        ShowCursor(FALSE);
        ++cursorHidden_;
        lens_.hasSaved = false;
        lensActive_ = true;
        useOffscreen_ = true;
        redrawNow();
        break;
    case PanMode: {
        RECT client;
        GetClientRect(window_, &client);
        if (client.right > scaledWidth_ && client.bottom > scaledHeight_)
            break;   // the whole image is visible
        SetCapture(window_);
        panning_ = true;
        GetCursorPos(&panOrigin_);
        break;
    }
    default:
        if (currentHotspot_)
            SetCursor(globeHandCursor_);
        relayToTooltip();
        break;
    }
}

void TiffView::onButtonUp()
{
    if (lensActive_) {
        // The flags go first, so the capture-lost message that ReleaseCapture
        // sends finds nothing more to do and the cursor count stays balanced.
        lensActive_ = false;
        useOffscreen_ = false;
        if (cursorHidden_ > 0) {
            ShowCursor(TRUE);
            --cursorHidden_;
        }
        ReleaseCapture();
        redrawNow();
        lens_.hasSaved = false;
        return;
    }
    if (mode_ == PanMode) {
        ReleaseCapture();
        panning_ = false;
        return;
    }
    if (currentHotspot_) {
        SetCursor(pointingHandCursor_);
        if (!followHotspot(*currentHotspot_))
            return;
    }
    relayToTooltip();
}

void TiffView::onDoubleClick()
{
    if (currentHotspot_)
        followHotspot(*currentHotspot_);
}

bool TiffView::followHotspot(const ViewHotspot& hotspot)
{
    if (!navigation_)
        return true;
    // The debug box and the browser's own handling of the request may let
    // the page remove this viewer or replace its document.
    const CallOutMark mark = markCallOut();
    navigation_->navigateToHotspot(hotspot);
    return unchangedSince(mark);
}

void TiffView::onCaptureLost()
{
    if (lensActive_) {
        if (cursorHidden_ > 0) {
            ShowCursor(TRUE);
            --cursorHidden_;
        }
        ReleaseCapture();
        lensActive_ = false;
        useOffscreen_ = false;
        redrawNow();
        lens_.hasSaved = false;
    } else if (panning_) {
        ReleaseCapture();
        panning_ = false;
    }
}
