#pragma once
// Where the reader puts a decoded image. The reader decides the kind (1-, 4-
// or 8-bit indexed with a palette, or colour) and the bytes of a row; the
// target decides where the rows live and in which order, so one decoder
// fills a Windows DIB (bottom-up rows, blue-green-red) as well as a plain
// top-down RGBA buffer for a canvas.
#include <cstdint>

struct RgbColour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
};

class ImageTarget {
public:
    // How a colour image's pixels are laid out in a row.
    enum class ColourLayout {
        Bgr24,    // 3 bytes a pixel: blue, green, red
        Rgba32,   // 4 bytes a pixel: red, green, blue, 255
        Rgb24,    // 3 bytes a pixel: red, green, blue (as 8-bit RGB files hold them)
    };

    virtual ~ImageTarget() = default;

    // Makes room for the image. `bitsPerPixel` is 1, 4 or 8 (indexed: a
    // palette follows) or 24 (colour, laid out as colourLayout() says);
    // `rowBytes` is what the reader writes into each row. Every pixel starts
    // black. False when there is no memory for it: the reader then stops.
    virtual bool allocate(uint32_t width, uint32_t height, uint16_t bitsPerPixel, uint32_t rowBytes,
                          int32_t pixelsPerMetre) = 0;
    // The colour table of an indexed image, `count` entries.
    virtual void setPalette(const RgbColour* colours, uint32_t count) = 0;
    // Row `y` counted from the top (0 <= y < height), at least rowBytes long.
    virtual uint8_t* row(uint32_t y) = 0;
    virtual ColourLayout colourLayout() const = 0;
};
