// TiffView: printing and drawing what the view shows.
#include "TiffView.h"

#include "PrintJob.h"

namespace {
// The largest destination that is sampled in one piece (16 MB at 32 bits).
constexpr int64_t kMaxSampledPixels = 4 << 20;
} // namespace

void TiffView::drawVisible(HDC dc, const RECT& b)
{
    if (!image_)
        return;
    const int bw = b.right - b.left, bh = b.bottom - b.top;
    const int32_t W = model_.imageWidth(), H = model_.imageHeight();
    RECT s;
    SizeI f;
    if (window_ && IsWindow(window_)) {
        RECT client;
        GetClientRect(window_, &client);
        const RectI v = model_.visibleSource(client.right - client.left, client.bottom - client.top);
        s = {v.left, v.top, v.right, v.bottom};
        f = fitSize(bw, bh, s.right - s.left, s.bottom - s.top);
    } else {
        s = {0, 0, W, H};
        f = fitSize(bw, bh, W, H);
    }
    if (!dc) {
        const CallOutMark mark = markCallOut();
        printDib(image_, s, window_, "QEL Tiff Hotspot Viewer", [this, mark] { return unchangedSince(mark); });
        return;
    }
    RECT d = b;
    if (f.width < bw) {
        d.left = b.left + (bw - f.width) / 2;
        d.right = d.left + f.width;
    }
    if (f.height < bh) {
        d.top = b.top + (bh - f.height) / 2;
        d.bottom = d.top + f.height;
    }
    if (d.right <= d.left || d.bottom <= d.top || s.right <= s.left || s.bottom <= s.top)
        return;
    RECT source = s;
    if (d.right - d.left != s.right - s.left || d.bottom - d.top != s.bottom - s.top) {
        source.top = H - s.bottom;
        source.bottom = H - s.top;
    }
    if (dibSourceBytes(image_, s) <= kMaxWholeSourceBytes) {
        const int lines = paintDibRect(dc, d, image_, source, nullptr);
        if (lines != 0 && lines != int(GDI_ERROR))
            return;
    }
    // The source is too large to offer whole, or the device refused it in
    // one drawing (a large image into a printer, a metafile or a memory
    // surface). A destination of moderate size is sampled from the image as
    // the screen draws it (thin lines of a shrunk drawing stay); a larger one
    // is drawn in bands of rows, as the print command does.
    const int64_t destinationPixels = int64_t(d.right - d.left) * (d.bottom - d.top);
    if (destinationPixels <= kMaxSampledPixels && renderer_.drawStretched(dc, d, image_, s))
        return;
    paintDibInBands(dc, d, image_, s, kPrintBandBytes);
}
