#pragma once
// The viewer's zoom and scroll model without a window: the scale, the scaled
// image size, the two scroll bars (range, page, position, shown or not) and
// the hotspot rectangles at the current zoom, changed by the same steps as
// the Windows viewer window takes them (the first fit, the toolbar commands,
// scroll requests, pan drags, a new window size).
//
// Scroll bars follow the rules of the platform's standard bars: a bar's range
// is 0 to the scaled size, its page the client size (at most the range), and
// a position is kept between 0 and range - page + 1; a bar that is not needed
// is at 0. A bar takes its size of the client area while it is shown.
// Hotspots are found through the viewer's hotspot index, so a document with
// very many of them costs little per pointer move.
//
// Two edges are decided here for every shell:
// - The last strip. A range of 0..scaled holds one position more than the
//   image has pixels, so the bar's own requests (lines, pages, the thumb) can
//   reach range - page + 1, where the client's last column or row is one
//   pixel past the image and shows the margin: that is the platform's bar,
//   and kept. Every other way of scrolling (pan drags, keys, the wheel,
//   zooming about a point, bringing a hotspot into view) stops at
//   range - page, the last position that shows nothing but the image.
// - The least zoom. Zooming out stops at a scaled width of 100 pixels, or at
//   the first fit where that is smaller (an image narrower than 100 pixels
//   fitted into a short window, such as a one-pixel-wide strip): the limit
//   never lies above the fit, so the view can always zoom back out to where
//   it started. Scales are saturated like every coordinate: no sum or
//   difference of positions and edges overflows, whatever the image size.
#include "HotspotIndex.h"
#include "ViewGeometry.h"
#include "ViewHotspot.h"
#include "ViewInput.h"

#include <cstdint>
#include <memory>
#include <vector>

class ViewState {
public:
    struct Bar {
        int32_t range = 100;   // the platform's initial range
        int32_t page = 0;
        int32_t position = 0;
        bool shown = false;
        // The last position of the bar's own requests (the platform's limit).
        int32_t lastPosition() const;
        // The last position of every other way of scrolling (see above).
        int32_t scrollEnd() const;
    };

    explicit ViewState(int32_t scrollBarSize = 16) : barWidth_(scrollBarSize), barHeight_(scrollBarSize) {}
    // Bars of different sizes: the vertical bar's width, the horizontal's height.
    ViewState(int32_t verticalBarWidth, int32_t horizontalBarHeight)
        : barWidth_(verticalBarWidth), barHeight_(horizontalBarHeight)
    {
    }

    // The size of the view's area inside its border, bars included. With an
    // image that is fitted already, the bars and hotspots follow it.
    void setViewport(int32_t width, int32_t height);
    // A new document of W x H pixels (0 x 0: none): not fitted yet, scale and
    // limits those of a new view (1), bars hidden and at position 0, no
    // hotspots.
    void setImage(int32_t width, int32_t height);
    // Adds a hotspot of the image (rectangle in image pixels): its edges as
    // fractions of the image and its rectangle at the current zoom. Null
    // without an image; otherwise the caller may fill in the record and tip.
    ViewHotspot* addHotspot(int32_t left, int32_t top, int32_t right, int32_t bottom);
    // Drops the hotspots; the geometry stays (a document read again).
    void clearHotspots();
    // Builds the hotspot index now rather than at the first hit test (it
    // allocates: a caller that must not throw later builds it here).
    void indexHotspots() const;

    // The fit of a new document at its first paint: the largest size with
    // its aspect ratio in the client area. Does nothing once fitted, or
    // while the client area is empty. True when fitted.
    bool ensureFitted();
    // A toolbar command (zoom in/out, the three fits, 1:1); others are
    // ignored. True when the picture changed.
    bool command(int commandId);
    // A scroll bar request (0 line up ... 8 end scroll, as the platform
    // numbers them) on the horizontal (true) or vertical bar.
    void scroll(bool horizontal, int request, int32_t thumb);
    // Moves the picture with a pan drag by (dx, dy) screen pixels; positions
    // stop at range - page. True when a position changed.
    bool pan(int32_t dx, int32_t dy);
    // Sets a bar's position as the platform does (clamped).
    void setPosition(bool horizontal, int32_t position);
    // Zooms to `scale` held within the zoom limits, as a view restored from
    // an address or a saved state asks (a scale that is not a positive
    // number is ignored). The positions stay as far as the bars allow; the
    // caller places the view. True when the scale changed.
    bool setScale(double scale);

    // The keyboard and the wheel, as the viewer window takes them (ViewInput):
    // one axis as keys and the wheel scroll it (as far as a pan drag goes;
    // nothing where the image fits).
    ScrollAxis scrollAxis(bool horizontal) const;
    // A scrolling action of a key (lines, pages, corners).
    void scrollFor(ViewAction action);
    // Wheel `delta` (120 a notch) on the vertical or, with Shift or a tilt,
    // the horizontal axis, `lines` a notch (-1: a page). False when the image
    // fits that way: the page around the view scrolls instead.
    bool wheel(int32_t delta, bool horizontal, bool tilt, int32_t lines);
    // Ctrl+wheel: zoom steps about client point (x, y), the image point
    // under it kept in place. True when the scale changed.
    bool wheelZoom(int32_t delta, int32_t x, int32_t y);

    bool hasImage() const { return W_ > 0 && H_ > 0; }
    bool fitted() const { return scaled_.width != 0; }
    double scale() const { return scale_; }
    double minScale() const { return minScale_; }
    double maxScale() const { return maxScale_; }
    int32_t scaledWidth() const { return scaled_.width; }
    int32_t scaledHeight() const { return scaled_.height; }
    int32_t imageWidth() const { return W_; }
    int32_t imageHeight() const { return H_; }
    const Bar& horizontalBar() const { return h_; }
    const Bar& verticalBar() const { return v_; }
    int32_t scrollBarSize() const { return barWidth_; }
    int32_t viewportWidth() const { return viewport_.width; }
    int32_t viewportHeight() const { return viewport_.height; }
    // The client area: the viewport less the shown bars.
    RectI client() const;
    // Where the image is drawn in the client area at scroll positions 0.
    RectI imageRect() const;
    // The part of the image the client area shows.
    RectI visibleSource() const;
    // The part of the image that a client rectangle of dw x dh shows from the
    // current scroll positions.
    RectI visibleSource(int32_t dw, int32_t dh) const;
    // A client point in document space (plus the scroll positions), saturated.
    PointI documentPoint(int32_t clientX, int32_t clientY) const;
    size_t hotspotCount() const { return hotspots_.size(); }
    const HotspotIndex::Hotspots& hotspots() const { return hotspots_; }
    // Hotspot i's rectangle in document space (client space plus the scroll
    // positions) at the current zoom; edges included.
    RectI hotspotRect(size_t i) const;
    // A hotspot's rectangle in client space at the current scroll positions,
    // wherever it lies, left above right and top above bottom; saturated.
    RectI hotspotLocation(const ViewHotspot& hotspot) const;
    // The part of a hotspot that the client area shows, right and bottom one
    // past its edges (which belong to it); empty when none shows.
    RectI hotspotVisibleRect(const ViewHotspot& hotspot) const;
    // Scrolls as little as brings hotspot i whole into view (its start where
    // it is larger than the view). True when a position changed.
    bool scrollToHotspot(size_t i);
    // The first hotspot in list order at client point (x, y), or -1.
    int hotspotAt(int32_t clientX, int32_t clientY) const;
    // The same at a point of document space.
    int hotspotAtDocument(int32_t x, int32_t y) const;

private:
    void updateScrollBars();
    void updateHotspotRects();
    void hideBars();
    void setBar(Bar& bar, int32_t scaled, int32_t clientSize);
    void zoomTo(double newScale);
    void setPosition(Bar& bar, int64_t position);

    int32_t barWidth_;    // the vertical bar's
    int32_t barHeight_;   // the horizontal bar's
    SizeI viewport_;   // the area inside the border, bars included
    int32_t W_ = 0;
    int32_t H_ = 0;
    double scale_ = 1.0;
    // The zoom limits (see the header's note on the least zoom).
    double minScale_ = 1.0;
    double maxScale_ = 1.0;
    SizeI scaled_;     // 0 wide: not fitted yet
    Bar h_;
    Bar v_;
    WheelAccumulator wheelHorizontal_;
    WheelAccumulator wheelVertical_;
    WheelAccumulator wheelZoom_;
    HotspotIndex::Hotspots hotspots_;
    // Built at the first hit test unless indexHotspots came first.
    mutable HotspotIndex index_;
    mutable bool indexed_ = false;   // the index holds every hotspot
};
