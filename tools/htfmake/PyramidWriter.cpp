#include "PyramidWriter.h"

#include "BandCompressor.h"
#include "PlainImage.h"
#include "TiledDocumentWriter.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

namespace {

// How an indexed picture's palette is best written: a grey ramp up or down
// (MinIsBlack, MinIsWhite) or a colour map.
uint16_t photometricOf(const PictureKind& kind)
{
    if (kind.colour())
        return PHOTOMETRIC_RGB;
    const size_t n = kind.palette.size();
    bool up = n >= 2, down = n >= 2;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t v = uint32_t(255 * i / (n - 1));
        up = up && kind.palette[i] == rgbaWord(uint8_t(v), uint8_t(v), uint8_t(v));
        down = down && kind.palette[i] == rgbaWord(uint8_t(255 - v), uint8_t(255 - v), uint8_t(255 - v));
    }
    return up ? PHOTOMETRIC_MINISBLACK : down ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_PALETTE;
}

// The palette index that reads darker in a two-colour picture.
unsigned darkIndexOf(const PictureKind& kind)
{
    if (kind.palette.size() < 2)
        return 0;
    auto brightness = [](uint32_t c) { return (c & 0xFF) * 299 + (c >> 8 & 0xFF) * 587 + (c >> 16 & 0xFF) * 114; };
    return brightness(kind.palette[1]) < brightness(kind.palette[0]) ? 1 : 0;
}

PictureKind reducedKind(const PictureKind& kind)
{
    PictureKind below = kind;
    below.width = (kind.width + 1) / 2, below.height = (kind.height + 1) / 2;
    below.rowBytes = kind.colour() ? below.width * 3 : (below.width * kind.bits + 7) / 8;
    below.pixelsPerMetre = kind.pixelsPerMetre / 2;
    return below;
}

TiledLevelHead headOf(const PictureKind& kind, uint32_t tileSize, bool reduced)
{
    TiledLevelHead head;
    head.width = kind.width, head.height = kind.height, head.tileSize = tileSize;
    head.subfileType = reduced ? FILETYPE_REDUCEDIMAGE : 0;
    head.photometric = photometricOf(kind);
    head.bits = kind.colour() ? 8 : kind.bits;
    head.samples = kind.colour() ? 3 : 1;
    head.compression = kind.bits == 1 && head.photometric != PHOTOMETRIC_PALETTE ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW;
    head.predictor = kind.colour() ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE;
    if (kind.pixelsPerMetre > 0) {
        // Per inch, which the viewer turns back into the same pixels per metre.
        head.hasResolution = true;
        head.xResolution = head.yResolution = float(kind.pixelsPerMetre / 39.37008);
        head.resolutionUnit = RESUNIT_INCH;
    }
    if (head.photometric == PHOTOMETRIC_PALETTE) {
        const size_t n = size_t(1) << kind.bits;
        head.colorMap.assign(3 * n, 0);
        for (size_t i = 0; i < n && i < kind.palette.size(); ++i) {
            const uint32_t c = kind.palette[i];
            head.colorMap[i] = uint16_t((c & 0xFF) * 257), head.colorMap[n + i] = uint16_t((c >> 8 & 0xFF) * 257);
            head.colorMap[2 * n + i] = uint16_t((c >> 16 & 0xFF) * 257);
        }
    }
    return head;
}

// Closes and removes the scratch files on every path.
class ScratchFiles {
public:
    ~ScratchFiles()
    {
        for (size_t i = 0; i < files_.size(); ++i) {
            if (files_[i])
                std::fclose(files_[i]);
            std::remove(paths_[i].c_str());
        }
    }
    std::FILE* open(const std::string& path)
    {
        paths_.push_back(path);
        files_.push_back(std::fopen(path.c_str(), "w+b"));
        return files_.back();
    }
    std::FILE* file(size_t i) const { return files_[i]; }
    const std::vector<std::FILE*>& files() const { return files_; }

private:
    std::vector<std::string> paths_;
    std::vector<std::FILE*> files_;
};

// One level while it is written: the band of rows being filled.
struct Level {
    PictureKind kind;
    std::vector<uint8_t> band;   // a tile's height of rows
    uint32_t bandIndex = 0;
    uint32_t rowsIn = 0;         // rows received so far
    uint8_t* bandRow(uint32_t y) { return band.data() + size_t(y % tileRows) * kind.rowBytes; }
    uint32_t tileRows = 0;
};

class Pyramid {
public:
    Pyramid(std::vector<Level>& levels, BandCompressor& compressor, unsigned dark)
        : levels_(levels), compressor_(compressor), dark_(dark)
    {
    }

    // `count` rows were put into level `l`'s band after the rows it had.
    bool rowsAdded(size_t l, uint32_t count)
    {
        Level& level = levels_[l];
        const uint32_t first = level.rowsIn;
        level.rowsIn += count;
        if (l + 1 < levels_.size()) {
            for (uint32_t y = first; y < level.rowsIn; ++y) {
                // Rows pair up inside a band: bands start at even rows.
                const bool lastOfOdd = y + 1 == level.kind.height && y % 2 == 0;
                if (y % 2 == 1 || lastOfOdd) {
                    const uint8_t* top = level.bandRow(y % 2 ? y - 1 : y);
                    if (!reduceInto(l + 1, top, level.bandRow(y)))
                        return false;
                }
            }
        }
        const bool full = level.rowsIn % level.tileRows == 0, complete = level.rowsIn == level.kind.height;
        return full || complete ? submitBand(level, l) : true;
    }

private:
    bool reduceInto(size_t l, const uint8_t* top, const uint8_t* bottom)
    {
        Level& below = levels_[l];
        uint8_t* out = below.bandRow(below.rowsIn);
        std::memset(out, 0, below.kind.rowBytes);
        reduceRowPair(levels_[l - 1].kind, top, bottom, dark_, out);
        return rowsAdded(l, 1);
    }

    bool submitBand(Level& level, size_t l)
    {
        const uint32_t rows = level.rowsIn - level.bandIndex * level.tileRows;
        TileBand band;
        band.level = l, band.index = level.bandIndex++;
        band.width = level.kind.width, band.rows = rows, band.rowBytes = level.kind.rowBytes;
        band.pixels.swap(level.band);
        if (level.rowsIn < level.kind.height)
            level.band.assign(size_t(level.tileRows) * level.kind.rowBytes, 0);
        return compressor_.submit(std::move(band));
    }

    std::vector<Level>& levels_;
    BandCompressor& compressor_;
    unsigned dark_;
};

}  // namespace

void reduceRowPair(const PictureKind& kind, const uint8_t* top, const uint8_t* bottom, unsigned dark, uint8_t* out)
{
    const uint32_t w = (kind.width + 1) / 2, bits = kind.bits;
    if (kind.colour()) {
        for (uint32_t x = 0; x < w; ++x) {
            const size_t x0 = 6 * size_t(x), x1 = 3 * size_t(std::min(2 * x + 1, kind.width - 1));
            for (size_t c = 0; c < 3; ++c)
                out[3 * x + c] = uint8_t((top[x0 + c] + top[x1 + c] + bottom[x0 + c] + bottom[x1 + c] + 2) / 4);
        }
        return;
    }
    auto index = [bits](const uint8_t* row, uint32_t x) -> unsigned {
        if (bits == 8)
            return row[x];
        if (bits == 4)
            return (row[x / 2] >> (x % 2 ? 0 : 4)) & 0xF;
        return (row[x / 8] >> (7 - x % 8)) & 1;
    };
    for (uint32_t x = 0; x < w; ++x) {
        const uint32_t x0 = 2 * x, x1 = std::min(2 * x + 1, kind.width - 1);
        unsigned v = index(top, x0);
        if (bits == 1 && (index(top, x1) == dark || index(bottom, x0) == dark || index(bottom, x1) == dark))
            v = dark;
        if (bits == 8)
            out[x] = uint8_t(v);
        else if (bits == 4)
            out[x / 2] |= uint8_t(v << (x % 2 ? 0 : 4));
        else if (v)
            out[x / 8] |= uint8_t(0x80 >> (x % 8));
    }
}

bool writePyramidDocument(PictureSource& source, const std::string& hotspotBytes, const PyramidOptions& options,
                          const std::string& path, const std::string& scratchPrefix, std::string& error)
{
    const uint32_t tileSize = options.tileSize;
    if (tileSize < 16 || tileSize > 4096 || tileSize % 16)
        return error = "the tile size must be a multiple of 16 from 16 to 4096", false;
    const PictureKind& kind = source.kind();
    if (kind.width == 0 || kind.height == 0)
        return error = "the image is empty", false;
    if (!(kind.bits == 1 || kind.bits == 4 || kind.bits == 8 || kind.bits == 24))
        return error = "the image has a kind of pixel that cannot be written", false;

    std::vector<Level> levels(1);
    levels[0].kind = kind;
    while (options.levels && std::max(levels.back().kind.width, levels.back().kind.height) > tileSize) {
        levels.emplace_back();
        levels.back().kind = reducedKind(levels[levels.size() - 2].kind);
    }
    ScratchFiles scratch;
    std::vector<TileFormat> formats;
    std::vector<TiledLevelHead> heads;
    for (size_t l = 0; l < levels.size(); ++l) {
        if (!scratch.open(scratchPrefix + "." + std::to_string(l)))
            return error = scratchPrefix + "." + std::to_string(l) + ": cannot write the file", false;
        heads.push_back(headOf(levels[l].kind, tileSize, l > 0));
        TileFormat format;
        format.tileSize = tileSize, format.bits = heads[l].bits, format.samples = heads[l].samples;
        format.photometric = heads[l].photometric, format.compression = heads[l].compression;
        format.predictor = heads[l].predictor;
        formats.push_back(format);
        levels[l].tileRows = tileSize;
        try {
            levels[l].band.assign(size_t(tileSize) * levels[l].kind.rowBytes, 0);
        } catch (const std::bad_alloc&) {
            return error = "not enough memory for a band of " + std::to_string(tileSize) + " rows", false;
        }
    }

    {
        const unsigned threads = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
        BandCompressor compressor(formats, scratch.files(), threads);
        Pyramid pyramid(levels, compressor, darkIndexOf(kind));
        Level& first = levels[0];
        bool ok = true;
        while (ok && first.rowsIn < kind.height) {
            const uint32_t count = std::min(tileSize, kind.height - first.rowsIn);
            ok = source.readRows(first.band.data(), count, error) && pyramid.rowsAdded(0, count);
        }
        // A failed read has its message; a failed submission the compressor's.
        std::string failure;
        if (!compressor.finish(failure)) {
            if (ok || error.empty())
                error = failure;
            return false;
        }
        if (!ok)
            return false;
        for (size_t l = 0; l < levels.size(); ++l)
            heads[l].tileBytes = compressor.tileBytes(l);
    }

    std::vector<char> buffer(1 << 20);
    const auto copyTiles = [&](size_t level, std::FILE* out) {
        std::FILE* in = scratch.file(level);
        if (std::fflush(in) != 0 || std::fseek(in, 0, SEEK_SET) != 0)
            return false;
        size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
            if (std::fwrite(buffer.data(), 1, n, out) != n)
                return false;
        }
        return !std::ferror(in);
    };
    return writeTiledFile(heads, hotspotBytes, options.bigTiff, options.subIfds, path, copyTiles, error);
}
