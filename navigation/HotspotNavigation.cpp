#include "HotspotNavigation.h"
#include "AddressPolicy.h"
#include "BrowserNavigation.h"
#include "HotspotRecord.h"
#include "Settings.h"
#include "UrlTemplate.h"
#include "UserMessage.h"

#include <string>

bool navigateHotspot(const HotspotRecord& record, const Settings& settings, HWND owner,
                     const PluginUrlRequest& pluginRequest, IUnknown* clientSite,
                     const std::function<bool()>& stillWanted)
{
    // Composed, checked and (in the control host) resolved before anything
    // is shown: nothing that happens while the debug box is open can change
    // it, and neither the record nor the client site is needed after it.
    const std::string url = composeHotspotUrl(settings.relUrl, record.reference);
    if (url.empty())
        return false;
    const std::string frame = targetFrameName(settings.frame);

    // The reference comes from the document, whoever made it: it may not
    // smuggle control characters, script or another scheme into the URL.
    NavigationRefusal refusal = checkHotspotNavigation(record.reference, url);
    BrowserNavigation browser;
    bool prepared = false;
    if (refusal == NavigationRefusal::None && !pluginRequest) {
        prepared = browser.prepare(clientSite, url);
        if (prepared)
            refusal = checkResolvedNavigation(browser.absoluteUrl());
    }

    if (settings.debugNav) {
        const std::string text =
            refusal == NavigationRefusal::None
                ? navigationDebugText(frame, url)
                : refusedNavigationDebugText(frame, prepared ? browser.absoluteUrl() : url,
                                             navigationRefusalText(refusal));
        showUserMessage(owner, text.c_str(), kNavigationDebugCaption, MB_OK);
        // The box's message loop lets the page go on: a viewer or page gone
        // meanwhile asks for nothing more.
        if (stillWanted && !stillWanted())
            return false;
    }
    if (refusal != NavigationRefusal::None)
        return false;

    if (pluginRequest) {
        // The browser resolves a relative URL itself; its answer is not examined.
        pluginRequest(url.c_str(), frame.c_str());
        return true;
    }
    return prepared && browser.navigate(frame);
}

std::string hotspotRequestUrl(const HotspotRecord& record, const Settings& settings, bool pluginHost,
                              IUnknown* clientSite)
{
    // The same composition and checks as a click, without the box and
    // without the request.
    const std::string url = composeHotspotUrl(settings.relUrl, record.reference);
    if (url.empty() || checkHotspotNavigation(record.reference, url) != NavigationRefusal::None)
        return std::string();
    if (pluginHost)
        return url;
    BrowserNavigation browser;
    if (!browser.prepare(clientSite, url) || checkResolvedNavigation(browser.absoluteUrl()) != NavigationRefusal::None)
        return std::string();
    return browser.absoluteUrl();
}
