#include "ViewState.h"

#include "CommandIds.h"

#include <algorithm>
#include <cmath>

int32_t ViewState::Bar::lastPosition() const
{
    return saturate(int64_t(range) - std::max(page - 1, 0));
}

int32_t ViewState::Bar::scrollEnd() const
{
    return std::max(0, saturate(int64_t(range) - page));
}

namespace {
int32_t clampPosition(const ViewState::Bar& bar, int64_t position)
{
    return int32_t(std::max<int64_t>(0, std::min<int64_t>(bar.lastPosition(), position)));
}
} // namespace

void ViewState::setViewport(int32_t width, int32_t height)
{
    viewport_.width = std::max(0, width);
    viewport_.height = std::max(0, height);
    if (hasImage())
        updateScrollBars();
}

void ViewState::setImage(int32_t width, int32_t height)
{
    W_ = std::max(0, width);
    H_ = std::max(0, height);
    scaled_.width = scaled_.height = 0;
    scale_ = minScale_ = maxScale_ = 1.0;
    clearHotspots();
    hideBars();
    h_.position = v_.position = 0;
}

void ViewState::clearHotspots()
{
    index_.clear();
    indexed_ = false;
    hotspots_.clear();
}

void ViewState::indexHotspots() const
{
    if (indexed_)
        return;
    index_.build(hotspots_);
    indexed_ = true;
}

ViewHotspot* ViewState::addHotspot(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    if (!hasImage())
        return nullptr;
    auto h = std::make_unique<ViewHotspot>();
    h->leftFraction = double(left) / W_;
    h->topFraction = double(top) / H_;
    h->rightFraction = double(right) / W_;
    h->bottomFraction = double(bottom) / H_;
    const RectI r = imageRect();
    const RectI p = fractionRect(h->leftFraction, h->topFraction, h->rightFraction, h->bottomFraction, r.left, r.top,
                                 scaled_.width, scaled_.height);
    h->pixelLeft = p.left, h->pixelTop = p.top, h->pixelRight = p.right, h->pixelBottom = p.bottom;
    hotspots_.push_back(std::move(h));
    indexed_ = false;
    return hotspots_.back().get();
}

RectI ViewState::hotspotRect(size_t i) const
{
    if (i >= hotspots_.size())
        return {};
    const ViewHotspot& h = *hotspots_[i];
    return {h.pixelLeft, h.pixelTop, h.pixelRight, h.pixelBottom};
}

RectI ViewState::hotspotLocation(const ViewHotspot& h) const
{
    const RectI r = {std::min(h.pixelLeft, h.pixelRight), std::min(h.pixelTop, h.pixelBottom),
                     std::max(h.pixelLeft, h.pixelRight), std::max(h.pixelTop, h.pixelBottom)};
    return offsetRect(r, h_.position, v_.position);
}

RectI ViewState::hotspotVisibleRect(const ViewHotspot& h) const
{
    const RectI c = client();
    const RectI p = offsetRect({h.pixelLeft, h.pixelTop, h.pixelRight, h.pixelBottom}, h_.position, v_.position);
    // Right and bottom edges belong to the hotspot: the rectangle ends one
    // past them. Beyond the client area nothing shows.
    RectI r = {std::max(p.left, c.left), std::max(p.top, c.top), std::min(p.right, c.right - 1) + 1,
               std::min(p.bottom, c.bottom - 1) + 1};
    if (r.left >= r.right || r.top >= r.bottom)
        r = RectI{};
    return r;
}

bool ViewState::scrollToHotspot(size_t i)
{
    if (i >= hotspots_.size())
        return false;
    const ViewHotspot& h = *hotspots_[i];
    const ScrollAxis horizontal = scrollAxis(true), vertical = scrollAxis(false);
    const int32_t hp = scrollToShow(horizontal, std::min(h.pixelLeft, h.pixelRight), std::max(h.pixelLeft, h.pixelRight));
    const int32_t vp = scrollToShow(vertical, std::min(h.pixelTop, h.pixelBottom), std::max(h.pixelTop, h.pixelBottom));
    if (hp == horizontal.position && vp == vertical.position)
        return false;
    setPosition(h_, hp);
    setPosition(v_, vp);
    return true;
}

PointI ViewState::documentPoint(int32_t clientX, int32_t clientY) const
{
    return {saturate(int64_t(clientX) + h_.position), saturate(int64_t(clientY) + v_.position)};
}

void ViewState::hideBars()
{
    h_.shown = v_.shown = false;
}

RectI ViewState::client() const
{
    RectI c;
    c.right = std::max(0, viewport_.width - (v_.shown ? barWidth_ : 0));
    c.bottom = std::max(0, viewport_.height - (h_.shown ? barHeight_ : 0));
    return c;
}

RectI ViewState::imageRect() const
{
    return centreImageRect(client(), scaled_.width, scaled_.height);
}

RectI ViewState::visibleSource() const
{
    const RectI c = client();
    return visibleSource(c.width(), c.height());
}

RectI ViewState::visibleSource(int32_t dw, int32_t dh) const
{
    return ::visibleSource(h_.position, v_.position, scale_, dw, dh, W_, H_);
}

bool ViewState::ensureFitted()
{
    if (!hasImage())
        return false;
    if (fitted())
        return true;
    const RectI c = client();
    const Fit fit = fitImage(c.width(), c.height(), W_, H_);
    if (fit.size.width <= 0 || fit.size.height <= 0)
        return false;   // no room yet: fitted again at the next paint
    scaled_.width = fit.size.width;
    scaled_.height = fit.size.height;
    scale_ = fit.scale;
    // 100 pixels of width, or the fit where that is less (see the header).
    minScale_ = std::min(100.0 / W_, scale_);
    maxScale_ = 3.0;
    updateHotspotRects();
    return true;
}

void ViewState::setBar(Bar& bar, int32_t scaled, int32_t clientSize)
{
    bar.range = scaled;
    bar.page = std::max(0, std::min(clientSize, scaled));
    bar.shown = scaled > clientSize;
    // A bar that is not needed is at 0: its range would otherwise leave
    // position 1 and hide the image's first row or column.
    bar.position = bar.shown ? clampPosition(bar, std::max(0, std::min(scaled - 1, bar.position))) : 0;
}

void ViewState::updateScrollBars()
{
    // Both bars are decided on the client area as it was before either
    // changed, the vertical one first.
    const RectI c = client();
    setBar(v_, scaled_.height, c.height());
    setBar(h_, scaled_.width, c.width());
    updateHotspotRects();
}

void ViewState::updateHotspotRects()
{
    const RectI r = imageRect();
    for (auto& h : hotspots_) {
        const RectI p = fractionRect(h->leftFraction, h->topFraction, h->rightFraction, h->bottomFraction, r.left,
                                     r.top, scaled_.width, scaled_.height);
        h->pixelLeft = p.left, h->pixelTop = p.top, h->pixelRight = p.right, h->pixelBottom = p.bottom;
    }
}

void ViewState::zoomTo(double newScale)
{
    scale_ = newScale;
    const SizeI size = scaledSize(W_, H_, scale_);
    scaled_.width = size.width;
    scaled_.height = size.height;
    updateScrollBars();
}

bool ViewState::command(int commandId)
{
    if (!hasImage() || !ensureFitted())
        return false;
    switch (commandId) {
    case ID_ZOOM_IN:
    case ID_ZOOM_OUT: {
        const double next =
            commandId == ID_ZOOM_IN ? zoomInScale(scale_, maxScale_) : zoomOutScale(scale_, minScale_);
        if (next == scale_)
            return false;   // at a limit: no change
        zoomTo(next);
        return true;
    }
    case ID_FIT_WINDOW: {
        // The fits measure the client area without scroll bars.
        hideBars();
        const RectI c = client();
        const Fit fit = fitImage(c.width(), c.height(), W_, H_);
        if (fit.size.width <= 0 || fit.size.height <= 0)
            return false;   // no room: the image keeps its scale
        scaled_.width = fit.size.width;
        scaled_.height = fit.size.height;
        scale_ = fit.scale;
        updateScrollBars();
        return true;
    }
    case ID_FIT_WIDTH:
    case ID_FIT_HEIGHT: {
        hideBars();
        const RectI c = client();
        const double scale = commandId == ID_FIT_WIDTH ? fitWidthScale(c.width(), c.height(), W_, H_)
                                                       : fitHeightScale(c.width(), c.height(), W_, H_);
        if (!(scale > 0))
            return false;   // no room (narrower than a scroll bar): the image keeps its scale
        scale_ = scale;
        const SizeI size = scaledSize(W_, H_, scale_);
        scaled_.width = size.width;
        scaled_.height = size.height;
        // A fit may go beyond the zoom limit; zooming in then starts from there.
        maxScale_ = std::max(maxScale_, scale_);
        updateScrollBars();
        return true;
    }
    case ID_ACTUAL_SIZE:
        scaled_.width = W_;
        scaled_.height = H_;
        scale_ = 1.0;
        updateScrollBars();
        return true;
    default:
        return false;
    }
}

bool ViewState::setScale(double scale)
{
    if (!fitted() || !(scale > 0) || !std::isfinite(scale))
        return false;
    const double next = std::max(minScale_, std::min(maxScale_, scale));
    if (next == scale_)
        return false;
    zoomTo(next);
    return true;
}

void ViewState::setPosition(Bar& bar, int64_t position)
{
    bar.position = clampPosition(bar, position);
}

void ViewState::setPosition(bool horizontal, int32_t position)
{
    setPosition(horizontal ? h_ : v_, position);
}

void ViewState::scroll(bool horizontal, int request, int32_t thumb)
{
    Bar& bar = horizontal ? h_ : v_;
    setPosition(bar, int64_t(bar.position) + scrollDistance(request, bar.page, bar.position, thumb));
}

bool ViewState::pan(int32_t dx, int32_t dy)
{
    auto target = [](const Bar& bar, int32_t delta) {
        return int32_t(std::max<int64_t>(0, std::min<int64_t>(bar.scrollEnd(), int64_t(bar.position) - delta)));
    };
    const int32_t newH = target(h_, dx), newV = target(v_, dy);
    if (newH == h_.position && newV == v_.position)
        return false;
    if (newH != h_.position)
        setPosition(true, newH);
    if (newV != v_.position)
        setPosition(false, newV);
    return true;
}

int ViewState::hotspotAt(int32_t clientX, int32_t clientY) const
{
    const PointI p = documentPoint(clientX, clientY);
    return hotspotAtDocument(p.x, p.y);
}

int ViewState::hotspotAtDocument(int32_t x, int32_t y) const
{
    indexHotspots();
    const RectI r = imageRect();
    return index_.firstContaining(hotspots_, x, y, r.left, r.top, scaled_.width, scaled_.height);
}

ScrollAxis ViewState::scrollAxis(bool horizontal) const
{
    const Bar& bar = horizontal ? h_ : v_;
    const RectI c = client();
    ScrollAxis axis;
    axis.position = bar.position;
    axis.page = horizontal ? c.width() : c.height();
    const int32_t scaled = horizontal ? scaled_.width : scaled_.height;
    if (scaled > axis.page)
        axis.maximum = bar.scrollEnd();
    return axis;
}

void ViewState::scrollFor(ViewAction action)
{
    ScrollAxis horizontal = scrollAxis(true), vertical = scrollAxis(false);
    scrollForAction(action, horizontal, vertical);
    setPosition(true, horizontal.position);
    setPosition(false, vertical.position);
}

bool ViewState::wheel(int32_t delta, bool horizontal, bool tilt, int32_t lines)
{
    WheelAccumulator& accumulator = horizontal ? wheelHorizontal_ : wheelVertical_;
    const ScrollAxis axis = scrollAxis(horizontal);
    if (!fitted() || axis.maximum <= 0) {
        accumulator.reset();
        return false;
    }
    const int32_t pixels = accumulator.add(delta, wheelPixelsPerNotch(lines, axis.page));
    // Turning the wheel away from the user (a negative delta) scrolls down
    // or right, as does tilting it right.
    const int64_t by = tilt ? int64_t(pixels) : -int64_t(pixels);
    setPosition(horizontal, clampScroll(axis, int64_t(axis.position) + by));
    return true;
}

bool ViewState::wheelZoom(int32_t delta, int32_t x, int32_t y)
{
    if (!fitted())
        return false;
    int32_t steps = wheelZoom_.add(delta, 1);
    double scale = scale_;
    for (; steps > 0; --steps)
        scale = zoomInScale(scale, maxScale_);
    for (; steps < 0; ++steps)
        scale = zoomOutScale(scale, minScale_);
    if (scale == scale_)
        return false;   // at a limit
    const RectI c = client();
    x = std::max(0, std::min(c.width(), x));
    y = std::max(0, std::min(c.height(), y));
    const RectI before = imageRect();
    const int32_t hp = h_.position, vp = v_.position;
    const double oldScale = scale_;
    zoomTo(scale);
    const RectI after = imageRect();
    const int32_t newH = scrollAfterZoom(x, hp, before.left, oldScale, scale_, after.left, scrollAxis(true).maximum);
    const int32_t newV = scrollAfterZoom(y, vp, before.top, oldScale, scale_, after.top, scrollAxis(false).maximum);
    setPosition(true, newH);
    setPosition(false, newV);
    return true;
}
