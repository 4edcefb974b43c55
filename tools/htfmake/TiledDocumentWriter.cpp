#include "TiledDocumentWriter.h"

#include "PlainImageSource.h"
#include "PrivateTiffTags.h"
#include "PyramidWriter.h"

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

// The tags of a level's directory, offsets left for later.
void describeLevel(const TiledLevelHead& head, bool first, const std::string& hotspotBytes, LevelLayout& level)
{
    std::vector<Entry>& e = level.entries;
    e.push_back(longs(TIFFTAG_SUBFILETYPE, {head.subfileType}));
    e.push_back(longs(TIFFTAG_IMAGEWIDTH, {head.width}));
    e.push_back(longs(TIFFTAG_IMAGELENGTH, {head.height}));
    e.push_back(shorts(TIFFTAG_BITSPERSAMPLE, std::vector<uint16_t>(head.samples, head.bits)));
    e.push_back(shorts(TIFFTAG_COMPRESSION, {head.compression}));
    e.push_back(shorts(TIFFTAG_PHOTOMETRIC, {head.photometric}));
    e.push_back(shorts(TIFFTAG_SAMPLESPERPIXEL, {head.samples}));
    if (head.hasResolution) {
        e.push_back(rational(TIFFTAG_XRESOLUTION, head.xResolution));
        e.push_back(rational(TIFFTAG_YRESOLUTION, head.yResolution));
    }
    e.push_back(shorts(TIFFTAG_PLANARCONFIG, {PLANARCONFIG_CONTIG}));
    if (head.resolutionUnit)
        e.push_back(shorts(TIFFTAG_RESOLUTIONUNIT, {head.resolutionUnit}));
    if (head.compression == COMPRESSION_CCITTFAX4)
        e.push_back(longs(TIFFTAG_T6OPTIONS, {0}));
    if (head.predictor != 1)
        e.push_back(shorts(TIFFTAG_PREDICTOR, {head.predictor}));
    if (head.photometric == PHOTOMETRIC_PALETTE && !head.colorMap.empty())
        e.push_back(shorts(TIFFTAG_COLORMAP, head.colorMap));
    e.push_back(longs(TIFFTAG_TILEWIDTH, {head.tileSize}));
    e.push_back(longs(TIFFTAG_TILELENGTH, {head.tileSize}));
    level.tileBytes = head.tileBytes;
    if (first && !hotspotBytes.empty())
        e.push_back(Entry{uint16_t(TIFFTAG_QELHOTSPOT), kTypeUndefined, hotspotBytes.size(), hotspotBytes});
    std::sort(e.begin(), e.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
}

// The head of the scratch file's current directory; false when it has no tiles.
bool headOf(TIFF* tif, TiledLevelHead& head)
{
    uint32_t subfile = 0;
    uint16_t bits = 1, samples = 1, compression = 1, photometric = 0, predictor = 1, unit = 0;
    float xres = 0, yres = 0;
    TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile);
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &head.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &head.height);
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &head.tileSize);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor);
    head.subfileType = subfile;
    head.bits = bits, head.samples = samples, head.compression = compression;
    head.photometric = photometric, head.predictor = predictor;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) &&
        TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit)) {
        head.hasResolution = true;
        head.xResolution = xres, head.yResolution = yres;
    }
    head.resolutionUnit = unit;
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (photometric == PHOTOMETRIC_PALETTE && TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) {
        const size_t n = size_t(1) << bits;
        head.colorMap.assign(red, red + n);
        head.colorMap.insert(head.colorMap.end(), green, green + n);
        head.colorMap.insert(head.colorMap.end(), blue, blue + n);
    }
    const uint32_t tiles = TIFFNumberOfTiles(tif);
    for (uint32_t t = 0; t < tiles; ++t)
        head.tileBytes.push_back(TIFFGetStrileByteCount(tif, t));
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
    PictureKind kind;   // an indexed image's rows as the streaming writer reduces them
    kind.width = uint32_t(image.width), kind.height = uint32_t(image.height), kind.bits = uint16_t(bits);
    const unsigned dark = image.darkIndex();
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* top = image.row(2 * y);
        const uint8_t* bottom = image.row(std::min<uint32_t>(2 * y + 1, uint32_t(image.height) - 1));
        uint8_t* out = reduced.row(y);
        if (bits != 32) {
            reduceRowPair(kind, top, bottom, dark, out);
            continue;
        }
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t x0 = 2 * x, x1 = std::min<uint32_t>(2 * x + 1, uint32_t(image.width) - 1);
            for (int c = 0; c < 3; ++c)
                out[4 * x + c] = uint8_t((top[4 * x0 + c] + top[4 * x1 + c] + bottom[4 * x0 + c] +
                                          bottom[4 * x1 + c] + 2) / 4);
            out[4 * x + 3] = 255;
        }
    }
    return true;
}

bool writeTiledDocument(const PlainImage& image, const std::string& hotspotBytes, const TiledDocumentOptions& options,
                        const std::string& path, const std::string& scratchPath, std::string& error)
{
    if (image.width <= 0 || image.height <= 0)
        return error = "the image is empty", false;
    PlainImageSource source(image);
    PyramidOptions pyramid;
    pyramid.tileSize = options.tileSize;
    pyramid.levels = options.levels;
    pyramid.bigTiff = options.bigTiff;
    pyramid.subIfds = options.subIfds;
    return writePyramidDocument(source, hotspotBytes, pyramid, path, scratchPath, error);
}

bool relayoutTiledLevels(const std::string& scratchPath, const std::string& hotspotBytes, bool bigTiff,
                         const std::string& path, std::string& error, bool subIfds)
{
    TiffHandle tif(TIFFOpen(scratchPath.c_str(), "r"));
    if (!tif)
        return error = "cannot read back the compressed tiles", false;
    std::vector<TiledLevelHead> heads;
    do {
        heads.emplace_back();
        if (!headOf(tif.get(), heads.back()))
            return error = "cannot read back the compressed tiles", false;
    } while (TIFFReadDirectory(tif.get()));
    std::vector<uint8_t> raw;
    const auto copyTiles = [&](size_t level, std::FILE* out) {
        if (!TIFFSetDirectory(tif.get(), tdir_t(level)))
            return false;
        for (uint32_t t = 0; t < heads[level].tileBytes.size(); ++t) {
            raw.resize(size_t(heads[level].tileBytes[t]));
            if (!raw.empty() && TIFFReadRawTile(tif.get(), t, raw.data(), tmsize_t(raw.size())) != tmsize_t(raw.size()))
                return false;
            if (std::fwrite(raw.data(), 1, raw.size(), out) != raw.size())
                return false;
        }
        return true;
    };
    return writeTiledFile(heads, hotspotBytes, bigTiff, subIfds, path, copyTiles, error);
}

bool writeTiledFile(const std::vector<TiledLevelHead>& heads, const std::string& hotspotBytes, bool bigTiff,
                    bool subIfds, const std::string& path, const TileCopier& copyTiles, std::string& error)
{
    if (heads.empty())
        return error = "no image to write", false;
    std::vector<LevelLayout> levels(heads.size());
    for (size_t l = 0; l < heads.size(); ++l)
        describeLevel(heads[l], l == 0, hotspotBytes, levels[l]);

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
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!out)
        return error = path + ": cannot write the file", false;
    const std::string head = serialise(levels, big, subIfds, (end + 7) / 8 * 8);
    bool ok = std::fwrite(head.data(), 1, head.size(), out.get()) == head.size();
    for (size_t l = levels.size(); ok && l-- > 0;)
        ok = copyTiles(l, out.get());
    ok = std::fclose(out.release()) == 0 && ok;
    if (!ok)
        return error = path + ": cannot write the file", false;
    return true;
}
