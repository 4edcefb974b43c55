// htfmake built for this machine: tiled documents from every kind of TIFF
// input the viewer shows (striped and tiled, classic and BigTIFF), from PNG
// and JPEG pictures, read a band at a time; the hotspots of a document kept
// when it is made again; the command line's forms and its errors.
#include "HtfMaker.h"
#include "NativeTestFiles.h"
#include "PrivateTiffTags.h"
#include "TiffFixture.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <sys/wait.h>
#include <tiffio.h>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

const std::string kCsv =
    "left,top,right,bottom,reference,tooltip\n"
    "0,0,16,8,815,\"Town hall, open \"\"daily\"\"\"\n"
    "4,2,40,24,816,\"Library \xE2\x80\x93 two\nlines\"\n";

TiffFixture fixture(uint16_t photometric, uint16_t bits, uint16_t samples, uint16_t compression, uint32_t tileSize = 0)
{
    TiffFixture f;
    f.width = 75, f.height = 53, f.photometric = photometric, f.bitsPerSample = bits;
    f.samplesPerPixel = samples, f.compression = compression, f.xResolution = 150, f.tileSize = tileSize;
    f.rowsPerStrip = 7;   // bands of 16 rows start inside strips
    f.pixels.resize(size_t(fixtureScanlineBytes(f)) * f.height);
    for (size_t i = 0; i < f.pixels.size(); ++i)
        f.pixels[i] = uint8_t(i * 37 + i / 17 + (i / 331) * 5);
    if (photometric == PHOTOMETRIC_PALETTE) {
        for (size_t c = 0; c < 3 * (size_t(1) << bits); ++c)
            f.colorMap.push_back(uint16_t(c * 4099));
    }
    return f;
}

// A striped grey BigTIFF image written by libtiff.
bool writeBigTiffGrey(const std::string& path)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w8");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 75);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 53);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 5);
    bool ok = true;
    for (uint32_t y = 0; y < 53; ++y) {
        uint8_t row[75];
        for (int x = 0; x < 75; ++x)
            row[x] = uint8_t(x * 3 + y * 7);
        ok = ok && TIFFWriteScanline(tif, row, y, 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

void expectSameImage(const PlainImage& a, const PlainImage& b)
{
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    EXPECT_EQ(a.bits, b.bits);
    EXPECT_EQ(a.palette, b.palette);
    EXPECT_EQ(a.pixelsPerMetre, b.pixelsPerMetre);
    // The pixels' bits; what pads a row's last byte is no pixel.
    const size_t bits = a.bits == 32 ? size_t(a.width) * 32 : size_t(a.width) * a.bits, bytes = (bits + 7) / 8;
    const uint8_t lastMask = uint8_t(bits % 8 ? 0xFF00 >> (bits % 8) : 0xFF);
    for (int32_t y = 0; y < a.height; ++y) {
        std::vector<uint8_t> rowA(a.row(y), a.row(y) + bytes), rowB(b.row(y), b.row(y) + bytes);
        if (bytes) {
            rowA.back() &= lastMask, rowB.back() &= lastMask;
        }
        ASSERT_EQ(rowA, rowB) << "row " << y;
    }
}

MakeLayout tiledLayout()
{
    MakeLayout layout;
    layout.tiles = 16, layout.levels = true, layout.threads = 2;
    return layout;
}

TEST(HtfMakeNative, TiledDocumentsShowTheViewersPixelsOfEveryInputKind)
{
    const struct {
        const char* name;
        std::function<bool(const std::string&)> write;
    } cases[] = {
        {"bilevel G4 strips", [](const std::string& p) { return writeTiffFixture(p, fixture(0, 1, 1, COMPRESSION_CCITTFAX4)); }},
        {"bilevel tiles", [](const std::string& p) { return writeTiffFixture(p, fixture(1, 1, 1, COMPRESSION_PACKBITS, 32)); }},
        {"grey 8 bits", [](const std::string& p) { return writeTiffFixture(p, fixture(1, 8, 1, COMPRESSION_LZW)); }},
        {"grey 4 bits, tiles taller than a band", [](const std::string& p) { return writeTiffFixture(p, fixture(1, 4, 1, COMPRESSION_NONE, 48)); }},
        {"palette 4 bits", [](const std::string& p) { return writeTiffFixture(p, fixture(3, 4, 1, COMPRESSION_PACKBITS)); }},
        {"palette 8 bits, tiles", [](const std::string& p) { return writeTiffFixture(p, fixture(3, 8, 1, COMPRESSION_DEFLATE, 16)); }},
        {"RGB LZW strips", [](const std::string& p) { return writeTiffFixture(p, fixture(2, 8, 3, COMPRESSION_LZW)); }},
        {"RGB tiles", [](const std::string& p) { return writeTiffFixture(p, fixture(2, 8, 3, COMPRESSION_LZW, 32)); }},
        {"RGB 16 bits, through the colour conversion", [](const std::string& p) { return writeTiffFixture(p, fixture(2, 16, 3, COMPRESSION_DEFLATE)); }},
        {"YCbCr JPEG strips", [](const std::string& p) {
             TiffFixture f = fixture(6, 8, 3, COMPRESSION_JPEG);
             f.rowsPerStrip = 32;   // JPEG strips are whole blocks
             return writeTiffFixture(p, f);
         }},
        {"grey BigTIFF", writeBigTiffGrey},
    };
    TestFile csv(".csv");
    ASSERT_TRUE(writeBytes(csv.path(), kCsv));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestFile in(".tif"), out(".htf");
        ASSERT_TRUE(c.write(in.path()));
        MadeDocument made;
        std::string error;
        ASSERT_TRUE(makeDocument(in.path(), csv.path(), out.path(), made, error, tiledLayout())) << error;
        EXPECT_EQ(made.width, 75u);
        EXPECT_EQ(made.hotspots, 2u);
        PlainImage original, written;
        ASSERT_TRUE(decodeDirectory(in.path(), 0, original));
        ASSERT_TRUE(decodeDirectory(out.path(), 0, written));
        expectSameImage(written, original);
        PlainImage level;
        ASSERT_TRUE(decodeDirectory(out.path(), 2, level));
        EXPECT_EQ(level.width, 19);
        std::string listed;
        ASSERT_TRUE(listDocument(out.path(), listed, error)) << error;
        EXPECT_EQ(listed, kCsv);
    }
}

// --- PNG and JPEG pictures ---

struct PngLayout {
    const char* name;
    int colourType, depth;
    bool interlaced;
};

// Writes a PNG picture whose sample i of row y is sample(y, i).
bool writePng(const std::string& path, const PngLayout& layout, uint32_t width, uint32_t height,
              const std::function<uint16_t(uint32_t, uint32_t)>& sample)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, layout.depth, layout.colourType,
                 layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (int i = 0; i < 16; ++i)
        palette.push_back(png_color{png_byte(i * 16), png_byte(255 - i * 9), png_byte(i * 5)});
    if (layout.colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, palette.data(), 1 << layout.depth);
    png_set_pHYs(png, info, 5906, 5906, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    const int channels = layout.colourType == PNG_COLOR_TYPE_RGB ? 3 : layout.colourType == PNG_COLOR_TYPE_RGBA ? 4 : 1;
    const size_t samples = size_t(width) * channels;
    std::vector<std::vector<png_byte>> rows(height, std::vector<png_byte>(samples * 2 + 1, 0));
    std::vector<png_bytep> pointers;
    for (uint32_t y = 0; y < height; ++y) {
        for (size_t i = 0; i < samples; ++i) {
            const uint16_t v = sample(y, uint32_t(i));
            if (layout.depth == 16)
                rows[y][2 * i] = png_byte(v >> 8), rows[y][2 * i + 1] = png_byte(v);
            else
                rows[y][i * layout.depth / 8] |= png_byte(v << (8 - layout.depth - i * layout.depth % 8));
        }
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

TEST(HtfMakeNative, PngPicturesKeepTheirKindAndPixels)
{
    const PngLayout cases[] = {
        {"palette, 4 bits", PNG_COLOR_TYPE_PALETTE, 4, false},
        {"palette, 2 bits (as 8)", PNG_COLOR_TYPE_PALETTE, 2, false},
        {"grey, 8 bits", PNG_COLOR_TYPE_GRAY, 8, false},
        {"grey, 1 bit (bilevel)", PNG_COLOR_TYPE_GRAY, 1, false},
        {"colour", PNG_COLOR_TYPE_RGB, 8, false},
        {"colour with alpha, 16 bits", PNG_COLOR_TYPE_RGBA, 16, false},
        {"colour, interlaced", PNG_COLOR_TYPE_RGB, 8, true},
    };
    const uint32_t w = 45, h = 37;
    for (const PngLayout& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t maxValue = (1u << c.depth) - 1;
        const auto sample = [&](uint32_t y, uint32_t i) { return uint16_t((i * 131 + y * 71 + i * y) % (maxValue + 1)); };
        TestFile png(".png"), out(".htf");
        ASSERT_TRUE(writePng(png.path(), c, w, h, sample));
        MadeDocument made;
        std::string error;
        MakeLayout noTiles;   // a PNG picture is tiled all the same
        ASSERT_TRUE(makeDocument(png.path(), "", out.path(), made, error, noTiles) == false);
        TestFile csv(".csv");
        ASSERT_TRUE(writeBytes(csv.path(), "left,top,right,bottom,reference,tooltip\n0,0,5,5,a,b\n"));
        ASSERT_TRUE(makeDocument(png.path(), csv.path(), out.path(), made, error, noTiles)) << error;
        PlainImage read;
        ASSERT_TRUE(decodeDirectory(out.path(), 0, read));
        ASSERT_EQ(read.width, int32_t(w));
        ASSERT_EQ(read.height, int32_t(h));
        EXPECT_EQ(read.pixelsPerMetre, 5906);
        TIFF* tif = openQuietly(out.path());
        ASSERT_TRUE(tif);
        EXPECT_TRUE(TIFFIsTiled(tif));
        htfTIFFClose(tif);
        const bool colour = c.colourType == PNG_COLOR_TYPE_RGB || c.colourType == PNG_COLOR_TYPE_RGBA;
        const int channels = c.colourType == PNG_COLOR_TYPE_RGBA ? 4 : 3;
        EXPECT_EQ(read.bits, colour ? 32 : c.depth == 2 ? 8 : c.depth);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* row = read.row(y);
                if (colour) {
                    for (int k = 0; k < 3; ++k) {
                        const uint16_t v = sample(y, x * channels + k);
                        ASSERT_EQ(row[4 * x + k], c.depth == 16 ? v >> 8 : v) << x << "," << y;
                    }
                    continue;
                }
                const uint32_t bits = uint32_t(read.bits);
                const unsigned index = bits == 8 ? row[x] : bits == 4 ? (row[x / 2] >> (x % 2 ? 0 : 4)) & 15
                                                                      : (row[x / 8] >> (7 - x % 8)) & 1;
                const uint16_t v = sample(y, x);
                if (c.colourType == PNG_COLOR_TYPE_PALETTE) {
                    ASSERT_EQ(index, v) << x << "," << y;
                    EXPECT_EQ(read.palette[index], rgbaWord(uint8_t(v * 16), uint8_t(255 - v * 9), uint8_t(v * 5)));
                } else {
                    // Grey: a ramp, dark to light, whatever the depth.
                    ASSERT_EQ(read.palette[index] & 0xFF, 255 * v / maxValue) << x << "," << y;
                }
            }
        }
    }
}

// Writes a JPEG picture (grey or colour) of smooth ramps.
bool writeJpeg(const std::string& path, bool grey, uint32_t width, uint32_t height)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = width, cinfo.image_height = height;
    cinfo.input_components = grey ? 1 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    cinfo.density_unit = 1, cinfo.X_density = cinfo.Y_density = 200;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(size_t(width) * cinfo.input_components);
    for (uint32_t y = 0; y < height; ++y) {
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = JSAMPLE((i * 5 + y * 3) % 256);
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

// The picture as libjpeg decodes it whole, one row after another.
std::vector<std::vector<uint8_t>> decodeJpeg(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    std::vector<std::vector<uint8_t>> rows;
    while (cinfo.output_scanline < cinfo.output_height) {
        rows.emplace_back(size_t(cinfo.output_width) * cinfo.output_components);
        JSAMPROW pointer = rows.back().data();
        jpeg_read_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return rows;
}

TEST(HtfMakeNative, JpegPicturesGiveTheDecodedPixels)
{
    TestFile csv(".csv");
    ASSERT_TRUE(writeBytes(csv.path(), "left,top,right,bottom,reference,tooltip\n0,0,5,5,a,b\n"));
    for (bool grey : {true, false}) {
        SCOPED_TRACE(grey ? "grey" : "colour");
        TestFile jpeg(".jpg"), out(".htf");
        ASSERT_TRUE(writeJpeg(jpeg.path(), grey, 61, 43));
        MadeDocument made;
        std::string error;
        ASSERT_TRUE(makeDocument(jpeg.path(), csv.path(), out.path(), made, error, tiledLayout())) << error;
        const auto expected = decodeJpeg(jpeg.path());
        PlainImage read;
        ASSERT_TRUE(decodeDirectory(out.path(), 0, read));
        ASSERT_EQ(read.height, 43);
        EXPECT_EQ(read.bits, grey ? 8 : 32);
        EXPECT_EQ(read.pixelsPerMetre, 7874);   // 200 per inch
        for (int32_t y = 0; y < 43; ++y) {
            for (int32_t x = 0; x < 61; ++x) {
                if (grey) {
                    ASSERT_EQ(read.row(y)[x], expected[y][x]) << x << "," << y;
                    continue;
                }
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(read.row(y)[4 * x + k], expected[y][3 * x + k]) << x << "," << y;
            }
        }
    }
}

// --- Hotspots kept from a document, and the command line ---

TEST(HtfMakeNative, ADocumentMadeAgainKeepsItsHotspotsUnlessNewOnesAreGiven)
{
    TestFile image(".tif"), csv(".csv"), other(".csv"), striped(".htf"), tiled(".htf"), replaced(".htf");
    ASSERT_TRUE(writeTiffFixture(image.path(), fixture(2, 8, 3, COMPRESSION_LZW)));
    ASSERT_TRUE(writeBytes(csv.path(), kCsv));
    const std::string otherCsv = "left,top,right,bottom,reference,tooltip\n1,1,2,2,one,\n";
    ASSERT_TRUE(writeBytes(other.path(), otherCsv));
    MadeDocument made;
    std::string error, listed;
    ASSERT_TRUE(makeDocument(image.path(), csv.path(), striped.path(), made, error)) << error;
    ASSERT_TRUE(makeDocument(striped.path(), "", tiled.path(), made, error, tiledLayout())) << error;
    EXPECT_EQ(made.hotspots, 2u);
    ASSERT_TRUE(listDocument(tiled.path(), listed, error)) << error;
    EXPECT_EQ(listed, kCsv);
    // The tag's bytes themselves, not only what they read as.
    const auto tagOf = [](const std::string& path) {
        TIFF* tif = openQuietly(path);
        uint32_t count = 0;
        const void* bytes = nullptr;
        std::string tag;
        if (tif && TIFFGetField(tif, TIFFTAG_QELHOTSPOT, &count, &bytes) && bytes)
            tag.assign(static_cast<const char*>(bytes), count);
        if (tif)
            htfTIFFClose(tif);
        return tag;
    };
    EXPECT_FALSE(tagOf(striped.path()).empty());
    EXPECT_EQ(tagOf(tiled.path()), tagOf(striped.path()));
    // Made again in place with other hotspots.
    ASSERT_TRUE(makeDocument(tiled.path(), other.path(), tiled.path(), made, error, tiledLayout())) << error;
    ASSERT_TRUE(listDocument(tiled.path(), listed, error)) << error;
    EXPECT_EQ(listed, otherCsv);
    PlainImage a, b;
    ASSERT_TRUE(decodeDirectory(image.path(), 0, a));
    ASSERT_TRUE(decodeDirectory(tiled.path(), 0, b));
    expectSameImage(b, a);
    // A picture has no hotspots to keep.
    TestFile bmpLike(".png");
    ASSERT_TRUE(writePng(bmpLike.path(), {"grey", PNG_COLOR_TYPE_GRAY, 8, false}, 8, 8,
                         [](uint32_t, uint32_t) { return uint16_t(0); }));
    EXPECT_FALSE(makeDocument(bmpLike.path(), "", replaced.path(), made, error, tiledLayout()));
    EXPECT_NE(error.find("hotspot CSV"), std::string::npos) << error;
}

struct ProgramRun {
    int exitCode = -1;
    std::string output;
};

ProgramRun runHtfMake(const std::string& arguments)
{
    TestFile log(".log");
    const std::string command = std::string("'") + HTFMAKE_PROGRAM + "' " + arguments + " >'" + log.path() + "' 2>&1";
    const int status = std::system(command.c_str());
    return ProgramRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, fileBytes(log.path())};
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

TEST(HtfMakeNative, TheCommandLineTakesEachFormAndRefusesTheRest)
{
    TestFile image(".tif"), csv(".csv"), doc(".htf"), again(".htf"), withCsv(".htf"), untouched(".htf");
    ASSERT_TRUE(writeTiffFixture(image.path(), fixture(1, 8, 1, COMPRESSION_LZW)));
    ASSERT_TRUE(writeBytes(csv.path(), kCsv));
    ProgramRun run = runHtfMake(quoted(image.path()) + " " + quoted(csv.path()) + " " + quoted(doc.path()));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("75 x 53, 2 hotspots"), std::string::npos) << run.output;
    run = runHtfMake("--tiles 32 --levels " + quoted(doc.path()) + " " + quoted(again.path()));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("2 hotspots"), std::string::npos) << run.output;
    run = runHtfMake("--tiles 32 --levels --hotspots " + quoted(csv.path()) + " " + quoted(image.path()) + " " +
                     quoted(withCsv.path()));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(fileBytes(withCsv.path()) == fileBytes(again.path()));   // the same document either way
    run = runHtfMake("--list " + quoted(again.path()));
    EXPECT_EQ(run.output, kCsv);

    ASSERT_TRUE(writeBytes(untouched.path(), "the earlier document"));
    const struct {
        std::string arguments;
        int exitCode;
        std::string message;
    } refused[] = {
        {"--tiles 20 " + quoted(image.path()) + " " + quoted(untouched.path()), 2, "multiple of 16"},
        {"--threads 0 " + quoted(image.path()) + " " + quoted(untouched.path()), 2, "--threads"},
        {"--hotspots " + quoted(csv.path()) + " " + quoted(image.path()) + " " + quoted(csv.path()) + " " +
             quoted(untouched.path()), 2, "usage: htfmake"},
        {quoted(image.path()), 2, "usage: htfmake"},
        {quoted(image.path()) + " " + quoted(csv.path()), 2, "not a .csv file"},   // the document's name forgotten
        {"--tiles 16 " + quoted(csv.path()) + " " + quoted(untouched.path()), 1, "neither a TIFF file"},
        {"--tiles 16 " + quoted(image.path()) + " " + quoted(untouched.path()) + ".missing/x.htf", 1, "cannot write"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.arguments);
        run = runHtfMake(r.arguments);
        EXPECT_EQ(run.exitCode, r.exitCode);
        EXPECT_NE(run.output.find(r.message), std::string::npos) << run.output;
        EXPECT_EQ(fileBytes(untouched.path()), "the earlier document");
        EXPECT_EQ(fileBytes(csv.path()), kCsv);
    }
}

}  // namespace
