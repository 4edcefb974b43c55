// TiffView: painting the image, its margins, the hotspot outline and the lens.
#include "TiffView.h"

#include <algorithm>

namespace {
HBRUSH lightGrey() { return static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)); }

void fill(HDC dc, LONG left, LONG top, LONG right, LONG bottom)
{
    RECT r = {left, top, right, bottom};
    if (r.left < r.right && r.top < r.bottom)
        FillRect(dc, &r, lightGrey());
}
} // namespace

void TiffView::releaseOffscreen()
{
    if (offscreenDc_ && offscreenPrevious_)
        SelectObject(offscreenDc_, offscreenPrevious_);
    if (offscreenBitmap_)
        DeleteObject(offscreenBitmap_);
    if (offscreenDc_)
        DeleteDC(offscreenDc_);
    offscreenDc_ = nullptr;
    offscreenBitmap_ = nullptr;
    offscreenPrevious_ = nullptr;
    offscreenWidth_ = offscreenHeight_ = 0;
}

void TiffView::ensureOffscreen(HDC paintDc, int width, int height)
{
    if (offscreenDc_ && offscreenWidth_ >= width && offscreenHeight_ >= height)
        return;
    // 50 pixels of slack spare a new bitmap for small growths of the window.
    offscreenWidth_ = width + 50;
    offscreenHeight_ = height + 50;
    if (!offscreenDc_)
        offscreenDc_ = CreateCompatibleDC(paintDc);
    if (offscreenBitmap_) {
        SelectObject(offscreenDc_, offscreenPrevious_);
        DeleteObject(offscreenBitmap_);
    }
    offscreenBitmap_ = CreateCompatibleBitmap(paintDc, offscreenWidth_, offscreenHeight_);
    offscreenPrevious_ = SelectObject(offscreenDc_, offscreenBitmap_);
    SetMapMode(offscreenDc_, MM_TEXT);
}

bool TiffView::drawImage(HDC target, const RECT& r, int hp, int vp)
{
    const RectI v = model_.visibleSource(r.right - r.left, r.bottom - r.top);
    const RECT s = {v.left, v.top, v.right, v.bottom};
    const int32_t W = model_.imageWidth(), H = model_.imageHeight();
    const int32_t scaledWidth = model_.scaledWidth(), scaledHeight = model_.scaledHeight();
    if (s.top >= H || s.left >= W || s.right <= s.left || s.bottom <= s.top)
        return false;
    // The picture at the current scale comes from the tile cache; the part
    // of the image rectangle that the scaled image does not reach (the strip
    // past the bar's last pixel) stays grey.
    const RECT doc = {hp, vp, hp + (r.right - r.left), vp + (r.bottom - r.top)};
    if (renderer_.draw(target, r.left, r.top, doc, image_, scaledWidth, scaledHeight)) {
        fill(target, r.left + std::max(0, scaledWidth - hp), r.top, r.right, r.bottom);
        fill(target, r.left, r.top + std::max(0, scaledHeight - vp), r.right, r.bottom);
        return true;
    }
    // Without memory for the cache: one stretched drawing of the visible part.
    RECT source = s;
    if (r.right - r.left != s.right - s.left || r.bottom - r.top != s.bottom - s.top) {
        source.top = H - s.bottom;
        source.bottom = H - s.top;
    }
    return paintDibRect(target, r, image_, source, nullptr) > 0;
}

void TiffView::drawNotice(HDC dc, const RECT& client)
{
    if (notice_.empty())
        return;
    // Black text in the system's dialog font, centred, broken into lines
    // where the window is narrow.
    RECT area = {client.left + 8, client.top + 8, client.right - 8, client.bottom - 8};
    if (area.right <= area.left || area.bottom <= area.top)
        return;
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = SetTextColor(dc, RGB(0, 0, 0));
    const UINT format = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
    RECT measured = area;
    DrawTextW(dc, notice_.c_str(), int(notice_.size()), &measured, format | DT_CALCRECT);
    const LONG height = measured.bottom - measured.top;
    if (height < area.bottom - area.top)
        area.top += (area.bottom - area.top - height) / 2;
    DrawTextW(dc, notice_.c_str(), int(notice_.size()), &area, format);
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
}

void TiffView::drawFrame(HDC target, int hp, int vp)
{
    // The hotspot under the pointer in pointer mode, or the one with the
    // keyboard focus when the keyboard was used last.
    // The page's highlighted hotspots are outlined the same way.
    const ViewHotspot* outlined = outlinedHotspot();
    if ((!outlined && highlighted_.empty()) || !framePen_)
        return;
    HGDIOBJ oldPen = SelectObject(target, framePen_);
    HGDIOBJ oldBrush = SelectObject(target, GetStockObject(NULL_BRUSH));
    auto outline = [&](const ViewHotspot& h) {
        Rectangle(target, h.pixelLeft - hp, h.pixelTop - vp, h.pixelRight - hp, h.pixelBottom - vp);
    };
    if (outlined)
        outline(*outlined);
    const auto& hotspots = model_.hotspots();
    for (int32_t index : highlighted_)
        if (index >= 0 && size_t(index) < hotspots.size() && hotspots[size_t(index)].get() != outlined)
            outline(*hotspots[size_t(index)]);
    SelectObject(target, oldBrush);
    SelectObject(target, oldPen);
}

void TiffView::onPaint()
{
    PAINTSTRUCT ps;
    if (!image_) {
        HDC dc = BeginPaint(window_, &ps);
        RECT client;
        GetClientRect(window_, &client);
        FillRect(dc, &client, lightGrey());
        drawNotice(dc, client);
        EndPaint(window_, &ps);
        frameOnly_ = useOffscreen_ = false;
        return;
    }

    RECT c;
    GetClientRect(window_, &c);
    ensureFitted();
    // Every zoom and scroll ends in a paint: the page hears of it once the
    // message loop comes round.
    queueViewReport();

    HDC paintDc = BeginPaint(window_, &ps);
    if (!model_.fitted()) {
        // No room to fit the image yet.
        FillRect(paintDc, &c, lightGrey());
        EndPaint(window_, &ps);
        frameOnly_ = useOffscreen_ = false;
        return;
    }
    HPALETTE previousPaintPalette = nullptr, previousOffscreenPalette = nullptr;
    if (palette_) {
        previousPaintPalette = SelectPalette(paintDc, palette_, TRUE);
        RealizePalette(paintDc);
    }
    HDC target = paintDc;
    if (useOffscreen_) {
        ensureOffscreen(paintDc, c.right - c.left, c.bottom - c.top);
        if (palette_) {
            previousOffscreenPalette = SelectPalette(offscreenDc_, palette_, TRUE);
            RealizePalette(offscreenDc_);
        }
        target = offscreenDc_;
    }

    const int hp = model_.horizontalBar().position, vp = model_.verticalBar().position;
    const bool drawAll = (!frameOnly_ && !useOffscreen_) || (useOffscreen_ && !lens_.hasSaved);
    // The image's rectangle; the margins beside and above a smaller image
    // are grey.
    const RectI image = model_.imageRect();
    const RECT r = {image.left, image.top, image.right, image.bottom};
    if (r.left > c.left || r.right < c.right) {
        fill(target, 0, 0, r.left, c.bottom);
        fill(target, r.right, 0, c.right, c.bottom);
    }
    if (r.top > c.top || r.bottom < c.bottom) {
        fill(target, 0, 0, c.right, r.top);
        fill(target, 0, r.bottom, c.right, c.bottom);
    }

    if (drawAll)
        drawImage(target, r, hp, vp);

    RECT dirty = {};
    if (lensActive_) {
        POINT p;
        GetCursorPos(&p);
        ScreenToClient(window_, &p);
        const int x = p.x - MagnifierLens::kHotX, y = p.y - MagnifierLens::kHotY;
        if (useOffscreen_)
            dirty = lens_.dirtyRect(x, y);
        MagnifierLens::ViewState state;
        state.hpos = hp;
        state.vpos = vp;
        state.imageRect = r;
        state.image = image_;
        state.palette = palette_;
        state.W = model_.imageWidth();
        state.H = model_.imageHeight();
        state.scale = model_.scale();
        state.renderer = &renderer_;
        lens_.draw(target, x, y, state);
    }

    drawFrame(target, hp, vp);

    if (target == offscreenDc_)
        BitBlt(paintDc, dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top, offscreenDc_,
               dirty.left, dirty.top, SRCCOPY);

    useOffscreen_ = false;
    frameOnly_ = false;
    if (previousPaintPalette)
        SelectPalette(paintDc, previousPaintPalette, FALSE);
    if (previousOffscreenPalette)
        SelectPalette(offscreenDc_, previousOffscreenPalette, FALSE);
    EndPaint(window_, &ps);
}
