#include "BmpFileQuantizer.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr uint32_t kPixelOffset = 14 + 40 + 256 * 4;   // 1078
constexpr uint64_t kMaxFileBytes = 0xFFFFFFFF;         // the BMP size field is 32 bits

bool seekTo(FILE* file, uint32_t offset)
{
    return fseeko64(file, off64_t(offset), SEEK_SET) == 0;
}
}

BmpFileQuantizer::~BmpFileQuantizer()
{
    releaseBuffers();
}

void BmpFileQuantizer::releaseBuffers()
{
    std::free(inRow);
    std::free(outRow);
    inRow = outRow = nullptr;
}

bool BmpFileQuantizer::readPixel(int32_t x, int32_t, uint8_t rgb[3])
{
    if (x == 0 && std::fread(inRow, 1, inRowBytes, inFile) != inRowBytes)
        return false;
    const uint8_t* p = inRow + 3 * size_t(x);   // blue, green, red in the file
    rgb[0] = p[2];
    rgb[1] = p[1];
    rgb[2] = p[0];
    return true;
}

bool BmpFileQuantizer::writePixel(int32_t x, int32_t, uint8_t index)
{
    outRow[x] = index;
    if (x == width - 1)
        return std::fwrite(outRow, 1, outRowBytes, outFile) == outRowBytes;
    return true;
}

void BmpFileQuantizer::buildPalette()
{
    colorCount += assignPalette(colorCount);
    for (int32_t i = 0; i < colorCount && i < 256; ++i)
        colorTable[i] = RGBQUAD{palette[i].blue, palette[i].green, palette[i].red, 0};
}

bool BmpFileQuantizer::mapImage()
{
    if (!seekTo(inFile, pixelOffset))
        return false;
    uint8_t rgb[3];
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (!readPixel(x, y, rgb) || !writePixel(x, y, mapColor(rgb)))
                return false;
        }
    }
    return true;
}

bool BmpFileQuantizer::quantizeFile(const char* in, const char* out)
{
    inPath = in;
    outPath = out;
    if (std::strcmp(in, out) == 0)
        return false;   // never read and write one file

    bool ok = true;
    inFile = std::fopen(in, "rb");
    ok = inFile != nullptr;
    if (ok) {
        outFile = std::fopen(out, "wb");
        ok = outFile != nullptr;
    }
    ok = ok && std::fread(&fileHeader, 1, sizeof fileHeader, inFile) == sizeof fileHeader &&
         fileHeader.bfType == ('B' | 'M' << 8);
    ok = ok && std::fread(&infoHeader, 1, sizeof infoHeader, inFile) == sizeof infoHeader;
    ok = ok && infoHeader.biBitCount == 24;

    pixelOffset = fileHeader.bfOffBits;
    width = infoHeader.biWidth;
    // Rows are counted whatever their order; a top-down file stays top-down.
    height = infoHeader.biHeight < 0 ? -infoHeader.biHeight : infoHeader.biHeight;

    // The sizes come from the file: refuse what cannot be a real image, or
    // whose output would not fit the format's 32-bit size field.
    const uint64_t in64 = (uint64_t(width > 0 ? width : 0) * 3 + 3) / 4 * 4;
    const uint64_t out64 = (uint64_t(width > 0 ? width : 0) + 3) / 4 * 4;
    ok = ok && width > 0 && height > 0 && infoHeader.biHeight != INT32_MIN &&
         kPixelOffset + out64 * uint64_t(height) <= kMaxFileBytes && in64 <= 0xFFFFFFFF;
    if (maxColors > 256)
        maxColors = 256;   // the palette has 256 entries

    if (ok) {
        inRowBytes = uint32_t(in64);
        outRowBytes = uint32_t(out64);
        inRow = static_cast<uint8_t*>(std::malloc(inRowBytes));
        outRow = static_cast<uint8_t*>(std::calloc(outRowBytes, 1));
        ok = inRow && outRow && seekTo(inFile, pixelOffset) && buildTree();
        if (ok) {
            std::fputs("Initializing color palette ...\n", stderr);
            buildPalette();
        }
    }

    fileHeader.bfOffBits = kPixelOffset;
    fileHeader.bfSize = DWORD(kPixelOffset + uint64_t(outRowBytes) * uint32_t(height));
    if (ok)
        ok = std::fwrite(&fileHeader, 1, sizeof fileHeader, outFile) == sizeof fileHeader;

    infoHeader.biSize = sizeof infoHeader;   // what is written is the 40-byte form
    infoHeader.biClrImportant = DWORD(colorCount);
    infoHeader.biBitCount = 8;
    infoHeader.biClrUsed = 256;
    infoHeader.biSizeImage = DWORD(uint64_t(outRowBytes) * uint32_t(height));

    if (ok) {
        ok = std::fwrite(&infoHeader, 1, sizeof infoHeader, outFile) == sizeof infoHeader &&
             std::fwrite(colorTable, 1, sizeof colorTable, outFile) == sizeof colorTable;
        if (ok) {
            std::fputs("Mapping colors to 8-bit palette ...\n", stderr);
            ok = mapImage();
            std::fputs("\nColor quantization complete\n", stderr);
        }
    }

    if (inFile)
        std::fclose(inFile);
    if (outFile) {
        ok = std::fclose(outFile) == 0 && ok;   // a failed flush is a failed run too
        if (!ok)
            std::remove(out);
    }
    inFile = outFile = nullptr;
    releaseBuffers();
    freeTree();
    return ok;
}
