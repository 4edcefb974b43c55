#include "DibTarget.h"

DibTarget::~DibTarget()
{
    unlock();
    if (dib_)
        GlobalFree(dib_);
}

void DibTarget::unlock()
{
    if (data_)
        GlobalUnlock(dib_);
    data_ = pixels_ = nullptr;
}

bool DibTarget::allocate(uint32_t width, uint32_t height, uint16_t bits, uint32_t rowBytes, int32_t resolution)
{
    unlock();
    if (dib_)
        GlobalFree(dib_);
    dib_ = createEmptyDib(int32_t(width), int32_t(height), rowBytes, bits, resolution);
    if (!dib_)
        return false;
    data_ = static_cast<unsigned char*>(GlobalLock(dib_));
    if (!data_) {
        GlobalFree(dib_);
        dib_ = nullptr;
        return false;
    }
    pixels_ = dibPixels(data_);
    stride_ = (size_t(rowBytes) + 3) / 4 * 4;
    height_ = height;
    colours_ = bits <= 8 ? 1u << bits : 0;
    return true;
}

void DibTarget::setPalette(const RgbColour* colours, uint32_t count)
{
    if (!data_)
        return;
    auto* table = reinterpret_cast<RGBQUAD*>(data_ + sizeof(BITMAPINFOHEADER));
    for (uint32_t i = 0; i < count && i < colours_; ++i)
        table[i] = RGBQUAD{colours[i].blue, colours[i].green, colours[i].red, 0};
}

DibHandle DibTarget::take()
{
    unlock();
    DibHandle dib = dib_;
    dib_ = nullptr;
    return dib;
}
