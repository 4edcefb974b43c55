// htfmake: writes a hotspotted document from a picture and a hotspot list.
//   htfmake PICTURE.bmp HOTSPOTS.txt OUT.htf
// The picture is an uncompressed 8-bit palette or 24-bit BMP; the list has
// one hotspot a line: reference, left, top, right, bottom, tooltip, separated
// by tabs, in UTF-8. Palette pictures stay palette images (LZW compressed).
#include "TiffFixture.h"

#include <windows.h>

#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool readBmp(const std::string& path, TiffFixture& f, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) || data[0] != 'B' || data[1] != 'M')
        return error = "not a BMP file", false;
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    memcpy(&file, data.data(), sizeof(file));
    memcpy(&info, data.data() + sizeof(file), sizeof(info));
    if (info.biCompression != BI_RGB || (info.biBitCount != 8 && info.biBitCount != 24) || info.biWidth <= 0 ||
        info.biHeight == 0 || info.biWidth > 20000 || std::abs(info.biHeight) > 20000)
        return error = "only uncompressed 8-bit or 24-bit BMP files", false;
    const uint32_t w = uint32_t(info.biWidth), h = uint32_t(std::abs(info.biHeight));
    const size_t stride = (size_t(w) * info.biBitCount / 8 + 3) & ~size_t(3);
    if (file.bfOffBits > data.size() || data.size() - file.bfOffBits < stride * h)
        return error = "the BMP file is cut short", false;
    f.width = w, f.height = h;
    f.compression = COMPRESSION_LZW;
    f.xResolution = 72;
    f.bitsPerSample = 8;
    if (info.biBitCount == 8) {
        const size_t tableAt = sizeof(file) + info.biSize;
        const unsigned colours = info.biClrUsed ? info.biClrUsed : 256;
        if (colours > 256 || tableAt + colours * 4 > data.size())
            return error = "bad colour table", false;
        f.photometric = PHOTOMETRIC_PALETTE, f.samplesPerPixel = 1;
        f.colorMap.assign(3 * 256, 0);
        for (unsigned i = 0; i < colours; ++i) {
            const uint8_t* q = &data[tableAt + 4 * i];
            f.colorMap[i] = uint16_t(q[2] * 257), f.colorMap[256 + i] = uint16_t(q[1] * 257);
            f.colorMap[512 + i] = uint16_t(q[0] * 257);
        }
    } else {
        f.photometric = PHOTOMETRIC_RGB, f.samplesPerPixel = 3;
    }
    const size_t rowBytes = size_t(w) * f.samplesPerPixel;
    f.pixels.resize(rowBytes * h);
    for (uint32_t y = 0; y < h; ++y) {
        const uint32_t stored = info.biHeight > 0 ? h - 1 - y : y;   // bottom-up unless the height is negative
        const uint8_t* src = &data[file.bfOffBits + stride * stored];
        uint8_t* dst = &f.pixels[rowBytes * y];
        if (f.samplesPerPixel == 1) {
            memcpy(dst, src, rowBytes);
        } else {
            for (uint32_t x = 0; x < w; ++x)
                dst[3 * x] = src[3 * x + 2], dst[3 * x + 1] = src[3 * x + 1], dst[3 * x + 2] = src[3 * x];
        }
    }
    return true;
}

std::u16string fromUtf8(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0);
    std::u16string wide(size_t(n > 0 ? n : 0), u'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), int(text.size()), reinterpret_cast<wchar_t*>(&wide[0]), n);
    return wide;
}

bool readHotspots(const std::string& path, std::vector<FixtureHotspot>& hotspots, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return error = "cannot open " + path, false;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t'))
            fields.push_back(field);
        if (fields.size() < 5)
            return error = path + ":" + std::to_string(number) + ": reference and four edges expected", false;
        FixtureHotspot h{fields[0], fields.size() > 5 ? fromUtf8(fields[5]) : u"",
                         std::atoi(fields[1].c_str()), std::atoi(fields[2].c_str()), std::atoi(fields[3].c_str()),
                         std::atoi(fields[4].c_str())};
        hotspots.push_back(h);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: htfmake PICTURE.bmp HOTSPOTS.txt OUT.htf\n", stderr);
        return 2;
    }
    TiffFixture f;
    std::vector<FixtureHotspot> hotspots;
    std::string error;
    if (!readBmp(argv[1], f, error) || !readHotspots(argv[2], hotspots, error)) {
        std::fprintf(stderr, "htfmake: %s\n", error.c_str());
        return 1;
    }
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes(hotspots);
    if (!writeTiffFixture(argv[3], f)) {
        std::fprintf(stderr, "htfmake: cannot write %s\n", argv[3]);
        return 1;
    }
    std::printf("htfmake: %s, %u x %u, %zu hotspots\n", argv[3], f.width, f.height, hotspots.size());
    return 0;
}
