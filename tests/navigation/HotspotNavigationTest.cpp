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

}  // namespace
