#pragma once
// The parameters of an embedding (the page's <param> elements) as a property
// bag, read by the control's IPersistPropertyBag::Load and written by its
// Save. Values are strings; a read asking for another type gets the string
// converted, a write of another type is kept converted to a string. Owned by its
// host like the site (count from 1, never deletes itself).
#include <windows.h>
#include <ocidl.h>

#include <map>
#include <string>

class PropertyBag : public IPropertyBag {
public:
    virtual ~PropertyBag() = default;

    void set(const std::wstring& name, const std::wstring& value) { values_[name] = value; }
    LONG references() const { return references_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references_); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--references_); }

    // A name that the page does not give fails with E_INVALIDARG, as a
    // browser's bag does.
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) override;
    // Keeps the value as a string, as a page's editor stores parameters.
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override;
    // The value written or set under `name`; "<missing>" for none.
    std::wstring value(const std::wstring& name) const;

private:
    LONG references_ = 1;
    std::map<std::wstring, std::wstring> values_;
};
