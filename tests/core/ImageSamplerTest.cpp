// The portable image sampler against the Windows viewer's tile renderer:
// the same document at the same scale gives the same pixels, bilevel
// drawings shrunk far (through the reduced plane) included.
#include "DialogWatcher.h"
#include "HtfDocument.h"
#include "HtfReader.h"
#include "ImageRenderer.h"
#include "ImageSampler.h"
#include "PlainImage.h"
#include "TempDir.h"
#include "TiffFixture.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <functional>

namespace {

// A 32-bit top-down bitmap to draw into.
class Surface {
public:
    Surface(int width, int height) : width_(width), height_(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        previous_ = SelectObject(dc_, bitmap_);
    }
    ~Surface()
    {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    // 0xRRGGBB of pixel (x, y).
    unsigned at(int x, int y) const
    {
        GdiFlush();
        return bits_[size_t(y) * size_t(width_) + size_t(x)] & 0xFFFFFF;
    }

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
};

unsigned rgbOf(uint32_t rgba)
{
    return (rgba & 0xFF) << 16 | (rgba & 0xFF00) | (rgba >> 16 & 0xFF);
}

TiffFixture bilevelDrawing(uint32_t w, uint32_t h)
{
    TiffFixture f;
    f.width = w, f.height = h, f.bitsPerSample = 1, f.photometric = PHOTOMETRIC_MINISWHITE;
    f.compression = COMPRESSION_CCITTFAX4;
    const uint32_t scan = (w + 7) / 8;
    f.pixels.assign(size_t(scan) * h, 0);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            if (x % 97 == 0 || y % 89 == 0 || (x + 3 * y) % 211 == 0)
                f.pixels[size_t(y) * scan + x / 8] |= uint8_t(0x80 >> (x % 8));
    return f;
}

TiffFixture indexed(uint32_t w, uint32_t h, uint16_t bits)
{
    TiffFixture f;
    f.width = w, f.height = h, f.bitsPerSample = bits, f.photometric = PHOTOMETRIC_PALETTE;
    f.pixels.resize(size_t(fixtureScanlineBytes(f)) * h);
    for (size_t i = 0; i < f.pixels.size(); ++i)
        f.pixels[i] = uint8_t(i * 13 + i / 31);
    const size_t n = size_t(1) << bits;
    f.colorMap.resize(3 * n);
    for (size_t i = 0; i < 3 * n; ++i)
        f.colorMap[i] = uint16_t(i * 4099);
    return f;
}

TiffFixture rgb(uint32_t w, uint32_t h)
{
    TiffFixture f;
    f.width = w, f.height = h, f.photometric = PHOTOMETRIC_RGB, f.samplesPerPixel = 3;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            f.pixels.insert(f.pixels.end(), {uint8_t(x * 7), uint8_t(y * 3), uint8_t(x ^ y)});
    return f;
}

TEST(ImageSampler, DrawsWhatTheViewersRendererDraws)
{
    struct Case {
        const char* name;
        std::function<TiffFixture()> make;
        std::vector<std::pair<int, int>> scaled;   // scaled sizes
    } cases[] = {
        {"bilevel drawing", [] { return bilevelDrawing(5000, 700); }, {{5000, 700}, {1666, 233}, {500, 70}, {222, 31}, {7000, 980}}},
        {"palette 8-bit", [] { return indexed(300, 200, 8); }, {{300, 200}, {100, 66}, {750, 500}, {301, 199}}},
        {"palette 4-bit", [] { return indexed(123, 77, 4); }, {{123, 77}, {40, 25}, {369, 231}}},
        {"rgb", [] { return rgb(200, 150); }, {{200, 150}, {66, 50}, {500, 375}}},
    };
    for (const Case& c : cases) {
        ScopedFile file(uniqueTempPath(".htf"));
        ASSERT_TRUE(writeTiffFixture(file.path(), c.make())) << c.name;
        HtfDocument document;
        DibHandle dib = document.open(file.c_str());
        ASSERT_TRUE(dib) << c.name;
        const std::vector<unsigned char> bytes = readWholeFile(file.path());
        PlainImage image;
        ASSERT_TRUE(readHtfDocument(bytes.data(), bytes.size(), "x", image).hasImage()) << c.name;
        ImageRenderer renderer;
        renderer.prepare(dib);
        ImageSampler sampler;
        sampler.setImage(&image);
        for (const auto& [sw, sh] : c.scaled) {
            // A block from the middle of the scaled image, crossing tile edges.
            const int left = std::max(0, sw / 2 - 150), top = std::max(0, sh / 2 - 100);
            const int w = std::min(300, sw - left), h = std::min(200, sh - top);
            Surface surface(w, h);
            const RECT doc = {left, top, left + w, top + h};
            ASSERT_TRUE(renderer.draw(surface.dc(), 0, 0, doc, dib, sw, sh)) << c.name;
            std::vector<uint32_t> out(size_t(w) * h);
            ASSERT_TRUE(sampler.renderTile(left, top, w, h, sw, sh, out.data())) << c.name;
            int differences = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    differences += rgbOf(out[size_t(y) * w + x]) != surface.at(x, y);
            EXPECT_EQ(differences, 0) << c.name << " at " << sw << " x " << sh;
        }
        GlobalFree(dib);
    }
}

TEST(ImageSampler, StretchedPartsAndRefusals)
{
    PlainImage image;
    ASSERT_TRUE(image.make(4, 2, 8, 4));
    RgbColour colours[256] = {};
    for (int i = 0; i < 256; ++i)
        colours[i] = RgbColour{uint8_t(i), 0, 0};
    image.setPalette(colours, 256);
    for (int i = 0; i < 8; ++i)
        image.pixels[size_t(i)] = uint8_t(10 * i);
    ImageSampler sampler;
    sampler.setImage(&image);
    RectI source;
    source.left = 1, source.top = 0, source.right = 3, source.bottom = 2;
    std::vector<uint32_t> out(16);
    ASSERT_TRUE(sampler.renderStretched(source, 4, 4, out.data()));
    // Each source pixel of columns 1..2 becomes a 2 x 2 block.
    EXPECT_EQ(out[0] & 0xFF, 10u);
    EXPECT_EQ(out[2] & 0xFF, 20u);
    EXPECT_EQ(out[8] & 0xFF, 50u);
    EXPECT_EQ(out[15] & 0xFF, 60u);
    source.right = 5;   // past the image
    EXPECT_FALSE(sampler.renderStretched(source, 4, 4, out.data()));
    EXPECT_FALSE(sampler.renderTile(0, 0, 4, 4, 4, 2, out.data()));   // taller than the scaled image
    EXPECT_FALSE(sampler.renderTile(0, 0, 0, 1, 4, 2, out.data()));
    sampler.setImage(nullptr);
    EXPECT_FALSE(sampler.renderTile(0, 0, 1, 1, 4, 2, out.data()));
}

} // namespace
