// htfmake on documents of every kind the reader shows: the image and every
// other tag stay as they were, the hotspots are the given ones, --list gives
// the CSV back exactly; BMP pictures become LZW images with the same pixels;
// errors name the line and leave nothing written.
#include "ChildProcess.h"
#include "DialogWatcher.h"
#include "DibView.h"
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HtfDocument.h"
#include "HtfMaker.h"
#include "PrivateTags.h"
#include "TempDir.h"
#include "TiffFixture.h"
#include "TiledDocumentWriter.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

namespace {

const std::string kCsv =
    "left,top,right,bottom,reference,tooltip\n"
    "0,0,16,8,815,\"Town hall, open \"\"daily\"\"\"\n"
    "4,2,40,24,816,\"Library \xE2\x80\x93 two\nlines\"\n";

std::string textOf(const std::string& path)
{
    const auto bytes = readWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

struct Loaded {
    std::unique_ptr<DibOwner> image;
    std::unique_ptr<HotspotList> hotspots;
};

Loaded openDocument(const std::string& path)
{
    HtfDocument document;
    Loaded loaded;
    loaded.image = std::make_unique<DibOwner>(document.open(path.c_str()));
    loaded.hotspots.reset(document.takeHotspots());
    return loaded;
}

// The entries of the first directory, raw, by tag (classic or BigTIFF).
std::map<uint16_t, std::string> firstDirectory(const std::string& f)
{
    const bool little = f[0] == 'I', big = f[2] == 43 || f[3] == 43;
    auto get = [&](size_t at, int n) {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= uint64_t(uint8_t(f[at + size_t(i)])) << (8 * (little ? i : n - 1 - i));
        return v;
    };
    const size_t ifd = size_t(get(big ? 8 : 4, big ? 8 : 4));
    const size_t count = size_t(get(ifd, big ? 8 : 2)), size = big ? 20 : 12;
    std::map<uint16_t, std::string> entries;
    for (size_t e = 0; e < count; ++e) {
        const size_t at = ifd + (big ? 8 : 2) + e * size;
        entries[uint16_t(get(at, 2))] = f.substr(at, size);
    }
    return entries;
}

// A small RGB image written by libtiff with any open mode ("wb": big-endian,
// "w8": BigTIFF), with a text tag to keep.
bool writeWithMode(const std::string& path, const char* mode)
{
    TIFF* tif = TIFFOpen(path.c_str(), mode);
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 40);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 24);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 5);
    TIFFSetField(tif, TIFFTAG_ARTIST, "kept as it is");
    bool ok = true;
    for (uint32_t y = 0; y < 24; ++y) {
        uint8_t row[120];
        for (int x = 0; x < 120; ++x)
            row[x] = uint8_t(x * 2 + y * 7);
        ok = ok && TIFFWriteScanline(tif, row, y, 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

// Images like libtiff's own test images, 40 x 24, the hotspots' width and height.
TiffFixture image(uint16_t photometric, uint16_t bits, uint16_t samples, uint16_t compression)
{
    TiffFixture f;
    f.width = 40, f.height = 24, f.photometric = photometric, f.bitsPerSample = bits;
    f.samplesPerPixel = samples, f.compression = compression, f.xResolution = 150;
    f.pixels.resize(size_t(fixtureScanlineBytes(f)) * f.height);
    for (size_t i = 0; i < f.pixels.size(); ++i)
        f.pixels[i] = uint8_t(i * 37 + i / 17);
    if (photometric == PHOTOMETRIC_PALETTE) {
        const size_t n = size_t(1) << bits;
        for (size_t c = 0; c < 3 * n; ++c)
            f.colorMap.push_back(uint16_t(c * 4099));
    }
    return f;
}

TEST(HtfMake, TiffImagesKeepEveryByteAndTagAndGainTheHotspots)
{
    DialogWatcher dialogs;
    TiffFixture tiled = image(PHOTOMETRIC_YCBCR, 8, 3, COMPRESSION_JPEG);
    tiled.tileSize = 16;
    TiffFixture tiledPalette = image(PHOTOMETRIC_PALETTE, 8, 1, COMPRESSION_DEFLATE);
    tiledPalette.tileSize = 16;
    TiffFixture separate = image(PHOTOMETRIC_RGB, 8, 3, COMPRESSION_PACKBITS);
    separate.planar = PLANARCONFIG_SEPARATE;
    separate.pixels.resize(separate.pixels.size() * 3, 9);
    TiffFixture tagged = image(PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_LZW);   // hotspots to replace
    tagged.withClipPathTag = true, tagged.clipPathBytes = "a clip path";
    tagged.withHotspotTag = true, tagged.hotspotBytes = "QELHTF and old bytes that go";
    const struct {
        const char* name;
        std::function<bool(const std::string&)> write;
    } cases[] = {
        {"miniswhite-1c-1b, G4", [](const std::string& p) { return writeTiffFixture(p, image(0, 1, 1, COMPRESSION_CCITTFAX4)); }},
        {"minisblack-1c-8b", [](const std::string& p) { return writeTiffFixture(p, image(1, 8, 1, COMPRESSION_NONE)); }},
        {"palette-1c-1b", [](const std::string& p) { return writeTiffFixture(p, image(3, 1, 1, COMPRESSION_PACKBITS)); }},
        {"palette-1c-4b", [](const std::string& p) { return writeTiffFixture(p, image(3, 4, 1, COMPRESSION_LZW)); }},
        {"palette-1c-8b", [](const std::string& p) { return writeTiffFixture(p, image(3, 8, 1, COMPRESSION_LZW)); }},
        {"rgb-3c-8b, LZW (quad-lzw)", [](const std::string& p) { return writeTiffFixture(p, image(2, 8, 3, COMPRESSION_LZW)); }},
        {"rgb-3c-16b", [](const std::string& p) { return writeTiffFixture(p, image(2, 16, 3, COMPRESSION_DEFLATE)); }},
        {"YCbCr JPEG strips", [](const std::string& p) { return writeTiffFixture(p, image(6, 8, 3, COMPRESSION_JPEG)); }},
        {"tiled JPEG (quad-tile.jpg)", [&](const std::string& p) { return writeTiffFixture(p, tiled); }},
        {"tiled palette", [&](const std::string& p) { return writeTiffFixture(p, tiledPalette); }},
        {"separate planes", [&](const std::string& p) { return writeTiffFixture(p, separate); }},
        {"hotspots and clip path already there", [&](const std::string& p) { return writeTiffFixture(p, tagged); }},
        {"big-endian", [](const std::string& p) { return writeWithMode(p, "wb"); }},
        {"BigTIFF", [](const std::string& p) { return writeWithMode(p, "w8"); }},
    };
    ScopedFile csv(uniqueTempPath(".csv"));
    ASSERT_TRUE(writeWholeFile(csv.path(), kCsv.data(), kCsv.size()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedFile in(uniqueTempPath(".tif")), out(uniqueTempPath(".htf"));
        ASSERT_TRUE(c.write(in.path()));
        MadeDocument made;
        std::string error;
        ASSERT_TRUE(makeDocument(in.path(), csv.path(), out.path(), made, error)) << error;
        EXPECT_EQ(made.hotspots, 2u);

        // The input's bytes are all still there; only the header's pointer to
        // the first directory differs.
        const std::string before = textOf(in.path()), after = textOf(out.path());
        const size_t pointerAt = before[2] == 43 || before[3] == 43 ? 8 : 4, width = pointerAt;
        ASSERT_GT(after.size(), before.size());
        EXPECT_EQ(after.compare(0, pointerAt, before, 0, pointerAt), 0);
        EXPECT_EQ(after.compare(pointerAt + width, before.size() - pointerAt - width, before, pointerAt + width,
                                before.size() - pointerAt - width), 0);
        std::map<uint16_t, std::string> entriesBefore = firstDirectory(before), entriesAfter = firstDirectory(after);
        ASSERT_EQ(entriesAfter.count(TIFFTAG_QELHOTSPOT), 1u);
        entriesBefore.erase(TIFFTAG_QELHOTSPOT), entriesAfter.erase(TIFFTAG_QELHOTSPOT);
        EXPECT_EQ(entriesAfter, entriesBefore);

        // The reader shows the same image with the new hotspots.
        Loaded original = openDocument(in.path()), made1 = openDocument(out.path());
        const DibView a(original.image->dib), b(made1.image->dib);
        ASSERT_FALSE(a.pixels.empty());
        EXPECT_EQ(memcmp(&a.header, &b.header, sizeof a.header), 0);
        EXPECT_TRUE(a.pixels == b.pixels);
        EXPECT_EQ(a.palette.size(), b.palette.size());
        ASSERT_TRUE(made1.hotspots);
        ASSERT_EQ(made1.hotspots->count(), 2u);
        const auto& second = static_cast<const HotspotRecord&>(**std::next(made1.hotspots->begin()));
        EXPECT_EQ(second.reference, "816");
        EXPECT_EQ(second.text, u"Library \u2013 two\nlines");
        EXPECT_EQ(second.right, 40);

        std::string listed;
        ASSERT_TRUE(listDocument(out.path(), listed, error)) << error;
        EXPECT_EQ(listed, kCsv);
    }
}

// A BMP file of the given depth whose pixel (x, y) has the byte value f(x, y, channel).
std::string bmpPicture(int w, int h, int bits, bool topDown)
{
    const int stride = (w * bits / 8 + 3) & ~3, colours = bits == 8 ? 256 : 0;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info, info.biWidth = w, info.biHeight = topDown ? -h : h, info.biPlanes = 1;
    info.biBitCount = WORD(bits), info.biXPelsPerMeter = info.biYPelsPerMeter = 3780;
    file.bfType = 0x4D42;
    file.bfOffBits = DWORD(sizeof file + sizeof info + 4 * colours);
    std::string bytes(file.bfOffBits + size_t(stride) * h, '\0');
    file.bfSize = DWORD(bytes.size());
    memcpy(&bytes[0], &file, sizeof file);
    memcpy(&bytes[sizeof file], &info, sizeof info);
    for (int i = 0; i < 4 * colours; ++i)
        bytes[sizeof file + sizeof info + size_t(i)] = char(i % 4 == 3 ? 0 : i * 7);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * bits / 8; ++x)
            bytes[file.bfOffBits + size_t(y) * stride + size_t(x)] = char(x * 5 + y * 11);
    return bytes;
}

TEST(HtfMake, BmpPicturesBecomeLzwImagesWithTheSamePixels)
{
    DialogWatcher dialogs;
    for (int bits : {8, 24}) {
        for (bool topDown : {false, true}) {
            SCOPED_TRACE(std::to_string(bits) + (topDown ? " bits, top-down" : " bits, bottom-up"));
            const std::string bmp = bmpPicture(41, 24, bits, topDown);
            ScopedFile picture(uniqueTempPath(".bmp")), csv(uniqueTempPath(".csv")), out(uniqueTempPath(".htf"));
            ASSERT_TRUE(writeWholeFile(picture.path(), bmp.data(), bmp.size()));
            ASSERT_TRUE(writeWholeFile(csv.path(), kCsv.data(), kCsv.size()));
            MadeDocument made;
            std::string error, listed;
            ASSERT_TRUE(makeDocument(picture.path(), csv.path(), out.path(), made, error)) << error;

            TIFF* tif = TIFFOpen(out.path().c_str(), "r");
            ASSERT_TRUE(tif);
            uint16_t compression = 0;
            TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
            TIFFClose(tif);
            EXPECT_EQ(compression, COMPRESSION_LZW);

            Loaded doc = openDocument(out.path());
            const DibView v(doc.image->dib);
            ASSERT_EQ(v.header.biBitCount, bits);
            EXPECT_EQ(v.header.biXPelsPerMeter, 3780);
            const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(&bmp[sizeof(BITMAPFILEHEADER)]);
            const size_t pixelsAt = reinterpret_cast<const BITMAPFILEHEADER*>(bmp.data())->bfOffBits;
            for (int row = 0; row < 24; ++row) {
                const int stored = topDown ? row : 23 - row;
                EXPECT_EQ(memcmp(&v.pixels[(23 - row) * v.stride], &bmp[pixelsAt + size_t(stored) * v.stride],
                                 size_t(41 * bits / 8)), 0) << "row " << row;
            }
            if (bits == 8) {
                EXPECT_EQ(memcmp(v.palette.data(), &bmp[sizeof(BITMAPFILEHEADER) + header->biSize], 1024), 0);
            }
            ASSERT_TRUE(listDocument(out.path(), listed, error));
            EXPECT_EQ(listed, kCsv);
        }
    }
}

// The committed example document is what htfmake makes of the committed
// picture and hotspot list next to it.
TEST(HtfMake, TheExampleDocumentComesFromItsPictureAndList)
{
    DialogWatcher dialogs;
    const std::string dir = ROZERADO_SOURCE_DIR "/examples/";
    ScopedFile remade(uniqueTempPath(".htf"));
    MadeDocument made;
    std::string error, listed;
    ASSERT_TRUE(makeDocument(dir + "floorplan.bmp", dir + "floorplan.csv", remade.path(), made, error)) << error;
    ASSERT_TRUE(listDocument(dir + "floorplan.htf", listed, error)) << error;
    EXPECT_EQ(listed, textOf(dir + "floorplan.csv"));
    Loaded committed = openDocument(dir + "floorplan.htf"), fresh = openDocument(remade.path());
    const DibView a(committed.image->dib), b(fresh.image->dib);
    ASSERT_FALSE(a.pixels.empty());
    EXPECT_TRUE(a.pixels == b.pixels);
    EXPECT_EQ(memcmp(a.palette.data(), b.palette.data(), a.palette.size() * sizeof(RGBQUAD)), 0);
}

// Runs htfmake.exe (built beside this program) and waits for it, at most 60 s;
// what it printed on either stream lands in `err`.
ChildRun runHtfMake(const std::string& arguments)
{
    ChildRun run = runBesideThis("htfmake.exe", arguments, 60000);
    if (!run.started)
        ADD_FAILURE() << "cannot start " << programBesideThis("htfmake.exe");
    else if (!run.ended)
        ADD_FAILURE() << "htfmake still runs after 60 s";
    run.err = run.out + run.err;
    return run;
}

TEST(HtfMake, ErrorsNameTheFileAndLineAndWriteNothing)
{
    DialogWatcher dialogs;
    ScopedFile picture(uniqueTempPath(".bmp")), csv(uniqueTempPath(".csv")), out(uniqueTempPath(".htf"));
    ScopedFile part(out.path() + ".part");
    const std::string bmp = bmpPicture(41, 24, 24, false);
    ASSERT_TRUE(writeWholeFile(picture.path(), bmp.data(), bmp.size()));
    const struct {
        std::string csv;
        std::string arguments;
        DWORD exitCode;
        std::string message;
    } cases[] = {
        {kCsv + "1,2,3\n", "", 1, csv.path() + ":5: 6 fields expected, found 3"},
        {kCsv + "1,2,42,3,r,t\n", "", 1, csv.path() + ":5: the rectangle 1,2,42,3 lies outside the 41 x 24 image"},
        {kCsv + "0,0,1,1," + std::string(101, 'x') + ",t\n", "", 1, csv.path() + ":5: the reference is 101 bytes"},
        {kCsv, "\"" + csv.path() + "\" \"" + csv.path() + "\" \"" + out.path() + "\"", 1,
         csv.path() + ": neither a TIFF file nor a BMP, PNG or JPEG picture"},
        {kCsv, "\"" + picture.path() + "\" \"" + csv.path() + "\"", 2, "usage: htfmake"},
    };
    const std::string kept = "the earlier document";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        ASSERT_TRUE(writeWholeFile(csv.path(), c.csv.data(), c.csv.size()));
        ASSERT_TRUE(writeWholeFile(out.path(), kept.data(), kept.size()));
        const ChildRun run = runHtfMake(c.arguments.empty()
                                       ? "\"" + picture.path() + "\" \"" + csv.path() + "\" \"" + out.path() + "\""
                                       : c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(textOf(out.path()), kept);
        EXPECT_FALSE(fileExists(part.path()));
    }
}

}  // namespace

// --- Tiled documents with reduced levels (--tiles, --levels) ---

// The offsets of every directory and of every tile, through libtiff.
struct TiledLayout {
    std::vector<uint64_t> directories;
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    std::vector<uint32_t> subfileTypes;
    uint64_t firstTile = UINT64_MAX;
    uint64_t hotspotBytesEnd = 0;
    bool tiled = true;
};

TiledLayout layoutOf(const std::string& path)
{
    TiledLayout layout;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return layout;
    do {
        uint32_t w = 0, h = 0, kind = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &kind);
        layout.directories.push_back(TIFFCurrentDirOffset(tif));
        layout.sizes.emplace_back(w, h);
        layout.subfileTypes.push_back(kind);
        layout.tiled = layout.tiled && TIFFIsTiled(tif);
        for (uint32_t t = 0; t < TIFFNumberOfTiles(tif); ++t)
            layout.firstTile = std::min<uint64_t>(layout.firstTile, TIFFGetStrileOffset(tif, t));
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    // Where the hotspot bytes end (the first directory's entry 33577).
    const std::string f = textOf(path);
    const std::map<uint16_t, std::string> first = firstDirectory(f);
    const auto entry = first.find(TIFFTAG_QELHOTSPOT);
    if (entry != first.end()) {
        const bool big = f[2] == 43;
        uint64_t count = 0, at = 0;
        memcpy(&count, entry->second.data() + 4, big ? 8 : 4);
        memcpy(&at, entry->second.data() + (big ? 12 : 8), big ? 8 : 4);
        layout.hotspotBytesEnd = at + count;
    }
    return layout;
}

TEST(HtfMake, TiledDocumentsWithLevelsShowTheSamePixelsAsTheStripedOnes)
{
    DialogWatcher dialogs;
    auto sized = [](uint16_t photometric, uint16_t bits, uint16_t samples, uint16_t compression) {
        TiffFixture f = image(photometric, bits, samples, compression);
        f.width = 100, f.height = 70;
        f.pixels.resize(size_t(fixtureScanlineBytes(f)) * f.height);
        for (size_t i = 0; i < f.pixels.size(); ++i)
            f.pixels[i] = uint8_t(i * 37 + i / 17 + (i / 331) * 5);
        return f;
    };
    const struct {
        const char* name;
        TiffFixture fixture;
    } cases[] = {
        {"bilevel G4", sized(0, 1, 1, COMPRESSION_CCITTFAX4)},
        {"grey 8 bits", sized(1, 8, 1, COMPRESSION_LZW)},
        {"palette 4 bits", sized(3, 4, 1, COMPRESSION_PACKBITS)},
        {"palette 8 bits", sized(3, 8, 1, COMPRESSION_LZW)},
        {"RGB LZW", sized(2, 8, 3, COMPRESSION_LZW)},
        {"RGB 16 bits, through the colour conversion", sized(2, 16, 3, COMPRESSION_DEFLATE)},
    };
    ScopedFile csv(uniqueTempPath(".csv"));
    ASSERT_TRUE(writeWholeFile(csv.path(), kCsv.data(), kCsv.size()));
    for (const auto& c : cases) {
        for (bool big : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (big ? ", BigTIFF" : ""));
            ScopedFile in(uniqueTempPath(".tif")), striped(uniqueTempPath(".htf")), tiled(uniqueTempPath(".htf"));
            ASSERT_TRUE(writeTiffFixture(in.path(), c.fixture));
            MadeDocument made;
            std::string error;
            ASSERT_TRUE(makeDocument(in.path(), csv.path(), striped.path(), made, error)) << error;
            MakeLayout layout;
            layout.tiles = 16, layout.levels = true, layout.bigTiff = big;
            ASSERT_TRUE(makeDocument(in.path(), csv.path(), tiled.path(), made, error, layout)) << error;

            // The module's reader shows the same first image.
            Loaded a = openDocument(striped.path()), b = openDocument(tiled.path());
            const DibView va(a.image->dib), vb(b.image->dib);
            ASSERT_FALSE(va.pixels.empty());
            EXPECT_EQ(memcmp(&va.header, &vb.header, sizeof va.header), 0);
            EXPECT_TRUE(va.pixels == vb.pixels);
            ASSERT_EQ(va.palette.size(), vb.palette.size());
            EXPECT_EQ(memcmp(va.palette.data(), vb.palette.data(), va.palette.size() * sizeof(RGBQUAD)), 0);
            ASSERT_TRUE(b.hotspots);
            EXPECT_EQ(b.hotspots->count(), 2u);

            // Tiled levels down to one tile, reduced images after the first,
            // every directory and the hotspot bytes before the first tile.
            const std::string bytes = textOf(tiled.path());
            EXPECT_EQ(bytes[2], big ? 43 : 42);
            const TiledLayout l = layoutOf(tiled.path());
            EXPECT_TRUE(l.tiled);
            EXPECT_EQ(l.sizes, (std::vector<std::pair<uint32_t, uint32_t>>{{100, 70}, {50, 35}, {25, 18}, {13, 9}}));
            EXPECT_EQ(l.subfileTypes, (std::vector<uint32_t>{0, 1, 1, 1}));
            for (uint64_t d : l.directories)
                EXPECT_LT(d, l.firstTile);
            EXPECT_GT(l.hotspotBytesEnd, 0u);
            EXPECT_LE(l.hotspotBytesEnd, l.firstTile);
            std::string listed;
            ASSERT_TRUE(listDocument(tiled.path(), listed, error)) << error;
            EXPECT_EQ(listed, kCsv);
        }
    }
}

TEST(HtfMake, ReducedLevelsKeepThinDarkLinesOfBilevelImages)
{
    PlainImage line;
    ASSERT_TRUE(line.make(9, 3, 1, 2));
    line.palette = {0xFFFFFFFFu, 0xFF000000u};   // index 1 is black
    line.row(1)[0] = 0x80;                        // one black pixel at (0, 1)
    line.row(2)[1] = 0x80;                        // one at (8, 2)
    PlainImage reduced;
    ASSERT_TRUE(reduceImage(line, reduced));
    EXPECT_EQ(reduced.width, 5);
    EXPECT_EQ(reduced.height, 2);
    EXPECT_EQ(reduced.row(0)[0], 0x80);   // (0, 1) falls in (0, 0)
    EXPECT_EQ(reduced.row(1)[0], 0x08);   // (8, 2) falls in (4, 1)
    PlainImage colour;
    ASSERT_TRUE(colour.make(2, 1, 24, 8));
    colour.row(0)[0] = 200, colour.row(0)[4] = 100;
    ASSERT_TRUE(reduceImage(colour, reduced));
    EXPECT_EQ(reduced.row(0)[0], 150);    // the one row stands for the missing second: (200 + 100) / 2
    EXPECT_EQ(reduced.row(0)[3], 255);
}

TEST(HtfMake, TheCommandLineTakesTilesAndLevels)
{
    DialogWatcher dialogs;
    const std::string dir = ROZERADO_SOURCE_DIR "/examples/";
    ScopedFile out(uniqueTempPath(".htf"));
    ChildRun run = runHtfMake("--tiles 64 --levels \"" + dir + "floorplan.bmp\" \"" + dir + "floorplan.csv\" \"" +
                              out.path() + "\"");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    const TiledLayout l = layoutOf(out.path());
    ASSERT_GT(l.sizes.size(), 1u);
    EXPECT_LE(std::max(l.sizes.back().first, l.sizes.back().second), 64u);
    Loaded committed = openDocument(dir + "floorplan.htf"), tiled = openDocument(out.path());
    const DibView a(committed.image->dib), b(tiled.image->dib);
    EXPECT_TRUE(a.pixels == b.pixels);
    run = runHtfMake("--tiles 20 a.bmp b.csv c.htf");
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_NE(run.err.find("multiple of 16"), std::string::npos) << run.err;
}
