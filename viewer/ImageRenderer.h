#pragma once
// Draws a DIB at any scale at a cost that follows the destination, not the
// image: the image is resampled into tiles of document space (the image at
// the current scale) once per scale and kept in a cache; each paint copies
// the visible tiles unscaled. The caches of all renderers of the process
// share one budget: a new tile that would exceed it pushes out the least
// recently used tiles of any renderer, so a page with many viewers takes no
// more than one budget of tile memory. The pixels come from the core's image
// sampler (its sampling rule: the source pixel under each destination pixel,
// dark pixels of shrunk bilevel images kept), so the viewer and the browser
// element draw the same pixels.
#include "Dib.h"
#include "ImageSampler.h"

#include <windows.h>

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

class ImageRenderer {
public:
    ImageRenderer();
    ~ImageRenderer();
    ImageRenderer(const ImageRenderer&) = delete;
    ImageRenderer& operator=(const ImageRenderer&) = delete;

    // Forgets every tile (a new image, or the image's memory changed).
    void reset();
    // Work that depends only on the image, done when it is set rather than
    // at its first paint: the reduced plane of a large bilevel image.
    void prepare(DibHandle image);

    // Draws document-space rectangle `doc` (the image scaled to
    // scaledWidth x scaledHeight) of `image` at (x, y) of `dc`. False when
    // nothing could be drawn.
    bool draw(HDC dc, int x, int y, const RECT& doc, DibHandle image, int32_t scaledWidth, int32_t scaledHeight);

    // Draws image-space rectangle `source` stretched into `dest` of `dc`
    // (small destinations: the lens), rendered directly without the cache.
    bool drawStretched(HDC dc, const RECT& dest, DibHandle image, const RECT& source);

    // Tile cache statistics, for benchmarks and tests.
    size_t cachedTiles() const { return tiles_.size(); }
    // The shared budget, the bytes that all renderers' tiles take now, and
    // the most they ever took together.
    static size_t processBudgetBytes();
    static size_t processCachedBytes();
    static size_t processPeakBytes();

    struct Tile;

private:
    Tile* tile(DibHandle image, int32_t scaledWidth, int32_t scaledHeight, int column, int row);
    void addTile(std::unique_ptr<Tile> made);
    void dropTile(Tile* tile);
    void clearTiles();

    // The reduced plane of a bilevel image (see ImageSampler), made once per
    // image; null when it cannot be made.
    const ReducedPlane* reducedPlane(DibHandle image, const SampleSource& source);
    ReducedPlane reduced_;
    DibHandle reducedImage_ = nullptr;

    std::list<std::unique_ptr<Tile>> tiles_;   // this renderer's tiles
    DibHandle cachedImage_ = nullptr;
    int32_t cachedWidth_ = 0;
    int32_t cachedHeight_ = 0;
};
