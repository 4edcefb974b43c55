#include "DialogWatcher.h"
#include "DibView.h"
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HtfDocument.h"
#include "ImportHook.h"
#include "TempDir.h"
#include "TiffFixture.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

struct Loaded {
    std::unique_ptr<DibOwner> image;
    std::unique_ptr<HotspotList> hotspots;
    DibView view() const { return DibView(image->dib); }
    bool hasImage() const { return image->dib != nullptr; }
};

Loaded openPath(const std::string& path)
{
    HtfDocument document;
    Loaded loaded;
    loaded.image = std::make_unique<DibOwner>(document.open(path.c_str()));
    loaded.hotspots.reset(document.takeHotspots());
    return loaded;
}

Loaded load(const TiffFixture& fixture)
{
    ScopedFile file(uniqueTempPath(".htf"));
    EXPECT_TRUE(writeTiffFixture(file.path(), fixture));
    return openPath(file.path());
}

TiffFixture grey(uint32_t w, uint32_t h, uint16_t bits, std::vector<uint8_t> pixels, uint16_t photometric = 1)
{
    TiffFixture f;
    f.width = w, f.height = h, f.bitsPerSample = bits, f.photometric = photometric;
    f.pixels = std::move(pixels);
    return f;
}

// An RGB image whose pixel (x, y) is (10x + y, 100 + y, 200 - x).
TiffFixture rgb(uint32_t w, uint32_t h)
{
    TiffFixture f;
    f.width = w, f.height = h, f.photometric = PHOTOMETRIC_RGB, f.samplesPerPixel = 3;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            f.pixels.insert(f.pixels.end(), {uint8_t(10 * x + y), uint8_t(100 + y), uint8_t(200 - x)});
    return f;
}
unsigned rgbExpected(int x, int y) { return unsigned(10 * x + y) << 16 | unsigned(100 + y) << 8 | unsigned(200 - x); }

class HtfDocumentTest : public ::testing::Test {
protected:
    DialogWatcher dialogs;   // no test may hang on a library message box
    // Other test programs open documents at the same time: count only this
    // program's temporary files.
    PrivateTempDirectory temporaryFiles;
    void SetUp() override { ASSERT_TRUE(temporaryFiles.made()); }
    void TearDown() override
    {
        EXPECT_TRUE(listTempFiles("*.tmp").empty()) << "open left a temporary file behind";
    }
};

TEST_F(HtfDocumentTest, BilevelKeepsBitsAndMapsWhiteByPalette)
{
    // 10 pixels wide: 2 bytes per scanline, 4 per DIB row. Rows differ.
    const std::vector<uint8_t> bits = {0xF0, 0x40, 0x0F, 0x80, 0xAA, 0xC0};
    for (uint16_t photometric : {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK}) {
        Loaded doc = load(grey(10, 3, 1, bits, photometric));
        ASSERT_TRUE(doc.hasImage());
        DibView v = doc.view();
        EXPECT_EQ(v.header.biBitCount, 1);
        EXPECT_EQ(v.header.biWidth, 10);
        EXPECT_EQ(v.header.biHeight, 3);
        EXPECT_EQ(v.header.biSizeImage, 12u);
        EXPECT_EQ(v.blockSize, 40u + 8u + 12u);
        ASSERT_EQ(v.palette.size(), 2u);
        const bool white = photometric == PHOTOMETRIC_MINISWHITE;
        EXPECT_EQ(v.paletteRgb(0), white ? 0xFFFFFFu : 0u);
        EXPECT_EQ(v.paletteRgb(1), white ? 0u : 0xFFFFFFu);
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(v.byteAt(row, 0), bits[2 * row]);
            EXPECT_EQ(v.byteAt(row, 1), bits[2 * row + 1]);
            EXPECT_EQ(v.byteAt(row, 2), 0);   // padding
        }
        EXPECT_EQ(doc.hotspots, nullptr);
    }
}

TEST_F(HtfDocumentTest, GreyRampsFor8And4Bits)
{
    std::vector<uint8_t> ramp;
    for (int i = 0; i < 256; ++i)
        ramp.push_back(uint8_t(i));
    Loaded g8 = load(grey(256, 1, 8, ramp));
    DibView v8 = g8.view();
    ASSERT_EQ(v8.palette.size(), 256u);
    for (unsigned i = 0; i < 256; ++i)
        ASSERT_EQ(v8.paletteRgb(i), i * 0x010101u);
    EXPECT_EQ(v8.byteAt(0, 200), 200);

    Loaded g4 = load(grey(3, 2, 4, {0x0F, 0x70, 0x12, 0x30}));
    DibView v4 = g4.view();
    ASSERT_EQ(v4.palette.size(), 16u);
    for (unsigned i = 0; i < 16; ++i)
        EXPECT_EQ(v4.paletteRgb(i), 17 * i * 0x010101u);
    EXPECT_EQ(v4.byteAt(0, 0), 0x0F);
    EXPECT_EQ(v4.byteAt(1, 1), 0x30);

    Loaded white8 = load(grey(2, 1, 8, {0, 255}, PHOTOMETRIC_MINISWHITE));
    DibView w = white8.view();
    EXPECT_EQ(w.paletteRgb(0), 0xFFFFFFu);
    EXPECT_EQ(w.paletteRgb(10), 245 * 0x010101u);
    EXPECT_EQ(w.byteAt(0, 1), 255);   // pixel values are never changed
}

TEST_F(HtfDocumentTest, PaletteTakesHighBytesOfTheColourMap)
{
    TiffFixture f = grey(4, 2, 8, {0, 1, 2, 255, 3, 2, 1, 0}, PHOTOMETRIC_PALETTE);
    f.colorMap.assign(3 * 256, 0);
    uint16_t* red = &f.colorMap[0];
    uint16_t* green = &f.colorMap[256];
    uint16_t* blue = &f.colorMap[512];
    red[0] = 0xFFFF, green[0] = 0x8000, blue[0] = 0x00FF;
    red[1] = 0x1234, green[1] = 0x5678, blue[1] = 0x9ABC;
    red[255] = 0x0100;
    Loaded doc = load(f);
    DibView v = doc.view();
    EXPECT_EQ(v.header.biBitCount, 8);
    ASSERT_EQ(v.palette.size(), 256u);
    EXPECT_EQ(v.paletteRgb(0), 0xFF8000u);
    EXPECT_EQ(v.paletteRgb(1), 0x12569Au);
    EXPECT_EQ(v.paletteRgb(255), 0x010000u);
    EXPECT_EQ(v.byteAt(0, 3), 255);
    EXPECT_EQ(v.byteAt(1, 0), 3);

    TiffFixture four = grey(2, 1, 4, {0x1F}, PHOTOMETRIC_PALETTE);
    four.colorMap.assign(3 * 16, 0);
    four.colorMap[15] = 0xFF00;   // red of entry 15
    DibView v4 = load(four).view();
    ASSERT_EQ(v4.palette.size(), 16u);
    EXPECT_EQ(v4.paletteRgb(15), 0xFF0000u);
    EXPECT_EQ(v4.byteAt(0, 0), 0x1F);
}

TEST_F(HtfDocumentTest, RgbBecomesBlueFirstBottomUpRows)
{
    for (uint16_t planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE}) {
        TiffFixture f = rgb(5, 3);
        if (planar == PLANARCONFIG_SEPARATE) {
            std::vector<uint8_t> planes;
            for (int s = 0; s < 3; ++s)
                for (size_t i = s; i < f.pixels.size(); i += 3)
                    planes.push_back(f.pixels[i]);
            f.pixels = planes;
            f.planar = planar;
        }
        Loaded doc = load(f);
        DibView v = doc.view();
        EXPECT_EQ(v.header.biBitCount, 24);
        EXPECT_EQ(v.stride, 16u);   // 15 pixel bytes and 1 padding byte
        EXPECT_EQ(v.header.biSizeImage, 48u);
        EXPECT_TRUE(v.palette.empty());
        // The top row of the image is the last row in memory; blue comes first.
        EXPECT_EQ(v.pixels[2 * 16 + 0], 200);
        EXPECT_EQ(v.pixels[2 * 16 + 1], 100);
        EXPECT_EQ(v.pixels[2 * 16 + 2], 0);
        EXPECT_EQ(v.pixels[2 * 16 + 15], 0);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                ASSERT_EQ(v.rgbAt(y, x), rgbExpected(x, y)) << "planar " << planar;
    }
}

TEST_F(HtfDocumentTest, EveryCodecDecodesToTheSamePixels)
{
    // Lossless codecs on 8-bit grey and RGB, tiled and stripped.
    std::vector<uint8_t> greyPixels;
    for (int i = 0; i < 40 * 20; ++i)
        greyPixels.push_back(uint8_t(i * 7 % 251));
    for (uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE}) {
        for (uint32_t tile : {0u, 16u}) {
            TiffFixture g = grey(40, 20, 8, greyPixels);
            g.compression = compression, g.tileSize = tile, g.rowsPerStrip = 3;
            DibView v = load(g).view();
            ASSERT_EQ(v.header.biBitCount, 8) << compression;
            for (int y = 0; y < 20; ++y)
                for (int x = 0; x < 40; ++x)
                    ASSERT_EQ(v.byteAt(y, x), greyPixels[y * 40 + x]) << "codec " << compression << " tile " << tile;

            TiffFixture c = rgb(21, 17);
            c.compression = compression, c.tileSize = tile;
            DibView cv = load(c).view();
            for (int y = 0; y < 17; ++y)
                for (int x = 0; x < 21; ++x)
                    ASSERT_EQ(cv.rgbAt(y, x), rgbExpected(x, y)) << "codec " << compression << " tile " << tile
                        << (dialogs.seen().empty() ? "" : dialogs.seen()[0].text);
        }
    }
}

TEST_F(HtfDocumentTest, FaxCodecsKeepBilevelBits)
{
    std::vector<uint8_t> bits;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 8; ++x)
            bits.push_back(uint8_t((x + y) % 3 == 0 ? 0xF0 : 0x0F));
    for (uint16_t compression : {COMPRESSION_CCITTFAX3, COMPRESSION_CCITTFAX4, COMPRESSION_CCITTRLE}) {
        TiffFixture f = grey(64, 30, 1, bits, PHOTOMETRIC_MINISWHITE);
        f.compression = compression;
        DibView v = load(f).view();
        ASSERT_EQ(v.header.biBitCount, 1);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 8; ++x)
                ASSERT_EQ(v.byteAt(y, x), bits[y * 8 + x]) << "codec " << compression;
    }
}

TEST_F(HtfDocumentTest, TiledBilevelAndPaletteKeepTheirDepth)
{
    std::vector<uint8_t> bits(5 * 40);
    for (size_t i = 0; i < bits.size(); ++i)
        bits[i] = uint8_t(i * 37);
    TiffFixture f = grey(40, 40, 1, bits, PHOTOMETRIC_MINISBLACK);
    f.tileSize = 16;   // 40 is not a multiple of 16: partial tiles at the edges
    DibView v = load(f).view();
    ASSERT_EQ(v.header.biBitCount, 1);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(v.byteAt(y, x), bits[y * 5 + x]) << y << "," << x;
}

// Sample x of image row `row` of a 1-, 4- or 8-bit DIB.
unsigned sampleAt(const DibView& v, int row, unsigned x)
{
    const unsigned bits = v.header.biBitCount;
    const unsigned bit = x * bits;
    return unsigned(v.byteAt(row, bit / 8)) >> (8 - bits - bit % 8) & ((1u << bits) - 1);
}

TEST_F(HtfDocumentTest, TilesOfAnyWidthLandOnTheirPixels)
{
    // Tile rows are padded to whole bytes, so with 1- and 4-bit samples a tile
    // column starts at a bit position, not at a multiple of the tile row size.
    // Every bit of the edge tiles outside the image is set: none may show.
    struct Case { uint16_t bits; uint16_t photometric; uint32_t width, height, tileWidth, tileLength; };
    const Case cases[] = {
        {1, PHOTOMETRIC_MINISBLACK, 32, 1, 1, 1},   // valid file that overran the DIB block
        {1, PHOTOMETRIC_MINISWHITE, 23, 5, 3, 2},
        {1, PHOTOMETRIC_MINISBLACK, 23, 5, 7, 4},
        {1, PHOTOMETRIC_MINISBLACK, 20, 3, 9, 2},
        {1, PHOTOMETRIC_MINISBLACK, 17, 2, 9, 9},   // one tile wider and taller than the image
        {4, PHOTOMETRIC_MINISBLACK, 23, 5, 1, 1},
        {4, PHOTOMETRIC_PALETTE, 23, 5, 3, 2},
        {4, PHOTOMETRIC_MINISBLACK, 23, 5, 7, 3},
        {4, PHOTOMETRIC_MINISBLACK, 19, 4, 9, 3},
        {8, PHOTOMETRIC_PALETTE, 13, 4, 3, 3},
    };
    for (const Case& c : cases) {
        const unsigned mask = (1u << c.bits) - 1;
        auto expected = [&](unsigned x, unsigned y) { return (x * 7 + y * 13 + (x >> 2)) & mask; };
        const uint32_t scanline = (c.width * c.bits + 7) / 8;
        TiffFixture f = grey(c.width, c.height, c.bits, std::vector<uint8_t>(size_t(scanline) * c.height), c.photometric);
        for (uint32_t y = 0; y < c.height; ++y)
            for (uint32_t x = 0; x < c.width; ++x)
                f.pixels[y * scanline + x * c.bits / 8] |= uint8_t(expected(x, y) << (8 - c.bits - x * c.bits % 8));
        if (c.photometric == PHOTOMETRIC_PALETTE)
            f.colorMap.assign(3u << c.bits, 0x8000);
        f.tileWidth = c.tileWidth, f.tileLength = c.tileLength, f.fillTileOverhang = true;
        const std::string name = std::to_string(c.bits) + "-bit " + std::to_string(c.width) + "x" +
                                 std::to_string(c.height) + " tiles " + std::to_string(c.tileWidth) + "x" +
                                 std::to_string(c.tileLength);
        Loaded doc = load(f);
        ASSERT_TRUE(doc.hasImage()) << name;
        DibView v = doc.view();
        ASSERT_EQ(v.header.biBitCount, c.bits) << name;
        ASSERT_EQ(v.blockSize, 40u + (4u << c.bits) + v.stride * c.height) << name;
        for (uint32_t y = 0; y < c.height; ++y) {
            for (uint32_t x = 0; x < c.width; ++x)
                ASSERT_EQ(sampleAt(v, int(y), x), expected(x, y)) << name << " at " << x << "," << y;
            for (uint32_t x = c.width; x < v.stride * 8 / c.bits; ++x)
                ASSERT_EQ(sampleAt(v, int(y), x), 0u) << name << " padding at " << x << "," << y;
        }
    }
    EXPECT_TRUE(dialogs.seen().empty());
}

TEST_F(HtfDocumentTest, JpegYcbcrIsCloseToTheSource)
{
    TiffFixture f = rgb(32, 16);
    f.photometric = PHOTOMETRIC_YCBCR, f.compression = COMPRESSION_JPEG, f.jpegQuality = 100, f.rowsPerStrip = 16;
    DibView v = load(f).view();
    ASSERT_EQ(v.header.biBitCount, 24);
    ASSERT_EQ(v.header.biWidth, 32);
    int worst = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 21; ++x)   // rgb() wraps its red beyond x = 25
            for (int shift : {0, 8, 16})
                worst = std::max(worst, std::abs(int(v.rgbAt(y, x) >> shift & 0xFF) - int(rgbExpected(x, y) >> shift & 0xFF)));
    EXPECT_LE(worst, 24);
}

TEST_F(HtfDocumentTest, CmykAndLabConvertToRgb)
{
    TiffFixture cmyk;
    cmyk.width = 3, cmyk.height = 1, cmyk.photometric = PHOTOMETRIC_SEPARATED, cmyk.samplesPerPixel = 4;
    cmyk.inkSet = INKSET_CMYK;
    cmyk.pixels = {255, 0, 0, 0, /**/ 0, 0, 0, 255, /**/ 0, 0, 0, 0};
    DibView c = load(cmyk).view();
    EXPECT_EQ(c.rgbAt(0, 0), 0x00FFFFu);   // cyan
    EXPECT_EQ(c.rgbAt(0, 1), 0x000000u);   // black
    EXPECT_EQ(c.rgbAt(0, 2), 0xFFFFFFu);   // no ink

    TiffFixture lab;
    lab.width = 2, lab.height = 1, lab.photometric = PHOTOMETRIC_CIELAB, lab.samplesPerPixel = 3;
    lab.pixels = {255, 0, 0, /**/ 0, 0, 0};
    DibView l = load(lab).view();
    const unsigned white = l.rgbAt(0, 0), black = l.rgbAt(0, 1);
    for (int shift : {0, 8, 16}) {
        EXPECT_GE(int(white >> shift & 0xFF), 200);   // L* 100: white
        EXPECT_LE(int(black >> shift & 0xFF), 10);    // L* 0: black
    }
}

TEST_F(HtfDocumentTest, OddDepthsAndExtraSamplesGoThroughRgb)
{
    // 16-bit grey: no 16-bit palette exists, so the image becomes 24-bit grey.
    TiffFixture g16 = grey(2, 1, 16, {0x00, 0x00, 0xFF, 0x80});   // little-endian samples 0 and 0x80FF
    DibView v16 = load(g16).view();
    ASSERT_EQ(v16.header.biBitCount, 24);
    EXPECT_EQ(v16.rgbAt(0, 0), 0u);
    EXPECT_EQ(v16.rgbAt(0, 1), 0x808080u);

    // 2-bit palette: the colour map's four entries come out as colours.
    TiffFixture p2 = grey(4, 1, 2, {0x1B}, PHOTOMETRIC_PALETTE);   // indices 0, 1, 2, 3
    p2.colorMap = {0xFF00, 0, 0, 0x1100, /*green*/ 0, 0xFF00, 0, 0x2200, /*blue*/ 0, 0, 0xFF00, 0x3300};
    DibView v2 = load(p2).view();
    ASSERT_EQ(v2.header.biBitCount, 24);
    EXPECT_EQ(v2.rgbAt(0, 0), 0xFF0000u);
    EXPECT_EQ(v2.rgbAt(0, 1), 0x00FF00u);
    EXPECT_EQ(v2.rgbAt(0, 2), 0x0000FFu);
    EXPECT_EQ(v2.rgbAt(0, 3), 0x112233u);

    // Grey with an extra sample: two samples never fit a one-sample palette row.
    TiffFixture ga = grey(2, 1, 8, {10, 255, 200, 255});
    ga.samplesPerPixel = 2;
    DibView va = load(ga).view();
    ASSERT_EQ(va.header.biBitCount, 24);
    EXPECT_EQ(va.rgbAt(0, 0), 0x0A0A0Au);
    EXPECT_EQ(va.rgbAt(0, 1), 0xC8C8C8u);
}

TEST_F(HtfDocumentTest, ResolutionInPixelsPerMetre)
{
    struct Case { float value; uint16_t unit; int32_t expected; } cases[] = {
        {72, RESUNIT_INCH, 2835}, {10, RESUNIT_INCH, 394}, {300, RESUNIT_INCH, 11811},
        {100, RESUNIT_CENTIMETER, 100}, {0, 0, 0},
    };
    for (const Case& c : cases) {
        TiffFixture f = grey(1, 1, 8, {0});
        f.xResolution = c.value, f.resolutionUnit = c.unit;
        DibView v = load(f).view();
        EXPECT_EQ(v.header.biXPelsPerMeter, c.expected) << c.value;
        EXPECT_EQ(v.header.biYPelsPerMeter, c.expected) << c.value;
    }
}

TEST_F(HtfDocumentTest, HotspotTagBecomesTheHotspotList)
{
    TiffFixture f = grey(8, 8, 8, std::vector<uint8_t>(64, 9));
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes({{"123", u"Hello", 10, 20, 110, 70}, {"", u"hidden", 1, 2, 3, 4}});
    f.withClipPathTag = true;   // the clip path comes first in the directory
    f.clipPathBytes = "clip";
    Loaded doc = load(f);
    ASSERT_TRUE(doc.hasImage());
    ASSERT_NE(doc.hotspots, nullptr);
    ASSERT_EQ(doc.hotspots->count(), 2u);
    auto first = dynamic_cast<const HotspotRecord*>(doc.hotspots->begin()->get());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->reference, "123");
    EXPECT_EQ(first->text, u"Hello");
    EXPECT_EQ(first->right, 110);

    TiffFixture garbage = grey(1, 1, 8, {0});
    garbage.withHotspotTag = true;
    garbage.hotspotBytes = "not a hotspot stream";
    Loaded g = load(garbage);
    ASSERT_NE(g.hotspots, nullptr);   // a list, empty: the stream was unreadable
    EXPECT_EQ(g.hotspots->count(), 0u);
}

TEST_F(HtfDocumentTest, NoTagOrEmptyTagGivesNoList)
{
    TiffFixture f = grey(2, 2, 8, {1, 2, 3, 4});
    Loaded plain = load(f);
    EXPECT_TRUE(plain.hasImage());
    EXPECT_EQ(plain.hotspots, nullptr);

    f.withClipPathTag = true;   // only the clip path
    f.clipPathBytes = "path";
    Loaded clip = load(f);
    EXPECT_TRUE(clip.hasImage());
    EXPECT_EQ(clip.hotspots, nullptr);
}

TEST_F(HtfDocumentTest, UnconvertedPhotometricStillYieldsHotspots)
{
    for (uint32_t photometric : {7u, 9u, 32844u}) {
        ScopedFile file(uniqueTempPath(".htf"));
        TiffFixture f = grey(4, 4, 8, std::vector<uint8_t>(16, 1));
        f.withHotspotTag = true;
        f.hotspotBytes = hotspotStreamBytes({{"A", u"a", 0, 0, 2, 2}});
        ASSERT_TRUE(writeTiffFixture(file.path(), f));
        ASSERT_TRUE(patchDirectoryEntry(file.path(), TIFFTAG_PHOTOMETRIC, photometric));
        Loaded doc = openPath(file.path());
        EXPECT_FALSE(doc.hasImage()) << photometric;
        ASSERT_NE(doc.hotspots, nullptr);
        EXPECT_EQ(doc.hotspots->count(), 1u);
    }
    EXPECT_TRUE(dialogs.seen().empty());
}

TEST_F(HtfDocumentTest, UndecodableKindGivesABlackImageAndOneMessage)
{
    // A transparency mask passes to the RGBA interface, which cannot show it.
    ScopedFile file(uniqueTempPath(".htf"));
    TiffFixture f = rgb(6, 4);
    ASSERT_TRUE(writeTiffFixture(file.path(), f));
    ASSERT_TRUE(patchDirectoryEntry(file.path(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MASK));
    Loaded doc = openPath(file.path());
    ASSERT_TRUE(doc.hasImage());
    DibView v = doc.view();
    EXPECT_EQ(v.header.biWidth, 6);
    EXPECT_EQ(v.header.biHeight, 4);
    EXPECT_EQ(v.header.biBitCount, 24);
    for (unsigned char byte : v.pixels)
        ASSERT_EQ(byte, 0);
    Sleep(50);
    auto seen = dialogs.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, file.path() + " Error");
}

TEST_F(HtfDocumentTest, ReopeningReplacesThePendingList)
{
    ScopedFile with(uniqueTempPath(".htf")), without(uniqueTempPath(".htf"));
    TiffFixture f = grey(1, 1, 8, {0});
    ASSERT_TRUE(writeTiffFixture(without.path(), f));
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes({{"A", u"a", 0, 0, 1, 1}});
    ASSERT_TRUE(writeTiffFixture(with.path(), f));

    HtfDocument document;
    DibOwner a(document.open(with.c_str()));
    DibOwner b(document.open(without.c_str()));
    EXPECT_EQ(document.takeHotspots(), nullptr);
    DibOwner c(document.open(with.c_str()));
    std::unique_ptr<HotspotList> list(document.takeHotspots());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(document.takeHotspots(), nullptr);   // taken once
}

TEST_F(HtfDocumentTest, TakenTemporaryNameMovesTheCounterOn)
{
    ScopedFile source(uniqueTempPath(".htf"));
    TiffFixture f = grey(1, 1, 8, {0});
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes({{"A", u"a", 0, 0, 1, 1}});
    ASSERT_TRUE(writeTiffFixture(source.path(), f));

    HtfDocument document;
    // The document's address in full, as a signed number: a 64-bit address
    // does not fit a long.
    const std::string identity = std::to_string(reinterpret_cast<intptr_t>(&document));
    ScopedFile leftover(tempDirectory() + identity + "0.tmp");
    ASSERT_TRUE(writeWholeFile(leftover.path(), "keep", 4));

    DibOwner image(document.open(source.c_str()));
    std::unique_ptr<HotspotList> list(document.takeHotspots());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), 1u);
    auto kept = readWholeFile(leftover.path());
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep");
    EXPECT_FALSE(fileExists(tempDirectory() + identity + "1.tmp"));
    DeleteFileA(leftover.c_str());
}

// Another process takes the hotspot bytes' first name after the reader
// found it free (whether it looked first or created at once): that file is
// left alone and the bytes go under the next name.
std::string racedName;
bool raced = false;
void takeRacedName(const char* path)
{
    if (!raced && racedName == path) {
        raced = true;
        writeWholeFile(racedName, "theirs", 6);
    }
}
void takeBeforeCreate(const char* path, DWORD) { takeRacedName(path); }

TEST_F(HtfDocumentTest, NameTakenBetweenLookAndCreateIsLeftAlone)
{
    ScopedFile source(uniqueTempPath(".htf"));
    TiffFixture f = grey(1, 1, 8, {0});
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes({{"A", u"a", 0, 0, 1, 1}});
    ASSERT_TRUE(writeTiffFixture(source.path(), f));

    HtfDocument document;
    racedName = tempDirectory() + std::to_string(reinterpret_cast<intptr_t>(&document)) + "0.tmp";
    raced = false;
    ScopedFile theirs(racedName);
    {
        // GetFileAttributesA is called through the hook's own pointer, so
        // the hook below reaches the platform and not itself.
        static void* platformLook = nullptr;
        struct Look {
            static DWORD WINAPI call(LPCSTR path)
            {
                const DWORD attributes = reinterpret_cast<DWORD(WINAPI*)(LPCSTR)>(platformLook)(path);
                if (attributes == INVALID_FILE_ATTRIBUTES && path)
                    takeRacedName(path);
                return attributes;
            }
        };
        ImportHook look(GetModuleHandleA(nullptr), "kernel32.dll", "GetFileAttributesA",
                        reinterpret_cast<void*>(&Look::call));
        platformLook = look.original();
        CreateFileSpy create(GetModuleHandleA(nullptr), &takeBeforeCreate);
        ASSERT_TRUE(look.installed() && create.installed());
        DibOwner image(document.open(source.c_str()));
        std::unique_ptr<HotspotList> list(document.takeHotspots());
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->count(), 1u);
    }
    EXPECT_TRUE(raced);
    const std::vector<unsigned char> kept = readWholeFile(theirs.path());
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "theirs");
}

// Without a temporary directory the hotspot bytes have nowhere to go: the
// image comes without hotspots, and nothing lands in the current directory.
TEST_F(HtfDocumentTest, WithoutATemporaryDirectoryNothingIsWritten)
{
    ScopedFile source(uniqueTempPath(".htf"));
    TiffFixture f = grey(1, 1, 8, {0});
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes({{"A", u"a", 0, 0, 1, 1}});
    ASSERT_TRUE(writeTiffFixture(source.path(), f));
    ScratchCurrentDirectory current;
    {
        TempDirectoryOverride none(unreportableTempDirectory());
        HtfDocument document;
        DibOwner image(document.open(source.c_str()));
        EXPECT_NE(image.dib, nullptr);
        std::unique_ptr<HotspotList> list(document.takeHotspots());
        EXPECT_EQ(list, nullptr);
    }
    EXPECT_TRUE(listDirectory(current.path()).empty());
}

// --- What the user sees of failures -------------------------------------

TEST_F(HtfDocumentTest, MissingAndNonTiffFilesShowTheLibraryError)
{
    const std::string missing = tempDirectory() + "no-such-document.htf";
    Loaded none = openPath(missing);
    EXPECT_FALSE(none.hasImage());
    EXPECT_EQ(none.hotspots, nullptr);
    auto seen = dialogs.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, missing + " Error");
    EXPECT_FALSE(seen[0].text.empty());

    dialogs.clear();
    ScopedFile text(uniqueTempPath(".htf"));
    ASSERT_TRUE(writeWholeFile(text.path(), "hello, this is not a TIFF file", 30));
    EXPECT_FALSE(openPath(text.path()).hasImage());
    seen = dialogs.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, text.path() + " Error");
    EXPECT_NE(seen[0].text.find("magic"), std::string::npos) << seen[0].text;
}

// The largest block this program asks of the C runtime (libtiff's buffers
// and the reader's own come from there) while a hook counts.
size_t largestMalloc = 0;
void* (*runtimeMalloc)(size_t) = nullptr;
void* countingMalloc(size_t size)
{
    largestMalloc = std::max(largestMalloc, size);
    return runtimeMalloc(size);
}

TEST_F(HtfDocumentTest, TilesFarTallerThanTheImageAreReadAtTheImagesSize)
{
    // A document of about 1 KB: 32 x 26 bilevel pixels in tiles of
    // 1 x 4160749569 (4.16 GB a tile by its size), each stored as far as the
    // image reaches.
    const uint32_t scanline = 4;
    TiffFixture f = grey(32, 26, 1, std::vector<uint8_t>(scanline * 26));
    for (size_t i = 0; i < f.pixels.size(); ++i)
        f.pixels[i] = uint8_t(i * 37 + 11);
    f.tileWidth = 1, f.tileLength = 4160749569u, f.tilesEndWithTheImage = true;
    ScopedFile file(uniqueTempPath(".htf"));
    ASSERT_TRUE(writeTiffFixture(file.path(), f));
    EXPECT_LT(readWholeFile(file.path()).size(), 2048u);

    ImportHook hook(GetModuleHandleA(nullptr), "msvcrt.dll", "malloc", reinterpret_cast<void*>(countingMalloc));
    ASSERT_TRUE(hook.installed());
    runtimeMalloc = reinterpret_cast<void* (*)(size_t)>(hook.original());
    largestMalloc = 0;
    Loaded doc = openPath(file.path());
    const size_t largest = largestMalloc;
    EXPECT_LE(largest, size_t(1) << 20);
    if (sizeof(void*) == 4) {
        // libtiff's sizes are 32-bit here: it cannot describe such a tile at
        // all and refuses the directory, with its message.
        EXPECT_FALSE(doc.hasImage());
        Sleep(50);
        EXPECT_EQ(dialogs.seen().size(), 1u);
        return;
    }
    ASSERT_TRUE(doc.hasImage());
    DibView v = doc.view();
    for (uint32_t y = 0; y < 26; ++y)
        for (uint32_t x = 0; x < scanline; ++x)
            ASSERT_EQ(v.byteAt(int(y), x), f.pixels[y * scanline + x]) << x << "," << y;
    EXPECT_TRUE(dialogs.seen().empty());
}

TEST_F(HtfDocumentTest, DamagedFilesNeverCrashAndShowOneMessage)
{
    std::vector<uint8_t> pixels(200 * 100);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i);

    struct Damage {
        const char* name;
        TiffFixture fixture;
        std::function<bool(const std::string&)> apply;
        bool expectImage;
    };
    auto greyLzw = [&] { TiffFixture f = grey(200, 100, 8, pixels); f.compression = COMPRESSION_LZW; f.rowsPerStrip = 100; return f; };
    auto rgbLzw = [&] { TiffFixture f = rgb(200, 100); f.compression = COMPRESSION_LZW; f.rowsPerStrip = 100; return f; };
    std::vector<Damage> damages = {
        {"grey strip runs past the end", greyLzw(), [](const std::string& p) { return patchDirectoryEntry(p, TIFFTAG_STRIPBYTECOUNTS, 5000000); }, true},
        {"rgb strip runs past the end", rgbLzw(), [](const std::string& p) { return patchDirectoryEntry(p, TIFFTAG_STRIPBYTECOUNTS, 5000000); }, true},
        {"directory cut off", greyLzw(), [](const std::string& p) { return truncateFile(p, 3000); }, false},
        {"strip offset past the end", greyLzw(), [](const std::string& p) { return patchDirectoryEntry(p, TIFFTAG_STRIPOFFSETS, 0x7FFFFF00); }, true},
        {"rgb strip offset past the end", rgbLzw(), [](const std::string& p) { return patchDirectoryEntry(p, TIFFTAG_STRIPOFFSETS, 0x7FFFFF00); }, true},
        {"huge grey", greyLzw(), [](const std::string& p) { return patchDirectoryEntry(p, TIFFTAG_IMAGEWIDTH, 100000) && patchDirectoryEntry(p, TIFFTAG_IMAGELENGTH, 100000); }, false},
        {"huge rgb", rgbLzw(), [](const std::string& p) { return patchDirectoryEntry(p, TIFFTAG_IMAGEWIDTH, 70000) && patchDirectoryEntry(p, TIFFTAG_IMAGELENGTH, 70000); }, false},
        {"header only", greyLzw(), [](const std::string& p) { return truncateFile(p, 8); }, false},
    };
    for (Damage& d : damages) {
        ScopedFile file(uniqueTempPath(".htf"));
        ASSERT_TRUE(writeTiffFixture(file.path(), d.fixture)) << d.name;
        ASSERT_TRUE(d.apply(file.path())) << d.name;
        dialogs.clear();
        Loaded doc = openPath(file.path());
        EXPECT_EQ(doc.hasImage(), d.expectImage) << d.name;
        if (doc.hasImage()) {
            DibView v = doc.view();
            EXPECT_EQ(v.header.biWidth, 200) << d.name;
            EXPECT_EQ(v.header.biHeight, 100) << d.name;
        }
        Sleep(100);   // let the watcher see a late dialog
        EXPECT_LE(dialogs.seen().size(), 1u) << d.name;
    }
}

// Sets value `index` of a multi-valued LONG entry of the first directory.
bool patchArrayValue(const std::string& path, uint16_t tag, uint32_t index, uint32_t value)
{
    std::vector<unsigned char> b = readWholeFile(path);
    auto u = [&](size_t at, int n) { uint32_t v = 0; while (n--) v = v << 8 | b.at(at + n); return v; };
    const uint32_t ifd = u(4, 4);
    for (uint32_t i = 0, n = u(ifd, 2); i < n; ++i) {
        const size_t entry = ifd + 2 + 12 * i;
        if (u(entry, 2) != tag || u(entry + 2, 2) != TIFF_LONG || index >= u(entry + 4, 4) || u(entry + 4, 4) < 2)
            continue;
        const size_t at = u(entry + 8, 4) + 4 * index;
        for (int k = 0; k < 4; ++k)
            b.at(at + k) = static_cast<unsigned char>(value >> (8 * k));
        return writeWholeFile(path, b.data(), b.size());
    }
    return false;
}

TEST_F(HtfDocumentTest, UnreadableStripsStayBlackAndTheOthersAreRead)
{
    // Strips of 4 rows; the damaged strip's rows stay zero, every other row
    // is read, and only the first error is shown.
    std::vector<uint8_t> pixels(10 * 16);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(1 + i % 250);
    for (uint16_t planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE}) {
        for (uint32_t damaged : {0u, 1u, 3u}) {
            ScopedFile file(uniqueTempPath(".htf"));
            TiffFixture f = grey(10, 16, 8, pixels);
            f.rowsPerStrip = 4, f.planar = planar;
            ASSERT_TRUE(writeTiffFixture(file.path(), f));
            ASSERT_TRUE(patchArrayValue(file.path(), TIFFTAG_STRIPOFFSETS, damaged, 0x7FFFFF00));
            dialogs.clear();
            DibView v = openPath(file.path()).view();
            ASSERT_EQ(v.header.biHeight, 16);
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 10; ++x)
                    ASSERT_EQ(v.byteAt(y, x), uint32_t(y) / 4 == damaged ? 0 : pixels[y * 10 + x])
                        << "strip " << damaged << " row " << y << " planar " << planar;
            Sleep(50);
            EXPECT_EQ(dialogs.seen().size(), 1u);
        }
    }
}

TEST_F(HtfDocumentTest, RgbThatFailsInALaterBandIsAllBlack)
{
    // 1024 x 1100 pixels decode in two bands; the damaged strip is in the
    // second (its first strip, whose failure the library reports), so the
    // first band was already copied when decoding fails.
    ScopedFile file(uniqueTempPath(".htf"));
    TiffFixture f = rgb(1024, 1100);
    f.rowsPerStrip = 64;
    ASSERT_TRUE(writeTiffFixture(file.path(), f));
    ASSERT_TRUE(patchArrayValue(file.path(), TIFFTAG_STRIPOFFSETS, 16, 0x7FFFFF00));
    Loaded doc = openPath(file.path());
    ASSERT_TRUE(doc.hasImage());
    DibView v = doc.view();
    ASSERT_EQ(v.header.biHeight, 1100);
    EXPECT_EQ(std::count(v.pixels.begin(), v.pixels.end(), 0), std::ptrdiff_t(v.pixels.size()));
    Sleep(50);
    EXPECT_EQ(dialogs.seen().size(), 1u);
}

TEST_F(HtfDocumentTest, CorruptedDirectoriesNeverCrash)
{
    // Bytes of a valid document overwritten at random places, mostly in the
    // directory at the end of the file, where offsets and counts live.
    ScopedFile source(uniqueTempPath(".htf"));
    TiffFixture f = rgb(30, 20);
    f.compression = COMPRESSION_LZW;
    f.rowsPerStrip = 4;
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes({{"A", u"a", 0, 0, 5, 5}, {"B", u"b", 5, 5, 9, 9}});
    ASSERT_TRUE(writeTiffFixture(source.path(), f));
    const std::vector<unsigned char> original = readWholeFile(source.path());
    uint32_t seed = 777;
    auto next = [&] { seed = seed * 1664525 + 1013904223; return seed >> 8; };
    for (int round = 0; round < 60; ++round) {
        std::vector<unsigned char> bytes = original;
        const int edits = 1 + int(next() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = next() % 3 ? original.size() - 1 - next() % 300 : next() % original.size();
            bytes[at] = static_cast<unsigned char>(next());
        }
        ScopedFile file(uniqueTempPath(".htf"));
        ASSERT_TRUE(writeWholeFile(file.path(), bytes.data(), bytes.size()));
        Loaded doc = openPath(file.path());   // any outcome but a crash or a hang
        if (doc.hasImage()) {
            DibView v = doc.view();
            EXPECT_LE(size_t(v.stride) * size_t(v.header.biHeight), v.blockSize) << round;
        }
    }
}

} // namespace
