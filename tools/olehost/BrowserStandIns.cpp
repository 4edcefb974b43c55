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
