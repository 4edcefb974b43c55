#pragma once
// Draws a PlainImage at any scale into RGBA pixels, a tile of the scaled
// image at a time, by the viewer's sampling rule: output pixel i of an axis
// of `out` pixels showing `in` source pixels takes the source cell starting
// at i * in / out. The first pixel of each cell is used (as COLORONCOLOR
// stretching does), except that a bilevel image shrunk below scale 1 keeps
// its dark pixels: a cell is dark when any of its pixels is, so the thin
// lines of drawings stay visible at every zoom. Cells of 8 pixels or more
// are sampled from a plane reduced 8 times, made once per image.
#include "PlainImage.h"
#include "ViewGeometry.h"

#include <cstdint>
#include <vector>

class ImageSampler {
public:
    // The image to draw (not owned; null forgets it). Makes the reduced
    // plane of a large bilevel image at once, as it is needed for every
    // fitted view of it.
    void setImage(const PlainImage* image);

    // Writes the tile at (x, y) of size w x h of the image scaled to
    // scaledWidth x scaledHeight into `out` (w x h RGBA words, rows top
    // first). False when the tile lies outside the scaled image.
    bool renderTile(int32_t x, int32_t y, int32_t w, int32_t h, int32_t scaledWidth, int32_t scaledHeight,
                    uint32_t* out);
    // Writes the image rectangle `source` stretched to w x h into `out`.
    bool renderStretched(const RectI& source, int32_t w, int32_t h, uint32_t* out);

    bool hasReducedPlane() const { return !reduced_.empty(); }

private:
    void makeReducedPlane();
    void resample(const std::vector<int32_t>& cols, const std::vector<int32_t>& rows, int32_t w, int32_t h,
                  uint32_t* out) const;

    const PlainImage* image_ = nullptr;
    std::vector<uint8_t> reduced_;   // one bit a cell, set where the 8 x 8 cell has a dark pixel
    int32_t reducedWidth_ = 0;
    int32_t reducedHeight_ = 0;
    size_t reducedStride_ = 0;
};
