#include "HotspotIndex.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace {

constexpr int kMaxCellsPerSide = 1024;
// A query widens the point by this many pixels each way before it looks for
// cells: a pixel edge is a truncated product, so a fraction rectangle may lie
// up to one pixel beside the pixel rectangle it gives.
constexpr double kSlackPixels = 2.0;

struct Span {
    double lo, hi;
};
Span span(double a, double b) { return a <= b ? Span{a, b} : Span{b, a}; }

// The viewer's own records as index shapes.
class RecordShapes : public HotspotIndex::Shapes {
public:
    explicit RecordShapes(const HotspotIndex::Hotspots& hotspots) : hotspots_(hotspots) {}
    size_t size() const override { return hotspots_.size(); }
    void fractions(size_t i, double& left, double& top, double& right, double& bottom) const override
    {
        const ViewHotspot& h = *hotspots_[i];
        left = h.leftFraction, top = h.topFraction, right = h.rightFraction, bottom = h.bottomFraction;
    }
    bool contains(size_t i, int32_t x, int32_t y, int32_t, int32_t, int32_t, int32_t) const override
    {
        return hotspots_[i]->contains(x, y);
    }

private:
    const HotspotIndex::Hotspots& hotspots_;
};

} // namespace

void HotspotIndex::clear()
{
    count_ = 0;
    levels_.clear();
    left_ = top_ = width_ = height_ = right_ = bottom_ = 0;
}

void HotspotIndex::cellRange(double lo, double hi, double origin, double extent, int cells, int& first,
                             int& last) const
{
    if (cells <= 1 || !(extent > 0)) {
        first = last = 0;
        return;
    }
    auto cell = [&](double f) {
        const double c = std::floor((f - origin) / extent * cells);
        if (!(c >= 0))
            return 0;
        return c >= cells - 1 ? cells - 1 : int(c);
    };
    first = cell(lo);
    last = cell(hi);
}

void HotspotIndex::build(const Hotspots& hotspots)
{
    build(RecordShapes(hotspots));
}

void HotspotIndex::build(const Shapes& shapes)
{
    clear();
    count_ = shapes.size();
    if (count_ == 0)
        return;
    auto spans = [&](size_t i, Span& x, Span& y) {
        double l, t, r, b;
        shapes.fractions(i, l, t, r, b);
        x = span(l, r), y = span(t, b);
    };

    double right = 0, bottom = 0;
    for (size_t i = 0; i < count_; ++i) {
        Span x, y;
        spans(i, x, y);
        if (i == 0) {
            left_ = x.lo, right = x.hi, top_ = y.lo, bottom = y.hi;
            continue;
        }
        left_ = std::min(left_, x.lo), right = std::max(right, x.hi);
        top_ = std::min(top_, y.lo), bottom = std::max(bottom, y.hi);
    }
    right_ = right, bottom_ = bottom;
    width_ = right - left_;
    height_ = bottom - top_;

    const int g = std::max(1, std::min(kMaxCellsPerSide, int(std::ceil(std::sqrt(double(count_))))));
    for (int size = g;; size = (size + 1) / 2) {
        Level level;
        level.columns = width_ > 0 ? size : 1;
        level.rows = height_ > 0 ? size : 1;
        levels_.push_back(std::move(level));
        if (size == 1)
            break;
    }

    // Each hotspot's cells on a level.
    struct Place {
        int c0, c1, r0, r1;
    };
    auto place = [&](size_t i, const Level& level) {
        Span x, y;
        spans(i, x, y);
        Place p = {0, 0, 0, 0};
        cellRange(x.lo, x.hi, left_, width_, level.columns, p.c0, p.c1);
        cellRange(y.lo, y.hi, top_, height_, level.rows, p.r0, p.r1);
        return p;
    };
    // Each hotspot's level: the finest where it covers at most two cells
    // each way (the last level has one cell). One byte a hotspot; its cells
    // are found again when they are filled in.
    std::vector<uint8_t> levelOf(count_);
    for (size_t i = 0; i < count_; ++i) {
        for (uint32_t k = 0; k < levels_.size(); ++k) {
            const Place p = place(i, levels_[k]);
            if ((p.c1 - p.c0 < 2 && p.r1 - p.r0 < 2) || k + 1 == levels_.size()) {
                levelOf[i] = uint8_t(k);
                break;
            }
        }
    }
    // Two passes per level: count the cells' entries, then fill them in list
    // order, so each cell's list ascends.
    for (uint32_t k = 0; k < levels_.size(); ++k) {
        Level& level = levels_[k];
        const size_t cells = size_t(level.columns) * size_t(level.rows);
        level.offsets.assign(cells + 1, 0);
        for (size_t i = 0; i < count_; ++i) {
            if (levelOf[i] != k)
                continue;
            const Place p = place(i, level);
            for (int r = p.r0; r <= p.r1; ++r)
                for (int c = p.c0; c <= p.c1; ++c)
                    ++level.offsets[size_t(r) * level.columns + size_t(c) + 1];
        }
        for (size_t c = 0; c < cells; ++c)
            level.offsets[c + 1] += level.offsets[c];
        level.entries.resize(level.offsets[cells]);
        std::vector<uint32_t> next(level.offsets.begin(), level.offsets.end() - 1);
        for (size_t i = 0; i < count_; ++i) {
            if (levelOf[i] != k)
                continue;
            const Place p = place(i, level);
            for (int r = p.r0; r <= p.r1; ++r)
                for (int c = p.c0; c <= p.c1; ++c)
                    level.entries[next[size_t(r) * level.columns + size_t(c)]++] = uint32_t(i);
        }
    }
}

int HotspotIndex::firstContaining(const Hotspots& hotspots, int32_t x, int32_t y, int32_t imageLeft,
                                  int32_t imageTop, int32_t scaledWidth, int32_t scaledHeight,
                                  size_t* examined) const
{
    return firstContaining(RecordShapes(hotspots), x, y, imageLeft, imageTop, scaledWidth, scaledHeight, examined);
}

int HotspotIndex::firstContaining(const Shapes& shapes, int32_t x, int32_t y, int32_t imageLeft, int32_t imageTop,
                                  int32_t scaledWidth, int32_t scaledHeight, size_t* examined) const
{
    size_t looked = 0;
    const int found = search(shapes, x, y, imageLeft, imageTop, scaledWidth, scaledHeight, looked);
    if (examined)
        *examined = looked;
    return found;
}

int HotspotIndex::search(const Shapes& shapes, int32_t x, int32_t y, int32_t imageLeft, int32_t imageTop,
                         int32_t scaledWidth, int32_t scaledHeight, size_t& looked) const
{
    if (count_ == 0 || shapes.size() != count_)
        return -1;
    const auto contains = [&](size_t i) {
        return shapes.contains(i, x, y, imageLeft, imageTop, scaledWidth, scaledHeight);
    };
    if (scaledWidth <= 0 || scaledHeight <= 0) {
        // Not fitted yet: every pixel rectangle is degenerate; look at all.
        for (size_t i = 0; i < count_; ++i, ++looked)
            if (contains(i))
                return int(i);
        return -1;
    }
    double fx0 = (double(x) - kSlackPixels - imageLeft) / scaledWidth;
    double fx1 = (double(x) + kSlackPixels - imageLeft) / scaledWidth;
    double fy0 = (double(y) - kSlackPixels - imageTop) / scaledHeight;
    double fy1 = (double(y) + kSlackPixels - imageTop) / scaledHeight;
    // Pixel edges stop at the ends of the 32-bit range: at those ends a
    // point meets hotspots that really lie anywhere beyond.
    const double beyond = std::numeric_limits<double>::infinity();
    if (x <= INT32_MIN + kSlackPixels)
        fx0 = -beyond;
    if (x >= INT32_MAX - kSlackPixels)
        fx1 = beyond;
    if (y <= INT32_MIN + kSlackPixels)
        fy0 = -beyond;
    if (y >= INT32_MAX - kSlackPixels)
        fy1 = beyond;
    if (fx1 < left_ || fx0 > right_ || fy1 < top_ || fy0 > bottom_)
        return -1;   // beside every hotspot

    size_t best = count_;
    for (const Level& level : levels_) {
        int c0, c1, r0, r1;
        cellRange(fx0, fx1, left_, width_, level.columns, c0, c1);
        cellRange(fy0, fy1, top_, height_, level.rows, r0, r1);
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c) {
                const size_t cell = size_t(r) * level.columns + size_t(c);
                for (uint32_t e = level.offsets[cell]; e < level.offsets[cell + 1]; ++e) {
                    const uint32_t i = level.entries[e];
                    if (i >= best)
                        break;   // later in the list than one already found
                    ++looked;
                    if (contains(i)) {
                        best = i;
                        break;
                    }
                }
            }
    }
    return best < count_ ? int(best) : -1;
}
