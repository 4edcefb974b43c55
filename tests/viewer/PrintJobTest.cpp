// Print jobs through the real print dialog onto the test printer (a CUPS
// queue writing PDF files, see scripts/printer-setup); the printed PDF is
// rendered back and compared with the image part that was printed.
#include "PrintJob.h"

#include "DialogWatcher.h"
#include "DibView.h"
#include "GlobalMemory.h"
#include "PrintedPdf.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <winspool.h>

#include <cstring>

namespace {

constexpr int kRenderDpi = 72;
constexpr int kColourTolerance = 16;

// A 24-bit image of 100 x 100 blocks, `colours` row by row from the top.
DibHandle blocksDib(int columns, int rows, const std::vector<unsigned>& colours)
{
    const int width = columns * 100, height = rows * 100;
    const uint32_t rowBytes = uint32_t(dibRowBytes(24, width));
    DibHandle dib = createEmptyDib(width, height, rowBytes, 24, 0);
    GlobalLockGuard<unsigned char> data(dib);
    unsigned char* pixels = dibPixels(data.get());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned c = colours[(y / 100) * columns + x / 100];
            unsigned char* p = pixels + size_t(height - 1 - y) * rowBytes + 3 * x;   // bottom-up rows
            p[0] = c & 0xFF;
            p[1] = (c >> 8) & 0xFF;
            p[2] = (c >> 16) & 0xFF;
        }
    return dib;
}

// A large 1-bit image: black over its top third, black in the right half of
// its bottom third, white elsewhere; colour 0 black, 1 white.
DibHandle bilevelDib(int width, int height)
{
    const uint32_t rowBytes = uint32_t(dibRowBytes(1, width));
    DibHandle dib = createEmptyDib(width, height, rowBytes, 1, 0);
    GlobalLockGuard<unsigned char> data(dib);
    auto table = reinterpret_cast<RGBQUAD*>(data.get() + sizeof(BITMAPINFOHEADER));
    table[1] = RGBQUAD{0xFF, 0xFF, 0xFF, 0};
    unsigned char* pixels = dibPixels(data.get());
    for (int y = 0; y < height; ++y) {
        unsigned char* row = pixels + size_t(height - 1 - y) * rowBytes;
        if (y < height / 3)
            continue;   // zero bits: black
        std::memset(row, 0xFF, rowBytes);
        if (y >= height * 2 / 3)
            for (int x = width / 2; x < width; ++x)
                row[x / 8] &= uint8_t(~(0x80 >> (x % 8)));
    }
    return dib;
}

// The default printer's device context, for the page figures.
HDC defaultPrinterDC()
{
    char name[256] = {};
    DWORD size = sizeof name;
    return GetDefaultPrinterA(name, &size) ? CreateDCA("WINSPOOL", name, nullptr, nullptr) : nullptr;
}

// The page rectangle of the default printer for a source size, in pixels of
// a page rendered at kRenderDpi.
SIZE expectedPrintedSize(int sw, int sh)
{
    HDC dc = defaultPrinterDC();
    if (!dc)
        return SIZE{0, 0};
    const RECT page = pageRect(dc, sw, sh);
    const SIZE size = {LONG(double(page.right) * kRenderDpi / GetDeviceCaps(dc, LOGPIXELSX)),
                       LONG(double(page.bottom) * kRenderDpi / GetDeviceCaps(dc, LOGPIXELSY))};
    DeleteDC(dc);
    return size;
}

// Prints `source` of the image through the dialog (answered OK), takes the
// PDF named after the document as the job names it (`namePart`), and checks
// the printed size and the probes. Returns the PDF's file name.
std::string printAndCheck(DibHandle image, const RECT& source, const char* documentName, const std::string& namePart,
                          const std::vector<InkProbe>& probes)
{
    const FILETIME since = nowFileTime();
    {
        DialogWatcher watcher;
        EXPECT_EQ(printDib(image, source, nullptr, documentName), PRINT_OK);
        EXPECT_EQ(watcher.seen().size(), 1u) << "the print dialog was shown once";
    }
    RenderedPage page;
    std::string error;
    if (!takePrintedPage(namePart, since, kRenderDpi, page, error)) {
        ADD_FAILURE() << error;
        return {};
    }
    const RECT ink = page.inkBounds();
    const SIZE expected = expectedPrintedSize(source.right - source.left, source.bottom - source.top);
    EXPECT_NEAR(ink.right - ink.left, expected.cx, 2) << "printed across the printable width";
    EXPECT_NEAR(ink.bottom - ink.top, expected.cy, 2) << "printed with the source's proportions";
    for (const std::string& mismatch : probeMismatches(page, probes, kColourTolerance))
        ADD_FAILURE() << mismatch;
    return page.fileName;
}

TEST(PageRect, FullWidthAndProportionalHeight)
{
    struct Case {
        int horzRes, dpiX, dpiY, sw, sh;
        RECT expected;
    };
    const Case cases[] = {
        {480, 60, 60, 500, 400, {0, 0, 480, 384}},
        {480, 60, 60, 400, 700, {0, 0, 480, 840}},   // taller than the page: not limited
        {480, 60, 30, 500, 400, {0, 0, 480, 192}},   // square on paper
        {480, 60, 60, 7, 3, {0, 0, 480, 205}},       // 205.7 truncated
        {480, 60, 60, 0, 400, {0, 0, 480, 0}},       // empty source: no division by zero
        {480, 0, 60, 500, 400, {0, 0, 480, 0}},
    };
    for (const Case& c : cases) {
        const RECT r = pageRectFor(c.horzRes, c.dpiX, c.dpiY, c.sw, c.sh);
        EXPECT_TRUE(EqualRect(&r, &c.expected))
            << c.sw << " x " << c.sh << " at " << c.dpiX << " x " << c.dpiY << ": " << r.left << ", " << r.top << ", "
            << r.right << ", " << r.bottom;
    }
}

// A 24-bit top-down memory bitmap filled with a sentinel colour, to draw into.
class Canvas {
public:
    static constexpr unsigned kSentinel = 0x808080;
    Canvas(int width, int height) : width_(width), height_(height), dc_(CreateCompatibleDC(nullptr))
    {
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<uint8_t*>(bits);
        old_ = SelectObject(dc_, bitmap_);
        std::memset(bits_, 0x80, stride() * height);
        SetStretchBltMode(dc_, COLORONCOLOR);
    }
    ~Canvas()
    {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    unsigned rgbAt(int x, int y) const
    {
        GdiFlush();
        const uint8_t* p = bits_ + size_t(y) * stride() + 3 * x;
        return unsigned(p[2]) << 16 | unsigned(p[1]) << 8 | p[0];
    }

private:
    size_t stride() const { return (size_t(width_) * 3 + 3) / 4 * 4; }
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint8_t* bits_ = nullptr;
};

TEST(PaintDibInBands, BandsTileTheDestinationLikeOneDrawing)
{
    const std::vector<unsigned> colours = {0xFF0000, 0x00C000, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF};
    DibOwner image(blocksDib(3, 2, colours));
    const RECT source = {100, 0, 300, 200};   // blocks 1 and 2 of both rows
    const unsigned long long row = 900;        // bytes of one source row
    struct Case {
        RECT dest;
        unsigned long long bandBytes;
    };
    const Case cases[] = {
        {{0, 0, 200, 200}, 1},            // unscaled, one row per band
        {{5, 5, 205, 205}, 33 * row},     // a short last band
        {{10, 20, 410, 420}, 7 * row},    // enlarged
        {{0, 0, 100, 100}, 3 * row},      // reduced: bands of 1.5 device rows
        {{3, 3, 63, 63}, row},            // reduced: most bands shrink to no row
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "destination " << c.dest.left << ", " << c.dest.top << ", "
                                        << c.dest.right << ", " << c.dest.bottom << "; band bytes " << c.bandBytes);
        Canvas canvas(450, 450);
        ASSERT_TRUE(paintDibInBands(canvas.dc(), c.dest, image.dib, source, c.bandBytes));
        int unpainted = 0;
        for (int y = c.dest.top; y < c.dest.bottom; ++y)
            for (int x = c.dest.left; x < c.dest.right; ++x)
                unpainted += canvas.rgbAt(x, y) == Canvas::kSentinel;
        EXPECT_EQ(unpainted, 0) << "no gaps between bands";
        EXPECT_EQ(canvas.rgbAt(c.dest.left, c.dest.bottom), Canvas::kSentinel) << "nothing below the destination";
        const int dw = c.dest.right - c.dest.left, dh = c.dest.bottom - c.dest.top;
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 2; ++i)
                EXPECT_EQ(canvas.rgbAt(c.dest.left + dw * (2 * i + 1) / 4, c.dest.top + dh * (2 * j + 1) / 4),
                          colours[j * 3 + 1 + i])
                    << "block " << i << ", " << j;
    }
}

TEST(PrintDib, NoImageShowsNoDialog)
{
    DialogWatcher watcher;
    EXPECT_EQ(printDib(nullptr, RECT{0, 0, 10, 10}, nullptr, "QEL Tiff Hotspot Viewer"), PRINT_ERR_NO_IMAGE);
    EXPECT_TRUE(watcher.seen().empty());
}

TEST(PrintDib, CancelledDialogPrintsNothing)
{
    if (!printerAvailable())
        GTEST_SKIP() << "no printer installed (scripts/printer-setup sets up the PDF printer)";
    DibOwner image(blocksDib(1, 1, {0xFF0000}));
    const FILETIME since = nowFileTime();
    {
        DialogWatcher watcher(DialogWatcher::Answer::Cancel);
        EXPECT_EQ(printDib(image.dib, RECT{0, 0, 100, 100}, nullptr, "Cancelled print"), PRINT_ERR_NO_DC);
        EXPECT_EQ(watcher.seen().size(), 1u);
    }
    EXPECT_EQ(findPrintedPdf("Cancelled print", since, 3000), "");
}

TEST(PrintDib, PrintsThePartOfTheImageAcrossThePage)
{
    if (!printerAvailable())
        GTEST_SKIP() << "no printer installed (scripts/printer-setup sets up the PDF printer)";
    // Two rows of three blocks; the top row's right two blocks are printed,
    // which tells the image's top from its bottom and left from right.
    const std::vector<unsigned> colours = {0xFF0000, 0x00C000, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF};
    DibOwner image(blocksDib(3, 2, colours));
    const std::string name = printAndCheck(image.dib, RECT{100, 0, 300, 100}, "QEL Tiff Hotspot Viewer",
                                           "QEL_Tiff_Hotspot_Viewer",
                                           {{0.25, 0.5, 0x00C000}, {0.75, 0.5, 0x0000FF}, {0.05, 0.1, 0x00C000},
                                            {0.95, 0.9, 0x0000FF}});
    EXPECT_NE(name.find("QEL_Tiff_Hotspot_Viewer"), std::string::npos) << name;
}

TEST(PrintDib, HugeBilevelImageIsNotBlankAndNameIsCut)
{
    if (!printerAvailable())
        GTEST_SKIP() << "no printer installed (scripts/printer-setup sets up the PDF printer)";
    DibOwner image(bilevelDib(13000, 18000));
    ASSERT_TRUE(image.dib);
    // 35 characters; the job carries the first 30.
    const std::string name =
        printAndCheck(image.dib, RECT{0, 0, 13000, 18000}, "QEL Tiff Hotspot Viewer big bilevel",
                      "QEL_Tiff_Hotspot_Viewer_big_bi",
                      {{0.25, 0.15, 0x000000}, {0.75, 0.15, 0x000000}, {0.25, 0.5, 0xFFFFFF},
                       {0.25, 0.85, 0xFFFFFF}, {0.75, 0.85, 0x000000}});
    EXPECT_EQ(name.find("big_bil"), std::string::npos) << name;
}

} // namespace
