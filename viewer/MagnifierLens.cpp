#include "MagnifierLens.h"

#include "ImageRenderer.h"
#include "ResourceIds.h"
#include "ViewGeometry.h"

#include <algorithm>

namespace {
// Selects a palette as a background palette and realizes it; puts the
// previous one back when the scope ends.
class PaletteSelection {
public:
    PaletteSelection(HDC dc, HPALETTE palette) : dc_(dc)
    {
        if (palette) {
            previous_ = SelectPalette(dc, palette, TRUE);
            RealizePalette(dc);
        }
    }
    ~PaletteSelection()
    {
        if (previous_)
            SelectPalette(dc_, previous_, FALSE);
    }
    PaletteSelection(const PaletteSelection&) = delete;
    PaletteSelection& operator=(const PaletteSelection&) = delete;

private:
    HDC dc_;
    HPALETTE previous_ = nullptr;
};

HDC makeSurface(HDC screen, HBITMAP& bitmap, HGDIOBJ& previous)
{
    HDC dc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, MagnifierLens::kWidth, MagnifierLens::kHeight);
    previous = SelectObject(dc, bitmap);
    return dc;
}

void releaseSurface(HDC& dc, HBITMAP& bitmap, HGDIOBJ& previous)
{
    if (dc && previous)
        SelectObject(dc, previous);
    if (bitmap)
        DeleteObject(bitmap);
    if (dc)
        DeleteDC(dc);
    dc = nullptr;
    bitmap = nullptr;
    previous = nullptr;
}
} // namespace

void MagnifierLens::setUp(HINSTANCE module)
{
    if (!framePicture_)
        framePicture_ = loadBitmapResourceWithPalette(module, IDB_LENS_FRAME, framePalette_);
    HPALETTE unused = nullptr;
    if (!lensMask_) {
        lensMask_ = loadBitmapResourceWithPalette(module, IDB_LENS_MASK, unused);
        if (unused)
            DeleteObject(unused);
    }
    unused = nullptr;
    if (!viewMask_) {
        viewMask_ = loadBitmapResourceWithPalette(module, IDB_VIEW_MASK, unused);
        if (unused)
            DeleteObject(unused);
    }
    lensWidth_ = kWidth;
    lensHeight_ = kHeight;
    hotX_ = kHotX;
    hotY_ = kHotY;

    HDC screen = GetDC(nullptr);
    if (!zoomDc_)
        zoomDc_ = makeSurface(screen, zoomBitmap_, zoomPrevious_);
    if (!saveDc_)
        saveDc_ = makeSurface(screen, saveBitmap_, savePrevious_);
    if (!maskDc_) {
        maskDc_ = CreateCompatibleDC(screen);
        maskPrevious_ = viewMask_ ? SelectObject(maskDc_, viewMask_) : nullptr;
    }
    ReleaseDC(nullptr, screen);
}

void MagnifierLens::release()
{
    releaseSurface(zoomDc_, zoomBitmap_, zoomPrevious_);
    releaseSurface(saveDc_, saveBitmap_, savePrevious_);
    HBITMAP none = nullptr;
    releaseSurface(maskDc_, none, maskPrevious_);
    for (HBITMAP* b : {&framePicture_, &lensMask_, &viewMask_}) {
        if (*b)
            DeleteObject(*b);
        *b = nullptr;
    }
    if (framePalette_)
        DeleteObject(framePalette_);
    framePalette_ = nullptr;
    hasSaved = false;
}

RECT MagnifierLens::dirtyRect(int x, int y) const
{
    RECT d = {x, y, x + lensWidth_, y + lensHeight_};
    if (hasSaved) {
        d.left = std::min<LONG>(d.left, lastX);
        d.top = std::min<LONG>(d.top, lastY);
        d.right = std::max<LONG>(d.right, lastX + lensWidth_);
        d.bottom = std::max<LONG>(d.bottom, lastY + lensHeight_);
    }
    InflateRect(&d, 1, 1);
    return d;
}

void MagnifierLens::draw(HDC target, int x, int y, const ViewState& view)
{
    if (!zoomDc_ || !saveDc_)
        return;
    PaletteSelection targetPalette(target, view.palette);
    if (hasSaved)
        BitBlt(target, lastX, lastY, lensWidth_, lensHeight_, saveDc_, 0, 0, SRCCOPY);
    lastX = x;
    lastY = y;
    {
        PaletteSelection zoomPalette(zoomDc_, view.palette);
        BitBlt(saveDc_, 0, 0, lensWidth_, lensHeight_, target, x, y, SRCCOPY);
        hasSaved = true;

        if (view.scale >= 1.0) {
            // Twice what the screen shows around the pointer.
            const int sw = lensWidth_ / 2, sh = lensHeight_ / 2;
            SetStretchBltMode(zoomDc_, COLORONCOLOR);
            StretchBlt(zoomDc_, 0, 0, lensWidth_, lensHeight_, target, x + hotX_ - sw / 2, y + hotY_ - sh / 2, sw,
                       sh, SRCCOPY);
        } else if (view.scale > 0) {
            // Below scale 1 the screen has lost detail: sample the image itself
            // at twice the scale, grey where the lens reaches past its edges.
            const double t = 2 * view.scale;
            const double sw = lensWidth_ / t, sh = lensHeight_ / t;
            // Sums in floating point, conversions saturated: far out in a
            // huge zoomed image nothing wraps round.
            double sl = saturatingTrunc((double(x) + hotX_ + view.hpos - view.imageRect.left) / view.scale - sw * 0.5);
            double st = saturatingTrunc((double(y) + hotY_ + view.vpos - view.imageRect.top) / view.scale - sh * 0.5);
            double sr = saturatingTrunc(sl + sw), sb = saturatingTrunc(st + sh);
            RECT dest = {0, 0, lensWidth_, lensHeight_};
            bool clipped = false;
            if (sl < 0) { dest.left = saturatingTrunc(-sl * view.scale * 2); sl = 0; clipped = true; }
            if (st < 0) { dest.top = saturatingTrunc(-st * t); st = 0; clipped = true; }
            if (sr > view.W) { dest.right = saturatingTrunc(lensWidth_ - (sr - view.W) * t); sr = view.W; clipped = true; }
            if (sb > view.H) { dest.bottom = saturatingTrunc(lensHeight_ - (sb - view.H) * t); sb = view.H; clipped = true; }
            if (clipped) {
                RECT all = {0, 0, lensWidth_, lensHeight_};
                FillRect(zoomDc_, &all, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
            }
            if (sl < view.W && st < view.H && sr > sl && sb > st) {
                RECT source = {LONG(sl), LONG(st), LONG(sr), LONG(sb)};
                bool drawn = view.renderer && view.renderer->drawStretched(zoomDc_, dest, view.image, source);
                if (!drawn) {
                    RECT bottomUp = source;
                    if (dest.right - dest.left != source.right - source.left ||
                        dest.bottom - dest.top != source.bottom - source.top) {
                        bottomUp.top = view.H - source.bottom;
                        bottomUp.bottom = view.H - source.top;
                    }
                    paintDibRect(zoomDc_, dest, view.image, bottomUp, nullptr);
                }
            }
        }
    }
    RECT lensRect = {x, y, x + lensWidth_, y + lensHeight_};
    if (framePicture_ && lensMask_)
        blitWithWhiteTransparent(target, framePicture_, lensMask_, lensRect);
    if (maskDc_ && viewMask_)
        BitBlt(zoomDc_, 0, 0, lensWidth_, lensHeight_, maskDc_, 0, 0, MERGEPAINT);
    BitBlt(target, x, y, lensWidth_, lensHeight_, zoomDc_, 0, 0, SRCAND);
}
