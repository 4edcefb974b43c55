#include "BenchDocuments.h"

#include "SyntheticImages.h"

#include <tiffio.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

bool benchDocument(const char* file, const std::function<TiffFixture()>& make, std::string& path)
{
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    path = std::string(dir) + file;
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    std::fprintf(stderr, "generating %s ...\n", path.c_str());
    return writeTiffFixture(path, make());
}

TiffFixture a0Drawing(uint32_t width, uint32_t height)
{
    TiffFixture f;
    f.width = width, f.height = height, f.bitsPerSample = 1, f.photometric = PHOTOMETRIC_MINISWHITE;
    f.compression = COMPRESSION_CCITTFAX4, f.rowsPerStrip = f.height, f.xResolution = 400;
    const uint32_t scan = (f.width + 7) / 8;
    f.pixels.assign(size_t(scan) * f.height, 0);
    auto set = [&](uint32_t x, uint32_t y) { f.pixels[size_t(y) * scan + x / 8] |= uint8_t(0x80 >> (x % 8)); };
    for (uint32_t y = 0; y < f.height; ++y) {
        for (uint32_t x = 0; x < f.width; x += (y % 500 < 3) ? 1 : 500)
            set(x, y);                                                  // grid
        for (uint32_t t = 0; t < 3; ++t)
            set(uint32_t((uint64_t(y) * f.width / f.height + t) % f.width), y);   // diagonal
        if (y % 40 < 12 && (y / 2000) % 2 == 0)
            for (uint32_t x = 600; x < 4000; ++x)
                if ((x * 7 + y / 40 * 13) % 23 < 9)
                    set(x, y);                                          // text-like runs
    }
    return f;
}

TiffFixture photo()
{
    TiffFixture f;
    f.width = 8000, f.height = 6000, f.photometric = PHOTOMETRIC_RGB, f.samplesPerPixel = 3;
    f.compression = COMPRESSION_LZW, f.xResolution = 300;
    f.pixels = photoLikeRgb(f.width, f.height);
    return f;
}

TiffFixture cataloguePhoto()
{
    TiffFixture f;
    f.width = 2000, f.height = 1500, f.photometric = PHOTOMETRIC_RGB, f.samplesPerPixel = 3;
    f.compression = COMPRESSION_LZW, f.xResolution = 150;
    f.pixels = photoLikeRgb(f.width, f.height);
    return f;
}

std::vector<FixtureHotspot> gridHotspots(int count, uint32_t w, uint32_t h)
{
    std::vector<FixtureHotspot> spots;
    if (count <= 0)
        return spots;
    const double areaWidth = w * 0.75;
    const int columns = std::max(1, int(std::ceil(std::sqrt(count * areaWidth / h))));
    const int rows = (count + columns - 1) / columns;
    const double cellWidth = areaWidth / columns, cellHeight = double(h) / rows;
    spots.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const int column = i % columns, row = i / columns;
        const int32_t left = int32_t(column * cellWidth), top = int32_t(row * cellHeight);
        const int32_t right = std::max(left + 1, int32_t(left + cellWidth * 0.75));
        const int32_t bottom = std::max(top + 1, int32_t(top + cellHeight * 0.75));
        const std::string number = std::to_string(i + 1);
        spots.push_back({number, u"Item " + std::u16string(number.begin(), number.end()), left, top, right, bottom});
    }
    return spots;
}
