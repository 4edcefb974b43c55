// Creating, measuring and making palettes from DIBs.
#include "Dib.h"

#include "GlobalMemory.h"

#include <cstring>

namespace {
bool isCoreHeader(const void* dib)
{
    return static_cast<const BITMAPINFOHEADER*>(dib)->biSize == sizeof(BITMAPCOREHEADER);
}
}

uint64_t dibRowBytes(uint32_t bitCount, int64_t width)
{
    return (uint64_t(bitCount) * uint64_t(width) + 31) / 32 * 4;
}

DibHandle createEmptyDib(int32_t width, int32_t height, uint32_t rowBytes, uint16_t bitCount,
                         int32_t pelsPerMeter)
{
    if (width < 0 || height < 0)
        return nullptr;
    const uint64_t stride = (uint64_t(rowBytes) + 3) / 4 * 4;
    const uint64_t colours = bitCount <= 8 ? (uint64_t(1) << bitCount) : 0;
    const uint64_t imageBytes = stride * uint64_t(height);
    const uint64_t total = sizeof(BITMAPINFOHEADER) + 4 * colours + imageBytes;
    if (total > kMaxDibBlockBytes)
        return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, SIZE_T(total));
    if (!block)
        return nullptr;
    GlobalLockGuard<BITMAPINFOHEADER> header(block);
    if (!header) {
        GlobalFree(block);
        return nullptr;
    }
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = bitCount;
    header->biCompression = BI_RGB;
    header->biSizeImage = DWORD(imageBytes);
    header->biXPelsPerMeter = pelsPerMeter;
    header->biYPelsPerMeter = pelsPerMeter;
    header->biClrUsed = 0;
    header->biClrImportant = 0;
    return block;
}

int32_t dibWidth(const void* dib)
{
    if (isCoreHeader(dib))
        return static_cast<const BITMAPCOREHEADER*>(dib)->bcWidth;
    return static_cast<const BITMAPINFOHEADER*>(dib)->biWidth;
}

int32_t dibHeight(const void* dib)
{
    if (isCoreHeader(dib))
        return static_cast<const BITMAPCOREHEADER*>(dib)->bcHeight;
    return static_cast<const BITMAPINFOHEADER*>(dib)->biHeight;
}

uint16_t dibColorCount(const void* dib)
{
    uint16_t bitCount;
    if (isCoreHeader(dib)) {
        bitCount = static_cast<const BITMAPCOREHEADER*>(dib)->bcBitCount;
    } else {
        auto info = static_cast<const BITMAPINFOHEADER*>(dib);
        if (info->biClrUsed != 0)
            return uint16_t(info->biClrUsed);
        bitCount = info->biBitCount;
    }
    switch (bitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

uint32_t dibPaletteBytes(const void* dib)
{
    return uint32_t(dibColorCount(dib)) * (isCoreHeader(dib) ? sizeof(RGBTRIPLE) : sizeof(RGBQUAD));
}

unsigned char* dibPixels(void* dib)
{
    return static_cast<unsigned char*>(dib) + *static_cast<const DWORD*>(dib) + dibPaletteBytes(dib);
}

const unsigned char* dibPixels(const void* dib)
{
    return dibPixels(const_cast<void*>(dib));
}

namespace {
// A logical palette of `count` entries filled by `entryAt(i)`.
template <class EntryAt>
HPALETTE createPalette(unsigned count, EntryAt entryAt)
{
    GlobalBlock block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY)));
    if (!block)
        return nullptr;
    GlobalLockGuard<LOGPALETTE> logical(block.get());
    if (!logical)
        return nullptr;
    logical->palVersion = 0x300;
    logical->palNumEntries = WORD(count);
    for (unsigned i = 0; i < count; ++i)
        logical->palPalEntry[i] = entryAt(i);
    return CreatePalette(logical.get());
}
}

HPALETTE makeDibPalette(DibHandle dib)
{
    if (!dib)
        return nullptr;
    GlobalLockGuard<unsigned char> data(dib);
    if (!data)
        return nullptr;
    const unsigned count = dibColorCount(data.get());
    if (count == 0)
        return nullptr;
    const bool core = isCoreHeader(data.get());
    const unsigned char* table = data.get() + *reinterpret_cast<const DWORD*>(data.get());
    return createPalette(count, [&](unsigned i) {
        const unsigned char* e = table + i * (core ? 3 : 4);   // blue, green, red
        return PALETTEENTRY{e[2], e[1], e[0], 0};
    });
}

HPALETTE makePaletteFromInfo(const BITMAPINFOHEADER* info, int& colourCount)
{
    colourCount = info->biBitCount <= 8 ? (1 << info->biBitCount) : 0;
    if (colourCount == 0)
        return nullptr;
    auto table = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const unsigned char*>(info) + info->biSize);
    return createPalette(unsigned(colourCount), [&](unsigned i) {
        return PALETTEENTRY{table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
    });
}
