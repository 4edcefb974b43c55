#include "HotspotNavigation.h"
#include "BrowserNavigation.h"
#include "HotspotRecord.h"
#include "Settings.h"
#include "UrlTemplate.h"
#include "UserMessage.h"

#include <string>

bool navigateHotspot(const HotspotRecord& record, const Settings& settings, HWND owner,
                     const PluginUrlRequest& pluginRequest, IUnknown* clientSite)
{
    // Composed before anything is shown, so nothing that happens while the
    // debug box is open can change it.
    const std::string url = composeHotspotUrl(settings.relUrl, record.reference);
    if (url.empty())
        return false;
    const std::string frame = targetFrameName(settings.frame);

    if (settings.debugNav)
        showUserMessage(owner, navigationDebugText(frame, url).c_str(), kNavigationDebugCaption, MB_OK);

    if (pluginRequest) {
        // The browser resolves a relative URL itself; its answer is not examined.
        pluginRequest(url.c_str(), frame.c_str());
        return true;
    }
    return navigateViaBrowser(clientSite, url, frame);
}

std::string hotspotRequestUrl(const HotspotRecord& record, const Settings& settings, bool pluginHost,
                              IUnknown* clientSite)
{
    const std::string url = composeHotspotUrl(settings.relUrl, record.reference);
    if (url.empty() || pluginHost)
        return url;
    return browserAbsoluteUrl(clientSite, url);
}
