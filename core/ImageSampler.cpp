#include "ImageSampler.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Cell boundaries of `count` output pixels starting at output pixel `first`
// of an axis of `outSize` pixels that shows `inSize` source pixels starting
// at source pixel `inStart`; the cells stay inside the image (`limit`).
std::vector<int32_t> cellStarts(int64_t first, int32_t count, int64_t outSize, int64_t inStart, int64_t inSize,
                                int32_t limit)
{
    std::vector<int32_t> starts(size_t(count) + 1);
    for (int32_t i = 0; i <= count; ++i) {
        const int64_t v = inStart + (first + i) * inSize / outSize;
        starts[size_t(i)] = int32_t(std::min<int64_t>(std::max<int64_t>(v, 0), limit));
    }
    for (int32_t i = 0; i < count; ++i)
        starts[size_t(i)] = std::min(starts[size_t(i)], limit - 1);
    return starts;
}

// One bit a pixel; `dark` is the bit value that reads dark.
struct BitPlane {
    const uint8_t* data;
    size_t stride;
    unsigned dark;
    const uint8_t* row(int32_t y) const { return data + stride * size_t(y); }
};

// Output cell (i, j) is dark when any pixel of its source cell is dark. The
// cell's rows are combined byte by byte first (OR when dark is 1, AND when it
// is 0), so each source row is read once.
void sampleKeepingDark(const BitPlane& plane, const std::vector<int32_t>& cols, const std::vector<int32_t>& rows,
                       int32_t w, int32_t h, uint32_t darkColour, uint32_t lightColour, uint32_t* out)
{
    const int32_t x0 = cols[0], x1 = std::max(cols[size_t(w)], x0 + 1);
    const int32_t firstByte = x0 >> 3, lastByte = (x1 - 1) >> 3;
    std::vector<uint8_t> acc(size_t(lastByte - firstByte + 1));
    const uint8_t lightByte = plane.dark ? 0x00 : 0xFF;
    for (int32_t j = 0; j < h; ++j) {
        const int32_t r0 = rows[size_t(j)], r1 = std::max(rows[size_t(j) + 1], r0 + 1);
        std::copy_n(plane.row(r0) + firstByte, acc.size(), acc.begin());
        for (int32_t r = r0 + 1; r < r1; ++r) {
            const uint8_t* line = plane.row(r) + firstByte;
            if (plane.dark)
                for (size_t k = 0; k < acc.size(); ++k) acc[k] |= line[k];
            else
                for (size_t k = 0; k < acc.size(); ++k) acc[k] &= line[k];
        }
        uint32_t* o = out + size_t(j) * size_t(w);
        for (int32_t i = 0; i < w; ++i) {
            const int32_t c0 = cols[size_t(i)] - (firstByte << 3);
            const int32_t c1 = std::max(cols[size_t(i) + 1], cols[size_t(i)] + 1) - (firstByte << 3);
            bool isDark = false;
            for (int32_t c = c0; c < c1 && !isDark;) {
                const uint8_t byte = acc[size_t(c >> 3)];
                if ((c & 7) == 0 && c + 8 <= c1) {   // a whole byte at once
                    isDark = byte != lightByte;
                    c += 8;
                } else {
                    isDark = ((byte >> (7 - (c & 7))) & 1) == plane.dark;
                    ++c;
                }
            }
            o[i] = isDark ? darkColour : lightColour;
        }
    }
}

} // namespace

void ImageSampler::setImage(const PlainImage* image)
{
    image_ = image;
    reduced_.clear();
    reduced_.shrink_to_fit();
    reducedWidth_ = reducedHeight_ = 0;
    reducedStride_ = 0;
    if (image_ && image_->bits == 1 && (image_->width > 4096 || image_->height > 4096))
        makeReducedPlane();
}

void ImageSampler::makeReducedPlane()
{
    const PlainImage& src = *image_;
    const int32_t width = (src.width + 7) / 8, height = (src.height + 7) / 8;
    const size_t stride = size_t(width + 7) / 8;
    const size_t rowBytes = size_t(src.width + 7) / 8;
    try {
        reduced_.assign(stride * size_t(height), 0);
    } catch (const std::bad_alloc&) {
        reduced_.clear();
        return;
    }
    // Rows are combined a machine word at a time: one pass over the image.
    const size_t words = rowBytes / sizeof(uint32_t);
    std::vector<uint8_t> acc(rowBytes);
    const bool darkIsOne = src.darkIndex() == 1;
    for (int32_t r = 0; r < height; ++r) {
        // Combine the block's rows so that a set bit means "dark somewhere".
        std::fill(acc.begin(), acc.end(), 0);
        for (int32_t y = 8 * r; y < std::min(8 * r + 8, src.height); ++y) {
            const uint8_t* line = src.row(uint32_t(y));
            for (size_t w = 0; w < words; ++w) {
                uint32_t a, b;
                std::memcpy(&a, &acc[w * 4], 4);
                std::memcpy(&b, line + w * 4, 4);
                a |= darkIsOne ? b : ~b;
                std::memcpy(&acc[w * 4], &a, 4);
            }
            for (size_t k = words * 4; k < rowBytes; ++k)
                acc[k] |= darkIsOne ? line[k] : static_cast<uint8_t>(~line[k]);
        }
        // Pad bits past the last pixel are not part of the picture.
        if (src.width % 8)
            acc[rowBytes - 1] &= static_cast<uint8_t>(0xFF << (8 - src.width % 8));
        uint8_t* out = reduced_.data() + stride * size_t(r);
        for (int32_t c = 0; c < width; ++c)
            if (acc[size_t(c)])
                out[c >> 3] |= static_cast<uint8_t>(0x80 >> (c & 7));
    }
    reducedWidth_ = width;
    reducedHeight_ = height;
    reducedStride_ = stride;
}

void ImageSampler::resample(const std::vector<int32_t>& cols, const std::vector<int32_t>& rows, int32_t w,
                            int32_t h, uint32_t* out) const
{
    const PlainImage& src = *image_;
    if (src.bits == 1 && (cols[size_t(w)] - cols[0] > w || rows[size_t(h)] - rows[0] > h)) {
        const unsigned dark = src.darkIndex();
        BitPlane plane = {src.pixels.data(), src.rowBytes, dark};
        sampleKeepingDark(plane, cols, rows, w, h, src.palette[dark], src.palette[dark ^ 1u], out);
        return;
    }
    const uint32_t* palette = src.palette.data();
    for (int32_t j = 0; j < h; ++j) {
        const uint8_t* line = src.row(uint32_t(rows[size_t(j)]));
        uint32_t* o = out + size_t(j) * size_t(w);
        switch (src.bits) {
        case 32: {
            const uint32_t* words = reinterpret_cast<const uint32_t*>(line);
            for (int32_t i = 0; i < w; ++i)
                o[i] = words[cols[size_t(i)]];
            break;
        }
        case 8:
            for (int32_t i = 0; i < w; ++i)
                o[i] = palette[line[cols[size_t(i)]]];
            break;
        case 4:
            for (int32_t i = 0; i < w; ++i) {
                const int32_t c = cols[size_t(i)];
                o[i] = palette[(line[c >> 1] >> ((c & 1) ? 0 : 4)) & 0x0F];
            }
            break;
        default:
            for (int32_t i = 0; i < w; ++i) {
                const int32_t c = cols[size_t(i)];
                o[i] = palette[(line[c >> 3] >> (7 - (c & 7))) & 1];
            }
            break;
        }
    }
}

bool ImageSampler::renderTile(int32_t x, int32_t y, int32_t w, int32_t h, int32_t scaledWidth, int32_t scaledHeight,
                              uint32_t* out)
{
    if (!image_ || image_->width <= 0 || image_->height <= 0 || scaledWidth <= 0 || scaledHeight <= 0 || w <= 0 ||
        h <= 0 || x < 0 || y < 0 || x + int64_t(w) > scaledWidth || y + int64_t(h) > scaledHeight)
        return false;
    if (image_->bits != 32 && image_->palette.size() < (size_t(1) << image_->bits))
        return false;
    const PlainImage& src = *image_;
    std::vector<int32_t> cols = cellStarts(x, w, scaledWidth, 0, src.width, src.width);
    std::vector<int32_t> rows = cellStarts(y, h, scaledHeight, 0, src.height, src.height);
    if (src.bits == 1 && int64_t(scaledWidth) * 8 <= src.width && int64_t(scaledHeight) * 8 <= src.height) {
        if (reduced_.empty())
            makeReducedPlane();
        if (!reduced_.empty()) {
            // Cells of 8 pixels or more: sample the reduced plane.
            for (int32_t& c : cols)
                c = std::min(c >> 3, reducedWidth_ - 1);
            for (int32_t& r : rows)
                r = std::min(r >> 3, reducedHeight_ - 1);
            cols.back() = std::max(cols.back(), std::min(cols[size_t(w) - 1] + 1, reducedWidth_));
            rows.back() = std::max(rows.back(), std::min(rows[size_t(h) - 1] + 1, reducedHeight_));
            const unsigned dark = src.darkIndex();
            BitPlane plane = {reduced_.data(), reducedStride_, 1u};
            sampleKeepingDark(plane, cols, rows, w, h, src.palette[dark], src.palette[dark ^ 1u], out);
            return true;
        }
    }
    resample(cols, rows, w, h, out);
    return true;
}

bool ImageSampler::renderStretched(const RectI& source, int32_t w, int32_t h, uint32_t* out)
{
    if (!image_ || w <= 0 || h <= 0 || source.width() <= 0 || source.height() <= 0 || source.left < 0 ||
        source.top < 0 || source.right > image_->width || source.bottom > image_->height)
        return false;
    if (image_->bits != 32 && image_->palette.size() < (size_t(1) << image_->bits))
        return false;
    resample(cellStarts(0, w, w, source.left, source.width(), source.right),
             cellStarts(0, h, h, source.top, source.height(), source.bottom), w, h, out);
    return true;
}
