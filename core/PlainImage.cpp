#include "PlainImage.h"

#include <cstring>

#include <new>

bool PlainImage::allocate(uint32_t w, uint32_t h, uint16_t bitsPerPixel, uint32_t bytes, int32_t resolution)
{
    pixels.clear();
    pixels.shrink_to_fit();
    palette.clear();
    width = height = 0;
    if (w > 0x7FFFFFFF || h > 0x7FFFFFFF || uint64_t(bytes) * h > kMaxBytes)
        return false;
    try {
        pixels.assign(size_t(bytes) * h, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    width = int32_t(w);
    height = int32_t(h);
    bits = bitsPerPixel == 24 && layout == ColourLayout::Rgba32 ? 32 : bitsPerPixel;
    rowBytes = bytes;
    pixelsPerMetre = resolution;
    if (bits == 32) {
        // Black is opaque: every pixel's fourth byte 255, written a word at a
        // time (a byte loop over the vector reloads its end at every store).
        const uint8_t black[4] = {0, 0, 0, 255};
        uint32_t word;
        std::memcpy(&word, black, 4);
        uint8_t* at = pixels.data();
        for (size_t words = pixels.size() / 4; words > 0; --words, at += 4)
            std::memcpy(at, &word, 4);
    }
    return true;
}

void PlainImage::setPalette(const RgbColour* colours, uint32_t count)
{
    palette.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        palette[i] = rgbaWord(colours[i].red, colours[i].green, colours[i].blue);
}

unsigned PlainImage::darkIndex() const
{
    if (palette.size() < 2)
        return 0;
    auto luma = [](uint32_t c) { return 299 * (c & 0xFF) + 587 * (c >> 8 & 0xFF) + 114 * (c >> 16 & 0xFF); };
    return luma(palette[1]) < luma(palette[0]) ? 1 : 0;
}
