#pragma once
// Read access to a DIB for assertions: header, colour table and pixels by
// image coordinates (row 0 is the top of the image).
#include "Dib.h"
#include "GlobalMemory.h"

#include <vector>

struct DibView {
    BITMAPINFOHEADER header{};
    std::vector<RGBQUAD> palette;
    std::vector<unsigned char> pixels;   // bottom-up as stored
    size_t stride = 0;
    size_t blockSize = 0;

    explicit DibView(DibHandle dib)
    {
        if (!dib)
            return;
        GlobalLockGuard<unsigned char> data(dib);
        blockSize = GlobalSize(dib);
        header = *reinterpret_cast<const BITMAPINFOHEADER*>(data.get());
        const unsigned n = dibColorCount(data.get());
        auto table = reinterpret_cast<const RGBQUAD*>(data.get() + header.biSize);
        palette.assign(table, table + n);
        stride = size_t(dibRowBytes(header.biBitCount, header.biWidth));
        const unsigned char* p = dibPixels(data.get());
        pixels.assign(p, p + stride * size_t(header.biHeight));
    }
    // Byte `x` of image row `row` (counted from the top).
    unsigned char byteAt(int row, size_t x) const { return pixels[(header.biHeight - 1 - row) * stride + x]; }
    // The blue, green, red bytes of a 24-bit pixel as 0xRRGGBB.
    unsigned rgbAt(int row, int x) const
    {
        const unsigned char* p = &pixels[(header.biHeight - 1 - row) * stride + 3 * x];
        return unsigned(p[2]) << 16 | unsigned(p[1]) << 8 | p[0];
    }
    unsigned paletteRgb(unsigned i) const
    {
        return unsigned(palette[i].rgbRed) << 16 | unsigned(palette[i].rgbGreen) << 8 | palette[i].rgbBlue;
    }
};

// Frees a DIB at the end of a test.
struct DibOwner {
    DibHandle dib;
    explicit DibOwner(DibHandle d) : dib(d) {}
    ~DibOwner() { if (dib) GlobalFree(dib); }
    DibOwner(const DibOwner&) = delete;
    DibOwner& operator=(const DibOwner&) = delete;
};
