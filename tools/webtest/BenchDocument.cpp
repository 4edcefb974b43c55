// bench_document: writes a large tiled bilevel document with reduced levels
// for the element's benchmark and range tests, without holding the image in
// memory: a drawing defined by a rule, written a band of tile rows at a time
// (CCITT G4 tiles), each level computed from the rule directly, then laid out
// with the directories first as htfmake --tiles --levels does.
//
//   bench_document OUT.htf SIZE [TILE] [HOTSPOTS] [LEVELS]
//
// The drawing (MinIsWhite, 1 = black), in pixels of the first image:
//   a grid: x % 1000 < 4 or y % 1000 < 4
//   diagonals: (x - y) mod 1000 in {999, 0, 1}
//   text inside each grid cell (x % 1000 and y % 1000 from 150 to 849): lines
//   of 12 rows every 24, characters 8 pixels wide made of strokes chosen by
//   glyphBits(x / 8, y / 24)
// A pixel of a reduced level is black when any pixel it stands for is on the
// grid or a diagonal; the text is sampled (the pixel's top-left one).
// HOTSPOTS (default 0) hotspots, one a grid cell from the top left, each
// cell's inner square 100 ... 900 with the reference "cell-COLUMN-ROW".
// LEVELS (default: down to one tile) the levels written, the first image
// among them: 1 writes the first image alone.
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HotspotStream.h"
#include "TiledDocumentWriter.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int64_t kCell = 1000, kGrid = 4;

int64_t floorDiv(int64_t a, int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

uint32_t glyphBits(uint32_t column, uint32_t line)
{
    uint32_t h = (column * 73856093u) ^ (line * 19349663u);
    h = (h ^ (h >> 13)) * 0x5bd1e995u;
    return h ^ (h >> 15);
}

// Whether the text has a black pixel at (x, y) of the first image.
bool textPixel(int64_t x, int64_t y)
{
    const int64_t u = x % kCell, v = y % kCell;
    if (u < 150 || u >= 850 || v < 150 || v >= 850 || v % 24 >= 12)
        return false;
    const uint32_t bits = glyphBits(uint32_t(x / 8), uint32_t(y / 24));
    if ((bits >> 5 & 7) == 0)
        return false;   // a space
    const int64_t c = x % 8, r = v % 24;
    if ((r == 2 || r == 6 || r == 10) && c >= 1 && c <= 6 && (bits >> (r / 4) & 1))
        return true;
    return r >= 2 && r <= 10 && ((c == 1 && (bits & 8)) || (c == 6 && (bits & 16)));
}

void setBits(uint8_t* row, int64_t from, int64_t to, int64_t width)
{
    from = std::max<int64_t>(from, 0), to = std::min(to, width - 1);
    for (int64_t x = from; x <= to; ++x)
        row[x / 8] |= uint8_t(0x80 >> (x % 8));
}

// Row `y` of the level that is `scale` times smaller than the first image
// (`width` x `height` level pixels, `fullWidth` x `fullHeight` full ones).
void drawRow(uint8_t* row, int64_t y, int64_t scale, int64_t width, int64_t fullWidth, int64_t fullHeight)
{
    std::memset(row, 0, size_t((width + 7) / 8));
    const int64_t y0 = y * scale, y1 = std::min(y0 + scale, fullHeight) - 1;
    // A horizontal grid line in the rows this one stands for blackens it all.
    for (int64_t g = floorDiv(y0, kCell) * kCell; g <= y1; g += kCell) {
        if (g + kGrid - 1 >= y0) {
            setBits(row, 0, width - 1, width);
            return;
        }
    }
    for (int64_t g = 0; g < fullWidth; g += kCell)
        setBits(row, g / scale, (g + kGrid - 1) / scale, width);
    const int64_t v = y0 % kCell;
    if (v >= 150 && v < 850 && v % 24 < 12) {
        for (int64_t x = 0; x < width; ++x) {
            if (textPixel(x * scale, y0))
                row[x / 8] |= uint8_t(0x80 >> (x % 8));
        }
    }
    // Diagonals: x in [y + 1000k - 1, y + 1000k + 1] for some full row y in [y0, y1].
    for (int64_t k = floorDiv(-y1 - 1, kCell); k * kCell + y0 - 1 < fullWidth; ++k) {
        const int64_t from = y0 + k * kCell - 1, to = y1 + k * kCell + 1;
        if (to >= 0)
            setBits(row, floorDiv(from, scale), to / scale, width);
    }
}

bool writeLevel(TIFF* tif, int64_t fullWidth, int64_t fullHeight, int64_t scale, uint32_t tile)
{
    const int64_t width = (fullWidth + scale - 1) / scale, height = (fullHeight + scale - 1) / scale;
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, scale > 1 ? FILETYPE_REDUCEDIMAGE : 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
    const size_t rowBytes = size_t((width + 7) / 8), tileRowBytes = tile / 8;
    std::vector<uint8_t> band(rowBytes * tile + tileRowBytes), buffer(tileRowBytes * tile);
    for (int64_t top = 0; top < height; top += tile) {
        std::fill(band.begin(), band.end(), 0);
        for (int64_t y = top; y < std::min<int64_t>(top + tile, height); ++y)
            drawRow(&band[size_t(y - top) * rowBytes], y, scale, width, fullWidth, fullHeight);
        for (int64_t left = 0; left < width; left += tile) {
            std::fill(buffer.begin(), buffer.end(), 0);
            const size_t bytes = std::min(tileRowBytes, rowBytes - size_t(left / 8));
            for (uint32_t ty = 0; ty < tile && top + ty < height; ++ty)
                std::memcpy(&buffer[ty * tileRowBytes], &band[ty * rowBytes + size_t(left / 8)], bytes);
            if (TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, uint32_t(left), uint32_t(top), 0, 0), buffer.data(),
                                     tmsize_t(buffer.size())) < 0)
                return false;
        }
    }
    return TIFFWriteDirectory(tif) != 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fputs("usage: bench_document OUT.htf SIZE [TILE] [HOTSPOTS] [LEVELS]\n", stderr);
        return 2;
    }
    const std::string out = argv[1];
    const int64_t size = std::atoll(argv[2]);
    const uint32_t tile = argc > 3 ? uint32_t(std::atoi(argv[3])) : 256;
    const long hotspots = argc > 4 ? std::atol(argv[4]) : 0;
    const long levels = argc > 5 ? std::atol(argv[5]) : 64;
    if (size < 16 || size > 2000000 || tile < 16 || tile % 16 || levels < 1) {
        std::fputs("bench_document: SIZE from 16 to 2000000, TILE a multiple of 16, LEVELS at least 1\n", stderr);
        return 2;
    }
    HotspotList list;
    const int64_t cells = (size + kCell - 1) / kCell;
    for (long i = 0; i < hotspots && i < cells * cells; ++i) {
        auto record = std::make_unique<HotspotRecord>();
        const int64_t column = i % cells, row = i / cells;
        record->left = int32_t(column * kCell + 100), record->top = int32_t(row * kCell + 100);
        record->right = int32_t(std::min(size, column * kCell + 900));
        record->bottom = int32_t(std::min(size, row * kCell + 900));
        record->reference = "cell-" + std::to_string(column) + "-" + std::to_string(row);
        list.append(std::move(record));
    }
    std::ostringstream stream(std::ios::out | std::ios::binary);
    writeHotspotStream(stream, list);

    const std::string scratch = out + ".tiles";
    TIFF* tif = TIFFOpen(scratch.c_str(), "w8");
    if (!tif) {
        std::fprintf(stderr, "bench_document: cannot write %s\n", scratch.c_str());
        return 1;
    }
    bool ok = true;
    for (int64_t scale = 1, written = 1; ok; scale *= 2, ++written) {
        ok = writeLevel(tif, size, size, scale, tile);
        if ((size + scale - 1) / scale <= int64_t(tile) || written >= levels)
            break;
    }
    TIFFClose(tif);
    std::string error;
    ok = ok && relayoutTiledLevels(scratch, hotspots ? stream.str() : std::string(), false, out, error);
    std::remove(scratch.c_str());
    if (!ok) {
        std::fprintf(stderr, "bench_document: %s\n", error.empty() ? "cannot write the tiles" : error.c_str());
        return 1;
    }
    return 0;
}
