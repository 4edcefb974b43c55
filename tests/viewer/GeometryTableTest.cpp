// The viewer window against the geometry table that the portable core and
// the browser element are checked with too: same steps, same numbers.
#include "GeometryTable.h"
#include "ViewerTestSupport.h"

#include <gtest/gtest.h>

namespace {

bool whiteEverywhere(int, int) { return false; }

TEST(TiffViewGeometryTable, WindowFollowsTheSharedTable)
{
    GeometryTable table;
    std::string error;
    ASSERT_TRUE(readGeometryTable(ROZERADO_GEOMETRY_TABLE, table, error)) << error;
    ASSERT_EQ(GetSystemMetrics(SM_CXVSCROLL), table.scrollBarSize);
    ASSERT_EQ(GetSystemMetrics(SM_CYHSCROLL), table.scrollBarSize);
    for (const GeometryCase& c : table.cases) {
        ScopedFile doc(writeBilevelDocument(c.imageWidth, c.imageHeight, whiteEverywhere));
        ViewInWindow v(c.viewportWidth, c.viewportHeight);
        for (const GeometryStep& step : c.steps) {
            HWND w = v.view->hwnd();
            if (step.name == "paint") {
                v.show(doc.path());
            } else if (const int command = geometryStepCommand(step.name)) {
                v.command(command);
            } else if (step.name == "hscroll" || step.name == "vscroll") {
                SendMessageA(w, step.name == "hscroll" ? WM_HSCROLL : WM_VSCROLL,
                             MAKEWPARAM(step.arguments.at(0), step.arguments.at(1)), 0);
            } else if (step.name == "resize") {
                MoveWindow(w, 0, 0, step.arguments.at(0) + 2, step.arguments.at(1) + 2, TRUE);
                UpdateWindow(w);
            } else {
                FAIL() << "unknown step " << step.name;
            }
            const std::string where = c.name + " " + describeExpected(step);
            const LONG style = GetWindowLongA(w, GWL_STYLE);
            EXPECT_NEAR(v.view->scale(), step.scale, 5e-7) << where;
            EXPECT_EQ(v.view->scaledWidth(), step.scaledWidth) << where;
            EXPECT_EQ(v.view->scaledHeight(), step.scaledHeight) << where;
            EXPECT_EQ((style & WS_HSCROLL) != 0, step.horizontalBar) << where;
            EXPECT_EQ((style & WS_VSCROLL) != 0, step.verticalBar) << where;
            EXPECT_EQ(GetScrollPos(w, SB_HORZ), step.horizontalPosition) << where;
            EXPECT_EQ(GetScrollPos(w, SB_VERT), step.verticalPosition) << where;
        }
    }
}

} // namespace
