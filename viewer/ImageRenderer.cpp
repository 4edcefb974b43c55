#include "ImageRenderer.h"

#include "GlobalMemory.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kTileSize = 256;
constexpr size_t kCacheBudgetBytes = 64u << 20;

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
// for palette images, 24-bit for true colour.
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
        const int depth = src.bits == 24 ? 24 : 8;
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

// Fills `out` by sampling `src`: output column i takes source columns
// [cols[i], cols[i + 1]) and output row j source rows [rows[j], rows[j + 1]).
// The first pixel of each cell is used, except for bilevel images whose cells
// span several pixels: there any dark pixel in the cell makes it dark.
void resample(const SourceImage& src, const std::vector<int32_t>& cols, const std::vector<int32_t>& rows,
              PixelBlock& out)
{
    const int w = out.width, h = out.height;
    const bool keepDark = src.bits == 1 && (cols[w] - cols[0] > w || rows[h] - rows[0] > h);
    if (keepDark) {
        const unsigned dark = src.darkIndex();
        const int32_t x0 = cols[0], x1 = cols[w];
        const int32_t firstByte = x0 >> 3, lastByte = (x1 - 1) >> 3;
        std::vector<unsigned char> acc(size_t(lastByte - firstByte + 1));
        for (int j = 0; j < h; ++j) {
            // Combine the cell's source rows so that a dark bit in any of them
            // survives: OR when dark is 1, AND when dark is 0.
            const int32_t r0 = rows[j], r1 = std::max(rows[j + 1], r0 + 1);
            std::memcpy(acc.data(), src.row(r0) + firstByte, acc.size());
            for (int32_t r = r0 + 1; r < r1; ++r) {
                const unsigned char* line = src.row(r) + firstByte;
                if (dark)
                    for (size_t k = 0; k < acc.size(); ++k) acc[k] |= line[k];
                else
                    for (size_t k = 0; k < acc.size(); ++k) acc[k] &= line[k];
            }
            unsigned char* o = out.row(j);
            for (int i = 0; i < w; ++i) {
                const int32_t c0 = cols[i], c1 = std::max(cols[i + 1], c0 + 1);
                unsigned value = dark ^ 1u;
                for (int32_t c = c0; c < c1; ++c) {
                    const int32_t b = c - (firstByte << 3);
                    if (((acc[size_t(b >> 3)] >> (7 - (b & 7))) & 1) == dark) {
                        value = dark;
                        break;
                    }
                }
                o[i] = static_cast<unsigned char>(value);
            }
        }
        return;
    }
    for (int j = 0; j < h; ++j) {
        const unsigned char* line = src.row(rows[j]);
        unsigned char* o = out.row(j);
        if (src.bits == 24) {
            for (int i = 0; i < w; ++i)
                std::memcpy(o + 3 * i, line + 3 * size_t(cols[i]), 3);
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
};

ImageRenderer::ImageRenderer() = default;
ImageRenderer::~ImageRenderer() = default;

void ImageRenderer::reset()
{
    tiles_.clear();
    cachedBytes_ = 0;
    cachedImage_ = nullptr;
    cachedWidth_ = cachedHeight_ = 0;
}

ImageRenderer::Tile* ImageRenderer::tile(DibHandle image, int32_t scaledWidth, int32_t scaledHeight, int column,
                                         int row)
{
    if (image != cachedImage_ || scaledWidth != cachedWidth_ || scaledHeight != cachedHeight_) {
        reset();
        cachedImage_ = image;
        cachedWidth_ = scaledWidth;
        cachedHeight_ = scaledHeight;
    }
    for (auto it = tiles_.begin(); it != tiles_.end(); ++it) {
        if ((*it)->column == column && (*it)->row == row) {
            tiles_.splice(tiles_.begin(), tiles_, it);
            return tiles_.front().get();
        }
    }
    return nullptr;
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
                resample(src, cellStarts(tx, tw, scaledWidth, 0, src.width, src.width),
                         cellStarts(ty, th, scaledHeight, 0, src.height, src.height), made->block);
                cachedBytes_ += made->block.bits.size();
                tiles_.push_front(std::move(made));
                t = tiles_.front().get();
                // Keep the cache bounded; the tile just made stays.
                while (cachedBytes_ > kCacheBudgetBytes && tiles_.size() > 1) {
                    cachedBytes_ -= tiles_.back()->block.bits.size();
                    tiles_.pop_back();
                }
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
