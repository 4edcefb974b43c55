#pragma once
// The container's side of one embedded control, as a web browser offers it:
// the client site, the in-place site and frame around a real window, and a
// service provider that hands the top-level browser's provider to whoever
// asks for SID_STopLevelBrowser and the page's bind host for SID_SBindHost.
// The page's URL is also the container's moniker (OLEWHICHMK_CONTAINER). Owned by its host (the count starts at 1 and
// the object never deletes itself), so a host can check that the control let
// go of every reference it took.
#include <windows.h>
#include <ole2.h>
#include <servprov.h>

#include <string>

class StandInBindHost;

class ContainerSite : public IOleClientSite,
                      public IOleInPlaceSite,
                      public IOleInPlaceFrame,
                      public IServiceProvider {
public:
    // `window`: the window the control goes into (its whole client area).
    // `topLevel`: answers SID_STopLevelBrowser (null: no browser above).
    // `bindHost`: answers SID_SBindHost (null: none).
    ContainerSite(HWND window, IServiceProvider* topLevel, StandInBindHost* bindHost = nullptr)
        : window_(window), topLevel_(topLevel), bindHost_(bindHost) {}
    virtual ~ContainerSite() = default;
    ContainerSite(const ContainerSite&) = delete;
    ContainerSite& operator=(const ContainerSite&) = delete;

    LONG references() const { return references_; }

    // The URL GetMoniker gives for OLEWHICHMK_CONTAINER; empty: no moniker.
    std::wstring containerPage;
    // Whether QueryService answers SID_SBindHost.
    bool offersBindHost = false;
    bool inPlaceActive() const { return inPlaceActive_; }
    bool uiActive() const { return uiActive_; }
    // The control's in-place active object while it is UI-active.
    IOleInPlaceActiveObject* activeObject() const { return activeObject_; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references_); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--references_); }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override;
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (of both the in-place site and the frame)
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override;
    HRESULT STDMETHODCALLTYPE OnUIActivate() override;
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                               LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override;
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow: no tool space for the control.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override;

    // IOleInPlaceFrame: no menus, no status bar, no accelerators.
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IServiceProvider
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID iid, void** object) override;

private:
    LONG references_ = 1;
    HWND window_;
    IServiceProvider* topLevel_;
    StandInBindHost* bindHost_;
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    IOleInPlaceActiveObject* activeObject_ = nullptr;
};
