#pragma once
// Finds the first hotspot in list order under a point without looking at
// every hotspot: a grid over the hotspots' fraction rectangles (their edges
// as fractions of the image), built once when the document is set, so that
// it serves every zoom and scroll position. Plain C++, no platform headers.
//
// The grid has several levels: level 0 cuts the hotspots' bounding box into
// G x G cells (G about the square root of the count), each next level has
// cells twice as large. A hotspot is listed in the cells of the finest level
// on which it covers at most two cells each way, so that small hotspots sit
// in small cells and a hotspot over the whole image in one cell, and no
// hotspot is listed more than four times. A query looks at the few cells
// around the point on each level and checks the candidates against their
// pixel rectangles, which decide.
#include "ViewGeometry.h"
#include "ViewHotspot.h"

#include <cstdint>
#include <memory>
#include <vector>

class HotspotIndex {
public:
    using Hotspots = std::vector<std::unique_ptr<ViewHotspot>>;

    // What the index needs of a list of hotspots kept in another form than
    // ViewHotspot records (such as packed rectangles): the count, hotspot
    // i's fraction rectangle, and whether its pixel rectangle at the given
    // image position and scaled size holds a point (edges included).
    class Shapes {
    public:
        virtual ~Shapes() = default;
        virtual size_t size() const = 0;
        virtual void fractions(size_t i, double& left, double& top, double& right, double& bottom) const = 0;
        virtual bool contains(size_t i, int32_t x, int32_t y, int32_t imageLeft, int32_t imageTop,
                              int32_t scaledWidth, int32_t scaledHeight) const = 0;
    };

    // Indexes the hotspots' fractions; the list must not change afterwards
    // (a new document builds a new index).
    void build(const Hotspots& hotspots);
    void build(const Shapes& shapes);
    void clear();
    size_t size() const { return count_; }

    // The position in `hotspots` of the first hotspot whose pixel rectangle
    // (ViewHotspot::contains, edges included) holds the document point
    // (x, y), or -1. `imageLeft`, `imageTop` and the scaled size are those
    // the pixel rectangles were computed with. `examined`, when given,
    // receives the number of hotspots whose rectangles were looked at.
    int firstContaining(const Hotspots& hotspots, int32_t x, int32_t y, int32_t imageLeft, int32_t imageTop,
                        int32_t scaledWidth, int32_t scaledHeight, size_t* examined = nullptr) const;
    int firstContaining(const Shapes& shapes, int32_t x, int32_t y, int32_t imageLeft, int32_t imageTop,
                        int32_t scaledWidth, int32_t scaledHeight, size_t* examined = nullptr) const;

private:
    struct Level {
        int columns = 0, rows = 0;
        std::vector<uint32_t> offsets;   // cell c lists entries[offsets[c]] .. entries[offsets[c + 1]]
        std::vector<uint32_t> entries;   // hotspot positions, ascending within a cell
    };
    int search(const Shapes& shapes, int32_t x, int32_t y, int32_t imageLeft, int32_t imageTop,
               int32_t scaledWidth, int32_t scaledHeight, size_t& looked) const;
    // Cell range along one axis of a level for the fraction interval [lo, hi].
    void cellRange(double lo, double hi, double origin, double extent, int cells, int& first, int& last) const;

    size_t count_ = 0;
    double left_ = 0, top_ = 0, width_ = 0, height_ = 0;   // bounding box of the fractions
    // Its far edges as found: left_ + width_ can round to inside the box by
    // an ulp, enough to miss a point on a hotspot's far edge.
    double right_ = 0, bottom_ = 0;
    std::vector<Level> levels_;
};
