// The view on real windows driven from the keyboard, the wheel and a screen
// reader: Tab order and outline, scrolling into view, Enter and Space as
// clicks, Escape, scrolling and zoom keys, wheel amounts and zoom about the
// pointer, the wheel reaching the parent, and the accessible object.
#include "AccessibleClient.h"
#include "CommandIds.h"
#include "HostAnchor.h"
#include "HotspotRecord.h"
#include "NavigationCallback.h"
#include "StandInBrowser.h"
#include "ViewerTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr unsigned kFrame = 0x008080;   // the default outline colour (0, 128, 128)

unsigned white(int, int) { return 0xFFFFFF; }

// Records the hotspots followed; its URL of a hotspot is "u:" + reference.
struct RecordingNavigation : NavigationCallback {
    std::vector<const ViewHotspot*> followed;
    bool navigateToHotspot(const ViewHotspot& h) override
    {
        followed.push_back(&h);
        return true;
    }
    std::string hotspotUrl(const ViewHotspot& h) override { return "u:" + h.hotspot->reference; }
};

void press(const ViewInWindow& v, const char* key)
{
    KeyStroke stroke;
    ASSERT_TRUE(parseKeyStroke(key, stroke)) << key;
    SetFocus(v.view->hwnd());
    pressKey(v.view->hwnd(), stroke);
}

// A 400 x 300 white document at scale 1 in a 200 x 150 view: it scrolls both
// ways. B has no tip text; the hotspot without a reference is not listed.
struct KeyFixture {
    RecordingNavigation navigation;
    ScopedFile doc;
    ViewInWindow v;
    explicit KeyFixture(int width = 400, int height = 300)
        : doc(writeRgbDocument(width, height,
                               {{"A", u"Alpha", 10, 10, 60, 40},
                                {"", u"no reference", 70, 10, 90, 30},
                                {"B", u"", 300, 200, 380, 280},
                                {"C", u"Gamma", 120, 20, 180, 60}},
                               white)),
          v(200, 150, &navigation)
    {
        v.show(doc.path());
        v.command(ID_ACTUAL_SIZE);
        SetFocus(v.view->hwnd());
        pumpMessages();
    }
    RECT client() const
    {
        RECT r = {};
        GetClientRect(v.view->hwnd(), &r);
        return r;
    }
    RECT shownRect(int index) const { return v.view->hotspotLocation(*v.view->hotspots()[size_t(index)]); }
    // Whether the outline colour shows in the middle of the hotspot's left edge.
    bool outlined(int index) const
    {
        const RECT r = shownRect(index), c = client();
        const int y = (r.top + r.bottom) / 2;
        if (r.left < 0 || r.left >= c.right || y < 0 || y >= c.bottom)
            return false;
        return v.capture().at(r.left, y) == kFrame;
    }
    POINT scroll() const { return {GetScrollPos(v.view->hwnd(), SB_HORZ), GetScrollPos(v.view->hwnd(), SB_VERT)}; }
};

TEST(TiffViewKeys, TabWalksTheHotspotsInListOrderWrappingAndBringsEachIntoView)
{
    KeyFixture f;
    ASSERT_EQ(f.v.view->hotspots().size(), 3u);
    struct Step { const char* key; int focus; } steps[] = {
        {"tab", 0}, {"tab", 1}, {"tab", 2}, {"tab", 0}, {"shift+tab", 2}, {"shift+tab", 1}, {"shift+tab", 0},
        {"shift+tab", 2},
    };
    for (const Step& s : steps) {
        press(f.v, s.key);
        SCOPED_TRACE(testing::Message() << s.key << " to " << s.focus);
        ASSERT_EQ(f.v.view->keyFocus(), s.focus);
        // Wholly in view, outlined as a hovered hotspot is, and alone outlined.
        RECT r = f.shownRect(s.focus), c = f.client(), both = {};
        EXPECT_TRUE(IntersectRect(&both, &r, &c) && EqualRect(&both, &r));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(f.outlined(i), i == s.focus) << "hotspot " << i;
        // Its tip shows at once just below its left end; B has no tip text.
        const HWND tip = f.v.view->tooltipWindow();
        EXPECT_EQ(IsWindowVisible(tip) != FALSE, s.focus != 1);
        if (s.focus != 1) {
            POINT below = {r.left, r.bottom + 2};
            ClientToScreen(f.v.view->hwnd(), &below);
            RECT shown = {};
            GetWindowRect(tip, &shown);
            EXPECT_NEAR(shown.left, below.x, 2);
            EXPECT_NEAR(shown.top, below.y, 2);
        }
    }
    // Scrolled no more than needed: B, bottom right, ends at the view's edge.
    press(f.v, "shift+tab");
    const RECT c = f.client();
    EXPECT_EQ(f.scroll().x, 380 - c.right);
    EXPECT_EQ(f.scroll().y, 280 - c.bottom);
}

TEST(TiffViewKeys, EnterAndSpaceFollowTheFocusedHotspotAsAClickAndEscapeClearsIt)
{
    KeyFixture f;
    f.v.pointerAt(20, 20);
    f.v.pointerAt(20, 20, WM_LBUTTONDOWN, MK_LBUTTON);
    f.v.pointerAt(20, 20, WM_LBUTTONUP);
    ASSERT_EQ(f.navigation.followed.size(), 1u);   // the click on A
    EXPECT_EQ(GetFocus(), f.v.view->hwnd());          // a click gives the view the focus
    f.v.pointerAt(100, 120);                           // away from every hotspot

    press(f.v, "enter");                               // nothing focused yet: not used
    EXPECT_EQ(f.navigation.followed.size(), 1u);
    press(f.v, "tab");
    press(f.v, "enter");
    press(f.v, "space");
    // A held key repeats: it follows once.
    SendMessageA(f.v.view->hwnd(), WM_KEYDOWN, VK_RETURN, 1 | (1 << 30));
    ASSERT_EQ(f.navigation.followed.size(), 3u);
    EXPECT_EQ(f.navigation.followed[1], f.navigation.followed[0]);   // the same hotspot as the click
    EXPECT_EQ(f.navigation.followed[2], f.navigation.followed[0]);

    press(f.v, "escape");
    EXPECT_EQ(f.v.view->keyFocus(), -1);
    EXPECT_FALSE(f.outlined(0));
    const MSG enter = {f.v.view->hwnd(), WM_KEYDOWN, VK_RETURN, 1, 0, {}};
    EXPECT_FALSE(f.v.view->usesKeyMessage(enter));   // handed back to the page
    press(f.v, "enter");
    EXPECT_EQ(f.navigation.followed.size(), 3u);
}

TEST(TiffViewKeys, EscapeEndsALensOrPanDrag)
{
    for (const int mode : {int(ID_MAGNIFIER), int(ID_PAN)}) {
        KeyFixture f;
        f.v.command(mode);
        f.v.pointerAt(100, 70);
        f.v.pointerAt(100, 70, WM_LBUTTONDOWN, MK_LBUTTON);
        ASSERT_TRUE(f.v.view->lensActive() || f.v.view->panning()) << mode;
        press(f.v, "escape");
        EXPECT_FALSE(f.v.view->lensActive()) << mode;
        EXPECT_FALSE(f.v.view->panning()) << mode;
        EXPECT_NE(GetCapture(), f.v.view->hwnd()) << mode;
        f.v.pointerAt(100, 70, WM_LBUTTONUP);
    }
}

TEST(TiffViewKeys, PointerAndKeyboardOutlinesNeverBothShowTheLastInputWins)
{
    KeyFixture f;
    f.v.pointerAt(150, 40);   // over C
    EXPECT_TRUE(f.outlined(2));
    press(f.v, "tab");        // A from the keyboard
    EXPECT_TRUE(f.outlined(0));
    EXPECT_FALSE(f.outlined(2));
    EXPECT_TRUE(IsWindowVisible(f.v.view->tooltipWindow()));   // A's tip
    f.v.pointerAt(151, 41);   // the pointer moves: C again
    EXPECT_TRUE(f.outlined(2));
    EXPECT_FALSE(f.outlined(0));
    EXPECT_FALSE(IsWindowVisible(f.v.view->tooltipWindow()));   // C's comes after the delay
    EXPECT_EQ(f.v.view->keyFocus(), 0);   // the keyboard focus stays for Tab and Enter
}

TEST(TiffViewKeys, ScrollingKeysMoveByTheLineThePageAndToTheCorners)
{
    KeyFixture f;
    const RECT c = f.client();
    // As far as the scroll bars go (their range and page, as a pan drag goes).
    auto largest = [&f](int bar) {
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_RANGE | SIF_PAGE;
        GetScrollInfo(f.v.view->hwnd(), bar, &info);
        return info.nMax - int(info.nPage);
    };
    const int maxH = largest(SB_HORZ), maxV = largest(SB_VERT);
    struct Step { const char* key; int h, v; } steps[] = {
        {"right", 5, 0},  {"down", 5, 5},  {"down", 5, 10},        {"left", 0, 10},
        {"left", 0, 10},  {"pagedown", 0, 10 + c.bottom},           {"shift+pagedown", c.right, 10 + c.bottom},
        {"end", maxH, maxV}, {"pagedown", maxH, maxV},              {"up", maxH, maxV - 5},
        {"shift+pageup", maxH - c.right, maxV - 5},                 {"home", 0, 0},
    };
    for (const Step& s : steps) {
        press(f.v, s.key);
        EXPECT_EQ(f.scroll().x, s.h) << s.key;
        EXPECT_EQ(f.scroll().y, s.v) << s.key;
    }
    // Where nothing scrolls the keys go back to the page.
    f.v.command(ID_FIT_WINDOW);
    for (const UINT key : {VK_LEFT, VK_DOWN, VK_NEXT, VK_HOME}) {
        const MSG m = {f.v.view->hwnd(), WM_KEYDOWN, key, 1, 0, {}};
        EXPECT_FALSE(f.v.view->usesKeyMessage(m)) << key;
    }
}

TEST(TiffViewKeys, PlusMinusZeroAndOneZoomWithTheToolbarsStepsWhicheverKeyTypesThem)
{
    KeyFixture f;
    struct Step { const char* key; double scale; } steps[] = {
        {"+", 1.05}, {"add", 1.15}, {"-", 1.05}, {"subtract", 0.95}, {"1", 1.0},
    };
    for (const Step& s : steps) {
        press(f.v, s.key);
        EXPECT_NEAR(f.v.view->scale(), s.scale, 1e-9) << s.key;
    }
    press(f.v, "0");
    EXPECT_NEAR(f.v.view->scale(), 0.5, 0.01);   // 400 x 300 fitted into about 200 x 150
    EXPECT_EQ(GetScrollPos(f.v.view->hwnd(), SB_HORZ), 0);
}

// The parent's wheel messages, counted by a procedure put in front of its own.
WNDPROC parentProcedure = nullptr;
int parentWheels = 0;
LRESULT CALLBACK countingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MOUSEWHEEL || message == WM_MOUSEHWHEEL)
        ++parentWheels;
    return CallWindowProcA(parentProcedure, window, message, wParam, lParam);
}

struct WheelFixture : KeyFixture {
    explicit WheelFixture(int width = 400, int height = 300) : KeyFixture(width, height)
    {
        parentWheels = 0;
        parentProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            v.host->hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countingProcedure)));
    }
    ~WheelFixture() { SetWindowLongPtrA(v.host->hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(parentProcedure)); }
    void wheel(int delta, WORD keys, POINT client = {50, 50}, UINT message = WM_MOUSEWHEEL)
    {
        ClientToScreen(v.view->hwnd(), &client);
        SendMessageA(v.view->hwnd(), message, MAKEWPARAM(keys, WORD(short(delta))), MAKELPARAM(client.x, client.y));
        pumpMessages();
    }
};

TEST(TiffViewKeys, WheelScrollsThreeLinesPerNotchAddingUpSmallDeltas)
{
    WheelFixture f;
    UINT lines = 3;
    SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    const int notch = int(lines) * 5;
    struct Step { int delta; WORD keys; UINT message; int h, v; } steps[] = {
        {-120, 0, WM_MOUSEWHEEL, 0, notch},                 // toward the user: down
        {-60, 0, WM_MOUSEWHEEL, 0, notch + notch / 2},      // half notches add up
        {-60, 0, WM_MOUSEWHEEL, 0, 2 * notch},
        {120, 0, WM_MOUSEWHEEL, 0, notch},                  // away from the user: up
        {-120, MK_SHIFT, WM_MOUSEWHEEL, notch, notch},      // Shift: right
        {120, 0, WM_MOUSEHWHEEL, 2 * notch, notch},         // tilted right
        {1200, 0, WM_MOUSEWHEEL, 2 * notch, 0},             // clamped at the top
    };
    for (const Step& s : steps) {
        f.wheel(s.delta, s.keys, {50, 50}, s.message);
        EXPECT_EQ(f.scroll().x, s.h) << s.delta << " " << s.keys;
        EXPECT_EQ(f.scroll().y, s.v) << s.delta << " " << s.keys;
    }
    EXPECT_EQ(parentWheels, 0);
}

TEST(TiffViewKeys, WheelGoesToTheParentWhereTheWholeImageShowsButCtrlWheelNever)
{
    WheelFixture f;
    f.v.command(ID_FIT_WINDOW);   // no scroll bars
    f.wheel(-120, 0);
    f.wheel(-120, MK_SHIFT);
    EXPECT_EQ(parentWheels, 2);
    f.wheel(120, MK_CONTROL);
    f.wheel(-120, MK_CONTROL);
    EXPECT_EQ(parentWheels, 2);

    // A wide strip: the vertical wheel goes on, Shift+wheel scrolls it.
    WheelFixture strip(800, 100);
    ASSERT_LT(strip.v.view->scaledHeight(), strip.client().bottom);
    ASSERT_GT(strip.v.view->scaledWidth(), strip.client().right);
    strip.wheel(-120, 0);
    EXPECT_EQ(parentWheels, 1);
    strip.wheel(-120, MK_SHIFT);
    EXPECT_EQ(parentWheels, 1);
    EXPECT_GT(strip.scroll().x, 0);
}

TEST(TiffViewKeys, CtrlWheelZoomsOneStepPerNotchKeepingThePointUnderThePointer)
{
    WheelFixture f;
    press(f.v, "right");
    press(f.v, "down");
    const POINT pointer = {120, 80};
    auto imagePoint = [&f, pointer] {
        return POINT{LONG(std::lround((pointer.x + f.scroll().x) / f.v.view->scale())),
                     LONG(std::lround((pointer.y + f.scroll().y) / f.v.view->scale()))};
    };
    const POINT before = imagePoint();
    struct Step { int delta; double scale; } steps[] = {{120, 1.05}, {240, 1.25}, {-60, 1.25}, {-60, 1.15}};
    for (const Step& s : steps) {
        f.wheel(s.delta, MK_CONTROL, pointer);
        EXPECT_NEAR(f.v.view->scale(), s.scale, 1e-9) << s.delta;
        const POINT after = imagePoint();
        EXPECT_LE(std::abs(after.x - before.x), 1) << s.delta;
        EXPECT_LE(std::abs(after.y - before.y), 1) << s.delta;
    }
}

TEST(TiffViewKeys, ScreenReaderReadsTheHotspotsAsLinksAndActsOnThem)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        KeyFixture f;
        f.v.view->setDocumentName(L"plan.htf");
        AccessibleClient reader(f.v.view->hwnd());
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader.role(0), ROLE_SYSTEM_GRAPHIC);
        EXPECT_EQ(reader.name(0), L"plan.htf");
        EXPECT_EQ(reader.description(0), L"400 \u00D7 300 pixels, 3 links");
        ASSERT_EQ(reader.childCount(), 3);
        struct Child { const wchar_t* name; const wchar_t* value; } children[] = {
            {L"Alpha", L"u:A"}, {L"B", L"u:B"}, {L"Gamma", L"u:C"}};   // B: no tip, so its reference
        for (long i = 1; i <= 3; ++i) {
            EXPECT_EQ(reader.name(i), children[i - 1].name) << i;
            EXPECT_EQ(reader.value(i), children[i - 1].value) << i;
            EXPECT_EQ(reader.role(i), ROLE_SYSTEM_LINK) << i;
            EXPECT_EQ(reader.defaultAction(i), L"Jump") << i;
        }
        EXPECT_TRUE(reader.state(2) & STATE_SYSTEM_OFFSCREEN);   // B lies outside the view
        EXPECT_FALSE(reader.state(1) & STATE_SYSTEM_OFFSCREEN);
        RECT a = reader.location(1);
        EXPECT_EQ(reader.hitTest({a.left + 5, a.top + 5}), 1);
        EXPECT_EQ(reader.hitTest({a.right + 5, a.top + 5}), CHILDID_SELF);
        EXPECT_EQ(reader.navigate(NAVDIR_FIRSTCHILD, 0), 1);
        EXPECT_EQ(reader.navigate(NAVDIR_NEXT, 1), 2);
        EXPECT_EQ(reader.navigate(NAVDIR_NEXT, 3), 0);
        EXPECT_EQ(reader.navigate(NAVDIR_LASTCHILD, 0), 3);
        EXPECT_EQ(reader.navigate(NAVDIR_RIGHT, 1), 3);   // Gamma is right of Alpha

        // Taking the focus moves the keyboard focus (and scrolls), as Tab does.
        EXPECT_EQ(reader.select(SELFLAG_TAKEFOCUS, 2), S_OK);
        EXPECT_EQ(f.v.view->keyFocus(), 1);
        EXPECT_EQ(reader.focus(), 2);
        EXPECT_TRUE(reader.state(2) & STATE_SYSTEM_FOCUSED);
        EXPECT_FALSE(reader.state(2) & STATE_SYSTEM_OFFSCREEN);
        EXPECT_EQ(reader.doDefaultAction(2), S_OK);
        ASSERT_EQ(f.navigation.followed.size(), 1u);
        EXPECT_EQ(f.navigation.followed[0]->hotspot->reference, "B");
    }
    CoUninitialize();
}

// The page removes the viewer while a hotspot is followed from the keyboard
// or by a reader: its host lets the view's window go at once and frees the
// view when the outermost call into it has returned, as the hosts do.
struct ClosingHost : HostAnchor, NavigationCallback {
    ViewInWindow* v = nullptr;
    int depth = 0, calls = 0, depthWhileNavigating = -1;
    bool closing = false;
    void holdHost() override { ++depth; }
    void releaseHost() override
    {
        if (--depth == 0 && closing)
            v->view.reset();
    }
    bool hostClosing() const override { return closing; }
    bool navigateToHotspot(const ViewHotspot&) override
    {
        ++calls;
        depthWhileNavigating = depth;
        closing = true;
        DestroyWindow(v->view->hwnd());
        return true;
    }
};

TEST(TiffViewKeys, FollowingAHotspotSurvivesThePageRemovingTheViewer)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    for (const bool reader : {false, true}) {
        SCOPED_TRACE(reader ? "reader" : "Enter");
        ClosingHost host;
        ScopedFile doc(writeRgbDocument(200, 100, {{"A", u"Alpha", 10, 10, 60, 40}}));
        ViewInWindow v(200, 100, &host);
        host.v = &v;
        v.view->setHostAnchor(&host);
        v.show(doc.path());
        press(v, "tab");
        if (reader) {
            AccessibleClient client(v.view->hwnd());
            ASSERT_TRUE(client);
            EXPECT_EQ(client.doDefaultAction(1), S_OK);
            EXPECT_EQ(client.doDefaultAction(1), CO_E_OBJNOTCONNECTED);
        } else {
            SendMessageA(v.view->hwnd(), WM_KEYDOWN, VK_RETURN, 1);
        }
        EXPECT_EQ(v.view, nullptr);   // freed when the call was over
        EXPECT_EQ(host.calls, 1);
        EXPECT_GE(host.depthWhileNavigating, 1);   // held by the call, not freed under it
    }
    CoUninitialize();
}

// Focus events as a reader's hook sees them (the hook runs in this thread).
std::vector<LONG> focusEvents;
void CALLBACK onFocusEvent(HWINEVENTHOOK, DWORD, HWND, LONG object, LONG child, DWORD, DWORD)
{
    if (object == OBJID_CLIENT)
        focusEvents.push_back(child);
}

TEST(TiffViewKeys, MovingTheKeyboardFocusRaisesFocusEventsForTheChild)
{
    KeyFixture f;
    focusEvents.clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, &onFocusEvent,
                                         GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    press(f.v, "tab");
    press(f.v, "tab");
    press(f.v, "escape");
    pumpMessagesFor(100);
    UnhookWinEvent(hook);
    // The window itself may also be reported focused when the system gives
    // it the focus back (other programs' windows come and go meanwhile):
    // the children's events come in order, and Escape reports the view.
    std::vector<LONG> children;
    for (LONG child : focusEvents)
        if (child != CHILDID_SELF)
            children.push_back(child);
    EXPECT_EQ(children, (std::vector<LONG>{1, 2}));
    ASSERT_FALSE(focusEvents.empty());
    EXPECT_EQ(focusEvents.back(), CHILDID_SELF);
}

} // namespace
