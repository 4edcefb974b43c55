#pragma once
// Reduces a 24-bit uncompressed BMP file to an 8-bit BMP file whose palette
// holds at most `maxColors` colours (set it before quantizeFile). No
// dithering. Progress lines go to the standard error stream.
#include "OctreeQuantizer.h"

#include <windows.h>

#include <cstdio>
#include <string>

class BmpFileQuantizer : public OctreeQuantizer {
public:
    BmpFileQuantizer() = default;
    ~BmpFileQuantizer() override;

    // True when the output file was written whole. A failed run leaves no
    // output file, except when both names are equal (then nothing is touched).
    bool quantizeFile(const char* inPath, const char* outPath);

    bool readPixel(int32_t x, int32_t y, uint8_t rgb[3]) override;
    bool writePixel(int32_t x, int32_t y, uint8_t index) override;
    bool mapImage() override;
    void buildPalette() override;

    std::string inPath;
    std::string outPath;
    int32_t colorCount = 0;
    uint32_t inRowBytes = 0;
    uint32_t outRowBytes = 0;
    uint8_t* inRow = nullptr;
    uint8_t* outRow = nullptr;
    BITMAPFILEHEADER fileHeader = {};
    BITMAPINFOHEADER infoHeader = {};
    RGBQUAD colorTable[256] = {};
    uint32_t pixelOffset = 0;
    FILE* inFile = nullptr;
    FILE* outFile = nullptr;

private:
    void releaseBuffers();
};
