// Drawing DIBs and resource bitmaps.
#include "Dib.h"

#include "GlobalMemory.h"

int paintDibRect(HDC dc, const RECT& destRect, DibHandle dib, const RECT& srcRect, HPALETTE palette)
{
    if (!dib)
        return 0;
    GlobalLockGuard<unsigned char> data(dib);
    if (!data)
        return 0;
    auto info = reinterpret_cast<const BITMAPINFO*>(data.get());
    const unsigned char* pixels = dibPixels(data.get());

    HPALETTE previous = nullptr;
    if (palette) {
        previous = SelectPalette(dc, palette, TRUE);
        RealizePalette(dc);
    }
    SetStretchBltMode(dc, COLORONCOLOR);

    const int destWidth = destRect.right - destRect.left, destHeight = destRect.bottom - destRect.top;
    const int srcWidth = srcRect.right - srcRect.left, srcHeight = srcRect.bottom - srcRect.top;
    int lines;
    if (destWidth == srcWidth && destHeight == srcHeight) {
        const int height = dibHeight(data.get());
        lines = SetDIBitsToDevice(dc, destRect.left, destRect.top, destWidth, destHeight, srcRect.left,
                                  height - srcRect.bottom, 0, height, pixels, info, DIB_RGB_COLORS);
    } else {
        lines = StretchDIBits(dc, destRect.left, destRect.top, destWidth, destHeight, srcRect.left,
                              srcRect.top, srcWidth, srcHeight, pixels, info, DIB_RGB_COLORS, SRCCOPY);
    }
    data.unlock();
    if (previous)
        SelectPalette(dc, previous, FALSE);
    return lines;
}

void blitWithWhiteTransparent(HDC dc, HBITMAP bitmap, HBITMAP mask, const RECT& destRect)
{
    HDC imageDc = CreateCompatibleDC(dc);
    HGDIOBJ oldImage = SelectObject(imageDc, bitmap);
    POINT size = {destRect.right - destRect.left, destRect.bottom - destRect.top};
    DPtoLP(imageDc, &size, 1);

    HDC maskDc = CreateCompatibleDC(dc);
    HBITMAP madeMask = nullptr;
    if (!mask) {
        madeMask = CreateBitmap(size.x, size.y, 1, 1, nullptr);
        mask = madeMask;
    }
    HGDIOBJ oldMask = SelectObject(maskDc, mask);
    if (madeMask) {
        // Colour to monochrome: the background colour (white) becomes 1, all
        // else 0; inverted, the mask is 1 exactly where the bitmap is not white.
        SetBkColor(imageDc, RGB(255, 255, 255));
        BitBlt(maskDc, 0, 0, size.x, size.y, imageDc, 0, 0, NOTSRCCOPY);
    }

    SetStretchBltMode(dc, COLORONCOLOR);
    BitBlt(dc, destRect.left, destRect.top, size.x, size.y, maskDc, 0, 0, SRCPAINT);
    BitBlt(dc, destRect.left, destRect.top, size.x, size.y, imageDc, 0, 0, SRCAND);

    SelectObject(maskDc, oldMask);
    if (madeMask)
        DeleteObject(madeMask);
    SelectObject(imageDc, oldImage);
    DeleteDC(maskDc);
    DeleteDC(imageDc);
}

HBITMAP loadBitmapResourceWithPalette(HINSTANCE instance, UINT resourceId, HPALETTE& palette)
{
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(2));
    if (!found)
        return nullptr;
    HGLOBAL resource = LoadResource(instance, found);
    auto info = resource ? static_cast<const BITMAPINFOHEADER*>(LockResource(resource)) : nullptr;
    if (!info)
        return nullptr;

    HDC screen = GetDC(nullptr);
    int colourCount = 0;
    palette = makePaletteFromInfo(info, colourCount);
    HPALETTE previous = nullptr;
    if (palette) {
        previous = SelectPalette(screen, palette, FALSE);
        RealizePalette(screen);
    }
    const unsigned char* bits = reinterpret_cast<const unsigned char*>(info) + info->biSize + colourCount * sizeof(RGBQUAD);
    HBITMAP bitmap = CreateDIBitmap(screen, info, CBM_INIT, bits, reinterpret_cast<const BITMAPINFO*>(info),
                                    DIB_RGB_COLORS);
    if (previous)
        SelectPalette(screen, previous, FALSE);
    ReleaseDC(nullptr, screen);
    FreeResource(resource);
    return bitmap;
}
