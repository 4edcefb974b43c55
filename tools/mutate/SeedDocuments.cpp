#include "SeedDocuments.h"

#include "PlainImage.h"
#include "TiffFixture.h"
#include "TiledDocumentWriter.h"

#include <tiffio.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

constexpr uint32_t kWidth = 37, kHeight = 29;

TiffFixture image(uint16_t photometric, uint16_t bits, uint16_t samples)
{
    TiffFixture f;
    f.width = kWidth, f.height = kHeight, f.photometric = photometric;
    f.bitsPerSample = bits, f.samplesPerPixel = samples;
    f.pixels.resize(size_t(fixtureScanlineBytes(f)) * kHeight);
    for (size_t i = 0; i < f.pixels.size(); ++i)
        f.pixels[i] = uint8_t((i * 37) ^ (i >> 5));
    if (photometric == PHOTOMETRIC_PALETTE) {
        const size_t n = size_t(1) << bits;
        for (size_t i = 0; i < 3 * n; ++i)
            f.colorMap.push_back(uint16_t(i * 2731));
    }
    return f;
}

std::string hotspots(int n)
{
    std::vector<FixtureHotspot> list;
    for (int i = 0; i < n; ++i)
        list.push_back({"ref-" + std::to_string(i), u"Room \u00e9 " + std::u16string(1, char16_t(u'A' + i)),
                        i * 5, i * 3, i * 5 + 9, i * 3 + 7, i % 2 ? "info" : ""});
    return hotspotStreamBytes(list);
}

struct Variant {
    const char* name;
    TiffFixture fixture;
};

std::vector<Variant> variants()
{
    std::vector<Variant> v;
    auto add = [&](const char* name, TiffFixture f, uint16_t compression, uint32_t tile = 0, uint32_t rows = 0) {
        f.compression = compression, f.tileSize = tile, f.rowsPerStrip = rows;
        v.push_back({name, f});
    };
    for (uint16_t photometric : {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK}) {
        for (uint16_t c : {COMPRESSION_NONE, COMPRESSION_PACKBITS, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE,
                           COMPRESSION_CCITTFAX3, COMPRESSION_CCITTFAX4, COMPRESSION_CCITTRLE})
            add("bilevel", image(photometric, 1, 1), c, 0, 7);
    }
    add("bilevel tiled", image(PHOTOMETRIC_MINISBLACK, 1, 1), COMPRESSION_LZW, 16);
    add("grey4", image(PHOTOMETRIC_MINISBLACK, 4, 1), COMPRESSION_NONE);
    add("grey4 tiled", image(PHOTOMETRIC_MINISBLACK, 4, 1), COMPRESSION_PACKBITS, 16);
    for (uint16_t c : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE,
                       COMPRESSION_JPEG})
        add("grey8", image(PHOTOMETRIC_MINISBLACK, 8, 1), c, 0, 8);
    add("grey8 tiled", image(PHOTOMETRIC_MINISBLACK, 8, 1), COMPRESSION_ADOBE_DEFLATE, 16);
    add("grey16", image(PHOTOMETRIC_MINISBLACK, 16, 1), COMPRESSION_LZW);
    add("grey8 alpha", image(PHOTOMETRIC_MINISBLACK, 8, 2), COMPRESSION_NONE);
    add("palette2", image(PHOTOMETRIC_PALETTE, 2, 1), COMPRESSION_NONE);
    add("palette4", image(PHOTOMETRIC_PALETTE, 4, 1), COMPRESSION_LZW);
    add("palette8", image(PHOTOMETRIC_PALETTE, 8, 1), COMPRESSION_PACKBITS);
    add("palette8 tiled", image(PHOTOMETRIC_PALETTE, 8, 1), COMPRESSION_LZW, 16);
    for (uint16_t c : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE})
        add("rgb", image(PHOTOMETRIC_RGB, 8, 3), c, 0, 5);
    add("rgb tiled", image(PHOTOMETRIC_RGB, 8, 3), COMPRESSION_LZW, 16);
    add("rgb16", image(PHOTOMETRIC_RGB, 16, 3), COMPRESSION_NONE);
    add("rgba", image(PHOTOMETRIC_RGB, 8, 4), COMPRESSION_LZW);
    TiffFixture separate = image(PHOTOMETRIC_RGB, 8, 3);
    separate.planar = PLANARCONFIG_SEPARATE;
    separate.pixels.resize(size_t(fixtureScanlineBytes(separate)) * kHeight * 3);
    add("rgb planes", separate, COMPRESSION_LZW);
    TiffFixture jpeg = image(PHOTOMETRIC_YCBCR, 8, 3);
    jpeg.pixels.resize(size_t(kWidth) * 3 * kHeight);
    add("ycbcr jpeg", jpeg, COMPRESSION_JPEG, 0, 16);
    add("ycbcr jpeg tiled", jpeg, COMPRESSION_JPEG, 16);
    TiffFixture cmyk = image(PHOTOMETRIC_SEPARATED, 8, 4);
    cmyk.inkSet = INKSET_CMYK;
    add("cmyk", cmyk, COMPRESSION_LZW);
    add("lab", image(PHOTOMETRIC_CIELAB, 8, 3), COMPRESSION_NONE);
    // Tile sizes that libtiff's writer refuses and its reader accepts.
    struct Free { const char* name; uint16_t photometric, bits; uint32_t w, l; };
    for (const Free& t : {Free{"bilevel tiles 7x3", PHOTOMETRIC_MINISWHITE, 1, 7, 3},
                          Free{"bilevel tiles 1x1", PHOTOMETRIC_MINISBLACK, 1, 1, 1},
                          Free{"grey4 tiles 3x5", PHOTOMETRIC_MINISBLACK, 4, 3, 5},
                          Free{"palette4 tiles 9x2", PHOTOMETRIC_PALETTE, 4, 9, 2},
                          Free{"grey8 tiles 5x40", PHOTOMETRIC_MINISBLACK, 8, 5, 40}}) {
        TiffFixture f = image(t.photometric, t.bits, 1);
        f.tileWidth = t.w, f.tileLength = t.l;
        v.push_back({t.name, f});
    }
    // Hotspots on every other document; clip paths on some.
    for (size_t i = 0; i < v.size(); ++i) {
        if (i % 2 == 0) {
            v[i].fixture.withHotspotTag = true;
            v[i].fixture.hotspotBytes = hotspots(int(i % 7));
        }
        if (i % 5 == 1 && !v[i].fixture.tileWidth) {
            v[i].fixture.withClipPathTag = true;
            v[i].fixture.clipPathBytes = "clip path " + std::to_string(i);
        }
        v[i].fixture.xResolution = i % 3 ? 0.0f : 300.0f;
    }
    return v;
}

std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A decoded image for the tiled writer: lines on white (1 bit), a grey ramp
// (8 bits), 16 colours (4 bits) or colour gradients (RGBA).
PlainImage levelSource(uint16_t bits, uint32_t width, uint32_t height)
{
    PlainImage image;
    const uint32_t rowBytes = bits == 32 ? width * 4 : (width * bits + 7) / 8;
    image.make(width, height, bits == 32 ? 24 : bits, rowBytes);
    if (bits == 1)
        image.palette = {rgbaWord(255, 255, 255), rgbaWord(0, 0, 0)};
    for (uint32_t i = 0; bits == 8 && i < 256; ++i)
        image.palette.push_back(rgbaWord(uint8_t(i), uint8_t(i), uint8_t(i)));
    for (uint32_t i = 0; bits == 4 && i < 16; ++i)
        image.palette.push_back(rgbaWord(uint8_t(i * 17), uint8_t(255 - i * 9), uint8_t(i * 40)));
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = image.row(y);
        for (uint32_t x = 0; x < width; ++x) {
            switch (bits) {
            case 1:
                if (x % 13 == 0 || (x + 2 * y) % 29 == 0)
                    row[x / 8] |= uint8_t(0x80 >> (x % 8));
                break;
            case 4: row[x / 2] |= uint8_t(((x / 8 + y / 8) % 16) << (x % 2 ? 0 : 4)); break;
            case 8: row[x] = uint8_t(x * 3 + y); break;
            default:
                row[4 * x] = uint8_t(x * 4), row[4 * x + 1] = uint8_t(y * 5), row[4 * x + 2] = uint8_t((x + y) * 2);
                row[4 * x + 3] = 255;
            }
        }
    }
    return image;
}

// Documents in tiles of 16 as the authoring tool lays them out (directories
// and hotspots before the pixels): the first image alone, and with its
// reduced levels after it in the chain or in its SubIFDs, so that mutants
// reach the reading of levels and tiles. A few kilobytes each.
void addTiledSeeds(const std::string& scratchPath, std::vector<SeedDocument>& seeds)
{
    struct Kind { const char* name; uint16_t bits; uint32_t width, height; };
    const Kind kinds[] = {{"bilevel", 1, 90, 70}, {"palette4", 4, 64, 48}, {"grey8", 8, 56, 40},
                          {"rgb", 32, 48, 36}};
    struct Layout { const char* name; bool levels, subIfds, bigTiff; };
    const Layout layouts[] = {{"tiled", false, false, false}, {"levels in the chain", true, false, false},
                              {"levels in SubIFDs", true, true, false}, {"BigTIFF levels", true, false, true}};
    const std::string path = scratchPath + ".tiled";
    for (size_t k = 0; k < sizeof kinds / sizeof kinds[0]; ++k) {
        const PlainImage image = levelSource(kinds[k].bits, kinds[k].width, kinds[k].height);
        for (const Layout& layout : layouts) {
            // BigTIFF once: the mutator's structural changes understand classic TIFF only.
            if (layout.bigTiff && kinds[k].bits != 1)
                continue;
            TiledDocumentOptions options;
            options.tileSize = 16;
            options.levels = layout.levels, options.subIfds = layout.subIfds, options.bigTiff = layout.bigTiff;
            std::string error;
            if (!writeTiledDocument(image, hotspots(int(k) + 2), options, path, scratchPath + ".tiles", error))
                continue;
            seeds.push_back({std::string(kinds[k].name) + " " + layout.name, readBytes(path)});
        }
    }
    std::remove(path.c_str());
}

} // namespace

std::vector<SeedDocument> makeSeedDocuments(const std::string& scratchPath)
{
    std::vector<SeedDocument> seeds;
    for (const Variant& v : variants()) {
        if (!writeTiffFixture(scratchPath, v.fixture))
            continue;
        seeds.push_back({std::string(v.name) + " compression " + std::to_string(v.fixture.compression),
                         readBytes(scratchPath)});
    }
    addTiledSeeds(scratchPath, seeds);
    return seeds;
}
