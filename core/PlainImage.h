#pragma once
// A decoded image in plain memory, rows top-down without padding: 1-, 4- or
// 8-bit indices with a palette, or colour: RGBA (red, green, blue, 255), or
// 24-bit red, green, blue (or blue, green, red) where `layout` asks for it
// before the reader fills it (a quarter less memory). It is the reader's
// target where no platform bitmap is wanted.
#include "ImageTarget.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class PlainImage : public ImageTarget {
public:
    // Largest pixel block it takes (the wasm32 heap has 2 GiB in all).
    static constexpr uint64_t kMaxBytes = uint64_t(1) << 30;

    bool allocate(uint32_t width, uint32_t height, uint16_t bitsPerPixel, uint32_t rowBytes,
                  int32_t pixelsPerMetre) override;
    void setPalette(const RgbColour* colours, uint32_t count) override;
    uint8_t* row(uint32_t y) override { return pixels.data() + size_t(y) * rowBytes; }
    ColourLayout colourLayout() const override { return layout; }

    // Makes an empty image of the given kind (as allocate) for pixels that
    // are copied in afterwards; false without memory.
    bool make(uint32_t width, uint32_t height, uint16_t bitsPerPixel, uint32_t rowBytes)
    {
        return allocate(width, height, bitsPerPixel, rowBytes, 0);
    }
    const uint8_t* row(uint32_t y) const { return pixels.data() + size_t(y) * rowBytes; }
    // The palette index that reads darker in a two-colour image (0 or 1).
    unsigned darkIndex() const;

    int32_t width = 0;
    int32_t height = 0;
    uint16_t bits = 0;               // 1, 4, 8, 24 (as `layout` says) or 32 (RGBA)
    uint32_t rowBytes = 0;
    int32_t pixelsPerMetre = 0;
    std::vector<uint32_t> palette;   // RGBA as a little-endian word: red in the low byte
    std::vector<uint8_t> pixels;
    ColourLayout layout = ColourLayout::Rgba32;   // how colour comes in
};

// An RGBA word (red in the low byte, alpha 255).
inline uint32_t rgbaWord(uint8_t red, uint8_t green, uint8_t blue)
{
    return uint32_t(red) | uint32_t(green) << 8 | uint32_t(blue) << 16 | 0xFF000000u;
}
