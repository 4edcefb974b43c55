#include "BmpPicture.h"

#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// The parts of the BMP file header and info header read here, from their
// little-endian bytes (14 and at least 40 bytes).
constexpr size_t kFileHeaderBytes = 14, kInfoHeaderBytes = 40;
constexpr uint32_t kUncompressed = 0;   // BI_RGB

struct BmpFileHeader {
    uint32_t bfOffBits = 0;
};

struct BmpInfoHeader {
    uint32_t biSize = 0;
    int32_t biWidth = 0, biHeight = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    int32_t biXPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
};

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

bool tiffFromBmp(const std::string& bytes, TiffFixture& f, std::string& error)
{
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t size = bytes.size();
    if (size < kFileHeaderBytes + kInfoHeaderBytes || data[0] != 'B' || data[1] != 'M')
        return error = "not a BMP file", false;
    BmpFileHeader file;
    BmpInfoHeader info;
    file.bfOffBits = le32(data + 10);
    const uint8_t* at = data + kFileHeaderBytes;
    info.biSize = le32(at), info.biWidth = int32_t(le32(at + 4)), info.biHeight = int32_t(le32(at + 8));
    info.biBitCount = uint16_t(at[14] | at[15] << 8), info.biCompression = le32(at + 16);
    info.biXPelsPerMeter = int32_t(le32(at + 24)), info.biClrUsed = le32(at + 32);
    if (info.biSize < kInfoHeaderBytes || info.biSize > size - kFileHeaderBytes)
        return error = "the BMP file has a damaged header", false;
    if (info.biCompression != kUncompressed || (info.biBitCount != 8 && info.biBitCount != 24))
        return error = "only uncompressed 8-bit or 24-bit BMP pictures are taken", false;
    if (info.biWidth <= 0 || info.biHeight == 0 || info.biWidth > 30000 || info.biHeight < -30000 || info.biHeight > 30000)
        return error = "the BMP picture's size is out of range", false;
    const uint32_t w = uint32_t(info.biWidth), h = uint32_t(info.biHeight < 0 ? -info.biHeight : info.biHeight);
    const size_t stride = (size_t(w) * info.biBitCount / 8 + 3) & ~size_t(3);
    if (file.bfOffBits > size || size - file.bfOffBits < stride * h)
        return error = "the BMP file is cut short", false;

    f = TiffFixture{};
    f.width = w, f.height = h;
    f.compression = COMPRESSION_LZW;
    f.bitsPerSample = 8;
    f.resolutionUnit = RESUNIT_INCH;
    f.xResolution = info.biXPelsPerMeter > 0 ? float(std::lround(info.biXPelsPerMeter / 39.37008 * 100) / 100.0) : 72;
    if (info.biBitCount == 8) {
        const size_t tableAt = kFileHeaderBytes + info.biSize;
        const size_t colours = info.biClrUsed ? info.biClrUsed : 256;
        if (colours > 256 || tableAt + colours * 4 > size)
            return error = "the BMP picture's colour table is damaged", false;
        f.photometric = PHOTOMETRIC_PALETTE, f.samplesPerPixel = 1;
        f.colorMap.assign(3 * 256, 0);
        for (size_t i = 0; i < colours; ++i) {
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
            std::memcpy(dst, src, rowBytes);
        } else {
            for (uint32_t x = 0; x < w; ++x)
                dst[3 * x] = src[3 * x + 2], dst[3 * x + 1] = src[3 * x + 1], dst[3 * x + 2] = src[3 * x];
        }
    }
    return true;
}
