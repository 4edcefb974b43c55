// The control in the stand-in container used without a mouse: a click makes
// it UI-active, so the container offers it every key through
// IOleInPlaceActiveObject::TranslateAccelerator as a browser does; the keys
// it uses follow the same URLs as clicks, the others go back to the
// container; the wheel reaches the container's window when nothing scrolls;
// a screen reader reads absolute URLs and follows them, and may keep its
// object after the control is gone.
#include "AccessibleClient.h"
#include "ComModule.h"
#include "OleHost.h"
#include "StandInBrowser.h"
#include "TempDir.h"
#include "TiffFixture.h"
#include "WindowCapture.h"

#include "rozerado_h.h"

#include <gtest/gtest.h>

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 340;   // the view: 398 x 298 below the 40-pixel toolbar band
const std::wstring kRoot = L"http://www.example.com:80/servlets/ZevuRedor?ShtmlFile=";

std::string besideProgram(const std::string& name)
{
    char own[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, own, MAX_PATH);
    const std::string path = own;
    return path.substr(0, path.find_last_of("\\/") + 1) + name;
}

class OleHostKeys : public ::testing::Test {
protected:
    // A white 400 x 200 plan with three hotspots, fitted at scale 0.995 and
    // 49 rows down in the view.
    static void SetUpTestSuite()
    {
        document = new ScopedFile(uniqueTempPath(".htf"));
        TiffFixture fixture = twoColourFixture(400, 200, 0xFFFFFF, 0xFFFFFF);
        fixture.withHotspotTag = true;
        fixture.hotspotBytes = hotspotStreamBytes(
            {{"hall", u"Town hall", 20, 20, 120, 80}, {"park", u"Park", 200, 40, 300, 160},
             {"church", u"Church", 320, 120, 380, 190}});
        writeTiffFixture(document->path(), fixture);
    }
    static void TearDownTestSuite() { delete document; }
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
    void TearDown() override { OleUninitialize(); }

    void embed(OleHost& host)
    {
        host.setPage(L"http://www.example.com/plans/index.htm");
        host.parameters().set(L"src", toFileUrl(document->path()));
        ASSERT_EQ(host.createFromModule(besideProgram("ROZERADO.DLL"), CLSID_RAVOVavIrezCtrl), S_OK);
        ASSERT_EQ(host.embed(), S_OK);
        pumpMessagesFor(0);
        ASSERT_NE(host.viewerWindow(), nullptr);
    }
    static std::wstring lastNavigation(OleHost& host)
    {
        const auto& navigations = host.browser().navigations;
        return navigations.empty() ? L"" : navigations.back().url;
    }
    static MSG keyDown(HWND window, UINT key) { return MSG{window, WM_KEYDOWN, key, 1, 0, {}}; }

    static ScopedFile* document;
};

ScopedFile* OleHostKeys::document = nullptr;

void press(HWND window, const char* key)
{
    KeyStroke stroke;
    ASSERT_TRUE(parseKeyStroke(key, stroke)) << key;
    pressKey(window, stroke);
}

TEST_F(OleHostKeys, ClickMakesTheControlUiActiveAndTheContainerRoutesItsKeysThroughIt)
{
    OleHost host(kWidth, kHeight);
    embed(host);
    const HWND viewer = host.viewerWindow();
    EXPECT_FALSE(host.site().uiActive());
    EXPECT_EQ(host.site().activeObject(), nullptr);

    pointerClick(viewer, {LONG(250 * 0.995), LONG(49 + 100 * 0.995)});   // the park
    ASSERT_EQ(host.browser().navigations.size(), 1u);
    const std::wstring parkByClick = lastNavigation(host);
    EXPECT_EQ(parkByClick, kRoot + L"park");
    EXPECT_TRUE(host.site().uiActive());
    ASSERT_NE(host.site().activeObject(), nullptr);
    EXPECT_EQ(GetFocus(), viewer);

    // What the control takes and what it hands back, asked as the container asks.
    struct Offer { UINT message; WPARAM key; bool used; } offers[] = {
        {WM_KEYDOWN, VK_F5, false},     // the browser's refresh
        {WM_KEYDOWN, VK_RETURN, false}, // no keyboard focus yet
        {WM_CHAR, 'a', false},
        {WM_KEYDOWN, VK_TAB, true},     // the first hotspot
        {WM_KEYDOWN, VK_RETURN, true},  // followed
        {WM_CHAR, '+', true},           // zoom
        {WM_KEYDOWN, VK_ESCAPE, true},
        {WM_KEYDOWN, VK_ESCAPE, false}, // nothing left to clear
    };
    for (const Offer& o : offers) {
        MSG m = {viewer, o.message, o.key, 1, 0, {}};
        EXPECT_EQ(host.translateAccelerator(m), o.used) << o.message << " " << o.key;
    }
    ASSERT_EQ(host.browser().navigations.size(), 2u);
    EXPECT_EQ(lastNavigation(host), kRoot + L"hall");

    // Pressed as a user presses them, through the host's loop.
    press(host.hwnd(), "tab");
    press(host.hwnd(), "tab");
    press(host.hwnd(), "enter");
    ASSERT_EQ(host.browser().navigations.size(), 3u);
    EXPECT_EQ(lastNavigation(host), parkByClick);
    EXPECT_EQ(host.browser().navigations.back().frame, L"_self");
    press(host.hwnd(), "shift+tab");
    press(host.hwnd(), "shift+tab");
    press(host.hwnd(), "space");
    EXPECT_EQ(lastNavigation(host), kRoot + L"church");   // wrapped round backwards
    EXPECT_EQ(GetFocus(), viewer);
    // A host drawing the control reads the document again; the keyboard
    // focus stays where it was.
    Canvas canvas(kWidth, kHeight);
    ASSERT_EQ(host.drawInto(canvas), S_OK);
    press(host.hwnd(), "enter");
    ASSERT_EQ(host.browser().navigations.size(), 5u);
    EXPECT_EQ(lastNavigation(host), kRoot + L"church");
    host.close();
}

WNDPROC containerProcedure = nullptr;
int containerWheels = 0;
LRESULT CALLBACK countWheels(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MOUSEWHEEL)
        ++containerWheels;
    return CallWindowProcA(containerProcedure, window, message, wParam, lParam);
}

TEST_F(OleHostKeys, WheelReachesTheContainersWindowOnlyWhenNothingScrolls)
{
    OleHost host(kWidth, kHeight);
    embed(host);
    containerWheels = 0;
    containerProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(host.hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countWheels)));
    const HWND viewer = host.viewerWindow();
    auto wheel = [viewer](int delta, WORD keys) {
        POINT p = {100, 100};
        ClientToScreen(viewer, &p);
        SendMessageA(viewer, WM_MOUSEWHEEL, MAKEWPARAM(keys, WORD(short(delta))), MAKELPARAM(p.x, p.y));
        pumpMessagesFor(0);
    };
    wheel(-120, 0);
    wheel(-120, MK_SHIFT);
    EXPECT_EQ(containerWheels, 2);
    wheel(720, MK_CONTROL);
    EXPECT_EQ(containerWheels, 2);
    wheel(-120, 0);
    wheel(-120, MK_SHIFT);
    EXPECT_EQ(containerWheels, 2);
    EXPECT_GT(GetScrollPos(viewer, SB_VERT), 0);
    EXPECT_GT(GetScrollPos(viewer, SB_HORZ), 0);
    SetWindowLongPtrA(host.hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(containerProcedure));
    host.close();
}

TEST_F(OleHostKeys, ScreenReaderFollowsAbsoluteUrlsAndMayOutliveTheControl)
{
    OleHost host(kWidth, kHeight);
    embed(host);
    AccessibleClient reader(host.viewerWindow());
    ASSERT_TRUE(reader);
    const std::string file = document->path();
    const std::string fileName = file.substr(file.find_last_of("\\/") + 1);
    EXPECT_EQ(narrowText(reader.name(0)), fileName);
    ASSERT_EQ(reader.childCount(), 3);
    const wchar_t* references[] = {L"hall", L"park", L"church"};
    for (long i = 1; i <= 3; ++i)
        EXPECT_EQ(reader.value(i), kRoot + references[i - 1]) << i;

    // Taking the focus makes the control UI-active as a click does.
    EXPECT_EQ(reader.select(SELFLAG_TAKEFOCUS, 3), S_OK);
    EXPECT_TRUE(host.site().uiActive());
    EXPECT_EQ(reader.focus(), 3);
    EXPECT_EQ(reader.doDefaultAction(2), S_OK);
    ASSERT_EQ(host.browser().navigations.size(), 1u);
    EXPECT_EQ(lastNavigation(host), kRoot + L"park");

    // The page goes; the reader keeps the object, and with it the module.
    IAccessible* kept = reader.object();
    kept->AddRef();
    host.close();
    auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ROZERADO.DLL"), "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE);
    BSTR name = nullptr;
    VARIANT focus;
    VariantInit(&focus);
    EXPECT_EQ(kept->get_accName(childId(0), &name), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(kept->get_accFocus(&focus), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(kept->accDoDefaultAction(childId(2)), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(host.browser().navigations.size(), 1u);
    kept->Release();
    reader.release();
    EXPECT_EQ(canUnload(), S_OK);
}

}  // namespace
