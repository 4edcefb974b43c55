// TiffView: modes, hover, clicks, the magnifier drag and the pan drag.
#include "TiffView.h"

#include "NavigationCallback.h"

#include <commctrl.h>


void TiffView::toggleMode(Mode mode)
{
    if (mode_ != mode) {
        mode_ = mode;
        SetCursor(mode == MagnifierMode ? cursors_.magnifier : cursors_.openHand);
    } else {
        mode_ = PointerMode;
        SetCursor(cursors_.arrow);
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
        SetCursor(cursors_.magnifier);
        return;
    }
    if (mode_ == PanMode) {
        SetCursor(cursors_.openHand);
        return;
    }
    if (currentHotspot_)
        SetCursor((keys & MK_LBUTTON) ? cursors_.globeHand : cursors_.pointingHand);
    else
        SetCursor(cursors_.arrow);
    relayToTooltip();
}

void TiffView::panStep()
{
    POINT c;
    GetCursorPos(&c);
    const int32_t hp = model_.horizontalBar().position, vp = model_.verticalBar().position;
    if (model_.pan(c.x - panOrigin_.x, c.y - panOrigin_.y)) {
        // Only a bar whose position changed is set (and redrawn).
        if (model_.horizontalBar().position != hp)
            SetScrollPos(window_, SB_HORZ, model_.horizontalBar().position, TRUE);
        if (model_.verticalBar().position != vp)
            SetScrollPos(window_, SB_VERT, model_.verticalBar().position, TRUE);
        redrawNow();
        panOrigin_ = c;
        updateTipRects();
        return;
    }
    panOrigin_ = c;
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
        const RectI client = model_.client();
        if (client.width() > model_.scaledWidth() && client.height() > model_.scaledHeight())
            break;   // the whole image is visible
        SetCapture(window_);
        panning_ = true;
        GetCursorPos(&panOrigin_);
        break;
    }
    default:
        if (currentHotspot_)
            SetCursor(cursors_.globeHand);
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
        SetCursor(cursors_.pointingHand);
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
