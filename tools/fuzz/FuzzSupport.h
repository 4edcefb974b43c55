#pragma once
// What the reader's fuzz targets share: images held to a budget as a page's
// memory budget holds them, a check that ends the run when an invariant
// breaks, and the invariants of a decoded tile.
#include "PlainImage.h"
#include "TiffLevels.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace fuzz {

constexpr uint64_t kImageBudget = uint64_t(8) << 20;

// A plain image that refuses what is over the budget, as the element does.
class BudgetImage : public PlainImage {
public:
    bool allocate(uint32_t width, uint32_t height, uint16_t bitsPerPixel, uint32_t rowBytes,
                  int32_t pixelsPerMetre) override
    {
        if (uint64_t(rowBytes) * height > kImageBudget) {
            PlainImage::allocate(0, 0, bitsPerPixel, 0, 0);
            return false;
        }
        return PlainImage::allocate(width, height, bitsPerPixel, rowBytes, pixelsPerMetre);
    }
};

inline void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "reader: %s\n", what);
        std::abort();
    }
}

// The bytes a level's decoded pixels take.
inline uint64_t levelBytes(const TiffLevel& l)
{
    return l.bits == 32 ? uint64_t(l.width) * l.height * 4 : (uint64_t(l.width) * l.bits + 7) / 8 * l.height;
}

inline void checkTile(const TiffLevel& level, uint32_t column, uint32_t row, const PlainImage& tile)
{
    const uint64_t x = uint64_t(column) * level.tileWidth, y = uint64_t(row) * level.tileHeight;
    check(uint64_t(tile.width) == std::min<uint64_t>(level.tileWidth, level.width - x) &&
              uint64_t(tile.height) == std::min<uint64_t>(level.tileHeight, level.height - y),
          "a tile is clipped to its level");
    check(tile.bits == level.bits, "a tile has its level's depth");
    check(tile.pixels.size() == size_t(tile.rowBytes) * size_t(tile.height), "a tile's rows fill its block");
    check(tile.bits == 32 || tile.palette.size() == (size_t(1) << tile.bits), "a tile's palette for every index");
}

// Decodes a level's first and last tile (a striped level's one tile: the
// whole level) and checks them; `between(turn)` runs after each.
template <class Between>
void decodeCornerTiles(TiffLevels& levels, size_t level, Between between)
{
    const TiffLevel& l = levels.levels()[level];
    levels.prefetch(level, 0, 0, 1, 1);
    const std::pair<uint32_t, uint32_t> tiles[] = {{0, 0}, {l.columns() - 1, l.rows() - 1}};
    for (const auto& [column, row] : tiles) {
        BudgetImage tile;
        if (levels.decodeTile(level, column, row, tile) == DecodeOutcome::Decoded && tile.width > 0)
            checkTile(l, column, row, tile);
        levels.takeError();
        between(column + row);
        if (!l.tiled)
            break;   // one tile, the whole level
    }
}

} // namespace fuzz
