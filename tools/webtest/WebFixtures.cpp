// webfixtures OUTDIR [--a0 | --large] [--blank WxH ...]: the documents the
// browser element's tests open, and what the Windows module's reader makes of
// them. Writes into OUTDIR:
//   bilevel.htf, palette.htf, rgb.htf   one image kind each, with hotspots
//   damaged.htf                         a document cut off in its directory
//   huge.htf                            an image of 60000 x 60000 pixels (too large)
//   wide.htf                            1-bit, 2^31 - 1 x 1 pixels, one Deflate strip of
//                                       zeros (256 MiB of pixels from 261 KB)
//   square.htf                          1-bit, 92680 x 92680 zeros (1 GB of pixels from 1 MB)
//   NAME.rgba                           the module reader's pixels of NAME.htf:
//                                       "W H\n" then W x H RGBA bytes, rows top first
//   hotspots.txt                        per document: NAME left top right bottom reference
// With --a0 also a0.htf (the A0 drawing at 400 dpi, 13245 x 18720 bilevel
// G4), with --large that and photo.htf (8000 x 6000 RGB LZW), each with four
// hotspots. --blank writes a white bilevel document blank-WxH.htf of each
// size given (the geometry table's images).
//
// webfixtures --time FILE [RUNS]: the module reader's open of FILE, timed
// (the fastest of RUNS), printed as "open MS".
#include "BenchDocuments.h"
#include "Dib.h"
#include "GlobalMemory.h"
#include "HtfDocument.h"
#include "TiffFixture.h"
#include "UserMessage.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Document {
    std::string name;
    TiffFixture fixture;
    std::vector<FixtureHotspot> hotspots;
};

// The hotspots every small document carries: two plain ones, one whose
// reference is script and one with a line break (both must never be followed).
std::vector<FixtureHotspot> smallHotspots()
{
    return {
        {"815", u"Town hall \u2013 open Monday to Friday", 20, 20, 120, 80},
        {"816&view=2", u"Library", 150, 30, 280, 110},
        {"javascript:alert(document.cookie)//", u"Script link", 20, 120, 100, 180},
        {"81\r\n7", u"Broken reference", 150, 130, 280, 190},
    };
}

bool pattern(uint32_t x, uint32_t y)
{
    return (x % 40 < 2) || (y % 30 < 2) || ((x + y) % 97 < 3) || (x / 10 + y / 10) % 7 == 0;
}

TiffFixture bilevel()
{
    TiffFixture f;
    f.width = 300, f.height = 200, f.bitsPerSample = 1, f.photometric = PHOTOMETRIC_MINISWHITE;
    f.compression = COMPRESSION_CCITTFAX4;
    const uint32_t scan = (f.width + 7) / 8;
    f.pixels.assign(size_t(scan) * f.height, 0);
    for (uint32_t y = 0; y < f.height; ++y)
        for (uint32_t x = 0; x < f.width; ++x)
            if (pattern(x, y))
                f.pixels[size_t(y) * scan + x / 8] |= uint8_t(0x80 >> (x % 8));
    return f;
}

TiffFixture palette()
{
    TiffFixture f;
    f.width = 300, f.height = 200, f.bitsPerSample = 8, f.photometric = PHOTOMETRIC_PALETTE;
    f.compression = COMPRESSION_PACKBITS;
    f.colorMap.resize(3 * 256);
    for (uint32_t i = 0; i < 256; ++i) {
        f.colorMap[i] = uint16_t((i * 37 % 256) * 257);
        f.colorMap[256 + i] = uint16_t((255 - i) * 257);
        f.colorMap[512 + i] = uint16_t((i * 91 % 256) * 257);
    }
    for (uint32_t y = 0; y < f.height; ++y)
        for (uint32_t x = 0; x < f.width; ++x)
            f.pixels.push_back(uint8_t((x / 12 + (y / 10) * 25) % 256));
    return f;
}

TiffFixture rgb()
{
    TiffFixture f;
    f.width = 300, f.height = 200, f.photometric = PHOTOMETRIC_RGB, f.samplesPerPixel = 3;
    f.compression = COMPRESSION_LZW;
    for (uint32_t y = 0; y < f.height; ++y)
        for (uint32_t x = 0; x < f.width; ++x)
            f.pixels.insert(f.pixels.end(), {uint8_t(x * 255 / 299), uint8_t(y * 255 / 199), uint8_t((x ^ y) & 0xFF)});
    return f;
}

// The module reader's pixels as RGBA, rows top first.
bool writeReference(const std::string& htf, const std::string& out)
{
    HtfDocument document;
    DibHandle dib = document.open(htf.c_str());
    if (!dib)
        return false;
    bool ok = false;
    {
        GlobalLockGuard<unsigned char> data(dib);
        const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(data.get());
        const int32_t w = header->biWidth, h = header->biHeight;
        const unsigned bits = header->biBitCount;
        const auto* colours = reinterpret_cast<const RGBQUAD*>(data.get() + header->biSize);
        const unsigned char* pixels = dibPixels(data.get());
        const size_t stride = size_t(dibRowBytes(header->biBitCount, header->biWidth));
        std::vector<unsigned char> rgba(size_t(w) * h * 4);
        for (int32_t y = 0; y < h; ++y) {
            const unsigned char* row = pixels + size_t(h - 1 - y) * stride;
            for (int32_t x = 0; x < w; ++x) {
                unsigned char* o = &rgba[(size_t(y) * w + x) * 4];
                if (bits == 24) {
                    o[0] = row[3 * x + 2], o[1] = row[3 * x + 1], o[2] = row[3 * x];
                } else {
                    unsigned index = 0;
                    if (bits == 8) index = row[x];
                    else if (bits == 4) index = (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
                    else index = (row[x / 8] >> (7 - x % 8)) & 1;
                    o[0] = colours[index].rgbRed, o[1] = colours[index].rgbGreen, o[2] = colours[index].rgbBlue;
                }
                o[3] = 255;
            }
        }
        FILE* f = std::fopen(out.c_str(), "wb");
        if (f) {
            std::fprintf(f, "%d %d\n", int(w), int(h));
            ok = std::fwrite(rgba.data(), 1, rgba.size(), f) == rgba.size();
            ok = std::fclose(f) == 0 && ok;
        }
    }
    GlobalFree(dib);
    return ok;
}

} // namespace

int timeOpen(const char* file, int runs)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        HtfDocument document;
        DibHandle dib = document.open(file);
        QueryPerformanceCounter(&end);
        if (!dib)
            return 1;
        GlobalFree(dib);
        best = std::min(best, double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
    }
    std::printf("open %.1f\n", best);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--time") == 0)
        return timeOpen(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 3);
    if (argc < 2) {
        std::fprintf(stderr, "usage: webfixtures OUTDIR [--a0 | --large] [--blank WxH ...]\n");
        return 2;
    }
    printUserMessagesToStderr();
    const std::string dir = std::string(argv[1]) + "\\";
    bool a0 = false, photoToo = false;
    std::vector<std::pair<uint32_t, uint32_t>> blanks;
    for (int i = 2; i < argc; ++i) {
        unsigned w = 0, h = 0;
        if (std::strcmp(argv[i], "--large") == 0)
            a0 = photoToo = true;
        else if (std::strcmp(argv[i], "--a0") == 0)
            a0 = true;
        else if (std::strcmp(argv[i], "--blank") != 0 && std::sscanf(argv[i], "%ux%u", &w, &h) == 2 && w && h)
            blanks.emplace_back(w, h);
    }
    registerFixtureTags();
    for (const auto& size : blanks) {
        TiffFixture f;
        f.width = size.first, f.height = size.second, f.bitsPerSample = 1;
        f.photometric = PHOTOMETRIC_MINISWHITE, f.compression = COMPRESSION_CCITTFAX4;
        f.pixels.assign(size_t((f.width + 7) / 8) * f.height, 0);
        const std::string path = dir + "blank-" + std::to_string(f.width) + "x" + std::to_string(f.height) + ".htf";
        if (!writeTiffFixture(path, f))
            return 1;
    }

    std::vector<Document> documents = {
        {"bilevel", bilevel(), smallHotspots()},
        {"palette", palette(), smallHotspots()},
        {"rgb", rgb(), smallHotspots()},
    };
    if (a0) {
        const std::vector<FixtureHotspot> four = {
            {"1", u"North-west", 100, 100, 2000, 2000}, {"2", u"North-east", 6000, 100, 7900, 2000},
            {"3", u"South-west", 100, 4000, 2000, 5900}, {"4", u"South-east", 6000, 4000, 7900, 5900},
        };
        documents.push_back({"a0", a0Drawing(13245, 18720), four});
        if (photoToo)
            documents.push_back({"photo", photo(), four});
    }
    FILE* list = std::fopen((dir + "hotspots.txt").c_str(), "wb");
    if (!list)
        return 1;
    for (Document& d : documents) {
        d.fixture.withHotspotTag = true;
        d.fixture.hotspotBytes = hotspotStreamBytes(d.hotspots);
        const std::string path = dir + d.name + ".htf";
        if (!writeTiffFixture(path, d.fixture)) {
            std::fprintf(stderr, "webfixtures: cannot write %s\n", path.c_str());
            return 1;
        }
        for (const FixtureHotspot& h : d.hotspots)
            std::fprintf(list, "%s %d %d %d %d %s\n", d.name.c_str(), int(h.left), int(h.top), int(h.right),
                         int(h.bottom), h.reference.find_first_of("\r\n ") == std::string::npos ? h.reference.c_str() : "-");
        if (d.fixture.width * d.fixture.height <= 1000000 && !writeReference(path, dir + d.name + ".rgba")) {
            std::fprintf(stderr, "webfixtures: the reader cannot open %s\n", path.c_str());
            return 1;
        }
    }
    std::fclose(list);
    // 60000 x 60000 RGB: larger than any image the viewers take.
    const std::string huge = dir + "huge.htf";
    TiffFixture small = rgb();
    small.compression = COMPRESSION_NONE;
    if (!writeTiffFixture(huge, small) || !patchDirectoryEntry(huge, TIFFTAG_IMAGEWIDTH, 60000) ||
        !patchDirectoryEntry(huge, TIFFTAG_IMAGELENGTH, 60000))
        return 1;
    // Small documents that decode huge: a row wider than a signed 32-bit
    // count of bits, and a square just under 1 GiB of 1-bit pixels.
    if (!writeZeroDeflateDocument(dir + "wide.htf", 0x7FFFFFFF, 1) ||
        !writeZeroDeflateDocument(dir + "square.htf", 92680, 92680))
        return 1;
    // Cut off inside its directory: the reader shows its error.
    TiffFixture cut = rgb();
    const std::string damaged = dir + "damaged.htf";
    if (!writeTiffFixture(damaged, cut) || !truncateFile(damaged, 3000))
        return 1;
    return 0;
}
