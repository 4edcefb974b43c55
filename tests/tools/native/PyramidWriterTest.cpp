// The tiled writer that streams: the picture read a band a tile high at a
// time, tiles written in order whatever order the threads finish in, every
// level equal to a whole-image reduction of the same kind, at odd sizes
// where the last band, the last tile and each level's last row are partial.
#include "NativeTestFiles.h"
#include "PlainImageSource.h"
#include "PrivateTiffTags.h"
#include "PyramidWriter.h"
#include "TiledDocumentWriter.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <vector>

namespace {

constexpr uint32_t kTile = 16;

// A picture of the given kind with pixels that differ from their neighbours.
PlainImage picture(uint32_t width, uint32_t height, uint16_t bits, std::vector<uint32_t> palette = {})
{
    PlainImage image;
    const uint32_t rowBytes = bits == 24 ? width * 4 : (width * bits + 7) / 8;
    EXPECT_TRUE(image.make(width, height, bits, rowBytes));
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = image.row(y);
        for (uint32_t i = 0; i < rowBytes; ++i) {
            seed = seed * 1103515245 + 12345;
            row[i] = uint8_t(seed >> 16);
        }
        if (bits == 24) {
            for (uint32_t x = 0; x < width; ++x)
                row[4 * x + 3] = 255;
        } else if (width * bits % 8) {
            row[rowBytes - 1] &= uint8_t(0xFF00 >> (width * bits % 8));   // no bits past the last pixel
        }
    }
    image.palette = std::move(palette);
    return image;
}

std::vector<uint32_t> greyRamp(unsigned n, bool up)
{
    std::vector<uint32_t> ramp;
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t v = uint8_t(255 * i / (n - 1));
        ramp.push_back(up ? rgbaWord(v, v, v) : rgbaWord(uint8_t(255 - v), uint8_t(255 - v), uint8_t(255 - v)));
    }
    return ramp;
}

std::vector<uint32_t> colours(unsigned n)
{
    std::vector<uint32_t> palette;
    for (unsigned i = 0; i < n; ++i)
        palette.push_back(rgbaWord(uint8_t(i * 37), uint8_t(255 - i * 11), uint8_t(i * i)));
    return palette;
}

// Records how many rows each read asks for.
class RecordingSource : public PlainImageSource {
public:
    using PlainImageSource::PlainImageSource;
    bool readRows(uint8_t* rows, uint32_t count, std::string& error) override
    {
        reads.push_back(count);
        return PlainImageSource::readRows(rows, count, error);
    }
    std::vector<uint32_t> reads;
};

// Every directory of a written document and where its tiles are.
struct Directory {
    uint32_t width = 0, height = 0;
    uint64_t at = 0;
    std::vector<uint64_t> offsets, counts;
};

std::vector<Directory> directoriesOf(const std::string& path)
{
    std::vector<Directory> list;
    TIFF* tif = openQuietly(path);
    if (!tif)
        return list;
    do {
        Directory d;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &d.width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &d.height);
        d.at = TIFFCurrentDirOffset(tif);
        for (uint32_t t = 0; t < TIFFNumberOfTiles(tif); ++t) {
            d.offsets.push_back(TIFFGetStrileOffset(tif, t));
            d.counts.push_back(TIFFGetStrileByteCount(tif, t));
        }
        list.push_back(d);
    } while (TIFFReadDirectory(tif));
    htfTIFFClose(tif);
    return list;
}

bool exists(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f)
        std::fclose(f);
    return f != nullptr;
}

TEST(PyramidWriter, BandsAndTilesAreReadAndWrittenInOrder)
{
    const struct {
        uint32_t width, height;
        uint16_t bits;
    } cases[] = {
        {37, 53, 24},   // partial last band and tile at every level
        {16, 16, 24},   // one whole tile, no level
        {70, 1, 1},     // one row
        {1, 70, 8},     // one column
        {33, 17, 1},    // bilevel, odd at every level
        {64, 48, 4},    // whole tiles at the first level only
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + ", " + std::to_string(c.bits) +
                     " bits");
        const PlainImage image = picture(c.width, c.height, c.bits, c.bits == 24 ? std::vector<uint32_t>{}
                                                                                 : colours(1u << c.bits));
        TestFile oneThread(".htf"), manyThreads(".htf");
        for (unsigned threads : {1u, 4u}) {
            const std::string& out = threads == 1 ? oneThread.path() : manyThreads.path();
            RecordingSource source(image);
            PyramidOptions options;
            options.tileSize = kTile, options.levels = true, options.threads = threads;
            std::string error;
            ASSERT_TRUE(writePyramidDocument(source, "hotspot bytes", options, out, out + ".tiles", error)) << error;
            // A band a tile high at a time, the last one what is left.
            uint32_t rows = 0;
            for (size_t i = 0; i < source.reads.size(); ++i) {
                EXPECT_EQ(source.reads[i], i + 1 < source.reads.size() ? kTile : c.height - rows) << "read " << i;
                rows += source.reads[i];
            }
            EXPECT_EQ(rows, c.height);
            for (int l = 0; l < 5; ++l)
                EXPECT_FALSE(exists(out + ".tiles." + std::to_string(l))) << "scratch file of level " << l << " left";
        }
        // The same bytes however many threads compress.
        EXPECT_TRUE(fileBytes(oneThread.path()) == fileBytes(manyThreads.path()));

        const std::vector<Directory> dirs = directoriesOf(oneThread.path());
        ASSERT_FALSE(dirs.empty());
        uint32_t w = c.width, h = c.height;
        uint64_t firstTile = UINT64_MAX;
        for (size_t l = 0; l < dirs.size(); ++l) {
            SCOPED_TRACE("level " + std::to_string(l));
            EXPECT_EQ(dirs[l].width, w);
            EXPECT_EQ(dirs[l].height, h);
            EXPECT_EQ(dirs[l].offsets.size(), size_t((w + kTile - 1) / kTile) * ((h + kTile - 1) / kTile));
            // Tiles one after the other in tile order, and the level right
            // after the smaller one below it.
            for (size_t t = 1; t < dirs[l].offsets.size(); ++t)
                EXPECT_EQ(dirs[l].offsets[t], dirs[l].offsets[t - 1] + dirs[l].counts[t - 1]) << "tile " << t;
            if (l + 1 < dirs.size()) {
                EXPECT_EQ(dirs[l + 1].offsets.back() + dirs[l + 1].counts.back(), dirs[l].offsets.front());
            }
            firstTile = std::min(firstTile, dirs[l].offsets.front());
            w = (w + 1) / 2, h = (h + 1) / 2;
        }
        EXPECT_LE(std::max(dirs.back().width, dirs.back().height), kTile);
        if (dirs.size() > 1) {
            EXPECT_GT(std::max(dirs[dirs.size() - 2].width, dirs[dirs.size() - 2].height), kTile);
        }
        for (const Directory& d : dirs)
            EXPECT_LT(d.at, firstTile);
        EXPECT_LT(fileBytes(oneThread.path()).find("hotspot bytes"), firstTile);
    }
}

TEST(PyramidWriter, LevelsEqualAWholeImageReductionOfTheSameKind)
{
    const struct {
        const char* name;
        PlainImage image;
    } cases[] = {
        {"bilevel, black is 1", picture(75, 41, 1, {rgbaWord(255, 255, 255), rgbaWord(0, 0, 0)})},
        {"bilevel, black is 0", picture(41, 75, 1, {rgbaWord(0, 0, 0), rgbaWord(255, 255, 255)})},
        {"grey, 8 bits", picture(75, 41, 8, greyRamp(256, true))},
        {"grey, 4 bits, white is 0", picture(53, 37, 4, greyRamp(16, false))},
        {"palette, 4 bits", picture(75, 41, 4, colours(16))},
        {"palette, 8 bits", picture(41, 75, 8, colours(256))},
        {"colour", picture(75, 41, 24)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestFile out(".htf");
        PlainImageSource source(c.image);
        PyramidOptions options;
        options.tileSize = kTile, options.levels = true, options.threads = 3;
        std::string error;
        ASSERT_TRUE(writePyramidDocument(source, std::string(), options, out.path(), out.path() + ".tiles", error))
            << error;
        PlainImage expected = c.image, next;
        int level = 0;
        for (;; ++level) {
            SCOPED_TRACE("level " + std::to_string(level));
            PlainImage read;
            ASSERT_TRUE(decodeDirectory(out.path(), level, read));
            ASSERT_EQ(read.width, expected.width);
            ASSERT_EQ(read.height, expected.height);
            EXPECT_EQ(read.bits, expected.bits);
            EXPECT_EQ(read.palette, expected.palette);
            for (int32_t y = 0; y < read.height; ++y) {
                const size_t bytes = expected.bits == 32 ? size_t(expected.width) * 4
                                                         : (size_t(expected.width) * expected.bits + 7) / 8;
                ASSERT_EQ(std::vector<uint8_t>(read.row(y), read.row(y) + bytes),
                          std::vector<uint8_t>(expected.row(y), expected.row(y) + bytes)) << "row " << y;
            }
            if (std::max(expected.width, expected.height) <= int32_t(kTile))
                break;
            ASSERT_TRUE(reduceImage(expected, next));
            std::swap(expected, next);
        }
        EXPECT_EQ(level, c.image.width == 53 ? 2 : 3);
        PlainImage past;
        EXPECT_FALSE(decodeDirectory(out.path(), level + 1, past)) << "a level past the one that fits a tile";
    }
}

}  // namespace
