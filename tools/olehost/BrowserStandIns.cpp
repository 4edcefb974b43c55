#include "BrowserStandIns.h"

namespace {
std::wstring variantText(const VARIANT* v)
{
    if (v == nullptr || V_VT(v) != VT_BSTR || V_BSTR(v) == nullptr)
        return std::wstring();
    return std::wstring(V_BSTR(v), SysStringLen(V_BSTR(v)));
}
}

HRESULT STDMETHODCALLTYPE StandInServiceProvider::QueryInterface(REFIID riid, void** object)
{
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || (offersProvider_ && IsEqualIID(riid, IID_IServiceProvider))) {
        *object = static_cast<IServiceProvider*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE StandInServiceProvider::QueryService(REFGUID service, REFIID riid, void** object)
{
    *object = nullptr;
    if (target_ == nullptr || !IsEqualGUID(service, service_))
        return E_NOINTERFACE;
    return target_->QueryInterface(riid, object);
}

HRESULT STDMETHODCALLTYPE StandInBrowser::QueryInterface(REFIID riid, void** object)
{
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)
        || IsEqualIID(riid, IID_IWebBrowser) || IsEqualIID(riid, IID_IWebBrowserApp)
        || IsEqualIID(riid, IID_IWebBrowser2)) {
        *object = static_cast<IWebBrowser2*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE StandInBrowser::get_LocationURL(BSTR* url)
{
    *url = location != nullptr ? SysAllocString(location) : nullptr;
    return locationResult;
}

HRESULT STDMETHODCALLTYPE StandInBrowser::Navigate2(VARIANT* url, VARIANT* flags, VARIANT* frame,
                                                    VARIANT* postData, VARIANT* headers)
{
    RecordedNavigation n;
    n.urlType = url != nullptr ? V_VT(url) : VARTYPE(VT_EMPTY);
    n.url = variantText(url);
    n.flagsType = flags != nullptr ? V_VT(flags) : VARTYPE(VT_EMPTY);
    if (n.flagsType == VT_I4)
        n.flags = V_I4(flags);
    n.frameType = frame != nullptr ? V_VT(frame) : VARTYPE(VT_EMPTY);
    n.frame = variantText(frame);
    n.postDataNull = postData == nullptr;
    n.headersNull = headers == nullptr;
    navigations.push_back(n);
    if (onNavigate)
        onNavigate();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StandInBindHost::QueryInterface(REFIID riid, void** object)
{
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindHost)) {
        *object = static_cast<IBindHost*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE StandInBindHost::CreateMoniker(LPOLESTR name, IBindCtx*, IMoniker** moniker, DWORD)
{
    if (moniker == nullptr || name == nullptr)
        return E_POINTER;
    *moniker = nullptr;
    if (base.empty())
        return E_FAIL;
    IMoniker* page = nullptr;
    HRESULT hr = CreateURLMoniker(nullptr, base.c_str(), &page);
    if (FAILED(hr))
        return hr;
    hr = CreateURLMonikerEx(page, name, moniker, URL_MK_UNIFORM);
    page->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE StandInBindHost::MonikerBindToStorage(IMoniker*, IBindCtx*, IBindStatusCallback*, REFIID,
                                                                void** object)
{
    if (object)
        *object = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE StandInBindHost::MonikerBindToObject(IMoniker*, IBindCtx*, IBindStatusCallback*, REFIID,
                                                               void** object)
{
    if (object)
        *object = nullptr;
    return E_NOTIMPL;
}
