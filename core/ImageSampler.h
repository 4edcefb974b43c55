#pragma once
// Draws an image at any scale, a tile of the scaled image at a time, by the
// viewer's sampling rule: output pixel i of an axis of `out` pixels showing
// `in` source pixels takes the source cell starting at i * in / out. The
// first pixel of each cell is used (as COLORONCOLOR stretching does), except
// that a bilevel image shrunk below scale 1 keeps its dark pixels: a cell is
// dark when any of its pixels is, so the thin lines of drawings stay visible
// at every zoom. Cells of 8 pixels or more are sampled from a plane reduced 8
// times, made once per image.
//
// The rule works on pixel rows wherever they live (a PlainImage here, a
// Windows DIB in the viewer's tile renderer), so both draw the same pixels.
// Sizes are computed in 64 bits: an image may be up to 2^31 - 1 pixels wide.
// Every allocation is checked: without memory a call fails, it never throws.
#include "PlainImage.h"
#include "ViewGeometry.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The pixel rows an image is sampled from.
struct SampleSource {
    const uint8_t* pixels = nullptr;   // the first row in memory
    size_t stride = 0;                 // bytes from one row in memory to the next
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bits = 0;                 // 1, 4, 8 (indices), 24 (blue, green, red) or 32 (a word a pixel)
    bool bottomUp = false;             // memory holds the bottom row first
    unsigned darkIndex = 0;            // the index that reads dark in a bilevel image

    const uint8_t* row(int32_t y) const
    {
        return pixels + stride * size_t(bottomUp ? height - 1 - y : y);
    }
    // A size, depth and stride that can be sampled.
    bool valid() const;
};

// Where sampled pixels go: rows of pixels, each an 8-bit index (indexed
// sources only) or a 32-bit word: the palette's word of the index, the
// source's own word (32 bits), or blue, green, red, 0 (24 bits).
struct SampleTarget {
    uint8_t* top = nullptr;               // the first byte of the top row
    ptrdiff_t stride = 0;                 // bytes from a row to the row below it (negative: bottom-up)
    bool words = false;
    const uint32_t* palette = nullptr;    // 2^bits words, for indexed sources written as words
};

// A bilevel image reduced 8 times each way: a bit a cell of 8 x 8 pixels,
// set where one of the cell's pixels is dark.
struct ReducedPlane {
    std::vector<uint8_t> bits;
    int32_t width = 0;
    int32_t height = 0;
    size_t stride = 0;

    bool empty() const { return bits.empty(); }
    void clear();
    // Makes the plane of a bilevel source from its rows [0, rowsReady) (the
    // cells of later rows stay light until update() brings their rows);
    // false, and empty, for any other source or without memory.
    bool make(const SampleSource& source, int32_t rowsReady = INT32_MAX);
    // Makes the cells of source rows [first, end) again after those rows
    // changed (a source decoded a band at a time).
    void update(const SampleSource& source, int32_t first, int32_t end);
};

// A bilevel image this large gets its reduced plane as soon as it is shown:
// every fitted view of it needs the plane.
bool wantsReducedPlane(const SampleSource& source);
// Whether a view at this scale samples the reduced plane (cells of 8 pixels
// or more each way).
bool samplesReducedPlane(const SampleSource& source, int32_t scaledWidth, int32_t scaledHeight);

// Writes the tile at (x, y) of size w x h of the source scaled to
// scaledWidth x scaledHeight. `reduced` (null or empty: none) serves where
// samplesReducedPlane says so. False when the tile lies outside the scaled
// image, the source or target cannot be used, or memory runs out.
bool sampleTile(const SampleSource& source, const ReducedPlane* reduced, int32_t x, int32_t y, int32_t w, int32_t h,
                int32_t scaledWidth, int32_t scaledHeight, const SampleTarget& out);
// Writes the image rectangle `part` stretched to w x h.
bool sampleStretched(const SampleSource& source, const RectI& part, int32_t w, int32_t h, const SampleTarget& out);

// The sampling rule over a PlainImage (any of its kinds), into RGBA words.
class ImageSampler {
public:
    // The image to draw (not owned; null forgets it). Makes the reduced
    // plane of a large bilevel image at once, as it is needed for every
    // fitted view of it, from the rows [0, rowsReady) that hold pixels yet
    // (an image decoded a band at a time: rowsChanged() brings the others).
    void setImage(const PlainImage* image, int32_t rowsReady = INT32_MAX);

    // Writes the tile at (x, y) of size w x h of the image scaled to
    // scaledWidth x scaledHeight into `out` (w x h RGBA words, rows top
    // first). False when the tile lies outside the scaled image or memory
    // runs out.
    bool renderTile(int32_t x, int32_t y, int32_t w, int32_t h, int32_t scaledWidth, int32_t scaledHeight,
                    uint32_t* out);
    // Writes the image rectangle `source` stretched to w x h into `out`.
    bool renderStretched(const RectI& source, int32_t w, int32_t h, uint32_t* out);

    bool hasReducedPlane() const { return !reduced_.empty(); }
    // Rows [first, end) of the image changed (decoded since the image was
    // set): the reduced plane follows them.
    void rowsChanged(int32_t first, int32_t end);

private:
    bool describe(SampleSource& source, SampleTarget& target, int32_t w, uint32_t* out) const;
    void finishWords(uint32_t* out, size_t count) const;

    const PlainImage* image_ = nullptr;
    int32_t rowsReady_ = INT32_MAX;   // rows [0, rowsReady_) hold the image's pixels
    ReducedPlane reduced_;
};
