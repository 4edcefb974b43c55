// Type information of the control base: IDispatch for the derived control
// through the type library (resource 1 of the module), IProvideClassInfo2,
// the connection point container, ISpecifyPropertyPages (no pages) and
// IObjectSafety (safe for initialisation with untrusted data only).
#include "ControlBase.h"

#include "Module.h"

#include <oleauto.h>

namespace {
constexpr DWORD kSupportedSafety = INTERFACESAFE_FOR_UNTRUSTED_DATA;
}

HRESULT ControlBase::typeInfoOf(const GUID& guid, ITypeInfo** info)
{
    *info = nullptr;
    if (!typeLibrary_) {
        wchar_t path[MAX_PATH + 1] = {};
        if (!GetModuleFileNameW(rozeradoModule(), path, MAX_PATH))
            return E_UNEXPECTED;
        const HRESULT hr = LoadTypeLib(path, &typeLibrary_);
        if (FAILED(hr))
            return hr;
    }
    return typeLibrary_->GetTypeInfoOfGuid(guid, info);
}

HRESULT ControlBase::dispatchGetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT ControlBase::dispatchGetTypeInfo(UINT index, LCID, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    if (!dispatchTypeInfo_) {
        const HRESULT hr = typeInfoOf(dispatchIid_, &dispatchTypeInfo_);
        if (FAILED(hr))
            return hr;
    }
    *info = dispatchTypeInfo_;
    dispatchTypeInfo_->AddRef();
    return S_OK;
}

template <typename Call>
HRESULT ControlBase::withDispatchTypeInfo(REFIID iid, LCID locale, Call call)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = dispatchGetTypeInfo(0, locale, &info);
    if (FAILED(hr))
        return hr;
    hr = call(info);
    info->Release();
    return hr;
}

HRESULT ControlBase::dispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids)
{
    return withDispatchTypeInfo(iid, locale, [&](ITypeInfo* info) { return info->GetIDsOfNames(names, count, ids); });
}

HRESULT ControlBase::dispatchInvoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO* exception, UINT* argumentError)
{
    return withDispatchTypeInfo(iid, locale, [&](ITypeInfo* info) {
        return info->Invoke(dispatchInterface(), id, flags, params, result, exception, argumentError);
    });
}

// IProvideClassInfo2

HRESULT STDMETHODCALLTYPE ControlBase::GetClassInfo(ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    return typeInfoOf(clsid_, info);
}

HRESULT STDMETHODCALLTYPE ControlBase::GetGUID(DWORD kind, GUID* guid)
{
    if (!guid)
        return E_POINTER;
    if (kind == GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = events_.iid();
        return S_OK;
    }
    *guid = GUID_NULL;
    return E_FAIL;
}

// Events

void ControlBase::fireEvent(DISPID id, VARIANT* arguments, UINT count)
{
    SelfReference self(this);
    std::vector<IDispatch*> sinks = events_.connectedSinks();
    DISPPARAMS params = {arguments, nullptr, count, 0};
    for (IDispatch* sink : sinks) {
        // A handler that released the control or closed it has ended the page's use of it.
        if (!abandoned() && !detached()) {
            VARIANT ignored;
            VariantInit(&ignored);
            sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &ignored, nullptr, nullptr);
            VariantClear(&ignored);
        }
        sink->Release();
    }
}

// IConnectionPointContainer

HRESULT STDMETHODCALLTYPE ControlBase::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    return events_.enumerate(points);
}

HRESULT STDMETHODCALLTYPE ControlBase::FindConnectionPoint(REFIID iid, IConnectionPoint** point)
{
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, events_.iid()))
        return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
}

// ISpecifyPropertyPages

HRESULT STDMETHODCALLTYPE ControlBase::GetPages(CAUUID* pages)
{
    if (!pages)
        return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    return S_OK;
}

// IObjectSafety

HRESULT STDMETHODCALLTYPE ControlBase::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled)
{
    if (!supported || !enabled)
        return E_POINTER;
    IUnknown* unknown = nullptr;
    const HRESULT hr = QueryInterface(iid, reinterpret_cast<void**>(&unknown));
    if (FAILED(hr)) {
        *supported = 0;
        *enabled = 0;
        return hr;
    }
    unknown->Release();
    *supported = kSupportedSafety;
    *enabled = safety_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled)
{
    IUnknown* unknown = nullptr;
    const HRESULT hr = QueryInterface(iid, reinterpret_cast<void**>(&unknown));
    if (FAILED(hr))
        return hr;
    unknown->Release();
    if (mask & ~kSupportedSafety)
        return E_FAIL;
    safety_ = (safety_ & ~mask) | (mask & enabled);
    return S_OK;
}
