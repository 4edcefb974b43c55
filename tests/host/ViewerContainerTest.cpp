// The container that the plug-in puts into the browser's window: toolbar
// band and viewer layout, the toolbar's buttons and check marks, and the
// commands reaching the viewer, all seen from outside as a browser would.
#include "CommandIds.h"
#include "DialogWatcher.h"
#include "PluginFixture.h"

#include <commctrl.h>

namespace {

bool checked(HWND toolbar, int command)
{
    return SendMessageA(toolbar, TB_ISBUTTONCHECKED, WPARAM(command), 0) != 0;
}

// Clicks the toolbar button of a command with the pointer.
void clickButton(HWND toolbar, int command)
{
    const LRESULT index = SendMessageA(toolbar, TB_COMMANDTOINDEX, WPARAM(command), 0);
    RECT r = {};
    ASSERT_TRUE(SendMessageA(toolbar, TB_GETITEMRECT, WPARAM(index), reinterpret_cast<LPARAM>(&r)));
    pointerClick(toolbar, {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    pumpMessages();
}

// Columns of the image in one row of the host window's view area: from the
// first red to the last blue pixel (scaling may blend the column between).
int imageWidthAt(HWND host, int y)
{
    const Capture c = captureClient(host);
    int first = -1, last = -1;
    for (int x = 0; x < c.width; ++x) {
        if (first < 0 && c.at(x, y) == kRed)
            first = x;
        if (c.at(x, y) == kBlue)
            last = x;
    }
    return first < 0 || last < 0 ? 0 : last - first + 1;
}

bool verticalBar(HWND host)
{
    return (GetWindowLongA(viewIn(host), GWL_STYLE) & WS_VSCROLL) != 0;
}

TEST(ViewerContainer, ToolbarBandAboveTheViewFollowsTheWindowSize)
{
    Shown s;
    s.showDocument(redBlueDocument());
    const HWND toolbar = toolbarIn(s.host());
    const HWND view = viewIn(s.host());
    ASSERT_NE(toolbar, nullptr);
    ASSERT_NE(view, nullptr);

    char title[64] = {};
    GetWindowTextA(toolbar, title, sizeof(title));
    EXPECT_STREQ(title, "TIFF Viewer Toolbar");
    const LONG style = GetWindowLongA(toolbar, GWL_STYLE);
    for (LONG bit : {LONG(WS_CHILD), LONG(WS_VISIBLE), LONG(WS_CLIPSIBLINGS), LONG(WS_CLIPCHILDREN),
                     LONG(TBSTYLE_FLAT), LONG(TBSTYLE_WRAPABLE), LONG(CCS_NODIVIDER), LONG(CCS_NOPARENTALIGN),
                     LONG(CCS_NORESIZE)})
        EXPECT_EQ(style & bit, bit) << std::hex << bit;
    EXPECT_TRUE(GetWindowLongA(toolbar, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);

    struct Case {
        int width, height;
    } sizes[] = {{400, 340}, {500, 300}, {220, 60}};
    for (const Case& c : sizes) {
        SetWindowPos(s.host(), nullptr, 0, 0, c.width, c.height, SWP_NOMOVE | SWP_NOZORDER);
        pumpMessages();
        const RECT bar = rectIn(s.host(), toolbar), image = rectIn(s.host(), view);
        EXPECT_EQ(bar.left, 0);
        EXPECT_EQ(bar.top, 0);
        EXPECT_EQ(bar.right, c.width);
        EXPECT_EQ(bar.bottom, 40);
        EXPECT_EQ(image.left, 0);
        EXPECT_EQ(image.top, 40);
        EXPECT_EQ(image.right, c.width);
        EXPECT_EQ(image.bottom, c.height);
    }
}

TEST(ViewerContainer, TenPushButtonsWithTheCrossedFitIds)
{
    Shown s;
    s.showDocument(redBlueDocument());
    const HWND toolbar = toolbarIn(s.host());
    const int expected[][2] = {{0, ID_POINTER},    {1, ID_ZOOM_IN},    {2, ID_ZOOM_OUT},   {3, ID_MAGNIFIER},
                               {4, ID_PAN},        {5, ID_FIT_WINDOW}, {6, ID_FIT_HEIGHT}, {7, ID_FIT_WIDTH},
                               {8, ID_ACTUAL_SIZE}, {9, ID_PRINT}};
    ASSERT_EQ(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0), 10);
    for (int i = 0; i < 10; ++i) {
        TBBUTTON b = {};
        ASSERT_TRUE(SendMessageA(toolbar, TB_GETBUTTON, WPARAM(i), reinterpret_cast<LPARAM>(&b)));
        EXPECT_EQ(b.iBitmap, expected[i][0]) << i;
        EXPECT_EQ(b.idCommand, expected[i][1]) << i;
        EXPECT_EQ(b.fsStyle, TBSTYLE_BUTTON) << i;
        EXPECT_TRUE(b.fsState & TBSTATE_ENABLED) << i;
    }
    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageA(toolbar, TB_GETIMAGELIST, 0, 0));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(images), 10);
    int w = 0, h = 0;
    ImageList_GetIconSize(images, &w, &h);
    EXPECT_EQ(w, 24);
    EXPECT_EQ(h, 24);

    // The band right of the last button is light grey.
    RECT last = {};
    SendMessageA(toolbar, TB_GETITEMRECT, 9, reinterpret_cast<LPARAM>(&last));
    const Capture c = captureClient(s.host());
    EXPECT_EQ(c.at(c.width - 10, 20), kLightGrey);
    EXPECT_EQ(c.at(last.right + 20, 20), kLightGrey);
}

// The check marks of the two mode buttons follow the viewer's mode before
// each command; without a document the viewer ignores commands, so its mode
// stays pointer mode.
TEST(ViewerContainer, ModeButtonsCheckMarks)
{
    struct Step {
        int command;
        bool magnifier, pan;
    };
    const Step withDocument[] = {
        {ID_MAGNIFIER, true, false}, {ID_MAGNIFIER, false, false}, {ID_MAGNIFIER, true, false},
        {ID_PAN, false, true},       {ID_PAN, false, false},       {ID_PAN, false, true},
        {ID_MAGNIFIER, true, false}, {ID_ZOOM_IN, true, false},    {ID_POINTER, false, false},
    };
    const Step withoutDocument[] = {
        {ID_MAGNIFIER, true, false}, {ID_MAGNIFIER, true, false}, {ID_PAN, false, true},
        {ID_PAN, false, true},       {ID_POINTER, false, false},  {ID_PRINT, false, false},
    };
    for (const bool document : {true, false}) {
        SCOPED_TRACE(document ? "with a document" : "without a document");
        Shown s;
        if (document) {
            s.showDocument(redBlueDocument());
        } else {
            ASSERT_EQ(s.instance.create(), NPERR_NO_ERROR);
            ASSERT_EQ(s.instance.setWindow(s.host()), NPERR_NO_ERROR);
        }
        const HWND toolbar = toolbarIn(s.host());
        int i = 0;
        for (const Step& step : document ? std::vector<Step>(std::begin(withDocument), std::end(withDocument))
                                         : std::vector<Step>(std::begin(withoutDocument), std::end(withoutDocument))) {
            clickButton(toolbar, step.command);
            EXPECT_EQ(checked(toolbar, ID_MAGNIFIER), step.magnifier) << "step " << i;
            EXPECT_EQ(checked(toolbar, ID_PAN), step.pan) << "step " << i;
            ++i;
        }
    }
}

// Each zoom button changes what the viewer shows: a tall 200 x 400 image in a
// 398 x 298 view (the border takes a pixel each side).
TEST(ViewerContainer, ZoomButtonsReachTheViewer)
{
    Shown s;
    s.showDocument(redBlueDocument(200, 400));
    const HWND toolbar = toolbarIn(s.host());
    const int row = 100;
    struct Step {
        int command;
        int width;   // image columns in the row
        bool bar;    // vertical scroll bar
    } steps[] = {
        // Widths are scale x 200 truncated in double precision.
        {ID_ACTUAL_SIZE, 200, true},   // scale 1
        {ID_FIT_HEIGHT, 149, false},   // 298 / 400
        {ID_FIT_WIDTH, 378, true},     // (398 - 20) / 200: taller than the view
        {ID_FIT_WINDOW, 149, false},
        {ID_ZOOM_IN, 159, true},       // 0.745 + 0.05
        {ID_ZOOM_OUT, 149, false},
    };
    EXPECT_EQ(imageWidthAt(s.host(), row), 149) << "initial fit";
    for (const Step& step : steps) {
        clickButton(toolbar, step.command);
        EXPECT_EQ(imageWidthAt(s.host(), row), step.width) << step.command;
        EXPECT_EQ(verticalBar(s.host()), step.bar) << step.command;
    }
}

// The print button reaches the viewer, which asks for a printer; without a
// document it does nothing.
TEST(ViewerContainer, PrintButtonOpensThePrintDialogOnlyWithADocument)
{
    for (const bool document : {false, true}) {
        Shown s;
        ASSERT_EQ(s.instance.create(), NPERR_NO_ERROR);
        ASSERT_EQ(s.instance.setWindow(s.host()), NPERR_NO_ERROR);
        if (document) {
            ASSERT_EQ(s.instance.stream(redBlueDocument()), NPERR_NO_ERROR);
        }
        DialogWatcher watcher(DialogWatcher::Answer::Cancel);   // nothing gets printed
        clickButton(toolbarIn(s.host()), ID_PRINT);
        pumpMessagesFor(300);
        const auto seen = watcher.seen();
        ASSERT_EQ(seen.size(), document ? 1u : 0u);
        if (document) {
            EXPECT_NE(seen[0].caption.find("Print"), std::string::npos) << seen[0].caption;
        }
    }
}

}  // namespace
