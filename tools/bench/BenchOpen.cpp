// Times HtfDocument::open on large generated documents against libtiff alone
// decoding the same file in the same process, and prints the process's peak
// memory. Documents are generated once into the temporary directory. The
// process's peak cannot be reset: each peak figure covers all that ran before
// it, and the documents run in order of growing memory.
//
//   bench_open [runs] [open|libtiff]
// With "open" or "libtiff" only that side runs, so that the peak figure is
// that side's own.
#include "BenchDocuments.h"
#include "BenchTimer.h"
#include "GlobalMemory.h"
#include "HtfDocument.h"
#include "HotspotList.h"
#include "TiffFixture.h"
#include "UserMessage.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

TiffFixture paletteImage()
{
    TiffFixture f;
    f.width = 6000, f.height = 4000, f.photometric = PHOTOMETRIC_PALETTE;
    f.compression = COMPRESSION_LZW;
    f.colorMap.resize(3 * 256);
    for (int c = 0; c < 256; ++c) {
        f.colorMap[c] = uint16_t(c * 257);
        f.colorMap[256 + c] = uint16_t((255 - c) * 257);
        f.colorMap[512 + c] = uint16_t((c * 7 % 256) * 257);
    }
    f.pixels.resize(size_t(f.width) * f.height);
    for (uint32_t y = 0; y < f.height; ++y)
        for (uint32_t x = 0; x < f.width; ++x)
            f.pixels[size_t(y) * f.width + x] = uint8_t((x / 40 + y / 30) % 64 + (x * y % 7));
    return f;
}

// libtiff alone: scanlines into one buffer, or the RGBA raster.
void libtiffDecode(const std::string& path, bool rgba)
{
    TIFF* tif = TIFFOpen(path.c_str(), "ru");
    if (!tif)
        std::exit(3);
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    if (rgba) {
        std::vector<uint32_t>* raster = new std::vector<uint32_t>(size_t(w) * h);
        TIFFReadRGBAImage(tif, w, h, raster->data(), 0);
        delete raster;
    } else {
        std::vector<uint8_t> image(size_t(TIFFScanlineSize(tif)) * h);
        for (uint32_t r = 0; r < h; ++r)
            TIFFReadScanline(tif, &image[size_t(r) * TIFFScanlineSize(tif)], r, 0);
    }
    TIFFClose(tif);
}

void openDocument(const std::string& path)
{
    HtfDocument document;
    DibHandle dib = document.open(path.c_str());
    if (!dib)
        std::exit(4);
    std::unique_ptr<HotspotList> list(document.takeHotspots());
    GlobalFree(dib);
}

} // namespace

int main(int argc, char** argv)
{
    printUserMessagesToStderr();   // a terminal program: nobody could answer a message box
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    const std::string only = argc > 2 ? argv[2] : "";
    struct Doc {
        const char* name;
        const char* file;
        TiffFixture (*make)();
        bool rgba;
    } docs[] = {
        {"A0 drawing 13000x18000 bilevel G4", "rozerado-bench-a0.tif", [] { return a0Drawing(13000, 18000); }, false},
        {"photo 8000x6000 RGB LZW", "rozerado-bench-photo.tif", photo, true},
        {"palette 6000x4000 8-bit LZW", "rozerado-bench-palette.tif", paletteImage, false},
    };
    TIFFSetWarningHandler(nullptr);
    std::printf("%-36s %10s %10s %7s %14s %14s\n", "document", "open s", "libtiff s", "ratio",
                "peak MiB (lib)", "peak MiB (open)");
    for (const Doc& doc : docs) {
        std::string path;
        if (!benchDocument(doc.file, doc.make, path))
            return 2;
        const double alone = only == "open" ? 0 : bestOf(runs, [&] { libtiffDecode(path, doc.rgba); });
        const double peakAlone = peakMemoryMiB();
        const double open = only == "libtiff" ? 0 : bestOf(runs, [&] { openDocument(path); });
        std::printf("%-36s %10.3f %10.3f %7.3f %14.1f %14.1f\n", doc.name, open, alone, open / alone, peakAlone,
                    peakMemoryMiB());
        std::fflush(stdout);
    }
    return 0;
}
