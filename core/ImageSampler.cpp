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

// Writes output pixels of one row as indices or as words.
class RowWriter {
public:
    RowWriter(const SampleTarget& out, int32_t j) : out_(out), row_(out.top + out.stride * ptrdiff_t(j)) {}
    void index(int32_t i, unsigned value) const
    {
        if (out_.words)
            word(i, out_.palette[value]);
        else
            row_[i] = static_cast<uint8_t>(value);
    }
    void word(int32_t i, uint32_t value) const { std::memcpy(row_ + 4 * size_t(i), &value, 4); }

private:
    const SampleTarget& out_;
    uint8_t* row_;
};

// Output cell (i, j) is dark when any pixel of its source cell is dark in the
// bilevel `plane` (`dark`: the bit value that reads dark). The cell's rows are
// combined byte by byte first (OR when dark is 1, AND when it is 0), so each
// source row is read once.
void sampleKeepingDark(const SampleSource& plane, unsigned dark, const std::vector<int32_t>& cols,
                       const std::vector<int32_t>& rows, int32_t w, int32_t h, unsigned darkOut, unsigned lightOut,
                       const SampleTarget& out)
{
    const int64_t x0 = cols[0], x1 = std::max<int64_t>(cols[size_t(w)], x0 + 1);
    const int64_t firstByte = x0 >> 3, lastByte = (x1 - 1) >> 3;
    const int64_t firstBit = firstByte << 3;
    std::vector<uint8_t> acc(size_t(lastByte - firstByte + 1));
    const uint8_t lightByte = dark ? 0x00 : 0xFF;
    for (int32_t j = 0; j < h; ++j) {
        const int32_t r0 = rows[size_t(j)], r1 = std::max(rows[size_t(j) + 1], r0 + 1);
        std::copy_n(plane.row(r0) + firstByte, acc.size(), acc.begin());
        for (int32_t r = r0 + 1; r < r1; ++r) {
            const uint8_t* line = plane.row(r) + firstByte;
            if (dark)
                for (size_t k = 0; k < acc.size(); ++k) acc[k] |= line[k];
            else
                for (size_t k = 0; k < acc.size(); ++k) acc[k] &= line[k];
        }
        const RowWriter o(out, j);
        for (int32_t i = 0; i < w; ++i) {
            const int64_t c0 = cols[size_t(i)] - firstBit;
            const int64_t c1 = std::max<int64_t>(cols[size_t(i) + 1], int64_t(cols[size_t(i)]) + 1) - firstBit;
            bool isDark = false;
            for (int64_t c = c0; c < c1 && !isDark;) {
                const uint8_t byte = acc[size_t(c >> 3)];
                if ((c & 7) == 0 && c + 8 <= c1) {   // a whole byte at once
                    isDark = byte != lightByte;
                    c += 8;
                } else {
                    isDark = ((byte >> (7 - (c & 7))) & 1) == dark;
                    ++c;
                }
            }
            o.index(i, isDark ? darkOut : lightOut);
        }
    }
}

// Fills the output by sampling: output column i takes source columns
// [cols[i], cols[i + 1]) and output row j source rows [rows[j], rows[j + 1]).
// The first pixel of each cell is used, except for bilevel images whose cells
// span several pixels: there any dark pixel in the cell makes it dark.
void resample(const SampleSource& src, const std::vector<int32_t>& cols, const std::vector<int32_t>& rows, int32_t w,
              int32_t h, const SampleTarget& out)
{
    if (src.bits == 1 && (cols[size_t(w)] - cols[0] > w || rows[size_t(h)] - rows[0] > h)) {
        sampleKeepingDark(src, src.darkIndex, cols, rows, w, h, src.darkIndex, src.darkIndex ^ 1u, out);
        return;
    }
    for (int32_t j = 0; j < h; ++j) {
        const uint8_t* line = src.row(rows[size_t(j)]);
        const RowWriter o(out, j);
        switch (src.bits) {
        case 32:
            for (int32_t i = 0; i < w; ++i) {
                uint32_t word;
                std::memcpy(&word, line + 4 * size_t(cols[size_t(i)]), 4);
                o.word(i, word);
            }
            break;
        case 24:
            for (int32_t i = 0; i < w; ++i) {
                const uint8_t* p = line + 3 * size_t(cols[size_t(i)]);
                o.word(i, uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16);
            }
            break;
        case 8:
            for (int32_t i = 0; i < w; ++i)
                o.index(i, line[cols[size_t(i)]]);
            break;
        case 4:
            for (int32_t i = 0; i < w; ++i) {
                const size_t c = size_t(cols[size_t(i)]);
                o.index(i, (line[c >> 1] >> ((c & 1) ? 0 : 4)) & 0x0F);
            }
            break;
        default:
            for (int32_t i = 0; i < w; ++i) {
                const size_t c = size_t(cols[size_t(i)]);
                o.index(i, (line[c >> 3] >> (7 - (c & 7))) & 1);
            }
            break;
        }
    }
}

// Whether `out` can take the pixels of `src`.
bool suits(const SampleSource& src, const SampleTarget& out)
{
    if (!src.valid() || !out.top)
        return false;
    if (src.bits > 8)
        return out.words;
    return !out.words || out.palette;
}

} // namespace

bool SampleSource::valid() const
{
    if (!pixels || width <= 0 || height <= 0)
        return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return false;
    return stride >= (uint64_t(width) * bits + 7) / 8;
}

void ReducedPlane::clear()
{
    bits.clear();
    bits.shrink_to_fit();
    width = height = 0;
    stride = 0;
}

bool ReducedPlane::make(const SampleSource& src, int32_t rowsReady)
{
    clear();
    if (!src.valid() || src.bits != 1)
        return false;
    const int64_t cellsWide = (int64_t(src.width) + 7) / 8, cellsHigh = (int64_t(src.height) + 7) / 8;
    const size_t planeStride = size_t((cellsWide + 7) / 8);
    try {
        bits.assign(planeStride * size_t(cellsHigh), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    width = int32_t(cellsWide);
    height = int32_t(cellsHigh);
    stride = planeStride;
    update(src, 0, std::min(rowsReady, src.height));
    if (bits.empty())
        clear();
    return !bits.empty();
}

void ReducedPlane::update(const SampleSource& src, int32_t first, int32_t end)
{
    if (bits.empty() || !src.valid() || src.bits != 1 || (int64_t(src.width) + 7) / 8 != width ||
        (int64_t(src.height) + 7) / 8 != height)
        return;
    first = std::max(first, 0), end = std::min(end, src.height);
    const size_t rowBytes = size_t(width);   // one source byte a cell column
    std::vector<uint8_t> acc;
    try {
        acc.resize(rowBytes);
    } catch (const std::bad_alloc&) {
        clear();   // no plane rather than a stale one
        return;
    }
    // Rows are combined a machine word at a time: one pass over the rows.
    const size_t words = rowBytes / sizeof(uint32_t);
    const bool darkIsOne = src.darkIndex == 1;
    for (int64_t r = first / 8; r < (int64_t(end) + 7) / 8; ++r) {
        // Combine the block's rows so that a set bit means "dark somewhere".
        std::fill(acc.begin(), acc.end(), 0);
        for (int64_t y = 8 * r; y < std::min<int64_t>(8 * r + 8, src.height); ++y) {
            const uint8_t* line = src.row(int32_t(y));
            for (size_t k = 0; k < words; ++k) {
                uint32_t a, b;
                std::memcpy(&a, &acc[k * 4], 4);
                std::memcpy(&b, line + k * 4, 4);
                a |= darkIsOne ? b : ~b;
                std::memcpy(&acc[k * 4], &a, 4);
            }
            for (size_t k = words * 4; k < rowBytes; ++k)
                acc[k] |= darkIsOne ? line[k] : static_cast<uint8_t>(~line[k]);
        }
        // Pad bits past the last pixel are not part of the picture.
        if (src.width % 8)
            acc[rowBytes - 1] &= static_cast<uint8_t>(0xFF << (8 - src.width % 8));
        uint8_t* out = bits.data() + stride * size_t(r);
        std::fill(out, out + stride, 0);
        for (size_t c = 0; c < rowBytes; ++c)
            if (acc[c])
                out[c >> 3] |= static_cast<uint8_t>(0x80 >> (c & 7));
    }
}

bool wantsReducedPlane(const SampleSource& source)
{
    return source.bits == 1 && (source.width > 4096 || source.height > 4096);
}

bool samplesReducedPlane(const SampleSource& source, int32_t scaledWidth, int32_t scaledHeight)
{
    return source.bits == 1 && int64_t(scaledWidth) * 8 <= source.width &&
           int64_t(scaledHeight) * 8 <= source.height;
}

bool sampleTile(const SampleSource& src, const ReducedPlane* reduced, int32_t x, int32_t y, int32_t w, int32_t h,
                int32_t scaledWidth, int32_t scaledHeight, const SampleTarget& out)
{
    if (!suits(src, out) || scaledWidth <= 0 || scaledHeight <= 0 || w <= 0 || h <= 0 || x < 0 || y < 0 ||
        x + int64_t(w) > scaledWidth || y + int64_t(h) > scaledHeight)
        return false;
    try {
        std::vector<int32_t> cols = cellStarts(x, w, scaledWidth, 0, src.width, src.width);
        std::vector<int32_t> rows = cellStarts(y, h, scaledHeight, 0, src.height, src.height);
        if (reduced && !reduced->empty() && samplesReducedPlane(src, scaledWidth, scaledHeight)) {
            // Cells of 8 pixels or more: sample the reduced plane.
            for (int32_t& c : cols)
                c = std::min(c >> 3, reduced->width - 1);
            for (int32_t& r : rows)
                r = std::min(r >> 3, reduced->height - 1);
            cols.back() = std::max(cols.back(), std::min(cols[size_t(w) - 1] + 1, reduced->width));
            rows.back() = std::max(rows.back(), std::min(rows[size_t(h) - 1] + 1, reduced->height));
            SampleSource plane;
            plane.pixels = reduced->bits.data();
            plane.stride = reduced->stride;
            plane.width = reduced->width;
            plane.height = reduced->height;
            plane.bits = 1;
            sampleKeepingDark(plane, 1u, cols, rows, w, h, src.darkIndex, src.darkIndex ^ 1u, out);
            return true;
        }
        resample(src, cols, rows, w, h, out);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool sampleStretched(const SampleSource& src, const RectI& part, int32_t w, int32_t h, const SampleTarget& out)
{
    if (!suits(src, out) || w <= 0 || h <= 0 || part.left < 0 || part.top < 0 || part.left >= part.right ||
        part.top >= part.bottom || part.right > src.width || part.bottom > src.height)
        return false;
    try {
        resample(src, cellStarts(0, w, w, part.left, int64_t(part.right) - part.left, part.right),
                 cellStarts(0, h, h, part.top, int64_t(part.bottom) - part.top, part.bottom), w, h, out);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool ImageSampler::describe(SampleSource& source, SampleTarget& target, int32_t w, uint32_t* out) const
{
    if (!image_ || (image_->bits != 32 && image_->bits != 24 &&
                    image_->palette.size() < (size_t(1) << std::min<uint16_t>(image_->bits, 8))))
        return false;
    const PlainImage& image = *image_;
    if (uint64_t(image.rowBytes) * uint64_t(std::max(image.height, 0)) > image.pixels.size())
        return false;
    source.pixels = image.pixels.data();
    source.stride = image.rowBytes;
    source.width = image.width;
    source.height = image.height;
    source.bits = image.bits;
    source.darkIndex = image.darkIndex();
    target.top = reinterpret_cast<uint8_t*>(out);
    target.stride = ptrdiff_t(w) * 4;
    target.words = true;
    target.palette = image.palette.data();
    return true;
}

void ImageSampler::setImage(const PlainImage* image, int32_t rowsReady)
{
    image_ = image;
    reduced_.clear();
    SampleSource source;
    SampleTarget unused;
    uint32_t none = 0;
    if (describe(source, unused, 1, &none) && wantsReducedPlane(source))
        reduced_.make(source, rowsReady);
    rowsReady_ = rowsReady;
}

void ImageSampler::rowsChanged(int32_t first, int32_t end)
{
    SampleSource source;
    SampleTarget unused;
    uint32_t none = 0;
    if (!reduced_.empty() && describe(source, unused, 1, &none))
        reduced_.update(source, first, end);
    rowsReady_ = std::max(rowsReady_, end);
}

bool ImageSampler::renderTile(int32_t x, int32_t y, int32_t w, int32_t h, int32_t scaledWidth, int32_t scaledHeight,
                              uint32_t* out)
{
    SampleSource source;
    SampleTarget target;
    if (!describe(source, target, w, out))
        return false;
    // Smaller bilevel images shrunk far get their plane at the first such view.
    if (reduced_.empty() && samplesReducedPlane(source, scaledWidth, scaledHeight))
        reduced_.make(source, rowsReady_);
    if (!sampleTile(source, &reduced_, x, y, w, h, scaledWidth, scaledHeight, target))
        return false;
    finishWords(out, size_t(w) * size_t(h));
    return true;
}

// The sampling rule writes a 24-bit source's three bytes in the word's
// three low bytes: made red, green, blue, 255 like every other image's.
void ImageSampler::finishWords(uint32_t* out, size_t count) const
{
    if (image_->bits != 24)
        return;
    if (image_->layout == ImageTarget::ColourLayout::Rgb24) {
        for (size_t i = 0; i < count; ++i)
            out[i] |= 0xFF000000u;
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint32_t bgr = out[i];
        out[i] = (bgr >> 16 & 0xFFu) | (bgr & 0xFF00u) | (bgr & 0xFFu) << 16 | 0xFF000000u;
    }
}

bool ImageSampler::renderStretched(const RectI& source, int32_t w, int32_t h, uint32_t* out)
{
    SampleSource image;
    SampleTarget target;
    if (!describe(image, target, w, out) || !sampleStretched(image, source, w, h, target))
        return false;
    finishWords(out, size_t(w) * size_t(h));
    return true;
}
