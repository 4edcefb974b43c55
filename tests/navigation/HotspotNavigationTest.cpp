#include "BrowserStandIns.h"
#include "DialogWatcher.h"
#include "HotspotNavigation.h"
#include "HotspotRecord.h"
#include "Settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct PluginCall {
    std::string url;
    std::string frame;
    size_t dialogsSeenBefore;
};

TEST(NavigateHotspot, PluginHostGetsTheFilledTemplateAndFrame)
{
    struct Case {
        const char* relUrl;
        const char* frame;
        const char* reference;
        const char* url;           // empty: no request
        const char* requestFrame;
    };
    const Case cases[] = {
        {kDefaultRelUrl, kDefaultFrame, "815", "/servlets/ZevuRedor?ShtmlFile=815", "_self"},
        {"/a?x=#HSREF#&y=#HSREF#", "main", "12", "/a?x=12&y=12", "main"},
        {"#HSREF##HSREF#", "main", "ab", "abab", "main"},
        {"/static/plan.html", "main", "815", "/static/plan.html", "main"},
        {"/a?r=#HSREF", "main", "1", "/a?r=#HSREF", "main"},
        {"/a?r=#hsref#", "main", "1", "/a?r=#hsref#", "main"},
        // A reference that carries the token is inserted once, not again.
        {"/a?r=#HSREF#&s=#HSREF#", "f", "#HSREF#x", "/a?r=#HSREF#x&s=#HSREF#x", "f"},
        {"/r/#HSREF#", "f", "Room 1 \xE4", "/r/Room 1 \xE4", "f"},
        {"/a?r=#HSREF#", "", "7", "/a?r=7", "_self"},
        {"/a?r=#HSREF#", "f", "", "/a?r=", "f"},
        {"", "f", "815", "", nullptr},
        {"#HSREF##HSREF#", "f", "", "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.relUrl) + " / " + c.reference);
        HotspotRecord record;
        record.reference = c.reference;
        Settings settings;
        settings.relUrl = c.relUrl;
        settings.frame = c.frame;
        std::vector<PluginCall> calls;
        const PluginUrlRequest request = [&](const char* url, const char* frame) {
            calls.push_back({url, frame, 0});
        };
        const bool requested = *c.url != '\0';
        EXPECT_EQ(navigateHotspot(record, settings, nullptr, request, nullptr),
                  requested);
        ASSERT_EQ(calls.size(), requested ? 1u : 0u);
        if (requested) {
            EXPECT_EQ(calls[0].url, c.url);
            EXPECT_EQ(calls[0].frame, c.requestFrame);
        }
    }
}

TEST(NavigateHotspot, DebugBoxShowsFrameAndUrlBeforeThePluginRequest)
{
    HotspotRecord record;
    record.reference = "815";
    Settings settings;
    settings.frame = "";
    settings.debugNav = true;
    DialogWatcher dialogs;
    std::vector<PluginCall> calls;
    const PluginUrlRequest request = [&](const char* url, const char* frame) {
        calls.push_back({url, frame, dialogs.seen().size()});
    };
    EXPECT_TRUE(navigateHotspot(record, settings, nullptr, request, nullptr));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].dialogsSeenBefore, 1u);
    const std::vector<SeenDialog> seen = dialogs.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "QEL Hotspot TiffViewer");
    EXPECT_EQ(seen[0].text, "Navigating frame: _self\nto relative URL: /servlets/ZevuRedor?ShtmlFile=815");

    // An empty URL shows nothing, debugging or not.
    dialogs.clear();
    settings.relUrl = "";
    EXPECT_FALSE(navigateHotspot(record, settings, nullptr, request, nullptr));
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_TRUE(dialogs.seen().empty());
}

TEST(NavigateHotspot, ControlHostResolvesThroughTheClientSite)
{
    StandInBrowser browser;
    browser.location = L"http://plans.example.com:81/site/index.html";
    StandInServiceProvider topLevel(kTestSidWebBrowserApp, &browser);
    StandInServiceProvider site(kTestSidTopLevelBrowser, &topLevel);

    HotspotRecord record;
    record.reference = "815";
    Settings settings;
    settings.debugNav = true;
    DialogWatcher dialogs;
    size_t dialogsSeenBefore = 0;
    browser.onNavigate = [&] { dialogsSeenBefore = dialogs.seen().size(); };

    EXPECT_TRUE(navigateHotspot(record, settings, nullptr, PluginUrlRequest(), &site));
    ASSERT_EQ(browser.navigations.size(), 1u);
    EXPECT_EQ(browser.navigations[0].url, L"http://plans.example.com:81/servlets/ZevuRedor?ShtmlFile=815");
    EXPECT_EQ(browser.navigations[0].frame, L"_self");
    EXPECT_EQ(dialogsSeenBefore, 1u);
    const std::vector<SeenDialog> seen = dialogs.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Navigating frame: _self\nto relative URL: /servlets/ZevuRedor?ShtmlFile=815");

    // Without a client site nothing is navigated and the result says so.
    settings.debugNav = false;
    EXPECT_FALSE(navigateHotspot(record, settings, nullptr, PluginUrlRequest(), nullptr));
    EXPECT_EQ(browser.navigations.size(), 1u);
    EXPECT_EQ(browser.references(), 1);
    EXPECT_EQ(topLevel.references(), 1);
    EXPECT_EQ(site.references(), 1);
}

// The reference comes from the document, whoever made it: a control
// character, script or any scheme but http and https never reaches the
// browser. What is refused shows only in the debug box, which says why;
// parameters passed in the reference keep working.
TEST(NavigateHotspot, DocumentCannotSendTheBrowserAnywhereButTheWeb)
{
    const char* const control = "the hotspot's reference holds a control character";
    const char* const controlInUrl = "the URL holds a control character";
    const char* const scheme = "only http and https addresses are navigated";
    const char* const server = "the URL names another server without a scheme";
    struct Case {
        const char* relUrl;
        const char* reference;
        const char* refusal;   // null: navigated
        const char* shown;     // the URL as the box shows it
    };
    const Case cases[] = {
        {kDefaultRelUrl, "815&view=2", nullptr, "/servlets/ZevuRedor?ShtmlFile=815&view=2"},
        {kDefaultRelUrl, "815\r\nSet-Cookie: a=b", control, "/servlets/ZevuRedor?ShtmlFile=815%0D%0ASet-Cookie: a=b"},
        {kDefaultRelUrl, "8\t15", control, "/servlets/ZevuRedor?ShtmlFile=8%0915"},
        {kDefaultRelUrl, "815\x7F", control, "/servlets/ZevuRedor?ShtmlFile=815%7F"},
        {kDefaultRelUrl, "\x01", control, "/servlets/ZevuRedor?ShtmlFile=%01"},
        {"#HSREF#", "javascript:alert(document.cookie)//", scheme, "javascript:alert(document.cookie)//"},
        {"#HSREF#", "JavaScript:alert(1)", scheme, "JavaScript:alert(1)"},
        {"#HSREF#", "  javascript:alert(1)", scheme, "  javascript:alert(1)"},
        {"#HSREF#", "vbscript:msgbox(1)", scheme, "vbscript:msgbox(1)"},
        {"#HSREF#", "data:text/html,<script>alert(1)</script>", scheme, "data:text/html,<script>alert(1)</script>"},
        {"#HSREF#", "file:///C:/windows/win.ini", scheme, "file:///C:/windows/win.ini"},
        {"#HSREF#", "C:\\windows\\win.ini", scheme, "C:\\windows\\win.ini"},
        {"#HSREF#", "mailto:x@example.com", scheme, "mailto:x@example.com"},
        {"#HSREF#", "\\\\192.0.2.1\\share\\x.htm", server, "\\\\192.0.2.1\\share\\x.htm"},
        {"#HSREF#", "//evil.example.com/x", server, "//evil.example.com/x"},
        {"#HSREF#", "/\\evil.example.com/x", server, "/\\evil.example.com/x"},
        {"#HSREF#", "http://www.example.com/a?b=1", nullptr, "http://www.example.com/a?b=1"},
        {"#HSREF#", "HTTPS://www.example.com/", nullptr, "HTTPS://www.example.com/"},
        {"#HSREF#", "plan.htm?at=10:30", nullptr, "plan.htm?at=10:30"},
        {"/a?r=#HSREF#", "javascript:alert(1)", nullptr, "/a?r=javascript:alert(1)"},   // only a parameter
        {"/a\tb?r=#HSREF#", "1", controlInUrl, "/a%09b?r=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reference);
        HotspotRecord record;
        record.reference = c.reference;
        Settings settings;
        settings.relUrl = c.relUrl;
        settings.debugNav = true;
        DialogWatcher dialogs;
        std::vector<PluginCall> calls;
        const PluginUrlRequest request = [&](const char* url, const char* frame) {
            calls.push_back({url, frame, 0});
        };
        EXPECT_EQ(navigateHotspot(record, settings, nullptr, request, nullptr), c.refusal == nullptr);
        const std::vector<SeenDialog> seen = dialogs.seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].caption, "QEL Hotspot TiffViewer");
        if (c.refusal) {
            EXPECT_TRUE(calls.empty());
            EXPECT_EQ(seen[0].text, std::string("Not navigating frame: _self\nto URL: ") + c.shown + "\nbecause " +
                                        c.refusal + ".");
        } else {
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].url, c.shown);
            EXPECT_EQ(seen[0].text, std::string("Navigating frame: _self\nto relative URL: ") + c.shown);
        }
    }
}

// In the control host the URL is also checked after it is joined to the
// page's scheme, host and port: a page that is not on the web sends nothing.
TEST(NavigateHotspot, ControlHostNavigatesOnlyToTheWeb)
{
    struct Case {
        const wchar_t* page;
        const char* reference;
        const wchar_t* navigated;   // null: nothing
        const char* box;
    } cases[] = {
        {L"http://plans.example.com/site/", "815&view=2", L"http://plans.example.com:80/servlets/ZevuRedor?ShtmlFile=815&view=2",
         "Navigating frame: _self\nto relative URL: /servlets/ZevuRedor?ShtmlFile=815&view=2"},
        {L"http://plans.example.com/site/", "815\r\n", nullptr,
         "Not navigating frame: _self\nto URL: /servlets/ZevuRedor?ShtmlFile=815%0D%0A\nbecause the hotspot's reference "
         "holds a control character."},
        {L"file:///C:/plans/index.html", "815", nullptr,
         "Not navigating frame: _self\nto URL: file://:0/servlets/ZevuRedor?ShtmlFile=815\nbecause only http and https "
         "addresses are navigated."},
        {L"ftp://files.example.com/plans/", "815", nullptr,
         "Not navigating frame: _self\nto URL: ftp://files.example.com:21/servlets/ZevuRedor?ShtmlFile=815\nbecause only "
         "http and https addresses are navigated."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reference);
        StandInBrowser browser;
        browser.location = c.page;
        StandInServiceProvider topLevel(kTestSidWebBrowserApp, &browser);
        StandInServiceProvider site(kTestSidTopLevelBrowser, &topLevel);
        HotspotRecord record;
        record.reference = c.reference;
        Settings settings;
        settings.debugNav = true;
        DialogWatcher dialogs;
        EXPECT_EQ(navigateHotspot(record, settings, nullptr, PluginUrlRequest(), &site), c.navigated != nullptr);
        ASSERT_EQ(browser.navigations.size(), c.navigated ? 1u : 0u);
        if (c.navigated) {
            EXPECT_EQ(browser.navigations[0].url, c.navigated);
        }
        const std::vector<SeenDialog> seen = dialogs.seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, c.box);
        EXPECT_EQ(browser.references(), 1);
        EXPECT_EQ(site.references(), 1);
    }
}

}  // namespace
