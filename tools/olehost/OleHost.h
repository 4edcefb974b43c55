#pragma once
// A minimal OLE container that plays the web browser around one ActiveX
// control: a top-level window whose client area the control fills, the
// client and in-place site, the page's parameters as a property bag, a
// top-level browser (IWebBrowser2) that reports the page's location and
// records every Navigate2, and the page's URL as a browser offers it for
// resolving the page's addresses (bind host, container moniker). Like a
// browser it can declare the page's data untrusted (IObjectSafety) before it
// hands the control the parameters. Used by the olehost program and by the
// tests.
#include "BrowserStandIns.h"
#include "ContainerSite.h"
#include "PropertyBag.h"

#include <windows.h>
#include <ole2.h>

#include <string>

class Canvas;

class OleHost {
public:
    // The window: client area width x height at the screen's top-left corner.
    OleHost(int width, int height, const std::string& title = "olehost");
    ~OleHost();   // closes the control, destroys the window, unloads a module it loaded
    OleHost(const OleHost&) = delete;
    OleHost& operator=(const OleHost&) = delete;

    HWND hwnd() const { return window_; }
    ContainerSite& site() { return site_; }
    PropertyBag& parameters() { return parameters_; }
    StandInBrowser& browser() { return browser_; }
    // Where the control can learn the page's URL; a browser offers all.
    enum PageRoute : unsigned {
        kPageByBindHost = 1,          // SID_SBindHost's IBindHost::CreateMoniker
        kPageByContainerMoniker = 2,  // IOleClientSite::GetMoniker(OLEWHICHMK_CONTAINER)
        kPageByLocation = 4,          // the top-level browser's get_LocationURL
        kPageByAll = 7,
    };
    // The page's URL, offered by `routes` (an empty location offers none
    // but the browser's, which then reports an empty location).
    void setPage(const std::wstring& location, unsigned routes = kPageByAll);
    // Declare the page's data untrusted (INTERFACESAFE_FOR_UNTRUSTED_DATA)
    // before the parameters are loaded, as browsers do; embed fails when the
    // control refuses.
    void setUntrustedData(bool untrusted) { untrustedData_ = untrusted; }
    StandInBindHost& bindHost() { return bindHost_; }

    // Creates the control from a module's class object, without registration.
    // The module stays loaded while the host lives.
    HRESULT createFromModule(const std::string& path, REFCLSID clsid);
    // Creates the control through the registration: a ProgID or a CLSID in braces.
    HRESULT createRegistered(const std::wstring& name);
    // As a browser embeds a control: the client site (first, when the control
    // asks for that), the parameters through IPersistPropertyBag::Load, then
    // in-place activation into the window.
    HRESULT embed();
    // Takes the control back: IOleObject::Close, no site, released.
    void close();
    // Lets go of the control without closing it, as a page that drops its
    // last reference does.
    void release();

    IUnknown* control() const { return control_; }
    HWND controlWindow() const;
    // The control window's child that is not its toolbar (the viewer).
    HWND viewerWindow() const;
    // IViewObject::Draw of the content into the whole canvas.
    HRESULT drawInto(Canvas& canvas) const;
    // As a browser does with every keyboard message before it dispatches
    // it: offers it to the UI-active control
    // (IOleInPlaceActiveObject::TranslateAccelerator); true when the control
    // used it. The host's message loops do this while the host lives. A Tab
    // the control does not use moves the focus out of it, as a page does.
    bool translateAccelerator(MSG& message);

private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void onSize();

    HWND window_ = nullptr;
    std::wstring page_;
    StandInBrowser browser_;
    StandInServiceProvider topLevel_;
    StandInBindHost bindHost_;
    ContainerSite site_;
    PropertyBag parameters_;
    HMODULE module_ = nullptr;
    IUnknown* control_ = nullptr;
    bool untrustedData_ = false;
};
