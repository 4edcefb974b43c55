#pragma once
// Small COM objects that play the browser around a control: a service
// provider that hands out one other object for one service (the client site
// and the top-level browser's provider), a web browser that reports a
// location and records what it is asked to load, and a bind host that makes
// the page's addresses into URL monikers relative to the page. Each counts its references,
// starting at 1 for the test or host that owns it (never deleting itself), so
// tests can check that nothing was kept. The navigation tests and olehost use
// them.
#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <urlmon.h>

#include <functional>
#include <string>
#include <vector>

// {4C96BE40-915C-11CF-99D3-00AA004AE837}
constexpr GUID kTestSidTopLevelBrowser =
    {0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};
// {0002DF05-0000-0000-C000-000000000046}
constexpr GUID kTestSidWebBrowserApp =
    {0x0002df05, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class StandInServiceProvider : public IServiceProvider {
public:
    // Answers `service` by asking `target` for the requested interface.
    // Without `offersProvider` it does not answer for IServiceProvider at all
    // (a client site without one).
    StandInServiceProvider(const GUID& service, IUnknown* target, bool offersProvider = true)
        : service_(service), target_(target), offersProvider_(offersProvider) {}
    virtual ~StandInServiceProvider() = default;

    LONG references() const { return references_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void** object) override;

private:
    LONG references_ = 1;
    GUID service_;
    IUnknown* target_;
    bool offersProvider_;
};

struct RecordedNavigation {
    VARTYPE urlType = VT_EMPTY;
    std::wstring url;
    VARTYPE flagsType = VT_EMPTY;
    LONG flags = -1;
    VARTYPE frameType = VT_EMPTY;
    std::wstring frame;
    bool postDataNull = false;
    bool headersNull = false;
};

class StandInBrowser : public IWebBrowser2 {
public:
    virtual ~StandInBrowser() = default;

    LONG references() const { return references_; }

    const wchar_t* location = L"";    // null: the browser reports no location
    HRESULT locationResult = S_OK;
    std::vector<RecordedNavigation> navigations;
    std::function<void()> onNavigate;   // runs as Navigate2 is called

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }

    HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR* url) override;
    HRESULT STDMETHODCALLTYPE Navigate2(VARIANT* url, VARIANT* flags, VARIANT* frame,
                                        VARIANT* postData, VARIANT* headers) override;

    // Everything else a browser offers is refused.
#define NOT_IMPLEMENTED(name, params) \
    HRESULT STDMETHODCALLTYPE name params override { return E_NOTIMPL; }
    NOT_IMPLEMENTED(GetTypeInfoCount, (UINT*)) NOT_IMPLEMENTED(GetTypeInfo, (UINT, LCID, ITypeInfo**))
    NOT_IMPLEMENTED(GetIDsOfNames, (REFIID, LPOLESTR*, UINT, LCID, DISPID*))
    NOT_IMPLEMENTED(Invoke, (DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*))
    NOT_IMPLEMENTED(GoBack, ()) NOT_IMPLEMENTED(GoForward, ()) NOT_IMPLEMENTED(GoHome, ())
    NOT_IMPLEMENTED(GoSearch, ())
    NOT_IMPLEMENTED(Navigate, (BSTR, VARIANT *, VARIANT *, VARIANT *, VARIANT *))
    NOT_IMPLEMENTED(Refresh, ()) NOT_IMPLEMENTED(Refresh2, (VARIANT *)) NOT_IMPLEMENTED(Stop, ())
    NOT_IMPLEMENTED(get_Application, (IDispatch **)) NOT_IMPLEMENTED(get_Parent, (IDispatch **))
    NOT_IMPLEMENTED(get_Container, (IDispatch **)) NOT_IMPLEMENTED(get_Document, (IDispatch **))
    NOT_IMPLEMENTED(get_TopLevelContainer, (VARIANT_BOOL *)) NOT_IMPLEMENTED(get_Type, (BSTR *))
    NOT_IMPLEMENTED(get_Left, (LONG *)) NOT_IMPLEMENTED(put_Left, (LONG))
    NOT_IMPLEMENTED(get_Top, (LONG *)) NOT_IMPLEMENTED(put_Top, (LONG))
    NOT_IMPLEMENTED(get_Width, (LONG *)) NOT_IMPLEMENTED(put_Width, (LONG))
    NOT_IMPLEMENTED(get_Height, (LONG *)) NOT_IMPLEMENTED(put_Height, (LONG))
    NOT_IMPLEMENTED(get_LocationName, (BSTR *)) NOT_IMPLEMENTED(get_Busy, (VARIANT_BOOL *))
    NOT_IMPLEMENTED(Quit, ()) NOT_IMPLEMENTED(ClientToWindow, (int *, int *))
    NOT_IMPLEMENTED(PutProperty, (BSTR, VARIANT)) NOT_IMPLEMENTED(GetProperty, (BSTR, VARIANT *))
    NOT_IMPLEMENTED(get_Name, (BSTR *)) NOT_IMPLEMENTED(get_HWND, (SHANDLE_PTR *))
    NOT_IMPLEMENTED(get_FullName, (BSTR *)) NOT_IMPLEMENTED(get_Path, (BSTR *))
    NOT_IMPLEMENTED(get_Visible, (VARIANT_BOOL *)) NOT_IMPLEMENTED(put_Visible, (VARIANT_BOOL))
    NOT_IMPLEMENTED(get_StatusBar, (VARIANT_BOOL *)) NOT_IMPLEMENTED(put_StatusBar, (VARIANT_BOOL))
    NOT_IMPLEMENTED(get_StatusText, (BSTR *)) NOT_IMPLEMENTED(put_StatusText, (BSTR))
    NOT_IMPLEMENTED(get_ToolBar, (int *)) NOT_IMPLEMENTED(put_ToolBar, (int))
    NOT_IMPLEMENTED(get_MenuBar, (VARIANT_BOOL *)) NOT_IMPLEMENTED(put_MenuBar, (VARIANT_BOOL))
    NOT_IMPLEMENTED(get_FullScreen, (VARIANT_BOOL *))
    NOT_IMPLEMENTED(put_FullScreen, (VARIANT_BOOL))
    NOT_IMPLEMENTED(QueryStatusWB, (OLECMDID, OLECMDF *))
    NOT_IMPLEMENTED(ExecWB, (OLECMDID, OLECMDEXECOPT, VARIANT *, VARIANT *))
    NOT_IMPLEMENTED(ShowBrowserBar, (VARIANT *, VARIANT *, VARIANT *))
    NOT_IMPLEMENTED(get_ReadyState, (READYSTATE *)) NOT_IMPLEMENTED(get_Offline, (VARIANT_BOOL *))
    NOT_IMPLEMENTED(put_Offline, (VARIANT_BOOL)) NOT_IMPLEMENTED(get_Silent, (VARIANT_BOOL *))
    NOT_IMPLEMENTED(put_Silent, (VARIANT_BOOL))
    NOT_IMPLEMENTED(get_RegisterAsBrowser, (VARIANT_BOOL *))
    NOT_IMPLEMENTED(put_RegisterAsBrowser, (VARIANT_BOOL))
    NOT_IMPLEMENTED(get_RegisterAsDropTarget, (VARIANT_BOOL *))
    NOT_IMPLEMENTED(put_RegisterAsDropTarget, (VARIANT_BOOL))
    NOT_IMPLEMENTED(get_TheaterMode, (VARIANT_BOOL *))
    NOT_IMPLEMENTED(put_TheaterMode, (VARIANT_BOOL))
    NOT_IMPLEMENTED(get_AddressBar, (VARIANT_BOOL *))
    NOT_IMPLEMENTED(put_AddressBar, (VARIANT_BOOL)) NOT_IMPLEMENTED(get_Resizable, (VARIANT_BOOL *))
    NOT_IMPLEMENTED(put_Resizable, (VARIANT_BOOL))
#undef NOT_IMPLEMENTED

private:
    LONG references_ = 1;
};

// The page's bind host (SID_SBindHost), as a browser offers it to the
// controls of a page: CreateMoniker resolves a name against `base`.
class StandInBindHost : public IBindHost {
public:
    virtual ~StandInBindHost() = default;

    LONG references() const { return references_; }

    std::wstring base;   // the page's URL; empty: every name fails

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }

    HRESULT STDMETHODCALLTYPE CreateMoniker(LPOLESTR name, IBindCtx* context, IMoniker** moniker,
                                            DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE MonikerBindToStorage(IMoniker*, IBindCtx*, IBindStatusCallback*, REFIID,
                                                   void** object) override;
    HRESULT STDMETHODCALLTYPE MonikerBindToObject(IMoniker*, IBindCtx*, IBindStatusCallback*, REFIID,
                                                  void** object) override;

private:
    LONG references_ = 1;
};
