#pragma once
// Holds one viewer in a window that a host supplies (the browser's plug-in
// window or the control's own window): takes the window over, puts a
// 40-pixel toolbar band at its top and the viewer below, turns toolbar clicks
// into viewer commands with the right check marks, names the buttons in the
// toolbar's tooltips, hands the keyboard focus on to the viewer, and is the
// viewer's navigation callback, asking the host browser to load a clicked
// hotspot's URL.
#include "NavigationCallback.h"
#include "TiffView.h"
#include "ViewerPage.h"
#include "WindowWrapper.h"

#include <windows.h>
#include <commctrl.h>
#include <unknwn.h>

#include <functional>
#include <string>

class HotspotRecord;
struct Settings;
struct _NPP;   // the browser's plug-in instance (NpapiAbi.h)

class ViewerContainer : public WindowWrapper, public NavigationCallback {
public:
    static constexpr int kToolbarHeight = 40;

    ViewerContainer();
    ~ViewerContainer() override;

    // Takes over `hostWindow` and creates the toolbar and the view in it.
    void create(HWND hostWindow);
    // Destroys the view and toolbar windows and gives the host window back.
    void destroyWindows();
    // Keeps a counted reference to the control's client site (null releases).
    void setClientSite(IUnknown* site);
    IUnknown* clientSite() const { return clientSite_; }

    // The host held while any window of the viewer handles a message.
    void setHostAnchor(HostAnchor* anchor);

    bool navigateToHotspot(const ViewHotspot& hotspot) override;
    std::string hotspotUrl(const ViewHotspot& hotspot) override;
    // A keyboard message that a control host routes through the control
    // before dispatching it: true when the viewer used it (it has then been
    // handled), false to hand it back to the host's page.
    bool translateKey(const MSG& message);
    // Called when the viewer takes the keyboard focus (the control becomes
    // UI-active); may call out to the host.
    void setViewFocusHandler(std::function<void()> handler) { viewFocusHandler_ = std::move(handler); }
    // The name of a toolbar button's command, as its tooltip shows it; null
    // for other ids.
    static const char* buttonName(int command);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

    TiffView& view() { return view_; }
    HWND toolbarWindow() const;

    // The page's API of this viewer, and where its events go (null: none).
    // A hotspot's URL goes to the page's `navigating` first, which may
    // cancel it; it may remove the viewer too.
    ViewerPage& page() { return page_; }
    void setPageEvents(PageEvents* events);
    // A toolbar command as its button gives it (check marks included).
    void runCommand(int commandId) { onCommand(WPARAM(commandId), 0); }
    // This viewer's URL template and target frame in place of the settings
    // file's (empty: the settings file's).
    void setNavigationOverrides(const std::string& urlTemplate, const std::string& frame);

    // Set by the plug-in host right after create; null in the control host.
    _NPP* pluginInstance = nullptr;

private:
    // The toolbar's take-over: paints its background light grey, the colour
    // of the button pictures' background, so they need no mask.
    class ToolbarWindow : public WindowWrapper {
    public:
        LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    };

    void createToolbar(const RECT& client);
    void setUpButtons();
    void onSize();
    void onCommand(WPARAM command, LPARAM source);
    bool onNotify(const NMHDR& header);
    void onFocus(WPARAM previous);
    void checkButton(int commandId, bool checked);
    // Asks the page whether a hotspot's URL may go to the browser.
    bool pageMayNavigate(const HotspotRecord& record, const Settings& effective, IUnknown* site);
    // The settings with this viewer's overrides.
    Settings navigationSettings() const;

    TiffView view_;
    ViewerPage page_;
    PageEvents* pageEvents_ = nullptr;
    std::string templateOverride_;
    std::string frameOverride_;
    ToolbarWindow toolbar_;
    HIMAGELIST imageList_ = nullptr;
    IUnknown* clientSite_ = nullptr;
    std::function<void()> viewFocusHandler_;
};
