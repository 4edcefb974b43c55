#pragma once
// The reader's image as a DIB in global memory: bottom-up rows padded to 4
// bytes, colour pixels blue-green-red, the palette as RGBQUADs. The core's
// decoder fills it row by row.
#include "Dib.h"
#include "ImageTarget.h"

class DibTarget : public ImageTarget {
public:
    DibTarget() = default;
    ~DibTarget() override;
    DibTarget(const DibTarget&) = delete;
    DibTarget& operator=(const DibTarget&) = delete;

    bool allocate(uint32_t width, uint32_t height, uint16_t bitsPerPixel, uint32_t rowBytes,
                  int32_t pixelsPerMetre) override;
    void setPalette(const RgbColour* colours, uint32_t count) override;
    uint8_t* row(uint32_t y) override { return pixels_ + size_t(height_ - 1 - y) * stride_; }
    ColourLayout colourLayout() const override { return ColourLayout::Bgr24; }

    // The DIB, now the caller's (null when none was made).
    DibHandle take();

private:
    void unlock();

    DibHandle dib_ = nullptr;
    unsigned char* data_ = nullptr;    // the locked block
    unsigned char* pixels_ = nullptr;
    size_t stride_ = 0;
    uint32_t height_ = 0;
    uint32_t colours_ = 0;
};
