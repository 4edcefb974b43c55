#include "CommandIds.h"
#include "DialogWatcher.h"
#include "PrintedPdf.h"
#include "ViewerTestSupport.h"

#include <gtest/gtest.h>

namespace {

// Four colour regions meeting at (1750, 1300).
unsigned quadrants(int x, int y)
{
    if (y < 1300)
        return x < 1750 ? 0xFF0000 : 0x0000FF;
    return x < 1750 ? 0x00FF00 : 0xFFFF00;
}

TEST(TiffViewPrint, DrawVisibleFitsAndCentresTheVisiblePart)
{
    ScopedFile doc(writeRgbDocument(500, 250));
    ViewInWindow v(600, 400);
    v.show(doc.path());
    v.command(ID_ACTUAL_SIZE);

    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 1000, 1000);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, 1000, 1000};
    HBRUSH sentinel = CreateSolidBrush(RGB(1, 2, 3));
    FillRect(dc, &all, sentinel);
    DeleteObject(sentinel);

    v.view->drawVisible(dc, all);   // the 500 x 250 visible part, doubled
    struct Probe { int x, y; unsigned rgb; } probes[] = {
        {500, 249, 0x010203}, {500, 750, 0x010203},
        {0, 250, rgbPattern(0, 0)}, {999, 749, rgbPattern(499, 249)}, {500, 500, rgbPattern(250, 125)},
    };
    for (const Probe& p : probes) {
        const COLORREF c = GetPixel(dc, p.x, p.y);
        EXPECT_EQ(unsigned(GetRValue(c)) << 16 | unsigned(GetGValue(c)) << 8 | GetBValue(c), p.rgb)
            << p.x << "," << p.y;
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

TEST(TiffViewPrint, PrintCommandPrintsTheScrolledVisiblePart)
{
    if (!printerAvailable())
        GTEST_SKIP() << "no printer could be set up (scripts/printer-setup)";
    ScopedFile doc(writeRgbDocument(2000, 1500, {}, quadrants));
    ViewInWindow v(500, 400);
    v.show(doc.path());
    v.command(ID_ACTUAL_SIZE);
    SendMessageA(v.view->hwnd(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 1500), 0);
    SendMessageA(v.view->hwnd(), WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 1100), 0);
    ASSERT_EQ(GetScrollPos(v.view->hwnd(), SB_HORZ), 1500);

    const FILETIME since = nowFileTime();
    {
        DialogWatcher watcher;   // presses OK in the print dialog
        v.command(ID_PRINT);
        ASSERT_EQ(watcher.seen().size(), 1u);
    }
    RenderedPage page;
    std::string error;
    ASSERT_TRUE(takePrintedPage("QEL Tiff Hotspot Viewer", since, 72, page, error)) << error;
    const RECT ink = page.inkBounds();
    // Columns 1500-1999 and rows 1100-1499: all four regions, in proportion.
    EXPECT_NEAR(double(ink.right - ink.left) / (ink.bottom - ink.top), 500.0 / 400.0, 0.02);
    const std::vector<std::string> wrong =
        probeMismatches(page, {{0.25, 0.25, 0xFF0000}, {0.75, 0.25, 0x0000FF}, {0.25, 0.75, 0x00FF00},
                               {0.75, 0.75, 0xFFFF00}},
                        40);
    EXPECT_TRUE(wrong.empty()) << wrong.front();
}

TEST(TiffViewPrint, CancelledDialogPrintsNothing)
{
    if (!printerAvailable())
        GTEST_SKIP() << "no printer could be set up (scripts/printer-setup)";
    ScopedFile doc(writeRgbDocument(200, 100));
    ViewInWindow v(300, 200);
    v.show(doc.path());
    const FILETIME since = nowFileTime();
    {
        DialogWatcher watcher(DialogWatcher::Answer::Cancel);
        v.command(ID_PRINT);
        EXPECT_EQ(watcher.seen().size(), 1u);
    }
    EXPECT_TRUE(findPrintedPdf("QEL Tiff Hotspot Viewer", since, 2000).empty());
}

} // namespace
