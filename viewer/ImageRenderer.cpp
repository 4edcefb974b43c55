#include "ImageRenderer.h"

#include "GlobalMemory.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>

namespace {

constexpr int kTileSize = 256;
// One budget for the tiles of every view in the process: a page with twenty
// viewers must not take twenty times a view's cache of a 32-bit browser's
// address space.
constexpr size_t kProcessBudgetBytes = 96u << 20;

// Read access to a locked packed DIB by image coordinates (row 0 at the top).
struct SourceImage {
    const BITMAPINFOHEADER* header = nullptr;
    const RGBQUAD* colours = nullptr;
    unsigned colourCount = 0;
    const unsigned char* pixels = nullptr;
    size_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool bottomUp = true;
    int bits = 0;

    bool open(const void* dib)
    {
        header = static_cast<const BITMAPINFOHEADER*>(dib);
        if (header->biSize < sizeof(BITMAPINFOHEADER))
            return false;
        bits = header->biBitCount;
        if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
            return false;
        if (header->biCompression != BI_RGB)
            return false;
        width = header->biWidth;
        height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
        bottomUp = header->biHeight > 0;
        if (width <= 0 || height <= 0)
            return false;
        colourCount = dibColorCount(dib);
        colours = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const unsigned char*>(dib) + header->biSize);
        pixels = dibPixels(dib);
        stride = size_t(dibRowBytes(uint32_t(bits), width));
        return true;
    }
    const unsigned char* row(int32_t y) const
    {
        return pixels + stride * size_t(bottomUp ? height - 1 - y : y);
    }
    unsigned index(const unsigned char* r, int32_t x) const
    {
        switch (bits) {
        case 1: return (r[x >> 3] >> (7 - (x & 7))) & 1;
        case 4: return (r[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        default: return r[x];
        }
    }
    // The colour index that reads darker in a two-colour image.
    unsigned darkIndex() const
    {
        if (colourCount < 2)
            return 0;
        auto luma = [](const RGBQUAD& c) { return 299 * c.rgbRed + 587 * c.rgbGreen + 114 * c.rgbBlue; };
        return luma(colours[1]) < luma(colours[0]) ? 1 : 0;
    }
};

// A bottom-up DIB in ordinary memory: 8-bit with the source's colour table
// for palette images, 32-bit for true colour (copied to the screen without
// conversion).
struct PixelBlock {
    struct Info {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info = {};
    std::vector<unsigned char> bits;
    size_t stride = 0;
    int width = 0, height = 0;

    bool make(const SourceImage& src, int w, int h)
    {
        width = w;
        height = h;
        const int depth = src.bits == 24 ? 32 : 8;
        stride = size_t((w * depth + 31) / 32) * 4;
        try {
            bits.assign(stride * size_t(h), 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        info.header.biSize = sizeof(BITMAPINFOHEADER);
        info.header.biWidth = w;
        info.header.biHeight = h;
        info.header.biPlanes = 1;
        info.header.biBitCount = WORD(depth);
        info.header.biCompression = BI_RGB;
        if (depth == 8) {
            info.header.biClrUsed = src.colourCount;
            std::memcpy(info.colours, src.colours, src.colourCount * sizeof(RGBQUAD));
        }
        return true;
    }
    unsigned char* row(int y) { return bits.data() + stride * size_t(height - 1 - y); }
    const BITMAPINFO* bitmapInfo() const { return reinterpret_cast<const BITMAPINFO*>(&info); }
};


// One bit a pixel, rows reached through a function; `dark` is the bit value
// that reads dark.
struct BitPlane {
    std::function<const unsigned char*(int32_t)> row;
    unsigned dark;
    int32_t width;
};

// Output cell (i, j) is dark when any pixel of its source cell is dark. The
// cell's rows are combined byte by byte first (OR when dark is 1, AND when it
// is 0), so each row of the source is read once.
void sampleKeepingDark(const BitPlane& plane, const std::vector<int32_t>& cols, const std::vector<int32_t>& rows,
                       PixelBlock& out, unsigned darkIndex)
{
    const int w = out.width, h = out.height;
    const int32_t x0 = cols[0], x1 = std::max(cols[w], x0 + 1);
    const int32_t firstByte = x0 >> 3, lastByte = (x1 - 1) >> 3;
    std::vector<unsigned char> acc(size_t(lastByte - firstByte + 1));
    const unsigned char lightByte = plane.dark ? 0x00 : 0xFF;
    for (int j = 0; j < h; ++j) {
        const int32_t r0 = rows[j], r1 = std::max(rows[j + 1], r0 + 1);
        std::memcpy(acc.data(), plane.row(r0) + firstByte, acc.size());
        for (int32_t r = r0 + 1; r < r1; ++r) {
            const unsigned char* line = plane.row(r) + firstByte;
            if (plane.dark)
                for (size_t k = 0; k < acc.size(); ++k) acc[k] |= line[k];
            else
                for (size_t k = 0; k < acc.size(); ++k) acc[k] &= line[k];
        }
        unsigned char* o = out.row(j);
        for (int i = 0; i < w; ++i) {
            const int32_t c0 = cols[i] - (firstByte << 3);
            const int32_t c1 = std::max(cols[i + 1], cols[i] + 1) - (firstByte << 3);
            bool isDark = false;
            for (int32_t c = c0; c < c1 && !isDark;) {
                const unsigned char byte = acc[size_t(c >> 3)];
                if ((c & 7) == 0 && c + 8 <= c1) {   // a whole byte at once
                    isDark = byte != lightByte;
                    c += 8;
                } else {
                    isDark = ((byte >> (7 - (c & 7))) & 1) == plane.dark;
                    ++c;
                }
            }
            o[i] = static_cast<unsigned char>(isDark ? darkIndex : darkIndex ^ 1u);
        }
    }
}

// Fills `out` by sampling `src`: output column i takes source columns
// [cols[i], cols[i + 1]) and output row j source rows [rows[j], rows[j + 1]).
// The first pixel of each cell is used, except for bilevel images whose cells
// span several pixels: there any dark pixel in the cell makes it dark.
void resample(const SourceImage& src, const std::vector<int32_t>& cols, const std::vector<int32_t>& rows,
              PixelBlock& out)
{
    const int w = out.width, h = out.height;
    if (src.bits == 1 && (cols[w] - cols[0] > w || rows[h] - rows[0] > h)) {
        const unsigned dark = src.darkIndex();
        BitPlane plane = {[&src](int32_t y) { return src.row(y); }, dark, src.width};
        sampleKeepingDark(plane, cols, rows, out, dark);
        return;
    }
    for (int j = 0; j < h; ++j) {
        const unsigned char* line = src.row(rows[j]);
        unsigned char* o = out.row(j);
        if (src.bits == 24) {
            for (int i = 0; i < w; ++i) {
                const unsigned char* p = line + 3 * size_t(cols[i]);
                o[4 * i] = p[0];
                o[4 * i + 1] = p[1];
                o[4 * i + 2] = p[2];
            }
        } else if (src.bits == 8) {
            for (int i = 0; i < w; ++i)
                o[i] = line[cols[i]];
        } else {
            for (int i = 0; i < w; ++i)
                o[i] = static_cast<unsigned char>(src.index(line, cols[i]));
        }
    }
}

// Cell boundaries of `count` output pixels starting at output pixel `first`
// of an axis of `outSize` pixels that shows `inSize` source pixels starting
// at source pixel `inStart`.
std::vector<int32_t> cellStarts(int64_t first, int count, int64_t outSize, int64_t inStart, int64_t inSize,
                                int32_t limit)
{
    std::vector<int32_t> starts(size_t(count) + 1);
    for (int i = 0; i <= count; ++i) {
        int64_t v = inStart + (first + i) * inSize / outSize;
        starts[size_t(i)] = int32_t(std::min<int64_t>(std::max<int64_t>(v, 0), limit));
    }
    // Keep the last cell inside the image.
    for (int i = 0; i < count; ++i)
        starts[size_t(i)] = std::min(starts[size_t(i)], limit - 1);
    return starts;
}

} // namespace

struct ImageRenderer::Tile {
    int column = 0, row = 0;
    PixelBlock block;
    ImageRenderer* owner = nullptr;
    std::list<std::unique_ptr<Tile>>::iterator ownPosition;   // in owner->tiles_
    std::list<Tile*>::iterator usePosition;                   // in the shared use order
};

// The tiles of all renderers in the order of their last use, and their
// bytes. Views of different threads (one per browser tab) may draw at the
// same time, so every renderer operation on tiles holds the lock.
struct SharedTileCache {
    std::mutex lock;
    std::list<ImageRenderer::Tile*> uses;   // most recently used first
    size_t bytes = 0;
    size_t peakBytes = 0;
};

namespace {
// Never destroyed: a view may still be destroyed after static destruction
// began (a browser unloading the module late).
SharedTileCache& sharedCache()
{
    static SharedTileCache* cache = new SharedTileCache;
    return *cache;
}
} // namespace

ImageRenderer::ImageRenderer() = default;

ImageRenderer::~ImageRenderer()
{
    std::lock_guard<std::mutex> hold(sharedCache().lock);
    clearTiles();
}

size_t ImageRenderer::processBudgetBytes() { return kProcessBudgetBytes; }

size_t ImageRenderer::processCachedBytes()
{
    std::lock_guard<std::mutex> hold(sharedCache().lock);
    return sharedCache().bytes;
}

size_t ImageRenderer::processPeakBytes()
{
    std::lock_guard<std::mutex> hold(sharedCache().lock);
    return sharedCache().peakBytes;
}

void ImageRenderer::dropTile(Tile* t)
{
    SharedTileCache& cache = sharedCache();
    cache.bytes -= t->block.bits.size();
    cache.uses.erase(t->usePosition);
    tiles_.erase(t->ownPosition);
}

void ImageRenderer::clearTiles()
{
    while (!tiles_.empty())
        dropTile(tiles_.front().get());
}

void ImageRenderer::addTile(std::unique_ptr<Tile> made)
{
    SharedTileCache& cache = sharedCache();
    const size_t bytes = made->block.bits.size();
    // Room first, from the least recently used tiles of any renderer.
    while (cache.bytes + bytes > kProcessBudgetBytes && !cache.uses.empty()) {
        Tile* oldest = cache.uses.back();
        oldest->owner->dropTile(oldest);
    }
    made->owner = this;
    tiles_.push_front(std::move(made));
    Tile* t = tiles_.front().get();
    t->ownPosition = tiles_.begin();
    cache.uses.push_front(t);
    t->usePosition = cache.uses.begin();
    cache.bytes += bytes;
    cache.peakBytes = std::max(cache.peakBytes, cache.bytes);
}

void ImageRenderer::reset()
{
    std::lock_guard<std::mutex> hold(sharedCache().lock);
    reduced_ = ReducedPlane();
    clearTiles();
    cachedImage_ = nullptr;
    cachedWidth_ = cachedHeight_ = 0;
}

ImageRenderer::Tile* ImageRenderer::tile(DibHandle image, int32_t scaledWidth, int32_t scaledHeight, int column,
                                         int row)
{
    if (image != cachedImage_ || scaledWidth != cachedWidth_ || scaledHeight != cachedHeight_) {
        // A new scale: the tiles go. The reduced plane stays; it knows its
        // image, and reset() drops it with the image.
        clearTiles();
        cachedImage_ = image;
        cachedWidth_ = scaledWidth;
        cachedHeight_ = scaledHeight;
    }
    for (const auto& t : tiles_) {
        if (t->column == column && t->row == row) {
            SharedTileCache& cache = sharedCache();
            cache.uses.splice(cache.uses.begin(), cache.uses, t->usePosition);
            return t.get();
        }
    }
    return nullptr;
}

void ImageRenderer::prepare(DibHandle image)
{
    GlobalLockGuard<unsigned char> data(image);
    SourceImage src;
    if (!data || !src.open(data.get()) || src.bits != 1)
        return;
    if (src.width > 4096 || src.height > 4096)
        reducedPlane(image, data.get());
}

const ImageRenderer::ReducedPlane* ImageRenderer::reducedPlane(DibHandle image, const void* lockedDib)
{
    if (reduced_.image == image)
        return &reduced_;
    SourceImage src;
    if (!src.open(lockedDib) || src.bits != 1)
        return nullptr;
    ReducedPlane plane;
    plane.width = (src.width + 7) / 8;
    plane.height = (src.height + 7) / 8;
    plane.stride = size_t(plane.width + 7) / 8;
    const size_t rowBytes = size_t(src.width + 7) / 8;
    std::vector<unsigned char> acc(rowBytes);
    try {
        plane.bits.assign(plane.stride * size_t(plane.height), 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const bool darkIsOne = src.darkIndex() == 1;
    for (int32_t r = 0; r < plane.height; ++r) {
        // Combine the block's rows so that a set bit means "dark somewhere".
        std::fill(acc.begin(), acc.end(), 0);
        for (int32_t y = 8 * r; y < std::min(8 * r + 8, src.height); ++y) {
            const unsigned char* line = src.row(y);
            for (size_t k = 0; k < rowBytes; ++k)
                acc[k] |= darkIsOne ? line[k] : static_cast<unsigned char>(~line[k]);
        }
        // Pad bits past the last pixel are not part of the picture.
        if (src.width % 8)
            acc[rowBytes - 1] &= static_cast<unsigned char>(0xFF << (8 - src.width % 8));
        unsigned char* out = plane.bits.data() + plane.stride * size_t(r);
        for (int32_t c = 0; c < plane.width; ++c)
            if (acc[size_t(c)])
                out[c >> 3] |= static_cast<unsigned char>(0x80 >> (c & 7));
    }
    plane.image = image;
    reduced_ = std::move(plane);
    return &reduced_;
}

bool ImageRenderer::draw(HDC dc, int x, int y, const RECT& doc, DibHandle image, int32_t scaledWidth,
                         int32_t scaledHeight)
{
    if (!image || scaledWidth <= 0 || scaledHeight <= 0)
        return false;
    const LONG left = std::max<LONG>(doc.left, 0), top = std::max<LONG>(doc.top, 0);
    const LONG right = std::min<LONG>(doc.right, scaledWidth), bottom = std::min<LONG>(doc.bottom, scaledHeight);
    if (left >= right || top >= bottom)
        return false;

    GlobalLockGuard<unsigned char> data(image);
    SourceImage src;
    if (!data || !src.open(data.get()))
        return false;

    std::lock_guard<std::mutex> hold(sharedCache().lock);
    bool drewAll = true;
    for (int row = int(top / kTileSize); row <= int((bottom - 1) / kTileSize); ++row) {
        for (int column = int(left / kTileSize); column <= int((right - 1) / kTileSize); ++column) {
            const int tx = column * kTileSize, ty = row * kTileSize;
            const int tw = std::min<int>(kTileSize, scaledWidth - tx), th = std::min<int>(kTileSize, scaledHeight - ty);
            Tile* t = tile(image, scaledWidth, scaledHeight, column, row);
            if (!t) {
                auto made = std::make_unique<Tile>();
                made->column = column;
                made->row = row;
                if (!made->block.make(src, tw, th)) {
                    drewAll = false;
                    continue;
                }
                std::vector<int32_t> cols = cellStarts(tx, tw, scaledWidth, 0, src.width, src.width);
                std::vector<int32_t> rows = cellStarts(ty, th, scaledHeight, 0, src.height, src.height);
                const ReducedPlane* plane = nullptr;
                if (src.bits == 1 && int64_t(scaledWidth) * 8 <= src.width && int64_t(scaledHeight) * 8 <= src.height)
                    plane = reducedPlane(image, data.get());
                if (plane) {
                    // Cells of 8 pixels or more: sample the reduced plane.
                    for (int32_t& c : cols)
                        c = std::min(c >> 3, plane->width - 1);
                    for (int32_t& r : rows)
                        r = std::min(r >> 3, plane->height - 1);
                    cols.back() = std::max(cols.back(), std::min(cols[size_t(tw) - 1] + 1, plane->width));
                    rows.back() = std::max(rows.back(), std::min(rows[size_t(th) - 1] + 1, plane->height));
                    BitPlane bits = {[plane](int32_t y) { return plane->bits.data() + plane->stride * size_t(y); },
                                     1u, plane->width};
                    sampleKeepingDark(bits, cols, rows, made->block, src.darkIndex());
                } else {
                    resample(src, cols, rows, made->block);
                }
                addTile(std::move(made));
                t = tiles_.front().get();
            }
            const LONG il = std::max<LONG>(left, tx), it = std::max<LONG>(top, ty);
            const LONG ir = std::min<LONG>(right, tx + tw), ib = std::min<LONG>(bottom, ty + th);
            const int lines = SetDIBitsToDevice(dc, x + (il - doc.left), y + (it - doc.top), DWORD(ir - il),
                                                DWORD(ib - it), il - tx, th - (ib - ty), 0, UINT(th),
                                                t->block.bits.data(), t->block.bitmapInfo(), DIB_RGB_COLORS);
            if (lines <= 0)
                drewAll = false;
        }
    }
    return drewAll;
}

bool ImageRenderer::drawStretched(HDC dc, const RECT& dest, DibHandle image, const RECT& source)
{
    const int dw = dest.right - dest.left, dh = dest.bottom - dest.top;
    const int sw = source.right - source.left, sh = source.bottom - source.top;
    if (!image || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0)
        return false;
    GlobalLockGuard<unsigned char> data(image);
    SourceImage src;
    if (!data || !src.open(data.get()))
        return false;
    if (source.left < 0 || source.top < 0 || source.right > src.width || source.bottom > src.height)
        return false;
    PixelBlock block;
    if (!block.make(src, dw, dh))
        return false;
    resample(src, cellStarts(0, dw, dw, source.left, sw, source.right),
             cellStarts(0, dh, dh, source.top, sh, source.bottom), block);
    return SetDIBitsToDevice(dc, dest.left, dest.top, DWORD(dw), DWORD(dh), 0, 0, 0, UINT(dh), block.bits.data(),
                             block.bitmapInfo(), DIB_RGB_COLORS) > 0;
}
