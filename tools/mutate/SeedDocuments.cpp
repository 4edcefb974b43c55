#include "SeedDocuments.h"

#include "TiffFixture.h"

#include <tiffio.h>

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

} // namespace

std::vector<SeedDocument> makeSeedDocuments(const std::string& scratchPath)
{
    std::vector<SeedDocument> seeds;
    for (const Variant& v : variants()) {
        if (!writeTiffFixture(scratchPath, v.fixture))
            continue;
        std::ifstream in(scratchPath, std::ios::binary);
        SeedDocument seed{std::string(v.name) + " compression " + std::to_string(v.fixture.compression),
                          std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())};
        seeds.push_back(std::move(seed));
    }
    return seeds;
}
