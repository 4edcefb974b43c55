#pragma once
// What a hotspot click does: fills the URL template with the hotspot's
// reference, picks the target frame, optionally shows both in a debug box,
// and hands them to the host browser.
#include <windows.h>
#include <unknwn.h>

#include <functional>
#include <string>

class HotspotRecord;
struct Settings;

// How the plug-in host asks its browser to load a URL into a frame (the
// container passes a call of NPN_GetURL with its plug-in instance). Empty in
// the control host.
using PluginUrlRequest = std::function<void(const char* url, const char* frame)>;

// The debug box's caption.
constexpr char kNavigationDebugCaption[] = "QEL Hotspot TiffViewer";

// Navigates to `record`'s URL. An empty URL does nothing and gives false.
// With `settings.debugNav` the box "Navigating frame: ...\nto relative URL:
// ..." (owned by `owner`) is shown first. With a plug-in request the request
// is made and the result is true; otherwise the result is that of
// navigateViaBrowser through `clientSite`. The debug box's message loop lets
// the page go on: when `stillWanted` (if given) answers false after the box,
// the viewer or its page is gone and nothing is requested (false).
bool navigateHotspot(const HotspotRecord& record, const Settings& settings, HWND owner,
                     const PluginUrlRequest& pluginRequest, IUnknown* clientSite,
                     const std::function<bool()>& stillWanted = {});

// The URL that navigateHotspot would hand to the browser for `record`,
// without showing or navigating anything: the composed URL in the plug-in
// host (whose browser resolves it), the absolute one in the control host.
// Empty when a click would request nothing (also when it would be refused).
std::string hotspotRequestUrl(const HotspotRecord& record, const Settings& settings, bool pluginHost,
                              IUnknown* clientSite);
