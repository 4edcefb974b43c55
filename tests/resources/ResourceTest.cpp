// Checks the cursors and pictures compiled into ROZERADO.DLL: each loads from
// the built module with the size, depth and hot spot its users rely on, and
// the pixels have the properties the drawing code depends on (transparent
// cursor pixels leave the screen alone, the lens masks nest, the toolbar
// cells sit on the toolbar's grey).
#include "ResourceIds.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

std::string dllPath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of("\\/") + 1) + "ROZERADO.DLL";
}

// The module, mapped as data only: no DllMain, no settings read.
class ResourceModule : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module = LoadLibraryExA(dllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE); }
    static void TearDownTestSuite()
    {
        if (module)
            FreeLibrary(module);
        module = nullptr;
    }
    void SetUp() override { ASSERT_NE(module, nullptr) << "cannot load " << dllPath(); }

    // The bytes of a resource, or an empty range.
    static std::pair<const unsigned char*, DWORD> bytes(LPCSTR id, LPCSTR type)
    {
        HRSRC found = FindResourceA(module, id, type);
        HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
        auto data = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
        return {data, data ? SizeofResource(module, found) : 0};
    }

    static HMODULE module;
};
HMODULE ResourceModule::module = nullptr;

// Pixels of a packed DIB (information header, full colour table, bottom-up
// rows), addressed with row 0 at the top.
struct PackedDib {
    const BITMAPINFOHEADER* header = nullptr;
    const RGBQUAD* table = nullptr;
    const unsigned char* bits = nullptr;
    int width = 0, height = 0;
    size_t stride = 0;

    // Fails the test and stays empty when the block is too small for what
    // its header describes.
    PackedDib(const unsigned char* data, size_t size, int heightScale = 1)
    {
        if (!data || size < sizeof(BITMAPINFOHEADER)) {
            ADD_FAILURE() << "no bitmap data";
            return;
        }
        auto h = reinterpret_cast<const BITMAPINFOHEADER*>(data);
        const int bitCount = h->biBitCount;
        const size_t colours = bitCount <= 8 ? size_t(1) << bitCount : 0;
        const size_t rowBytes = ((size_t(h->biWidth) * bitCount + 31) / 32) * 4;
        const int rows = h->biHeight / heightScale;
        if (h->biSize != sizeof(BITMAPINFOHEADER) || h->biWidth <= 0 || rows <= 0 || h->biCompression != BI_RGB
            || h->biSize + colours * 4 + rowBytes * size_t(rows) > size) {
            ADD_FAILURE() << "bitmap header does not fit its data";
            return;
        }
        header = h;
        table = reinterpret_cast<const RGBQUAD*>(data + h->biSize);
        bits = data + h->biSize + colours * 4;
        width = h->biWidth;
        height = rows;
        stride = rowBytes;
    }
    bool valid() const { return header != nullptr; }
    unsigned index(int x, int y) const
    {
        const int bitCount = header->biBitCount;
        const unsigned char byte = bits[size_t(height - 1 - y) * stride + size_t(x) * bitCount / 8];
        const int shift = 8 - bitCount - (x * bitCount) % 8;
        return (byte >> shift) & ((1u << bitCount) - 1);
    }
    COLORREF colour(int x, int y) const
    {
        const RGBQUAD& q = table[index(x, y)];
        return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
};

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kToolbarGrey = RGB(192, 192, 192);

// ---------------------------------------------------------------------------
// Cursors

struct CursorCase {
    int id;
    int hotX, hotY;
    bool hotSpotAtTop;   // a fingertip: the hot spot is at the top of the picture
};
const CursorCase kCursors[] = {
    {IDC_MAGNIFIER, 8, 8, false},
    {IDC_OPEN_HAND, 12, 1, true},
    {IDC_POINTING_HAND, 12, 1, true},
    {IDC_GLOBE_HAND, 13, 3, true},
};

TEST_F(ResourceModule, CursorsLoadWithTheirHotSpots)
{
    for (const CursorCase& c : kCursors) {
        SCOPED_TRACE(c.id);
        HCURSOR cursor = LoadCursorA(module, MAKEINTRESOURCEA(c.id));
        ASSERT_NE(cursor, nullptr);
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(cursor, &info));
        EXPECT_FALSE(info.fIcon);
        EXPECT_EQ(int(info.xHotspot), c.hotX);
        EXPECT_EQ(int(info.yHotspot), c.hotY);
        BITMAP mask = {};
        GetObjectA(info.hbmMask, sizeof mask, &mask);
        EXPECT_EQ(mask.bmWidth, 32);
        EXPECT_EQ(mask.bmHeight, info.hbmColor ? 32 : 64);   // a colourless cursor stacks both masks
        DeleteObject(info.hbmMask);
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        DestroyCursor(cursor);
    }
}

TEST_F(ResourceModule, CursorImagesAre16ColoursWithTransparencyOutsideThePicture)
{
    for (const CursorCase& c : kCursors) {
        SCOPED_TRACE(c.id);
        auto group = bytes(MAKEINTRESOURCEA(c.id), MAKEINTRESOURCEA(12));   // RT_GROUP_CURSOR
        ASSERT_NE(group.first, nullptr);
        const int imageId = LookupIconIdFromDirectoryEx(const_cast<PBYTE>(group.first), FALSE, 32, 32, 0);
        auto image = bytes(MAKEINTRESOURCEA(imageId), MAKEINTRESOURCEA(1));   // RT_CURSOR
        ASSERT_GT(image.second, 4u);
        // A cursor image starts with its hot spot, then the stacked XOR and AND bitmaps.
        auto hot = reinterpret_cast<const WORD*>(image.first);
        EXPECT_EQ(hot[0], c.hotX);
        EXPECT_EQ(hot[1], c.hotY);
        PackedDib xorImage(image.first + 4, image.second - 4, 2);
        ASSERT_TRUE(xorImage.valid());
        EXPECT_EQ(xorImage.width, 32);
        EXPECT_EQ(xorImage.height, 32);
        EXPECT_EQ(xorImage.header->biBitCount, 4);
        const size_t andStride = 4, andOffset = xorImage.stride * 32;
        ASSERT_LE(size_t(xorImage.bits - image.first) + andOffset + andStride * 32, image.second);
        auto transparent = [&](int x, int y) {
            return (xorImage.bits[andOffset + size_t(31 - y) * andStride + x / 8] >> (7 - x % 8)) & 1;
        };

        int opaque = 0, top = 32, left = 32, right = -1, bottom = -1;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                if (transparent(x, y)) {
                    // Any colour but black would invert or tint the screen there.
                    ASSERT_EQ(xorImage.colour(x, y), RGB(0, 0, 0)) << x << "," << y;
                    continue;
                }
                ++opaque;
                top = std::min(top, y), bottom = std::max(bottom, y);
                left = std::min(left, x), right = std::max(right, x);
            }
        EXPECT_GT(opaque, 100);          // a picture, not a few dots
        EXPECT_LT(opaque, 32 * 32 * 3 / 4);   // and not a block
        EXPECT_TRUE(transparent(0, 0) && transparent(0, 31) && transparent(31, 31));
        EXPECT_GE(c.hotX, left);
        EXPECT_LE(c.hotX, right);
        EXPECT_GE(c.hotY, top);
        EXPECT_LE(c.hotY, bottom);
        if (c.hotSpotAtTop) {
            // The fingertip: opaque, and the picture's top in its column is just above.
            EXPECT_FALSE(transparent(c.hotX, c.hotY));
            int columnTop = 0;
            while (columnTop < 32 && transparent(c.hotX, columnTop))
                ++columnTop;
            EXPECT_LE(c.hotY - columnTop, 2);
        }
    }
}

// ---------------------------------------------------------------------------
// Bitmaps

struct BitmapCase {
    int id;
    int width, height, bitCount;
};
const BitmapCase kBitmaps[] = {
    {IDB_TOOLBOX, 16, 16, 4},
    {IDB_TOOLBAR, 240, 24, 4},
    {IDB_LENS_FRAME, 238, 171, 4},
    {IDB_LENS_MASK, 238, 171, 1},
    {IDB_VIEW_MASK, 238, 171, 1},
};

TEST_F(ResourceModule, BitmapsHaveTheirSizeAndDepth)
{
    for (const BitmapCase& c : kBitmaps) {
        SCOPED_TRACE(c.id);
        auto data = bytes(MAKEINTRESOURCEA(c.id), MAKEINTRESOURCEA(2));   // RT_BITMAP
        PackedDib dib(data.first, data.second);
        ASSERT_TRUE(dib.valid());
        EXPECT_EQ(dib.width, c.width);
        EXPECT_EQ(dib.height, c.height);
        EXPECT_EQ(dib.header->biBitCount, c.bitCount);
        // The module's loader expects the full colour table.
        EXPECT_TRUE(dib.header->biClrUsed == 0 || dib.header->biClrUsed == 1u << c.bitCount);

        HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(c.id));
        ASSERT_NE(bitmap, nullptr);
        BITMAP object = {};
        GetObjectA(bitmap, sizeof object, &object);
        EXPECT_EQ(object.bmWidth, c.width);
        EXPECT_EQ(object.bmHeight, c.height);
        DeleteObject(bitmap);
    }
}

TEST_F(ResourceModule, LensMasksNestAndTheFramePictureIsWhiteWhereContentShows)
{
    auto frameData = bytes(MAKEINTRESOURCEA(IDB_LENS_FRAME), MAKEINTRESOURCEA(2));
    auto lensData = bytes(MAKEINTRESOURCEA(IDB_LENS_MASK), MAKEINTRESOURCEA(2));
    auto viewData = bytes(MAKEINTRESOURCEA(IDB_VIEW_MASK), MAKEINTRESOURCEA(2));
    PackedDib frame(frameData.first, frameData.second), lens(lensData.first, lensData.second),
        view(viewData.first, viewData.second);
    ASSERT_TRUE(frame.valid() && lens.valid() && view.valid());
    ASSERT_TRUE(frame.width == 238 && lens.width == 238 && view.width == 238);
    ASSERT_TRUE(frame.height == 171 && lens.height == 171 && view.height == 171);
    for (const PackedDib* mask : {&lens, &view}) {
        EXPECT_EQ(RGB(mask->table[0].rgbRed, mask->table[0].rgbGreen, mask->table[0].rgbBlue), RGB(0, 0, 0));
        EXPECT_EQ(RGB(mask->table[1].rgbRed, mask->table[1].rgbGreen, mask->table[1].rgbBlue), kWhite);
    }

    for (int y = 0; y < 171; ++y)
        for (int x = 0; x < 238; ++x) {
            const bool inLens = lens.colour(x, y) == kWhite, inView = view.colour(x, y) == kWhite;
            ASSERT_TRUE(inLens || !inView) << "view area outside the lens at " << x << "," << y;
            // Outside the lens the frame picture must leave the target alone;
            // in the viewing area it must let the magnified content through.
            if (!inLens || inView) {
                ASSERT_EQ(frame.colour(x, y), kWhite) << x << "," << y;
            }
        }

    // The pointer sits in the viewing area; the rounded corners are outside the lens.
    EXPECT_EQ(view.colour(116, 80), kWhite);
    for (POINT corner : {POINT{0, 0}, POINT{237, 0}, POINT{0, 170}, POINT{237, 170}})
        EXPECT_NE(lens.colour(corner.x, corner.y), kWhite) << corner.x << "," << corner.y;

    // Around the pointer, the viewing area reaches about equally far in each
    // direction, and a drawn frame surrounds it.
    int viewLeft = 116, viewRight = 116, viewTop = 80, viewBottom = 80;
    while (viewLeft > 0 && view.colour(viewLeft - 1, 80) == kWhite) --viewLeft;
    while (viewRight < 237 && view.colour(viewRight + 1, 80) == kWhite) ++viewRight;
    while (viewTop > 0 && view.colour(116, viewTop - 1) == kWhite) --viewTop;
    while (viewBottom < 170 && view.colour(116, viewBottom + 1) == kWhite) ++viewBottom;
    EXPECT_LE(std::abs((116 - viewLeft) - (viewRight - 116)), 6);
    EXPECT_LE(std::abs((80 - viewTop) - (viewBottom - 80)), 6);
    EXPECT_GT(viewRight - viewLeft, 150);
    EXPECT_GT(viewBottom - viewTop, 100);
    for (int x = 0; x < viewLeft; ++x)
        if (lens.colour(x, 80) == kWhite) {
            EXPECT_NE(frame.colour(x, 80), kWhite) << "gap in the frame at " << x << ",80";
        }
    for (int y = 0; y < viewTop; ++y)
        if (lens.colour(116, y) == kWhite) {
            EXPECT_NE(frame.colour(116, y), kWhite) << "gap in the frame at 116," << y;
        }
}

TEST_F(ResourceModule, ToolbarCellsArePicturesOnGrey)
{
    auto data = bytes(MAKEINTRESOURCEA(IDB_TOOLBAR), MAKEINTRESOURCEA(2));
    PackedDib strip(data.first, data.second);
    ASSERT_TRUE(strip.valid());
    ASSERT_EQ(strip.width, 240);
    ASSERT_EQ(strip.height, 24);
    for (int cell = 0; cell < 10; ++cell) {
        SCOPED_TRACE(cell);
        const int left = cell * 24;
        for (POINT p : {POINT{0, 0}, POINT{23, 0}, POINT{0, 23}, POINT{23, 23}})
            EXPECT_EQ(strip.colour(left + p.x, p.y), kToolbarGrey) << p.x << "," << p.y;
        int drawn = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x)
                drawn += strip.colour(left + x, y) != kToolbarGrey;
        EXPECT_GT(drawn, 40);
    }
}

}   // namespace
