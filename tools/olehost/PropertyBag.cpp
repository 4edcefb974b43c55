#include "PropertyBag.h"

#include <oleauto.h>

HRESULT STDMETHODCALLTYPE PropertyBag::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IPropertyBag))
        return E_NOINTERFACE;
    *object = static_cast<IPropertyBag*>(this);
    AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PropertyBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog*)
{
    if (!name || !value)
        return E_POINTER;
    const auto found = values_.find(name);
    if (found == values_.end())
        return E_INVALIDARG;
    // The caller names the type it wants in the variant (VT_EMPTY: any).
    const VARTYPE wanted = V_VT(value);
    BSTR text = SysAllocStringLen(found->second.data(), UINT(found->second.size()));
    if (!text)
        return E_OUTOFMEMORY;
    VariantInit(value);
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = text;
    if (wanted == VT_EMPTY || wanted == VT_BSTR)
        return S_OK;
    const HRESULT hr = VariantChangeType(value, value, 0, wanted);
    if (FAILED(hr))
        VariantClear(value);
    return hr;
}

HRESULT STDMETHODCALLTYPE PropertyBag::Write(LPCOLESTR name, VARIANT* value)
{
    if (!name || !value)
        return E_POINTER;
    VARIANT text;
    VariantInit(&text);
    const HRESULT hr = VariantChangeType(&text, value, 0, VT_BSTR);
    if (FAILED(hr))
        return hr;
    values_[name] = text.bstrVal ? std::wstring(text.bstrVal, SysStringLen(text.bstrVal)) : std::wstring();
    VariantClear(&text);
    return S_OK;
}

std::wstring PropertyBag::value(const std::wstring& name) const
{
    const auto found = values_.find(name);
    return found != values_.end() ? found->second : L"<missing>";
}
