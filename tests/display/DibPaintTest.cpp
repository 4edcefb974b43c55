#include "Dib.h"
#include "DibView.h"
#include "GlobalMemory.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A 24-bit memory drawing surface whose pixels are read back with GetPixel.
class Surface {
public:
    Surface(int w, int h, COLORREF fill)
    {
        HDC screen = GetDC(nullptr);
        dc_ = CreateCompatibleDC(screen);
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ReleaseDC(nullptr, screen);
        old_ = SelectObject(dc_, bitmap_);
        RECT all = {0, 0, w, h};
        HBRUSH brush = CreateSolidBrush(fill);
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
    }
    ~Surface()
    {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    COLORREF at(int x, int y) const { return GetPixel(dc_, x, y); }

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
};

// 2 x 3, 24-bit: top row red, middle green, bottom blue.
DibHandle stripes()
{
    DibHandle dib = createEmptyDib(2, 3, 6, 24, 0);
    GlobalLockGuard<unsigned char> d(dib);
    unsigned char* p = dibPixels(d.get());
    const unsigned char rows[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};   // blue, green, red; bottom first
    for (int r = 0; r < 3; ++r)
        for (int x = 0; x < 2; ++x)
            std::memcpy(p + r * 8 + 3 * x, rows[r], 3);
    return dib;
}

TEST(DibPaint, EqualSizesUseTheUnscaledCallWithRowsFromTheTop)
{
    DibOwner dib(stripes());
    Surface s(10, 10, RGB(9, 9, 9));
    const RECT src = {0, 0, 2, 1};    // the image's top row
    const RECT dest = {4, 4, 6, 5};
    EXPECT_GT(paintDibRect(s.dc(), dest, dib.dib, src, nullptr), 0);
    EXPECT_EQ(s.at(4, 4), RGB(255, 0, 0));
    EXPECT_EQ(s.at(5, 4), RGB(255, 0, 0));
    EXPECT_EQ(s.at(4, 5), RGB(9, 9, 9));   // nothing outside the destination
    EXPECT_EQ(s.at(3, 4), RGB(9, 9, 9));

    const RECT whole = {0, 0, 2, 3};
    const RECT at = {0, 0, 2, 3};
    paintDibRect(s.dc(), at, dib.dib, whole, nullptr);
    EXPECT_EQ(s.at(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(s.at(0, 1), RGB(0, 255, 0));
    EXPECT_EQ(s.at(1, 2), RGB(0, 0, 255));
}

TEST(DibPaint, DifferentSizesStretchWithRowsFromTheBottom)
{
    DibOwner dib(stripes());
    Surface s(10, 10, RGB(9, 9, 9));
    const RECT src = {0, 0, 2, 1};    // handed on unchanged: the DIB's bottom row
    const RECT dest = {0, 0, 4, 2};
    EXPECT_GT(paintDibRect(s.dc(), dest, dib.dib, src, nullptr), 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(s.at(x, y), RGB(0, 0, 255));
    EXPECT_EQ(s.at(4, 0), RGB(9, 9, 9));
}

TEST(DibPaint, PaletteDibAndNoDib)
{
    DibOwner dib(createEmptyDib(2, 1, 2, 8, 0));
    {
        GlobalLockGuard<unsigned char> d(dib.dib);
        reinterpret_cast<RGBQUAD*>(d.get() + 40)[7] = RGBQUAD{10, 20, 30, 0};
        dibPixels(d.get())[1] = 7;
    }
    HPALETTE palette = makeDibPalette(dib.dib);
    Surface s(4, 4, RGB(1, 1, 1));
    HPALETTE before = static_cast<HPALETTE>(GetCurrentObject(s.dc(), OBJ_PAL));
    const RECT r = {0, 0, 2, 1};
    EXPECT_GT(paintDibRect(s.dc(), r, dib.dib, r, palette), 0);
    EXPECT_EQ(s.at(1, 0), RGB(30, 20, 10));
    EXPECT_EQ(GetCurrentObject(s.dc(), OBJ_PAL), before) << "the previous palette is selected back";
    DeleteObject(palette);
    EXPECT_EQ(paintDibRect(s.dc(), r, nullptr, r, nullptr), 0);
}

TEST(DibPaint, WhiteIsTransparent)
{
    Surface target(4, 1, RGB(0, 0, 200));
    Surface source(4, 1, RGB(255, 255, 255));
    SetPixel(source.dc(), 1, 0, RGB(200, 0, 0));
    SetPixel(source.dc(), 3, 0, RGB(0, 0, 0));
    HBITMAP bitmap = static_cast<HBITMAP>(GetCurrentObject(source.dc(), OBJ_BITMAP));
    // The bitmap must not stay selected elsewhere while it is blitted.
    HBITMAP copy = static_cast<HBITMAP>(CopyImage(bitmap, IMAGE_BITMAP, 0, 0, 0));
    const RECT dest = {0, 0, 4, 1};
    blitWithWhiteTransparent(target.dc(), copy, nullptr, dest);
    EXPECT_EQ(target.at(0, 0), RGB(0, 0, 200));
    EXPECT_EQ(target.at(1, 0), RGB(200, 0, 0));
    EXPECT_EQ(target.at(2, 0), RGB(0, 0, 200));
    EXPECT_EQ(target.at(3, 0), RGB(0, 0, 0));

    // With a mask given, the mask alone decides: here only pixel 1 is drawn.
    Surface again(4, 1, RGB(0, 0, 200));
    const unsigned char maskBits[2] = {0x40, 0};   // 1 bit per pixel, rows padded to 16 bits
    HBITMAP mask = CreateBitmap(4, 1, 1, 1, maskBits);
    blitWithWhiteTransparent(again.dc(), copy, mask, dest);
    EXPECT_EQ(again.at(1, 0), RGB(200, 0, 0));
    EXPECT_EQ(again.at(3, 0), RGB(0, 0, 0)) << "black AND blue: the unmasked bitmap still ANDs";
    DeleteObject(mask);
    DeleteObject(copy);
}

TEST(DibPaint, BitmapResourceWithItsPalette)
{
    HPALETTE palette = reinterpret_cast<HPALETTE>(1);
    EXPECT_EQ(loadBitmapResourceWithPalette(GetModuleHandleA(nullptr), 999, palette), nullptr);
    EXPECT_EQ(palette, reinterpret_cast<HPALETTE>(1)) << "untouched when there is no resource";

    HBITMAP bitmap = loadBitmapResourceWithPalette(GetModuleHandleA(nullptr), 101, palette);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_NE(palette, nullptr);
    PALETTEENTRY entry;
    ASSERT_EQ(GetPaletteEntries(palette, 250, 1, &entry), 1u);
    EXPECT_EQ(entry.peRed, 5);
    EXPECT_EQ(entry.peGreen, 244);
    EXPECT_EQ(entry.peBlue, 250);
    BITMAP info;
    GetObject(bitmap, sizeof info, &info);
    EXPECT_EQ(info.bmWidth, 4);
    EXPECT_EQ(info.bmHeight, 2);

    Surface s(4, 2, 0);
    HDC memory = CreateCompatibleDC(s.dc());
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(s.dc(), 0, 0, 4, 2, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    EXPECT_EQ(s.at(0, 0), RGB(254, 2, 1));     // top row: indices 1..4
    EXPECT_EQ(s.at(3, 1), RGB(2, 250, 253));   // bottom row: index 253
    DeleteObject(bitmap);
    DeleteObject(palette);
}

} // namespace
