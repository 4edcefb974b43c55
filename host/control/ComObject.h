#pragma once
// The reference count and QueryInterface of a small COM object of one
// interface (enumerators and the like), freed with its last reference.
#include <windows.h>
#include <unknwn.h>

template <class Interface, const IID& kIid>
class ComObject : public Interface {
public:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override
    {
        if (!result)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIid)) {
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

private:
    LONG references_ = 1;
};
