// The plug-in in the stand-in browser used without a mouse: keys pressed as a
// user presses them (the focus from a click, Tab, Enter, Escape), the wheel
// reaching the browser's window when nothing scrolls, a screen reader's view
// of the document through AccessibleObjectFromWindow, and the toolbar's
// button names where a reader finds them.
#include "AccessibleClient.h"
#include "CommandIds.h"
#include "DialogWatcher.h"
#include "PluginFixture.h"

#include <commctrl.h>

#include <algorithm>

namespace {

constexpr int kWidth = 400, kHeight = 200;   // the document

// A white 400 x 200 document with three hotspots; the second has no tip.
std::vector<uint8_t> plan()
{
    TiffFixture f;
    f.width = kWidth, f.height = kHeight, f.photometric = PHOTOMETRIC_RGB, f.samplesPerPixel = 3;
    f.compression = COMPRESSION_LZW;
    f.pixels.assign(size_t(kWidth) * kHeight * 3, 255);
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes({{"hall", u"Town hall", 20, 20, 120, 80},
                                         {"park", u"", 200, 40, 300, 160},
                                         {"\xE9glise", u"\u00C9glise St. Jean", 320, 120, 380, 190}});
    const std::string path = uniqueTempPath(".htf");
    ScopedFile file(path);
    return writeTiffFixture(path, f) ? readWholeFile(path) : std::vector<uint8_t>();
}

std::string lastRequest()
{
    const auto& requests = PluginModule::urlRequests();
    return requests.empty() ? "" : requests.back().url;
}

void press(HWND host, const char* key)
{
    KeyStroke stroke;
    ASSERT_TRUE(parseKeyStroke(key, stroke)) << key;
    pressKey(host, stroke);
}

// An image point in the view's client area at the first fit: 400 x 200 into
// the 398 x 298 view is scale 0.995, 199 rows high and centred 49 rows down.
POINT fittedPoint(int x, int y)
{
    return {LONG(x * 0.995), LONG(49 + y * 0.995)};
}

TEST(KeyboardAccess, KeysFollowTheSameUrlsAsClicksInTheBrowser)
{
    Shown s;
    s.showDocument(plan());
    const HWND view = viewIn(s.host());
    PluginModule::urlRequests().clear();
    pointerClick(view, fittedPoint(250, 100));   // the park
    ASSERT_EQ(PluginModule::urlRequests().size(), 1u);
    const std::string parkByClick = lastRequest();
    EXPECT_EQ(GetFocus(), view);

    struct Step { const char* key; const char* url; } steps[] = {
        {"tab", nullptr}, {"enter", "/servlets/ZevuRedor?ShtmlFile=hall"},
        {"tab", nullptr}, {"space", parkByClick.c_str()},
        {"tab", nullptr}, {"tab", nullptr}, {"enter", "/servlets/ZevuRedor?ShtmlFile=hall"},   // wrapped
        {"shift+tab", nullptr}, {"enter", "/servlets/ZevuRedor?ShtmlFile=\xE9glise"},         // back round
        {"escape", nullptr}, {"enter", nullptr},                                               // nothing focused
    };
    size_t requests = 1;
    for (const Step& step : steps) {
        press(s.host(), step.key);
        if (step.url) {
            ++requests;
            EXPECT_EQ(lastRequest(), step.url) << step.key;
        }
        EXPECT_EQ(PluginModule::urlRequests().size(), requests) << step.key;
    }
    EXPECT_EQ(PluginModule::urlRequests().back().target, "_self");
}

// Ctrl+P opens the print dialog as the print button does; without a document
// the key is left to the page (its own printing).
TEST(KeyboardAccess, CtrlPPrintsLikeThePrintButtonOnlyWithADocument)
{
    for (const bool document : {false, true}) {
        Shown s;
        ASSERT_EQ(s.instance.create(), NPERR_NO_ERROR);
        ASSERT_EQ(s.instance.setWindow(s.host()), NPERR_NO_ERROR);
        if (document) {
            ASSERT_EQ(s.instance.stream(plan()), NPERR_NO_ERROR);
        }
        pumpMessages();
        SetFocus(viewIn(s.host()));
        DialogWatcher watcher(DialogWatcher::Answer::Cancel);   // nothing gets printed
        press(s.host(), "ctrl+p");
        pumpMessagesFor(300);
        const auto seen = watcher.seen();
        ASSERT_EQ(seen.size(), document ? 1u : 0u);
        if (document) {
            EXPECT_NE(seen[0].caption.find("Print"), std::string::npos) << seen[0].caption;
        }
    }
}

// Wheel messages that reach the browser's window, counted in front of its
// own procedure (before the plug-in takes the window over).
WNDPROC browserProcedure = nullptr;
int browserWheels = 0;
LRESULT CALLBACK countWheels(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MOUSEWHEEL)
        ++browserWheels;
    return CallWindowProcA(browserProcedure, window, message, wParam, lParam);
}

TEST(KeyboardAccess, WheelScrollsTheViewerAndOnlyGoesToThePageWhenNothingScrolls)
{
    Shown s;
    browserWheels = 0;
    browserProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(s.host(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countWheels)));
    s.showDocument(plan());
    const HWND view = viewIn(s.host());
    auto wheel = [view](int delta, WORD keys) {
        POINT p = {100, 100};
        ClientToScreen(view, &p);
        SendMessageA(view, WM_MOUSEWHEEL, MAKEWPARAM(keys, WORD(short(delta))), MAKELPARAM(p.x, p.y));
        pumpMessages();
    };
    wheel(-120, 0);   // fitted: the page scrolls
    EXPECT_EQ(browserWheels, 1);
    wheel(720, MK_CONTROL);   // six steps in the viewer: taller than the view
    EXPECT_EQ(browserWheels, 1);
    ASSERT_TRUE(GetWindowLongA(view, GWL_STYLE) & WS_VSCROLL);
    wheel(-120, 0);
    EXPECT_EQ(browserWheels, 1);
    EXPECT_GT(GetScrollPos(view, SB_VERT), 0);
    s.instance.destroy();
    SetWindowLongPtrA(s.host(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(browserProcedure));
}

TEST(KeyboardAccess, ScreenReaderReadsTheDocumentAndFollowsItsLinks)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        Shown s;
        s.instance.streamUrl = "http://www.example.com/plans/town%20centre.htf?v=2";
        s.showDocument(plan());
        const HWND view = viewIn(s.host());
        AccessibleClient reader(view);
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader.name(0), L"town centre.htf");
        EXPECT_EQ(reader.description(0), L"400 \u00D7 200 pixels, 3 links");
        EXPECT_EQ(reader.role(0), ROLE_SYSTEM_GRAPHIC);
        ASSERT_EQ(reader.childCount(), 3);
        struct Child {
            const wchar_t* name;
            const wchar_t* value;   // as the browser is asked for it
            RECT image;
        } children[] = {
            {L"Town hall", L"/servlets/ZevuRedor?ShtmlFile=hall", {20, 20, 120, 80}},
            {L"park", L"/servlets/ZevuRedor?ShtmlFile=park", {200, 40, 300, 160}},
            {L"\u00C9glise St. Jean", L"/servlets/ZevuRedor?ShtmlFile=\u00E9glise", {320, 120, 380, 190}},
        };
        // Locations at the fit (398 x 199), at scale 1 and zoomed in to 1.75
        // and scrolled, from the image rectangles: centred where the image is
        // smaller than the view, moved by the scroll positions.
        struct Zoom {
            int command, times;
            int scaledWidth, scaledHeight;
            int horizontal, vertical;   // scroll positions, -1: as they are
        } zooms[] = {
            {0, 0, 398, 199, -1, -1},
            {ID_ACTUAL_SIZE, 1, 400, 200, -1, -1},
            {ID_ZOOM_IN, 8, 700, 350, 150, 40},
        };
        for (const Zoom& zoom : zooms) {
            for (int i = 0; i < zoom.times; ++i)
                SendMessageA(s.host(), WM_COMMAND, zoom.command, 0);
            if (zoom.horizontal >= 0)
                SendMessageA(view, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, zoom.horizontal), 0);
            if (zoom.vertical >= 0)
                SendMessageA(view, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, zoom.vertical), 0);
            pumpMessages();
            if (zoom.horizontal >= 0) {
                ASSERT_EQ(GetScrollPos(view, SB_HORZ), zoom.horizontal);
            }
            if (zoom.vertical >= 0) {
                ASSERT_EQ(GetScrollPos(view, SB_VERT), zoom.vertical);
            }
            RECT client = {};
            GetClientRect(view, &client);
            POINT origin = {0, 0};
            ClientToScreen(view, &origin);
            const int left = std::max(0, int(client.right - zoom.scaledWidth) / 2) - GetScrollPos(view, SB_HORZ);
            const int top = std::max(0, int(client.bottom - zoom.scaledHeight) / 2) - GetScrollPos(view, SB_VERT);
            auto x = [&](int image) { return origin.x + left + LONG(double(image) / kWidth * zoom.scaledWidth); };
            auto y = [&](int image) { return origin.y + top + LONG(double(image) / kHeight * zoom.scaledHeight); };
            for (long i = 1; i <= 3; ++i) {
                const Child& c = children[i - 1];
                SCOPED_TRACE(testing::Message() << "width " << zoom.scaledWidth << " child " << i);
                EXPECT_EQ(reader.name(i), c.name);
                EXPECT_EQ(reader.value(i), c.value);
                EXPECT_EQ(reader.role(i), ROLE_SYSTEM_LINK);
                const RECT r = reader.location(i);
                EXPECT_EQ(r.left, x(c.image.left));
                EXPECT_EQ(r.top, y(c.image.top));
                EXPECT_EQ(r.right, x(c.image.right));
                EXPECT_EQ(r.bottom, y(c.image.bottom));
                // A point of the link's visible part hits it.
                RECT screenClient = client, shown = {};
                OffsetRect(&screenClient, origin.x, origin.y);
                const RECT expected = {x(c.image.left), y(c.image.top), x(c.image.right), y(c.image.bottom)};
                if (IntersectRect(&shown, &expected, &screenClient)) {
                    EXPECT_EQ(reader.hitTest({(shown.left + shown.right) / 2, (shown.top + shown.bottom) / 2}), i);
                }
            }
        }
        // The default action is a click: the same request.
        PluginModule::urlRequests().clear();
        EXPECT_EQ(reader.doDefaultAction(2), S_OK);
        EXPECT_EQ(lastRequest(), "/servlets/ZevuRedor?ShtmlFile=park");

        // The page removes the plug-in; the reader still holds the object.
        IAccessible* kept = reader.object();
        kept->AddRef();
        s.instance.destroy();
        LONG count = 0;
        VARIANT role;
        VariantInit(&role);
        EXPECT_EQ(kept->get_accChildCount(&count), CO_E_OBJNOTCONNECTED);
        EXPECT_EQ(kept->get_accRole(childId(1), &role), CO_E_OBJNOTCONNECTED);
        EXPECT_EQ(kept->accDoDefaultAction(childId(1)), CO_E_OBJNOTCONNECTED);
        EXPECT_EQ(PluginModule::urlRequests().size(), 1u);
        kept->Release();
    }
    CoUninitialize();
}

TEST(KeyboardAccess, ToolbarButtonsAreNamedInTheToolbarsTooltips)
{
    Shown s;
    s.showDocument(plan());
    const HWND toolbar = toolbarIn(s.host());
    const HWND tips = reinterpret_cast<HWND>(SendMessageA(toolbar, TB_GETTOOLTIPS, 0, 0));
    ASSERT_NE(tips, nullptr);
    const char* names[] = {"Pointer", "Zoom in", "Zoom out", "Magnifier", "Pan",
                           "Fit window", "Fit height", "Fit width", "Actual size", "Print"};
    ASSERT_EQ(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0), 10);
    for (int i = 0; i < 10; ++i) {
        TBBUTTON button = {};
        SendMessageA(toolbar, TB_GETBUTTON, WPARAM(i), reinterpret_cast<LPARAM>(&button));
        char text[80] = {};
        TOOLINFOA tool = {};
        tool.cbSize = sizeof tool;
        tool.hwnd = toolbar;
        tool.uId = UINT_PTR(button.idCommand);
        tool.lpszText = text;
        SendMessageA(tips, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
        EXPECT_STREQ(text, names[i]) << "button " << i;
    }
}

}  // namespace
