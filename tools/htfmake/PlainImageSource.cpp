#include "PlainImageSource.h"

#include <cstring>

PlainImageSource::PlainImageSource(const PlainImage& image) : image_(image)
{
    kind_.width = uint32_t(image.width), kind_.height = uint32_t(image.height);
    const bool colour = image.bits > 8;
    kind_.bits = colour ? 24 : image.bits;
    kind_.rowBytes = colour ? kind_.width * 3 : (kind_.width * image.bits + 7) / 8;
    kind_.palette = image.palette;
    kind_.pixelsPerMetre = image.pixelsPerMetre;
}

bool PlainImageSource::readRows(uint8_t* rows, uint32_t count, std::string& error)
{
    if (count > kind_.height - next_)
        return error = "read past the image's last row", false;
    const bool rgba = image_.bits == 32;
    const bool bgr = image_.bits == 24 && image_.layout == ImageTarget::ColourLayout::Bgr24;
    for (uint32_t k = 0; k < count; ++k, rows += kind_.rowBytes) {
        const uint8_t* in = image_.row(next_ + k);
        if (!kind_.colour()) {
            std::memcpy(rows, in, kind_.rowBytes);
        } else if (rgba || bgr) {
            const size_t step = rgba ? 4 : 3, red = bgr ? 2 : 0;
            for (uint32_t x = 0; x < kind_.width; ++x, in += step) {
                rows[3 * x] = in[red];
                rows[3 * x + 1] = in[1];
                rows[3 * x + 2] = in[2 - red];
            }
        } else {
            std::memcpy(rows, in, kind_.rowBytes);
        }
    }
    next_ += count;
    return true;
}
