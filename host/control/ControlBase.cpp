// Identity, embedding (IOleObject) and IOleControl of the control base.
#include "ControlBase.h"

ControlBase::ControlBase(const CLSID& clsid, const IID& dispatchIid, const IID& eventsIid)
    : clsid_(clsid), dispatchIid_(dispatchIid), events_(this, eventsIid)
{
}

ControlBase::~ControlBase()
{
    if (window_ && IsWindow(window_))
        DestroyWindow(window_);
    events_.disconnectAll();
    releaseInPlaceSite();
    if (clientSite_)
        clientSite_->Release();
    if (viewAdviseSink_)
        viewAdviseSink_->Release();
    if (oleAdviseHolder_)
        oleAdviseHolder_->Release();
    if (dataAdviseHolder_)
        dataAdviseHolder_->Release();
    if (dispatchTypeInfo_)
        dispatchTypeInfo_->Release();
    if (typeLibrary_)
        typeLibrary_->Release();
}

HRESULT STDMETHODCALLTYPE ControlBase::QueryInterface(REFIID iid, void** result)
{
    if (!result)
        return E_POINTER;
    void* found = queryControlInterface(iid);
    if (!found) {
        if (IsEqualIID(iid, IID_IViewObjectEx) || IsEqualIID(iid, IID_IViewObject2) ||
            IsEqualIID(iid, IID_IViewObject))
            found = static_cast<IViewObjectEx*>(this);
        else if (IsEqualIID(iid, IID_IOleInPlaceObjectWindowless) || IsEqualIID(iid, IID_IOleInPlaceObject))
            found = static_cast<IOleInPlaceObjectWindowless*>(this);
        else if (IsEqualIID(iid, IID_IOleWindow))
            found = static_cast<IOleWindow*>(static_cast<IOleInPlaceObjectWindowless*>(this));
        else if (IsEqualIID(iid, IID_IOleInPlaceActiveObject))
            found = static_cast<IOleInPlaceActiveObject*>(this);
        else if (IsEqualIID(iid, IID_IOleControl))
            found = static_cast<IOleControl*>(this);
        else if (IsEqualIID(iid, IID_IOleObject))
            found = static_cast<IOleObject*>(this);
        else if (IsEqualIID(iid, IID_IPersistStreamInit))
            found = static_cast<IPersistStreamInit*>(this);
        else if (IsEqualIID(iid, IID_IPersist))
            found = static_cast<IPersist*>(static_cast<IPersistStreamInit*>(this));
        else if (IsEqualIID(iid, IID_IConnectionPointContainer))
            found = static_cast<IConnectionPointContainer*>(this);
        else if (IsEqualIID(iid, IID_ISpecifyPropertyPages))
            found = static_cast<ISpecifyPropertyPages*>(this);
        else if (IsEqualIID(iid, IID_IQuickActivate))
            found = static_cast<IQuickActivate*>(this);
        else if (IsEqualIID(iid, IID_IPersistStorage))
            found = static_cast<IPersistStorage*>(this);
        else if (IsEqualIID(iid, IID_IDataObject))
            found = static_cast<IDataObject*>(this);
        else if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2))
            found = static_cast<IProvideClassInfo2*>(this);
        else if (IsEqualIID(iid, IID_IObjectSafety))
            found = static_cast<IObjectSafety*>(this);
        else if (IsEqualIID(iid, IID_IPersistPropertyBag))
            found = static_cast<IPersistPropertyBag*>(this);
        else if (IsEqualIID(iid, IID_IUnknown))
            found = static_cast<IOleObject*>(this);
    }
    *result = found;
    if (!found)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE ControlBase::AddRef()
{
    return ULONG(InterlockedIncrement(&references_));
}

namespace {
// The count of a control being destroyed: references taken and dropped by the
// messages its destruction sends (window destruction) never bring it to zero
// again.
constexpr LONG kDestroyingReferences = LONG(1) << 28;
}

ULONG STDMETHODCALLTYPE ControlBase::Release()
{
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) {
        references_ = kDestroyingReferences;
        delete this;
    }
    return ULONG(count);
}

// IOleObject

HRESULT STDMETHODCALLTYPE ControlBase::SetClientSite(IOleClientSite* site)
{
    SelfReference self(this);
    if (site)
        site->AddRef();
    IOleClientSite* previous = clientSite_;
    clientSite_ = site;
    detached_ = site == nullptr;
    onClientSiteChanged(site);
    if (previous)
        previous->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetClientSite(IOleClientSite** site)
{
    if (!site)
        return E_POINTER;
    *site = clientSite_;
    if (clientSite_)
        clientSite_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetHostNames(LPCOLESTR, LPCOLESTR)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::Close(DWORD saveOption)
{
    SelfReference self(this);
    detached_ = true;
    if (window_ && clientSite_)
        clientSite_->OnShowWindow(FALSE);
    if (inPlaceActive_) {
        const HRESULT hr = InPlaceDeactivate();
        if (FAILED(hr))
            return hr;
    }
    if (window_ && IsWindow(window_))
        DestroyWindow(window_);
    window_ = nullptr;
    if ((saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE) && dirty_) {
        if (clientSite_)
            clientSite_->SaveObject();
        if (oleAdviseHolder_)
            oleAdviseHolder_->SendOnSave();
    }
    releaseInPlaceSite();
    if (viewAdviseSink_) {
        viewAdviseSink_->Release();
        viewAdviseSink_ = nullptr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetMoniker(DWORD, IMoniker*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetMoniker(DWORD, DWORD, IMoniker** moniker)
{
    if (moniker)
        *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::InitFromData(IDataObject*, BOOL, DWORD)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetClipboardData(DWORD, IDataObject** data)
{
    if (data)
        *data = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT)
{
    SelfReference self(this);
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
        return inPlaceActivate(verb);
    case OLEIVERB_HIDE:
        UIDeactivate();
        if (window_)
            ShowWindow(window_, SW_HIDE);
        return S_OK;
    case OLEIVERB_PROPERTIES:   // no property pages
    case OLEIVERB_OPEN:
    case OLEIVERB_DISCARDUNDOSTATE:
        return E_NOTIMPL;
    default:
        return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
    }
}

HRESULT STDMETHODCALLTYPE ControlBase::EnumVerbs(IEnumOLEVERB** verbs)
{
    if (!verbs)
        return E_POINTER;
    return OleRegEnumVerbs(clsid_, verbs);
}

HRESULT STDMETHODCALLTYPE ControlBase::Update()
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::IsUpToDate()
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetUserClassID(CLSID* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetUserType(DWORD form, LPOLESTR* userType)
{
    if (!userType)
        return E_POINTER;
    return OleRegGetUserType(clsid_, form, userType);
}

HRESULT STDMETHODCALLTYPE ControlBase::SetExtent(DWORD aspect, SIZEL* size)
{
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!size)
        return E_POINTER;
    if (size->cx != extent_.cx || size->cy != extent_.cy) {
        extent_ = *size;
        dirty_ = true;
        if (viewAdviseSink_)
            viewAdviseSink_->OnViewChange(DVASPECT_CONTENT, -1);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetExtent(DWORD, SIZEL* size)
{
    if (!size)
        return E_POINTER;
    *size = extent_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::Advise(IAdviseSink* sink, DWORD* connection)
{
    if (!connection)
        return E_POINTER;
    *connection = 0;
    if (!oleAdviseHolder_) {
        const HRESULT hr = CreateOleAdviseHolder(&oleAdviseHolder_);
        if (FAILED(hr))
            return hr;
    }
    return oleAdviseHolder_->Advise(sink, connection);
}

HRESULT STDMETHODCALLTYPE ControlBase::Unadvise(DWORD connection)
{
    return unadviseFrom(oleAdviseHolder_, connection);
}

HRESULT STDMETHODCALLTYPE ControlBase::EnumAdvise(IEnumSTATDATA** advise)
{
    return enumAdviseOf(oleAdviseHolder_, advise);
}

HRESULT STDMETHODCALLTYPE ControlBase::GetMiscStatus(DWORD aspect, DWORD* status)
{
    if (!status)
        return E_POINTER;
    return OleRegGetMiscStatus(clsid_, aspect, status);
}

HRESULT STDMETHODCALLTYPE ControlBase::SetColorScheme(LOGPALETTE*)
{
    return E_NOTIMPL;
}

// IOleControl

HRESULT STDMETHODCALLTYPE ControlBase::GetControlInfo(CONTROLINFO*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::OnMnemonic(MSG*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::OnAmbientPropertyChange(DISPID)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::FreezeEvents(BOOL)
{
    return S_OK;
}
