#pragma once
// The magnifier lens: a 238 x 171 rounded frame with a drop shadow that shows
// the picture around the pointer at twice the view's scale. It draws itself
// onto a target device context, keeping what lay under it so that a move
// leaves no trace.
#include "Dib.h"

#include <windows.h>

class ImageRenderer;

class MagnifierLens {
public:
    static constexpr int kWidth = 238;
    static constexpr int kHeight = 171;
    static constexpr int kHotX = 116;   // pointer position inside the lens
    static constexpr int kHotY = 80;

    MagnifierLens() = default;
    virtual ~MagnifierLens() { release(); }
    MagnifierLens(const MagnifierLens&) = delete;
    MagnifierLens& operator=(const MagnifierLens&) = delete;

    // Loads the frame picture and the masks from the module's resources and
    // makes the three working surfaces. Safe to call again.
    void setUp(HINSTANCE module);
    // Releases every bitmap, palette and device context.
    void release();

    // Everything the lens needs of the view for one drawing.
    struct ViewState {
        int hpos = 0, vpos = 0;        // scroll positions
        RECT imageRect = {};           // the image rectangle in client space
        DibHandle image = nullptr;
        HPALETTE palette = nullptr;
        int W = 0, H = 0;
        double scale = 1.0;
        ImageRenderer* renderer = nullptr;   // draws image parts at any scale
    };
    // Draws the lens with its top-left corner at (x, y) of the target,
    // first putting back what its last drawing covered.
    void draw(HDC target, int x, int y, const ViewState& view);
    // The rectangle a drawing at (x, y) changes, the last position included,
    // grown by 1 pixel.
    RECT dirtyRect(int x, int y) const;

    bool hasSaved = false;
    int lastX = 0, lastY = 0;
    bool ready() const { return zoomDc_ != nullptr && framePicture_ != nullptr; }

private:
    HBITMAP framePicture_ = nullptr;
    HPALETTE framePalette_ = nullptr;
    HBITMAP lensMask_ = nullptr;
    HBITMAP viewMask_ = nullptr;
    int lensWidth_ = kWidth, lensHeight_ = kHeight;
    HDC zoomDc_ = nullptr;
    HBITMAP zoomBitmap_ = nullptr;
    HGDIOBJ zoomPrevious_ = nullptr;
    int hotX_ = kHotX, hotY_ = kHotY;
    HDC maskDc_ = nullptr;
    HGDIOBJ maskPrevious_ = nullptr;
    HDC saveDc_ = nullptr;
    HBITMAP saveBitmap_ = nullptr;
    HGDIOBJ savePrevious_ = nullptr;
};
