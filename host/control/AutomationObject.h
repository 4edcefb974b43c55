#pragma once
// The common part of the small automation objects a control hands its page
// (a collection, its items, a view): a reference count and IDispatch driven
// by the module's type library, for one dual interface. A failing member
// reaches scripts with the description of the error object it set.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

// The type information of `guid` in the module's type library.
HRESULT moduleTypeInfo(const GUID& guid, ITypeInfo** info);

// Sets the thread's error object (description, the interface it came from)
// and returns `hr`, for a member that fails with a reason.
HRESULT failWithDescription(HRESULT hr, const IID& source, const wchar_t* description);

template <class Interface>
class AutomationObject : public Interface {
public:
    explicit AutomationObject(const IID& iid) : iid_(iid) {}
    virtual ~AutomationObject()
    {
        if (typeInfo_)
            typeInfo_->Release();
    }
    AutomationObject(const AutomationObject&) = delete;
    AutomationObject& operator=(const AutomationObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override
    {
        if (!result)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, iid_)) {
            *result = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG count = InterlockedDecrement(&references_);
        if (count == 0)
            delete this;
        return ULONG(count);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        if (!typeInfo_) {
            const HRESULT hr = moduleTypeInfo(iid_, &typeInfo_);
            if (FAILED(hr))
                return hr;
        }
        *info = typeInfo_;
        typeInfo_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override
    {
        if (!IsEqualIID(iid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        HRESULT hr = GetTypeInfo(0, locale, &info);
        if (SUCCEEDED(hr)) {
            hr = info->GetIDsOfNames(names, count, ids);
            info->Release();
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override
    {
        if (!IsEqualIID(iid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        HRESULT hr = GetTypeInfo(0, locale, &info);
        if (SUCCEEDED(hr)) {
            hr = info->Invoke(static_cast<Interface*>(this), id, flags, params, result, exception, argumentError);
            info->Release();
        }
        return hr;
    }

private:
    LONG references_ = 1;
    const IID iid_;
    ITypeInfo* typeInfo_ = nullptr;
};
