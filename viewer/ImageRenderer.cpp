#include "ImageRenderer.h"

#include "GlobalMemory.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace {

constexpr int kTileSize = 256;
// One budget for the tiles of every view in the process: a page with twenty
// viewers must not take twenty times a view's cache of a 32-bit browser's
// address space.
constexpr size_t kProcessBudgetBytes = 96u << 20;

// A locked packed DIB as the sampler's source: its rows (bottom-up unless the
// height is negative) and its colour table.
struct SourceImage {
    SampleSource rows;
    const RGBQUAD* colours = nullptr;
    unsigned colourCount = 0;

    bool open(const void* dib)
    {
        const auto* header = static_cast<const BITMAPINFOHEADER*>(dib);
        if (header->biSize < sizeof(BITMAPINFOHEADER) || header->biCompression != BI_RGB)
            return false;
        const int bits = header->biBitCount;
        if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
            return false;
        const int64_t height = header->biHeight < 0 ? -int64_t(header->biHeight) : int64_t(header->biHeight);
        if (header->biWidth <= 0 || height <= 0 || height > 0x7FFFFFFF)
            return false;
        const uint64_t stride = dibRowBytes(uint32_t(bits), header->biWidth);
        if (stride > SIZE_MAX)
            return false;
        colourCount = std::min<unsigned>(dibColorCount(dib), 256);
        colours = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const unsigned char*>(dib) + header->biSize);
        rows.pixels = dibPixels(dib);
        rows.stride = size_t(stride);
        rows.width = header->biWidth;
        rows.height = int32_t(height);
        rows.bits = uint16_t(bits);
        rows.bottomUp = header->biHeight > 0;
        rows.darkIndex = darkIndex();
        return rows.valid();
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

    // False without memory.
    bool make(const SourceImage& src, int w, int h)
    {
        width = w;
        height = h;
        const int depth = src.rows.bits == 24 ? 32 : 8;
        stride = size_t((int64_t(w) * depth + 31) / 32) * 4;
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
    // The sampler writes the top row first: the last one in memory.
    SampleTarget target()
    {
        SampleTarget t;
        t.top = bits.data() + stride * size_t(height - 1);
        t.stride = -ptrdiff_t(stride);
        t.words = info.header.biBitCount == 32;
        return t;
    }
    const BITMAPINFO* bitmapInfo() const { return reinterpret_cast<const BITMAPINFO*>(&info); }
};

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
    Tile* t = made.get();
    // The list nodes are made first: from here on nothing can fail.
    std::list<std::unique_ptr<Tile>> own;
    own.push_back(std::move(made));
    std::list<Tile*> use(1, t);
    tiles_.splice(tiles_.begin(), own);
    t->ownPosition = tiles_.begin();
    cache.uses.splice(cache.uses.begin(), use);
    t->usePosition = cache.uses.begin();
    cache.bytes += bytes;
    cache.peakBytes = std::max(cache.peakBytes, cache.bytes);
}

void ImageRenderer::reset()
{
    std::lock_guard<std::mutex> hold(sharedCache().lock);
    reduced_.clear();
    reducedImage_ = nullptr;
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
    if (data && src.open(data.get()) && wantsReducedPlane(src.rows))
        reducedPlane(image, src.rows);
}

const ReducedPlane* ImageRenderer::reducedPlane(DibHandle image, const SampleSource& source)
{
    if (reducedImage_ == image && !reduced_.empty())
        return &reduced_;
    reducedImage_ = nullptr;
    if (!reduced_.make(source))
        return nullptr;
    reducedImage_ = image;
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
                // Without memory for the tile the rest is still drawn.
                try {
                    auto made = std::make_unique<Tile>();
                    made->column = column;
                    made->row = row;
                    if (!made->block.make(src, tw, th)) {
                        drewAll = false;
                        continue;
                    }
                    const ReducedPlane* plane = samplesReducedPlane(src.rows, scaledWidth, scaledHeight)
                                                    ? reducedPlane(image, src.rows)
                                                    : nullptr;
                    if (!sampleTile(src.rows, plane, tx, ty, tw, th, scaledWidth, scaledHeight,
                                    made->block.target())) {
                        drewAll = false;
                        continue;
                    }
                    addTile(std::move(made));
                } catch (const std::bad_alloc&) {
                    drewAll = false;
                    continue;
                }
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
    const int64_t dw = int64_t(dest.right) - dest.left, dh = int64_t(dest.bottom) - dest.top;
    if (!image || dw <= 0 || dh <= 0 || dw > 0x7FFFFFFF || dh > 0x7FFFFFFF)
        return false;
    GlobalLockGuard<unsigned char> data(image);
    SourceImage src;
    if (!data || !src.open(data.get()))
        return false;
    PixelBlock block;
    if (!block.make(src, int(dw), int(dh)))
        return false;
    RectI part;
    part.left = source.left, part.top = source.top, part.right = source.right, part.bottom = source.bottom;
    if (!sampleStretched(src.rows, part, int32_t(dw), int32_t(dh), block.target()))
        return false;
    return SetDIBitsToDevice(dc, dest.left, dest.top, DWORD(dw), DWORD(dh), 0, 0, 0, UINT(dh), block.bits.data(),
                             block.bitmapInfo(), DIB_RGB_COLORS) > 0;
}
