// scan_images: writes the two large scans the authoring benchmark
// (tools/bench/htfmake-vs-vips) converts, strip by strip, without holding
// either in memory:
//
//   scan_images photo OUT.tif [SIZE]    SIZE x SIZE RGB (default 12000), LZW,
//                                       16 rows a strip: smooth colour ramps
//                                       with grain, as a scanned photo
//   scan_images drawing OUT.tif [SIZE]  SIZE x SIZE 8-bit grey (default
//                                       50000), LZW, BigTIFF, 16 rows a
//                                       strip: a white sheet with a grid,
//                                       diagonals and lines of text-like marks
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kRowsPerStrip = 16;

// A cheap repeatable noise source (xorshift).
struct Grain {
    uint32_t state = 2463534242u;
    uint32_t next()
    {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        return state;
    }
};

TIFF* begin(const char* path, const char* mode, uint32_t size, uint16_t samples)
{
    TIFF* tif = TIFFOpen(path, mode);
    if (!tif)
        return nullptr;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, size);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, size);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    return tif;
}

bool photo(const char* path, uint32_t size)
{
    TIFF* tif = begin(path, "w", size, 3);
    if (!tif)
        return false;
    Grain grain;
    std::vector<uint8_t> strip(size_t(size) * 3 * kRowsPerStrip);
    bool ok = true;
    for (uint32_t top = 0; ok && top < size; top += kRowsPerStrip) {
        const uint32_t rows = std::min(kRowsPerStrip, size - top);
        for (uint32_t k = 0; k < rows; ++k) {
            const uint32_t y = top + k;
            uint8_t* p = &strip[size_t(k) * size * 3];
            for (uint32_t x = 0; x < size; ++x, p += 3) {
                const uint32_t noise = grain.next();
                p[0] = uint8_t(uint64_t(x) * 200 / size + (noise & 15));
                p[1] = uint8_t(uint64_t(y) * 200 / size + (noise >> 8 & 15));
                p[2] = uint8_t((uint64_t(x) + y) * 100 / size + 40 + (noise >> 16 & 15));
            }
        }
        ok = TIFFWriteEncodedStrip(tif, top / kRowsPerStrip, strip.data(), tmsize_t(size_t(size) * 3 * rows)) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

bool drawing(const char* path, uint32_t size)
{
    TIFF* tif = begin(path, "w8", size, 1);
    if (!tif)
        return false;
    std::vector<uint8_t> strip(size_t(size) * kRowsPerStrip);
    bool ok = true;
    for (uint32_t top = 0; ok && top < size; top += kRowsPerStrip) {
        const uint32_t rows = std::min(kRowsPerStrip, size - top);
        for (uint32_t k = 0; k < rows; ++k) {
            const uint32_t y = top + k;
            uint8_t* p = &strip[size_t(k) * size];
            std::memset(p, 255, size);
            const bool gridRow = y % 1000 < 4, textRow = y % 1000 >= 150 && y % 1000 < 850 && y % 24 < 12;
            for (uint32_t x = 0; x < size; ++x) {
                if (gridRow || x % 1000 < 4 || (x + 1000000 - y) % 1000 < 3)
                    p[x] = 20;
                else if (textRow && x % 1000 >= 150 && x % 1000 < 850 && (x * 7 + y / 24 * 13) % 11 < 4)
                    p[x] = 60;
            }
        }
        ok = TIFFWriteEncodedStrip(tif, top / kRowsPerStrip, strip.data(), tmsize_t(size_t(size) * rows)) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4 || (std::strcmp(argv[1], "photo") != 0 && std::strcmp(argv[1], "drawing") != 0)) {
        std::fputs("usage: scan_images photo|drawing OUT.tif [SIZE]\n", stderr);
        return 2;
    }
    const bool isPhoto = std::strcmp(argv[1], "photo") == 0;
    const uint32_t size = argc == 4 ? uint32_t(std::strtoul(argv[3], nullptr, 10)) : isPhoto ? 12000 : 50000;
    if (size == 0) {
        std::fputs("scan_images: SIZE must be a positive number\n", stderr);
        return 2;
    }
    if (!(isPhoto ? photo(argv[2], size) : drawing(argv[2], size))) {
        std::fprintf(stderr, "scan_images: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
