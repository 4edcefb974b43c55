#include "ContainerSite.h"
#include "BrowserStandIns.h"

#include <shlguid.h>
#include <urlmon.h>

HRESULT STDMETHODCALLTYPE ContainerSite::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
        *object = static_cast<IOleClientSite*>(this);
    else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite))
        *object = static_cast<IOleInPlaceSite*>(this);
    else if (IsEqualIID(iid, IID_IOleInPlaceUIWindow) || IsEqualIID(iid, IID_IOleInPlaceFrame))
        *object = static_cast<IOleInPlaceFrame*>(this);
    else if (IsEqualIID(iid, IID_IServiceProvider))
        *object = static_cast<IServiceProvider*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ContainerSite::GetMoniker(DWORD, DWORD which, IMoniker** moniker)
{
    if (!moniker)
        return E_POINTER;
    *moniker = nullptr;
    if (which != OLEWHICHMK_CONTAINER || containerPage.empty())
        return E_NOTIMPL;
    return CreateURLMoniker(nullptr, containerPage.c_str(), moniker);
}

HRESULT STDMETHODCALLTYPE ContainerSite::GetContainer(IOleContainer** container)
{
    if (container)
        *container = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE ContainerSite::GetWindow(HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = window_;
    return window_ ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE ContainerSite::OnInPlaceActivate()
{
    inPlaceActive_ = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ContainerSite::OnUIActivate()
{
    uiActive_ = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ContainerSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                                          LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info)
{
    if (!frame || !document || !position || !clip || !info)
        return E_POINTER;
    // The frame is the site itself; there is no document window apart from it.
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    // The control fills the window's client area.
    GetClientRect(window_, position);
    *clip = *position;
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ContainerSite::OnUIDeactivate(BOOL)
{
    uiActive_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ContainerSite::OnInPlaceDeactivate()
{
    inPlaceActive_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ContainerSite::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR)
{
    if (object)
        object->AddRef();
    if (activeObject_)
        activeObject_->Release();
    activeObject_ = object;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ContainerSite::QueryService(REFGUID service, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (topLevel_ && IsEqualGUID(service, SID_STopLevelBrowser))
        return topLevel_->QueryInterface(iid, object);
    if (bindHost_ && offersBindHost && IsEqualGUID(service, SID_SBindHost))
        return bindHost_->QueryInterface(iid, object);
    return E_NOINTERFACE;
}
