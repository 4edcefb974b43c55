// The hotspot index against the plain search it replaces: the first hotspot
// in list order whose pixel rectangle holds the point, for hotspots of every
// shape (overlapping, nested, reversed edges, beyond the image, covering it
// all) at many zooms and image positions, and how little it looks at.
#include "HotspotIndex.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Hotspots = HotspotIndex::Hotspots;

void add(Hotspots& list, double l, double t, double r, double b)
{
    auto h = std::make_unique<ViewHotspot>();
    h->leftFraction = l, h->topFraction = t, h->rightFraction = r, h->bottomFraction = b;
    list.push_back(std::move(h));
}

// The pixel rectangles as the view computes them.
void place(Hotspots& list, int32_t left, int32_t top, int32_t w, int32_t h)
{
    for (auto& s : list) {
        const RectI p = fractionRect(s->leftFraction, s->topFraction, s->rightFraction, s->bottomFraction, left, top,
                                     w, h);
        s->pixelLeft = p.left, s->pixelTop = p.top, s->pixelRight = p.right, s->pixelBottom = p.bottom;
    }
}

int linearFirst(const Hotspots& list, int32_t x, int32_t y)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i]->contains(x, y))
            return int(i);
    return -1;
}

TEST(HotspotIndex, AgreesWithTheListOrderSearchEverywhere)
{
    std::mt19937 random(1234);
    std::uniform_real_distribution<double> unit(-0.2, 1.2), size(0.0, 0.05);
    Hotspots list;
    for (int i = 0; i < 3000; ++i) {
        const double l = unit(random), t = unit(random);
        switch (i % 10) {
        case 0: add(list, l, t, l + 10 * size(random), t + 10 * size(random)); break;   // large
        case 1: add(list, l + size(random), t, l, t + size(random)); break;             // reversed edges
        case 2: add(list, l, t, l, t); break;                                           // one point
        default: add(list, l, t, l + size(random), t + size(random)); break;
        }
    }
    add(list, -1e7, -1e7, 1e7, 1e7);   // everything, last in the list
    add(list, 0.5, 0.5, 0.5 + 1e-9, 0.5 + 1e-9);
    HotspotIndex index;
    index.build(list);
    ASSERT_EQ(index.size(), list.size());

    struct Geometry { int32_t left, top, w, h; } geometries[] = {
        {0, 0, 400, 300}, {37, 12, 123, 977}, {-5, 0, 1, 1}, {0, 0, 52000, 39000}, {150, 100, 3, 1},
        {0, 0, 1000000, 1000000},
    };
    std::uniform_int_distribution<int> jitter(-3, 3);
    for (const Geometry& g : geometries) {
        place(list, g.left, g.top, g.w, g.h);
        for (int n = 0; n < 4000; ++n) {
            // Points all over, and right at hotspot edges, where truncation decides.
            int32_t x, y;
            if (n % 2) {
                const ViewHotspot& h = *list[size_t(n) % list.size()];
                x = (n % 4 == 1 ? h.pixelLeft : h.pixelRight) + jitter(random);
                y = (n % 8 < 4 ? h.pixelTop : h.pixelBottom) + jitter(random);
            } else {
                x = g.left + int32_t(unit(random) * g.w);
                y = g.top + int32_t(unit(random) * g.h);
            }
            ASSERT_EQ(index.firstContaining(list, x, y, g.left, g.top, g.w, g.h), linearFirst(list, x, y))
                << x << "," << y << " in " << g.w << "x" << g.h;
        }
    }
}

TEST(HotspotIndex, LooksAtAFewHotspotsOfAHundredThousand)
{
    // A 400 x 250 grid of touching hotspots over the image, and a frame
    // hotspot over all of it at the end of the list.
    Hotspots list;
    for (int row = 0; row < 250; ++row)
        for (int column = 0; column < 400; ++column)
            add(list, column / 400.0, row / 250.0, (column + 1) / 400.0, (row + 1) / 250.0);
    add(list, 0, 0, 1, 1);
    HotspotIndex index;
    index.build(list);
    struct Geometry { int32_t w, h; } geometries[] = {{800, 500}, {8000, 5000}, {400, 250}, {100, 60}};
    for (const Geometry& g : geometries) {
        place(list, 0, 0, g.w, g.h);
        size_t worst = 0;
        for (int32_t y = 0; y < g.h; y += g.h / 37 + 1)
            for (int32_t x = 0; x < g.w; x += g.w / 41 + 1) {
                size_t examined = 0;
                const int found = index.firstContaining(list, x, y, 0, 0, g.w, g.h, &examined);
                ASSERT_EQ(found, linearFirst(list, x, y)) << x << "," << y;
                worst = std::max(worst, examined);
            }
        // Below one view pixel per hotspot many share each pixel near the
        // point; still far from the hundred thousand a plain search looks at.
        EXPECT_LE(worst, g.w >= 800 ? 40u : 2000u) << g.w << "x" << g.h;
    }
    // Beside every hotspot nothing is looked at.
    size_t examined = 99;
    EXPECT_EQ(index.firstContaining(list, 5000, 5000, 0, 0, 800, 500, &examined), -1);
    EXPECT_EQ(examined, 0u);
}

// A pixel edge is a truncated product, so a hotspot's pixel rectangle may
// reach a pixel whose fraction lies in the cell before its own. Hotspots
// whose edges lie on the cell boundaries of every level of the grid (half a
// cell wide, so that the neighbour does not cover the point) are probed one
// pixel before, on and after each boundary, at sizes where the boundaries
// fall between pixels.
TEST(HotspotIndex, PointsOnePixelOffACellBoundaryFindTheHotspotBeyondIt)
{
    constexpr int kFinest = 24;   // cells a side of level 0: the square root of the count, rounded up
    std::vector<int> levelCells;
    for (int cells = kFinest;; cells = (cells + 1) / 2) {
        levelCells.push_back(cells);
        if (cells == 1)
            break;
    }
    Hotspots list;
    add(list, 0, 0, 0, 0);   // the bounding box is the image
    add(list, 1, 1, 1, 1);
    // Level 0: half-cell hotspots starting on each boundary, then ones ending on it.
    for (int k = 0; k < kFinest; ++k)
        add(list, k / double(kFinest), k / double(kFinest), (k + 0.5) / kFinest, (k + 0.5) / kFinest);
    for (int k = 1; k <= kFinest; ++k)
        add(list, (k - 0.5) / kFinest, (k - 0.25) / kFinest, k / double(kFinest), k / double(kFinest));
    // Coarser levels: hotspots of three cells of the level below, on its boundaries.
    for (size_t level = 1; level < levelCells.size(); ++level) {
        const double cell = 1.0 / levelCells[level - 1];
        for (int k = 0; k + 3 <= levelCells[level - 1]; k += 4)
            add(list, k * cell, 1 - (k + 3) * cell, (k + 3) * cell, 1 - k * cell);
    }
    while (list.size() < size_t((kFinest - 1) * (kFinest - 1) + 1))
        add(list, 2, 2, 2, 2);   // beyond the image: pads the count to a grid of kFinest cells
    add(list, 1, 1, 1, 1);
    HotspotIndex index;
    index.build(list);

    for (const int32_t w : {997, 1231, 4099, 24 * 41 + 7}) {
        const int32_t h = w * 3 / 4 + 1;
        place(list, 3, 5, w, h);
        std::vector<int32_t> xs, ys;
        for (const int cells : levelCells)
            for (int k = 0; k <= cells; ++k)
                for (int d = -1; d <= 1; ++d) {
                    xs.push_back(3 + int32_t(double(k) / cells * w) + d);
                    ys.push_back(5 + int32_t(double(k) / cells * h) + d);
                }
        int found = 0;
        for (const int32_t y : ys)
            for (const int32_t x : xs) {
                const int expected = linearFirst(list, x, y);
                ASSERT_EQ(index.firstContaining(list, x, y, 3, 5, w, h), expected) << x << "," << y << " at " << w;
                found += expected >= 0;
            }
        EXPECT_GT(found, int(xs.size())) << "the probes meet hotspots";
    }
}

// Pixel edges stop at the ends of the 32-bit range; a point at such an end
// meets the hotspots that lie anywhere beyond it, as the list search does.
TEST(HotspotIndex, PointsAtTheEndsOfTheRangeMeetHotspotsBeyondThem)
{
    Hotspots list;
    add(list, 0.1, 0.1, 0.2, 0.2);
    add(list, 1e12, 1e12, 2e12, 2e12);      // far beyond the right and the bottom
    add(list, -2e12, -2e12, -1e12, -1e12);  // far beyond the left and the top
    for (int i = 0; i < 400; ++i)           // a grid fine enough to part them from the point
        add(list, i / 400.0, i / 400.0, i / 400.0 + 0.001, i / 400.0 + 0.001);
    HotspotIndex index;
    index.build(list);
    place(list, 0, 0, 1000, 1000);
    struct Point { int32_t x, y; };
    for (const Point p : {Point{INT32_MAX, INT32_MAX}, Point{INT32_MIN, INT32_MIN}, Point{150, 150}, Point{0, 0}})
        EXPECT_EQ(index.firstContaining(list, p.x, p.y, 0, 0, 1000, 1000), linearFirst(list, p.x, p.y))
            << p.x << "," << p.y;
    EXPECT_EQ(index.firstContaining(list, INT32_MAX, INT32_MAX, 0, 0, 1000, 1000), 1);
}

// Far from the origin the box's far edge, recomputed as left + width, rounds
// an ulp inside the hotspot that lies on it: a point on that hotspot's right
// edge was taken for one beside every hotspot (found by the fuzz target).
TEST(HotspotIndex, APointOnTheFarEdgeOfTheBoxIsFound)
{
    Hotspots list;
    add(list, -2147482880 / 3.0, -2147483638 / 4.0, -710235307, 2147483647 / 4.0);
    add(list, -2147483521 / 3.0, -8421505 / 4.0, -1 / 3.0, 534757376);
    HotspotIndex index;
    index.build(list);
    place(list, 257, 6, 818675702, 2130706432);
    EXPECT_EQ(linearFirst(list, -272891643, INT32_MIN), 1);
    EXPECT_EQ(index.firstContaining(list, -272891643, INT32_MIN, 257, 6, 818675702, 2130706432), 1);
}

TEST(HotspotIndex, EmptyAndChangedListsFindNothing)
{
    Hotspots list;
    HotspotIndex index;
    index.build(list);
    EXPECT_EQ(index.firstContaining(list, 0, 0, 0, 0, 100, 100), -1);
    add(list, 0, 0, 1, 1);
    place(list, 0, 0, 100, 100);
    EXPECT_EQ(index.firstContaining(list, 5, 5, 0, 0, 100, 100), -1) << "a list the index was not built for";
    index.build(list);
    EXPECT_EQ(index.firstContaining(list, 5, 5, 0, 0, 100, 100), 0);
    index.clear();
    EXPECT_EQ(index.firstContaining(list, 5, 5, 0, 0, 100, 100), -1);
}

} // namespace
