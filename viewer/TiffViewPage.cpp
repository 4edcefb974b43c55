// TiffView: what the page reads and asks of the view, and the events it
// hears from it.
#include "TiffView.h"

#include "CommandIds.h"
#include "HotspotRecord.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

enum PageReport : WPARAM { kDocumentReport = 1, kViewReport = 2 };

constexpr double kZoomToShare = 0.8;   // of the view a hotspot may take each way
constexpr int kMostZoomSteps = 400;

bool sameView(const PageView& a, const PageView& b)
{
    return a.scale == b.scale && a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

PageHotspot pageHotspotOf(const ViewHotspot& shown)
{
    PageHotspot page;
    if (!shown.hotspot)
        return page;
    const HotspotRecord& record = *shown.hotspot;
    page.ref = record.reference;
    page.text = record.text;
    // The stream keeps the edges as they came; the page gets them ordered.
    page.x = std::min(record.left, record.right);
    page.y = std::min(record.top, record.bottom);
    page.width = saturate(std::llabs(int64_t(record.right) - record.left));
    page.height = saturate(std::llabs(int64_t(record.bottom) - record.top));
    return page;
}

} // namespace

PageHotspot TiffView::pageHotspot(size_t index) const
{
    const auto& hotspots = model_.hotspots();
    return index < hotspots.size() ? pageHotspotOf(*hotspots[index]) : PageHotspot();
}

PageView TiffView::pageView() const
{
    PageView view;
    if (!image_ || !model_.fitted() || model_.scale() <= 0)
        return view;
    const double scale = model_.scale();
    const RectI client = model_.client();
    const int32_t hp = model_.horizontalBar().position, vp = model_.verticalBar().position;
    view.scale = scale;
    view.x = hp / scale;
    view.y = vp / scale;
    view.width = std::max(0, std::min(client.width(), model_.scaledWidth() - hp)) / scale;
    view.height = std::max(0, std::min(client.height(), model_.scaledHeight() - vp)) / scale;
    return view;
}

bool TiffView::zoomToHotspot(size_t index)
{
    if (!image_ || !window_ || index >= model_.hotspotCount())
        return false;
    ensureFitted();
    syncViewport();
    auto fits = [&] {
        const RectI r = model_.hotspotRect(index);
        const RectI c = model_.client();
        return r.width() <= kZoomToShare * c.width() && r.height() <= kZoomToShare * c.height();
    };
    // Out until it fits, then in while the next step still fits.
    for (int i = 0; i < kMostZoomSteps && !fits(); ++i)
        if (!model_.command(ID_ZOOM_OUT))
            break;
    for (int i = 0; i < kMostZoomSteps; ++i) {
        const double before = model_.scale();
        if (!model_.command(ID_ZOOM_IN) || model_.scale() == before)
            break;
        if (!fits()) {
            model_.command(ID_ZOOM_OUT);
            break;
        }
    }
    const RectI r = model_.hotspotRect(index);
    const RectI c = model_.client();
    auto centre = [](int32_t from, int32_t to, int32_t size, const ViewState::Bar& bar) {
        const double middle = std::round((double(from) + to - size) / 2);
        return int32_t(std::max(0.0, std::min(middle, double(bar.scrollEnd()))));
    };
    model_.setPosition(true, centre(r.left, r.right, c.width(), model_.horizontalBar()));
    model_.setPosition(false, centre(r.top, r.bottom, c.height(), model_.verticalBar()));
    applyScrollBars();
    updateTipRects();
    redrawNow();
    return true;
}

void TiffView::setHighlight(std::vector<int32_t> indices)
{
    highlighted_ = std::move(indices);
    redrawNow();
}

void TiffView::reportOutline()
{
    const ViewHotspot* now = outlinedHotspot();
    if (now == reportedOutline_)
        return;
    const ViewHotspot* before = reportedOutline_;
    reportedOutline_ = now;
    if (!pageEvents_)
        return;
    // Copies: the page's handler may free the document.
    const bool left = before != nullptr, entered = now != nullptr;
    const PageHotspot leftHotspot = left ? pageHotspotOf(*before) : PageHotspot();
    const PageHotspot enteredHotspot = entered ? pageHotspotOf(*now) : PageHotspot();
    PageEvents* events = pageEvents_;
    const CallOutMark mark = markCallOut();
    if (left)
        events->hotspotLeft(leftHotspot);
    if (entered && unchangedSince(mark) && pageEvents_ == events)
        events->hotspotEntered(enteredHotspot);
}

void TiffView::queueDocumentReport()
{
    if (pageEvents_ && window_)
        PostMessageA(window_, kPageReportMessage, kDocumentReport, LPARAM(documentGeneration_));
}

void TiffView::queueViewReport()
{
    if (!pageEvents_ || !window_ || viewReportQueued_ || sameView(pageView(), reportedView_))
        return;
    viewReportQueued_ = PostMessageA(window_, kPageReportMessage, kViewReport, 0) != FALSE;
}

void TiffView::onPageReport(WPARAM kind, LPARAM generation)
{
    if (kind == kViewReport) {
        viewReportQueued_ = false;
        const PageView now = pageView();
        if (sameView(now, reportedView_))
            return;
        reportedView_ = now;
        if (pageEvents_)
            pageEvents_->viewChanged();
        return;
    }
    // A report of a document that another has replaced meanwhile is dropped.
    if (kind != kDocumentReport || !pageEvents_ || uint32_t(generation) != documentGeneration_)
        return;
    if (image_) {
        pageEvents_->pageLoaded();
        return;
    }
    const std::wstring message = notice_.empty() ? std::wstring(L"The document could not be read") : notice_;
    pageEvents_->pageError(std::u16string(message.begin(), message.end()));
}
