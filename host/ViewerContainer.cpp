#include "ViewerContainer.h"

#include "CommandIds.h"
#include "HotspotNavigation.h"
#include "NpapiAbi.h"
#include "PluginInstance.h"
#include "ResourceIds.h"
#include "ResourceModule.h"
#include "HotspotRecord.h"
#include "SettingsFile.h"
#include "UrlTemplate.h"

namespace {

constexpr int kButtonImageSize = 24;

// The buttons left to right: picture index, command and name. Fit height (picture
// 6) sends ID_FIT_HEIGHT and fit width (picture 7) sends ID_FIT_WIDTH, so the
// two ids are crossed with respect to the picture order.
struct ButtonSpec {
    int image;
    int command;
    const char* name;
};
constexpr ButtonSpec kButtons[] = {
    {0, ID_POINTER, "Pointer"},         {1, ID_ZOOM_IN, "Zoom in"},        {2, ID_ZOOM_OUT, "Zoom out"},
    {3, ID_MAGNIFIER, "Magnifier"},     {4, ID_PAN, "Pan"},                {5, ID_FIT_WINDOW, "Fit window"},
    {6, ID_FIT_HEIGHT, "Fit height"},   {7, ID_FIT_WIDTH, "Fit width"},    {8, ID_ACTUAL_SIZE, "Actual size"},
    {9, ID_PRINT, "Print"},
};

void initCommonControls()
{
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_BAR_CLASSES};
    InitCommonControlsEx(&init);
}

}  // namespace

ViewerContainer::ViewerContainer()
    : view_(this, TiffView::Outline{settings().frameWidth, COLORREF(settings().frameColor)}),
      page_(view_, [this](int command) { runCommand(command); })
{
}

ViewerContainer::~ViewerContainer()
{
    if (imageList_)
        ImageList_Destroy(imageList_);
    setClientSite(nullptr);
    // view_ goes after this body, its window already destroyed by destroyWindows.
}

HWND ViewerContainer::toolbarWindow() const
{
    return toolbar_.hwnd();
}

void ViewerContainer::create(HWND hostWindow)
{
    if (!subclassWindow(hostWindow))
        return;
    initCommonControls();
    RECT client = {};
    GetClientRect(hostWindow, &client);
    const RECT viewRect = {client.left, client.top + kToolbarHeight, client.right, client.bottom};
    view_.create(hostWindow, viewRect);
    createToolbar(client);
    // A host window that already has the keyboard focus hands it on, as it
    // does when it gets it later.
    if (GetFocus() == hostWindow && view_.hwnd())
        SetFocus(view_.hwnd());
}

void ViewerContainer::createToolbar(const RECT& client)
{
    // Tooltips name the buttons (TTN_GETDISPINFO, below), where a pointer
    // resting on a button and a screen reader's toolbar support find them.
    const DWORD style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | TBSTYLE_FLAT | TBSTYLE_WRAPABLE |
                        TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NOPARENTALIGN | CCS_NORESIZE;
    HWND toolbar = CreateWindowExA(WS_EX_DLGMODALFRAME, TOOLBARCLASSNAMEA, "TIFF Viewer Toolbar", style, 0, 0,
                                   client.right - client.left, kToolbarHeight - client.top, hwnd(), nullptr,
                                   viewerResourceModule(), nullptr);
    if (!toolbar)
        return;
    toolbar_.subclassWindow(toolbar);
    setUpButtons();
    ShowWindow(toolbar, SW_SHOW);
}

void ViewerContainer::setUpButtons()
{
    HWND toolbar = toolbar_.hwnd();
    if (!imageList_) {
        HBITMAP strip = LoadBitmapA(viewerResourceModule(), MAKEINTRESOURCEA(IDB_TOOLBAR));
        if (strip) {
            imageList_ = ImageList_Create(kButtonImageSize, kButtonImageSize, ILC_COLOR8, 3, 2);
            if (imageList_) {
                ImageList_SetBkColor(imageList_, CLR_NONE);
                ImageList_Add(imageList_, strip, nullptr);
            }
            DeleteObject(strip);
        }
    }
    SendMessageA(toolbar, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 16));
    SendMessageA(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(imageList_));

    TBBUTTON buttons[std::size(kButtons)] = {};
    for (size_t i = 0; i < std::size(kButtons); ++i) {
        buttons[i].iBitmap = kButtons[i].image;
        buttons[i].idCommand = kButtons[i].command;
        buttons[i].fsState = TBSTATE_ENABLED;
        buttons[i].fsStyle = TBSTYLE_BUTTON;
        buttons[i].dwData = 0;
        buttons[i].iString = -1;
    }
    SendMessageA(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(toolbar, TB_ADDBUTTONSA, std::size(buttons), reinterpret_cast<LPARAM>(buttons));
    SendMessageA(toolbar, TB_AUTOSIZE, 0, 0);
}

void ViewerContainer::destroyWindows()
{
    if (HWND view = view_.hwnd())
        DestroyWindow(view);
    if (HWND toolbar = toolbar_.hwnd())
        DestroyWindow(toolbar);
    if (hwnd())
        unsubclassWindow();
}

void ViewerContainer::setClientSite(IUnknown* site)
{
    if (site)
        site->AddRef();
    if (clientSite_)
        clientSite_->Release();
    clientSite_ = site;
}

const char* ViewerContainer::buttonName(int command)
{
    for (const ButtonSpec& button : kButtons)
        if (button.command == command)
            return button.name;
    return nullptr;
}

bool ViewerContainer::navigateToHotspot(const ViewHotspot& hotspot)
{
    if (!hotspot.hotspot || (hostAnchor() && hostAnchor()->hostClosing()))
        return false;
    PluginUrlRequest request;
    if (NPP instance = pluginInstance) {
        request = [instance](const char* url, const char* frame) { browserGetUrl(instance, url, frame); };
    }
    // The site is held for the whole call: the debug box lets the page take
    // it from the container (SetClientSite(NULL)) meanwhile. Afterwards the
    // request goes out only if this container still has its window, the
    // same site and a host that is not closing.
    IUnknown* site = clientSite_;
    if (site)
        site->AddRef();
    const HWND window = hwnd();
    auto stillWanted = [this, site, window] {
        return window && hwnd() == window && IsWindow(window) && clientSite_ == site &&
               !(hostAnchor() && hostAnchor()->hostClosing());
    };
    const Settings effective = navigationSettings();
    // The page's handler may also give the viewer another document, which
    // frees this hotspot's record: nothing is navigated then.
    const uint32_t document = view_.documentGeneration();
    bool navigated = false;
    if (pageMayNavigate(*hotspot.hotspot, effective, site) && stillWanted() && view_.documentGeneration() == document)
        navigated = navigateHotspot(*hotspot.hotspot, effective, window, request, site, stillWanted);
    if (site)
        site->Release();
    return navigated;
}

bool ViewerContainer::pageMayNavigate(const HotspotRecord& record, const Settings& effective, IUnknown* site)
{
    if (!pageEvents_)
        return true;
    // Only a URL that would go to the browser is offered to the page; a
    // refused one goes on to the refusal (and its debug box).
    PageNavigation navigation;
    navigation.url = hotspotRequestUrl(record, effective, pluginInstance != nullptr, site);
    if (navigation.url.empty())
        return true;
    navigation.frame = targetFrameName(effective.frame);
    navigation.ref = record.reference;
    navigation.text = record.text;
    return pageEvents_->navigating(navigation);
}

void ViewerContainer::setPageEvents(PageEvents* events)
{
    pageEvents_ = events;
    view_.setPageEvents(events);
}

void ViewerContainer::setNavigationOverrides(const std::string& urlTemplate, const std::string& frame)
{
    templateOverride_ = urlTemplate;
    frameOverride_ = frame;
}

Settings ViewerContainer::navigationSettings() const
{
    Settings effective = settings();
    if (!templateOverride_.empty())
        effective.relUrl = templateOverride_;
    if (!frameOverride_.empty())
        effective.frame = frameOverride_;
    return effective;
}

void ViewerContainer::setHostAnchor(HostAnchor* anchor)
{
    WindowWrapper::setHostAnchor(anchor);
    toolbar_.setHostAnchor(anchor);
    view_.setHostAnchor(anchor);
}

std::string ViewerContainer::hotspotUrl(const ViewHotspot& hotspot)
{
    if (!hotspot.hotspot)
        return std::string();
    return hotspotRequestUrl(*hotspot.hotspot, navigationSettings(), pluginInstance != nullptr, clientSite_);
}

bool ViewerContainer::translateKey(const MSG& message)
{
    const HWND view = view_.hwnd();
    if (!view || (message.message != WM_KEYDOWN && message.message != WM_CHAR))
        return false;
    if (message.hwnd != view && GetFocus() != view)
        return false;
    if (!view_.usesKeyMessage(message))
        return false;
    // The viewer handles it now; the host neither translates nor dispatches it.
    SendMessageA(view, message.message, message.wParam, message.lParam);
    return true;
}

LRESULT ViewerContainer::handleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled)
{
    switch (message) {
    case WM_SIZE:
        onSize();
        return 0;
    case WM_COMMAND:
        onCommand(wParam, lParam);
        return 0;
    case WM_NOTIFY:
        handled = lParam && onNotify(*reinterpret_cast<const NMHDR*>(lParam));
        return 0;
    case WM_SETFOCUS:
        onFocus(wParam);
        return 0;
    default:
        handled = false;
        return 0;
    }
}

void ViewerContainer::onSize()
{
    HWND view = view_.hwnd();
    if (!view)
        return;
    RECT r = {};
    GetClientRect(hwnd(), &r);
    MoveWindow(view, r.left, r.top + kToolbarHeight, r.right - r.left, r.bottom - (r.top + kToolbarHeight), FALSE);
    HWND toolbar = toolbar_.hwnd();
    if (toolbar)
        MoveWindow(toolbar, r.left, r.top, r.right - r.left, kToolbarHeight - r.top, FALSE);
    // The moves draw nothing: a window that grows (a browser lays plug-ins
    // out at 0 x 0 first) must show the new area at once, not white.
    const UINT redraw = RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW;
    RedrawWindow(view, nullptr, nullptr, redraw);
    if (toolbar)
        RedrawWindow(toolbar, nullptr, nullptr, redraw);
}

void ViewerContainer::checkButton(int commandId, bool checked)
{
    SendMessageA(toolbar_.hwnd(), TB_CHECKBUTTON, WPARAM(commandId), MAKELPARAM(checked ? TRUE : FALSE, 0));
}

void ViewerContainer::onFocus(WPARAM previous)
{
    // The host window's own handling first (a control becomes UI-active),
    // then the keyboard focus goes on to the viewer, the one part that uses keys.
    const HWND host = hwnd();
    callPrevious(WM_SETFOCUS, previous, 0);
    if (hwnd() != host || !IsWindow(host))
        return;
    if (HWND view = view_.hwnd(); view && GetFocus() == host)
        SetFocus(view);
}

bool ViewerContainer::onNotify(const NMHDR& header)
{
    if (header.code != TTN_GETDISPINFOA && header.code != TTN_GETDISPINFOW)
        return false;
    const char* name = buttonName(int(header.idFrom));
    if (!name)
        return false;
    if (header.code == TTN_GETDISPINFOA) {
        auto& info = const_cast<NMTTDISPINFOA&>(reinterpret_cast<const NMTTDISPINFOA&>(header));
        info.lpszText = const_cast<char*>(name);
        info.hinst = nullptr;
    } else {
        auto& info = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(header));
        MultiByteToWideChar(CP_ACP, 0, name, -1, info.szText, int(std::size(info.szText)));
        info.lpszText = info.szText;
        info.hinst = nullptr;
    }
    return true;
}

void ViewerContainer::onCommand(WPARAM command, LPARAM source)
{
    if (HWND view = view_.hwnd(); view && reinterpret_cast<HWND>(source) == view) {
        // The viewer took the keyboard focus; it sends no other commands.
        if (HIWORD(command) == kViewSetFocusNotification && viewFocusHandler_)
            viewFocusHandler_();
        return;
    }
    // The marks follow from the mode before the view toggles it: the view
    // switches a mode off when its button is pressed again.
    const int32_t mode = view_.mode();
    switch (command) {
    case ID_MAGNIFIER:
        checkButton(ID_MAGNIFIER, mode != TiffView::MagnifierMode);
        checkButton(ID_PAN, false);
        break;
    case ID_PAN:
        checkButton(ID_PAN, mode != TiffView::PanMode);
        checkButton(ID_MAGNIFIER, false);
        break;
    case ID_POINTER:
        checkButton(ID_PAN, false);
        checkButton(ID_MAGNIFIER, false);
        break;
    default:
        break;
    }
    if (view_.hwnd())
        view_.onCommand(int(command));
}

LRESULT ViewerContainer::ToolbarWindow::handleMessage(UINT message, WPARAM wParam, LPARAM, bool& handled)
{
    if (message != WM_ERASEBKGND) {
        handled = false;
        return 0;
    }
    RECT r = {};
    GetClientRect(hwnd(), &r);
    if (r.bottom > kToolbarHeight)
        r.bottom = kToolbarHeight;
    FillRect(reinterpret_cast<HDC>(wParam), &r, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
    return 0;
}
