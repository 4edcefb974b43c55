#include "TiledDocumentWriter.h"

#include "PrivateTiffTags.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace {

constexpr uint16_t kTypeShort = 3, kTypeLong = 4, kTypeRational = 5, kTypeUndefined = 7, kTypeIfd = 13,
                   kTypeLong8 = 16, kTypeIfd8 = 18;

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Removes the scratch file on every path.
struct ScratchFile {
    explicit ScratchFile(const std::string& p) : path(p) {}
    ~ScratchFile() { std::remove(path.c_str()); }
    std::string path;
};

// How an indexed image's palette is best written: a grey ramp up or down
// (MinIsBlack, MinIsWhite) or a colour map.
uint16_t photometricOf(const PlainImage& image)
{
    if (image.bits == 32)
        return PHOTOMETRIC_RGB;
    const size_t n = image.palette.size();
    bool up = n >= 2, down = n >= 2;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t v = uint32_t(255 * i / (n - 1));
        const uint32_t upWord = rgbaWord(uint8_t(v), uint8_t(v), uint8_t(v));
        const uint32_t downWord = rgbaWord(uint8_t(255 - v), uint8_t(255 - v), uint8_t(255 - v));
        up = up && image.palette[i] == upWord;
        down = down && image.palette[i] == downWord;
    }
    return up ? PHOTOMETRIC_MINISBLACK : down ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_PALETTE;
}

// One level into the scratch file as one directory of compressed tiles.
bool writeLevel(TIFF* tif, const PlainImage& image, uint32_t tileSize, bool reduced)
{
    const uint16_t photometric = photometricOf(image);
    const bool colour = image.bits == 32;
    const uint16_t bits = colour ? 8 : image.bits, samples = colour ? 3 : 1;
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, reduced ? FILETYPE_REDUCEDIMAGE : 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(image.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(image.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, tileSize);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, tileSize);
    const bool g4 = image.bits == 1 && photometric != PHOTOMETRIC_PALETTE;
    TIFFSetField(tif, TIFFTAG_COMPRESSION, g4 ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW);
    if (colour)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (image.pixelsPerMetre > 0) {
        // Per inch, which the viewer turns back into the same pixels per metre.
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(image.pixelsPerMetre / 39.37008));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(image.pixelsPerMetre / 39.37008));
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    std::vector<uint16_t> map;
    if (photometric == PHOTOMETRIC_PALETTE) {
        const size_t n = size_t(1) << image.bits;
        map.assign(3 * n, 0);
        for (size_t i = 0; i < n && i < image.palette.size(); ++i) {
            const uint32_t c = image.palette[i];
            map[i] = uint16_t((c & 0xFF) * 257), map[n + i] = uint16_t((c >> 8 & 0xFF) * 257);
            map[2 * n + i] = uint16_t((c >> 16 & 0xFF) * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
    }
    const size_t tileRowBytes = colour ? size_t(tileSize) * 3 : (size_t(tileSize) * bits + 7) / 8;
    std::vector<uint8_t> tile(tileRowBytes * tileSize);
    for (uint32_t y = 0; y < uint32_t(image.height); y += tileSize) {
        for (uint32_t x = 0; x < uint32_t(image.width); x += tileSize) {
            std::fill(tile.begin(), tile.end(), 0);
            const uint32_t w = std::min(tileSize, uint32_t(image.width) - x);
            const uint32_t h = std::min(tileSize, uint32_t(image.height) - y);
            for (uint32_t ty = 0; ty < h; ++ty) {
                const uint8_t* in = image.row(y + ty);
                uint8_t* out = tile.data() + ty * tileRowBytes;
                if (colour) {
                    for (uint32_t tx = 0; tx < w; ++tx)
                        std::memcpy(out + 3 * tx, in + 4 * size_t(x + tx), 3);
                } else {
                    // Tile columns start on whole bytes (the tile size is a multiple of 16).
                    std::memcpy(out, in + size_t(x) * bits / 8, (size_t(w) * bits + 7) / 8);
                }
            }
            if (TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, 0), tile.data(), tmsize_t(tile.size())) < 0)
                return false;
        }
    }
    return TIFFWriteDirectory(tif) != 0;
}

// --- The final file: header, directories, hotspot bytes, then the tiles ---

void put(std::string& out, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out += char(value >> (8 * i));
}

struct Entry {
    uint16_t tag, type;
    uint64_t count;
    std::string bytes;   // the value, little-endian
};

struct LevelLayout {
    std::vector<Entry> entries;
    std::vector<uint64_t> tileBytes;
    uint64_t ifdOffset = 0;
    std::vector<uint64_t> valueOffsets;   // per entry: where an out-of-line value goes
    uint64_t dataOffset = 0;
};

Entry shorts(uint16_t tag, const std::vector<uint16_t>& values)
{
    Entry e{tag, kTypeShort, values.size(), {}};
    for (uint16_t v : values)
        put(e.bytes, v, 2);
    return e;
}

Entry longs(uint16_t tag, const std::vector<uint32_t>& values)
{
    Entry e{tag, kTypeLong, values.size(), {}};
    for (uint32_t v : values)
        put(e.bytes, v, 4);
    return e;
}

Entry rational(uint16_t tag, float value)
{
    Entry e{tag, kTypeRational, 1, {}};
    put(e.bytes, uint32_t(value * 1000 + 0.5f), 4);
    put(e.bytes, 1000, 4);
    return e;
}

// The tags of the scratch file's current directory, offsets left for later.
bool describeLevel(TIFF* tif, bool first, const std::string& hotspotBytes, LevelLayout& level)
{
    uint32_t width = 0, height = 0, tileWidth = 0, tileHeight = 0, subfile = 0;
    uint16_t bits = 1, samples = 1, compression = 1, photometric = 0, predictor = 1, unit = 0;
    float xres = 0, yres = 0;
    TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile);
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    std::vector<Entry>& e = level.entries;
    e.push_back(longs(TIFFTAG_SUBFILETYPE, {subfile}));
    e.push_back(longs(TIFFTAG_IMAGEWIDTH, {width}));
    e.push_back(longs(TIFFTAG_IMAGELENGTH, {height}));
    e.push_back(shorts(TIFFTAG_BITSPERSAMPLE, std::vector<uint16_t>(samples, bits)));
    e.push_back(shorts(TIFFTAG_COMPRESSION, {compression}));
    e.push_back(shorts(TIFFTAG_PHOTOMETRIC, {photometric}));
    e.push_back(shorts(TIFFTAG_SAMPLESPERPIXEL, {samples}));
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) &&
        TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit)) {
        e.push_back(rational(TIFFTAG_XRESOLUTION, xres));
        e.push_back(rational(TIFFTAG_YRESOLUTION, yres));
    }
    e.push_back(shorts(TIFFTAG_PLANARCONFIG, {PLANARCONFIG_CONTIG}));
    if (unit)
        e.push_back(shorts(TIFFTAG_RESOLUTIONUNIT, {unit}));
    if (compression == COMPRESSION_CCITTFAX4)
        e.push_back(longs(TIFFTAG_T6OPTIONS, {0}));
    if (TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor) && predictor != 1)
        e.push_back(shorts(TIFFTAG_PREDICTOR, {predictor}));
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (photometric == PHOTOMETRIC_PALETTE && TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) {
        const size_t n = size_t(1) << bits;
        std::vector<uint16_t> map(red, red + n);
        map.insert(map.end(), green, green + n);
        map.insert(map.end(), blue, blue + n);
        e.push_back(shorts(TIFFTAG_COLORMAP, map));
    }
    e.push_back(longs(TIFFTAG_TILEWIDTH, {tileWidth}));
    e.push_back(longs(TIFFTAG_TILELENGTH, {tileHeight}));
    const uint32_t tiles = TIFFNumberOfTiles(tif);
    for (uint32_t t = 0; t < tiles; ++t)
        level.tileBytes.push_back(TIFFGetStrileByteCount(tif, t));
    if (first && !hotspotBytes.empty())
        e.push_back(Entry{uint16_t(TIFFTAG_QELHOTSPOT), kTypeUndefined, hotspotBytes.size(), hotspotBytes});
    std::sort(e.begin(), e.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    return tiles > 0;
}

bool isTileArray(const Entry& e);

// The tile offsets and byte counts (LONG in classic TIFF, LONG8 in BigTIFF).
void setTileArrays(LevelLayout& level, bool big)
{
    const int width = big ? 8 : 4;
    Entry offsets{TIFFTAG_TILEOFFSETS, big ? kTypeLong8 : kTypeLong, level.tileBytes.size(), {}};
    Entry counts{TIFFTAG_TILEBYTECOUNTS, big ? kTypeLong8 : kTypeLong, level.tileBytes.size(), {}};
    uint64_t at = level.dataOffset;
    for (uint64_t n : level.tileBytes) {
        put(offsets.bytes, at, width);
        put(counts.bytes, n, width);
        at += n;
    }
    auto& e = level.entries;
    e.erase(std::remove_if(e.begin(), e.end(), isTileArray), e.end());
    e.push_back(offsets);
    e.push_back(counts);
    std::sort(e.begin(), e.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
}

bool isTileArray(const Entry& e)
{
    return e.tag == TIFFTAG_TILEOFFSETS || e.tag == TIFFTAG_TILEBYTECOUNTS;
}

// The first image's SubIFDs: the offsets of the reduced levels' directories
// as they stand (zeros before the first lay-out, which needs only the size).
void setSubIfdArray(std::vector<LevelLayout>& levels, bool big)
{
    auto& e = levels.front().entries;
    e.erase(std::remove_if(e.begin(), e.end(), [](const Entry& x) { return x.tag == TIFFTAG_SUBIFD; }), e.end());
    if (levels.size() < 2)
        return;
    Entry subIfds{TIFFTAG_SUBIFD, big ? kTypeIfd8 : kTypeIfd, levels.size() - 1, {}};
    for (size_t l = 1; l < levels.size(); ++l)
        put(subIfds.bytes, levels[l].ifdOffset, big ? 8 : 4);
    e.push_back(subIfds);
    std::sort(e.begin(), e.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
}

// Places every directory one after the other from `start`, then their
// out-of-line values (the hotspot bytes first), then the tile arrays, so that
// a reader's first request sees the whole structure; returns the end.
uint64_t layOut(std::vector<LevelLayout>& levels, bool big, uint64_t start)
{
    const uint64_t valueWidth = big ? 8 : 4, entrySize = big ? 20 : 12, countWidth = big ? 8 : 2;
    uint64_t at = start;
    for (LevelLayout& level : levels) {
        at = (at + 7) / 8 * 8;
        level.ifdOffset = at;
        at += countWidth + level.entries.size() * entrySize + valueWidth;
        level.valueOffsets.assign(level.entries.size(), 0);
    }
    for (int pass = 0; pass < 3; ++pass) {
        for (LevelLayout& level : levels) {
            for (size_t i = 0; i < level.entries.size(); ++i) {
                const Entry& e = level.entries[i];
                const int kind = e.tag == TIFFTAG_QELHOTSPOT ? 0 : isTileArray(e) ? 2 : 1;
                if (kind != pass || e.bytes.size() <= valueWidth)
                    continue;
                at = (at + 7) / 8 * 8;
                level.valueOffsets[i] = at;
                at += e.bytes.size();
            }
        }
    }
    return at;
}

void putAt(std::string& out, uint64_t at, const std::string& bytes)
{
    out.replace(size_t(at), bytes.size(), bytes);
}

std::string serialise(const std::vector<LevelLayout>& levels, bool big, bool subIfds, uint64_t end)
{
    const int valueWidth = big ? 8 : 4;
    std::string out(size_t(end), '\0');
    std::string header = big ? std::string("II\x2B\x00\x08\x00\x00\x00", 8) : std::string("II\x2A\x00", 4);
    put(header, levels.front().ifdOffset, valueWidth);
    putAt(out, 0, header);
    for (size_t l = 0; l < levels.size(); ++l) {
        const LevelLayout& level = levels[l];
        std::string ifd;
        put(ifd, level.entries.size(), big ? 8 : 2);
        for (size_t i = 0; i < level.entries.size(); ++i) {
            const Entry& e = level.entries[i];
            put(ifd, e.tag, 2);
            put(ifd, e.type, 2);
            put(ifd, e.count, big ? 8 : 4);
            if (level.valueOffsets[i]) {
                put(ifd, level.valueOffsets[i], valueWidth);
                putAt(out, level.valueOffsets[i], e.bytes);
            } else {
                std::string value = e.bytes;
                value.resize(size_t(valueWidth), '\0');
                ifd += value;
            }
        }
        // SubIFDs are found through the first image alone: no chain.
        put(ifd, !subIfds && l + 1 < levels.size() ? levels[l + 1].ifdOffset : 0, valueWidth);
        putAt(out, level.ifdOffset, ifd);
    }
    return out;
}

} // namespace

bool reduceImage(const PlainImage& image, PlainImage& reduced)
{
    const uint32_t w = (uint32_t(image.width) + 1) / 2, h = (uint32_t(image.height) + 1) / 2;
    const uint32_t bits = image.bits;
    const uint32_t rowBytes = bits == 32 ? w * 4 : (w * bits + 7) / 8;
    if (!reduced.make(w, h, uint16_t(bits == 32 ? 24 : bits), rowBytes))
        return false;
    reduced.palette = image.palette;
    reduced.pixelsPerMetre = image.pixelsPerMetre / 2;
    const unsigned dark = image.darkIndex();
    auto index = [&](const uint8_t* row, uint32_t x) -> unsigned {
        if (bits == 8)
            return row[x];
        if (bits == 4)
            return (row[x / 2] >> (x % 2 ? 0 : 4)) & 0xF;
        return (row[x / 8] >> (7 - x % 8)) & 1;
    };
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* top = image.row(2 * y);
        const uint8_t* bottom = image.row(std::min<uint32_t>(2 * y + 1, uint32_t(image.height) - 1));
        uint8_t* out = reduced.row(y);
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t x0 = 2 * x, x1 = std::min<uint32_t>(2 * x + 1, uint32_t(image.width) - 1);
            if (bits == 32) {
                for (int c = 0; c < 3; ++c)
                    out[4 * x + c] = uint8_t((top[4 * x0 + c] + top[4 * x1 + c] + bottom[4 * x0 + c] +
                                              bottom[4 * x1 + c] + 2) / 4);
                out[4 * x + 3] = 255;
                continue;
            }
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
    return true;
}

bool writeTiledDocument(const PlainImage& image, const std::string& hotspotBytes, const TiledDocumentOptions& options,
                        const std::string& path, const std::string& scratchPath, std::string& error)
{
    const uint32_t tileSize = options.tileSize;
    if (tileSize < 16 || tileSize > 4096 || tileSize % 16)
        return error = "the tile size must be a multiple of 16 from 16 to 4096", false;
    if (image.width <= 0 || image.height <= 0)
        return error = "the image is empty", false;
    ScratchFile scratch(scratchPath);
    {
        TiffHandle tif(TIFFOpen(scratchPath.c_str(), "w8"));
        if (!tif)
            return error = scratchPath + ": cannot write the file", false;
        if (!writeLevel(tif.get(), image, tileSize, false))
            return error = "cannot compress the image", false;
        PlainImage previous, next;
        const PlainImage* source = &image;
        while (options.levels && std::max(source->width, source->height) > int32_t(tileSize)) {
            if (!reduceImage(*source, next))
                return error = "not enough memory for the reduced levels", false;
            std::swap(previous, next);
            source = &previous;
            if (!writeLevel(tif.get(), *source, tileSize, true))
                return error = "cannot compress a reduced level", false;
        }
    }
    return relayoutTiledLevels(scratchPath, hotspotBytes, options.bigTiff, path, error, options.subIfds);
}

bool relayoutTiledLevels(const std::string& scratchPath, const std::string& hotspotBytes, bool bigTiff,
                         const std::string& path, std::string& error, bool subIfds)
{
    TiffHandle tif(TIFFOpen(scratchPath.c_str(), "r"));
    if (!tif)
        return error = "cannot read back the compressed tiles", false;
    std::vector<LevelLayout> levels;
    do {
        levels.emplace_back();
        if (!describeLevel(tif.get(), levels.size() == 1, hotspotBytes, levels.back()))
            return error = "cannot read back the compressed tiles", false;
    } while (TIFFReadDirectory(tif.get()));

    // Classic TIFF unless its 32-bit offsets cannot reach every byte.
    uint64_t dataBytes = 0;
    for (const LevelLayout& level : levels)
        for (uint64_t n : level.tileBytes)
            dataBytes += n;
    bool big = bigTiff;
    uint64_t directoriesEnd = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (LevelLayout& level : levels)
            setTileArrays(level, big);
        if (subIfds)
            setSubIfdArray(levels, big);
        directoriesEnd = layOut(levels, big, big ? 16 : 8);
        if (big || directoriesEnd + dataBytes <= 0xFFFFFFFFull)
            break;
        big = true;
    }
    // Pixel data after the directories: the smallest level first.
    uint64_t at = (directoriesEnd + 7) / 8 * 8;
    for (size_t l = levels.size(); l-- > 0;) {
        levels[l].dataOffset = at;
        for (uint64_t n : levels[l].tileBytes)
            at += n;
    }
    for (LevelLayout& level : levels)
        setTileArrays(level, big);   // same sizes, now with the offsets
    if (subIfds)
        setSubIfdArray(levels, big);   // same size, now with the directories' places
    const uint64_t end = layOut(levels, big, big ? 16 : 8);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string head = serialise(levels, big, subIfds, (end + 7) / 8 * 8);
    out.write(head.data(), std::streamsize(head.size()));
    std::vector<uint8_t> raw;
    for (size_t l = levels.size(); l-- > 0;) {
        if (!TIFFSetDirectory(tif.get(), tdir_t(l)))
            return error = "cannot read back the compressed tiles", false;
        for (uint32_t t = 0; t < levels[l].tileBytes.size(); ++t) {
            raw.resize(size_t(levels[l].tileBytes[t]));
            if (!raw.empty() && TIFFReadRawTile(tif.get(), t, raw.data(), tmsize_t(raw.size())) != tmsize_t(raw.size()))
                return error = "cannot read back the compressed tiles", false;
            out.write(reinterpret_cast<const char*>(raw.data()), std::streamsize(raw.size()));
        }
    }
    out.close();
    if (!out)
        return error = path + ": cannot write the file", false;
    return true;
}
