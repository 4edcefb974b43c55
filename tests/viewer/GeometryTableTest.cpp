// The viewer window against the geometry table that the portable core and
// the browser element are checked with too: same steps, same numbers.
#include "GeometryTable.h"
#include "TempDir.h"
#include "TiffFixture.h"
#include "TiffView.h"
#include "WindowCapture.h"

#include <gtest/gtest.h>
#include <tiffio.h>

namespace {

// A white bilevel document of the case's size.
std::string writeBlankDocument(int width, int height)
{
    TiffFixture f;
    f.width = uint32_t(width), f.height = uint32_t(height), f.bitsPerSample = 1;
    f.photometric = PHOTOMETRIC_MINISWHITE, f.compression = COMPRESSION_CCITTFAX4;
    f.pixels.assign((size_t(width) + 7) / 8 * size_t(height), 0);
    const std::string path = uniqueTempPath(".htf");
    EXPECT_TRUE(writeTiffFixture(path, f));
    return path;
}

TEST(TiffViewGeometryTable, WindowFollowsTheSharedTable)
{
    GeometryTable table;
    std::string error;
    ASSERT_TRUE(readGeometryTable(ROZERADO_GEOMETRY_TABLE, table, error)) << error;
    ASSERT_EQ(GetSystemMetrics(SM_CXVSCROLL), table.scrollBarSize);
    ASSERT_EQ(GetSystemMetrics(SM_CYHSCROLL), table.scrollBarSize);
    for (const GeometryCase& c : table.cases) {
        ScopedFile doc(writeBlankDocument(c.imageWidth, c.imageHeight));
        // The view's client area is the viewport: it has a border of one pixel.
        TestHostWindow host(c.viewportWidth + 2, c.viewportHeight + 2);
        TiffView view(nullptr);
        const RECT rect = {0, 0, c.viewportWidth + 2, c.viewportHeight + 2};
        view.create(host.hwnd(), rect);
        pumpMessages();
        HWND w = view.hwnd();
        for (const GeometryStep& step : c.steps) {
            if (step.name == "paint") {
                const std::wstring path(doc.path().begin(), doc.path().end());
                view.setImageFile(path.c_str());
                UpdateWindow(w);
            } else if (const int command = geometryStepCommand(step.name)) {
                view.onCommand(command);
            } else if (step.name == "hscroll" || step.name == "vscroll") {
                SendMessageA(w, step.name == "hscroll" ? WM_HSCROLL : WM_VSCROLL,
                             MAKEWPARAM(step.arguments.at(0), step.arguments.at(1)), 0);
            } else if (step.name == "resize") {
                MoveWindow(w, 0, 0, step.arguments.at(0) + 2, step.arguments.at(1) + 2, TRUE);
                UpdateWindow(w);
            } else {
                FAIL() << "unknown step " << step.name;
            }
            pumpMessages();
            const std::string where = c.name + " " + describeExpected(step);
            const LONG style = GetWindowLongA(w, GWL_STYLE);
            EXPECT_NEAR(view.scale(), step.scale, 5e-7) << where;
            EXPECT_EQ(view.scaledWidth(), step.scaledWidth) << where;
            EXPECT_EQ(view.scaledHeight(), step.scaledHeight) << where;
            EXPECT_EQ((style & WS_HSCROLL) != 0, step.horizontalBar) << where;
            EXPECT_EQ((style & WS_VSCROLL) != 0, step.verticalBar) << where;
            EXPECT_EQ(GetScrollPos(w, SB_HORZ), step.horizontalPosition) << where;
            EXPECT_EQ(GetScrollPos(w, SB_VERT), step.verticalPosition) << where;
        }
        DestroyWindow(w);
        pumpMessages();
    }
}

} // namespace
