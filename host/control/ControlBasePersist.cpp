// Persistence of the control's property list (IPersistStreamInit,
// IPersistStorage, IPersistPropertyBag) and IQuickActivate.
//
// Stream layout: a 32-bit format version, then each property in list order:
// the extent values as 32-bit unsigned integers, dispatch properties as a
// 16-bit variant type followed by the value (a string as its byte length
// including the terminating null, 0 for a null string, then the UTF-16 text).
#include "ControlBase.h"

namespace {

// 0x0301 added the properties marked so (PersistedProperty::since).
constexpr DWORD kStreamVersion = 0x0301;
constexpr ULONG kLargestStoredString = 16u << 20;   // bytes; longer is corrupt data
constexpr wchar_t kStorageStream[] = L"Contents";

HRESULT readExactly(IStream* stream, void* data, ULONG size)
{
    ULONG got = 0;
    const HRESULT hr = stream->Read(data, size, &got);
    if (FAILED(hr))
        return hr;
    return got == size ? S_OK : E_FAIL;
}

HRESULT writeExactly(IStream* stream, const void* data, ULONG size)
{
    ULONG written = 0;
    const HRESULT hr = stream->Write(data, size, &written);
    if (FAILED(hr))
        return hr;
    return written == size ? S_OK : STG_E_MEDIUMFULL;
}

// Reads one stored variant; only the types Save writes are accepted.
HRESULT readVariant(IStream* stream, VARIANT* value)
{
    VARTYPE type = VT_EMPTY;
    HRESULT hr = readExactly(stream, &type, sizeof(type));
    if (FAILED(hr))
        return hr;
    if (type == VT_EMPTY || type == VT_NULL) {
        value->vt = type;
        return S_OK;
    }
    if (type != VT_BSTR)
        return E_FAIL;
    ULONG bytes = 0;
    hr = readExactly(stream, &bytes, sizeof(bytes));
    if (FAILED(hr))
        return hr;
    value->vt = VT_BSTR;
    value->bstrVal = nullptr;
    if (bytes == 0)
        return S_OK;
    if (bytes < sizeof(OLECHAR) || bytes % sizeof(OLECHAR) != 0 || bytes > kLargestStoredString)
        return E_FAIL;
    BSTR text = SysAllocStringByteLen(nullptr, bytes - sizeof(OLECHAR));
    if (!text)
        return E_OUTOFMEMORY;
    hr = readExactly(stream, text, bytes);
    if (FAILED(hr)) {
        SysFreeString(text);
        return hr;
    }
    text[bytes / sizeof(OLECHAR) - 1] = 0;
    value->bstrVal = text;
    return S_OK;
}

HRESULT writeVariant(IStream* stream, const VARIANT& value)
{
    VARTYPE type = value.vt;
    if (type != VT_BSTR && type != VT_EMPTY && type != VT_NULL)
        return E_FAIL;
    HRESULT hr = writeExactly(stream, &type, sizeof(type));
    if (FAILED(hr) || type != VT_BSTR)
        return hr;
    const ULONG bytes = value.bstrVal ? SysStringByteLen(value.bstrVal) + sizeof(OLECHAR) : 0;
    hr = writeExactly(stream, &bytes, sizeof(bytes));
    if (SUCCEEDED(hr) && bytes)
        hr = writeExactly(stream, value.bstrVal, bytes);
    return hr;
}

} // namespace

HRESULT ControlBase::getDispatchProperty(DISPID id, VARIANT* value)
{
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return dispatchInterface()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value,
                                       nullptr, nullptr);
}

HRESULT ControlBase::putDispatchProperty(DISPID id, VARIANT* value)
{
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {value, &named, 1, 1};
    return dispatchInterface()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                                       nullptr, nullptr);
}

template <typename Each>
HRESULT ControlBase::eachPersistedProperty(Each each)
{
    size_t count = 0;
    const PersistedProperty* properties = persistedProperties(count);
    for (size_t i = 0; i < count; ++i) {
        VARIANT value;
        VariantInit(&value);
        const HRESULT hr = each(properties[i], value);
        VariantClear(&value);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetClassID(CLSID* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::IsDirty()
{
    return dirty_ ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE ControlBase::InitNew()
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::Load(IStream* stream)
{
    if (!stream)
        return E_POINTER;
    SelfReference self(this);   // a loaded src is downloaded and shown at once
    DWORD version = 0;
    HRESULT hr = readExactly(stream, &version, sizeof(version));
    if (FAILED(hr))
        return hr;
    if (version > kStreamVersion)
        return E_FAIL;
    size_t count = 0;
    const PersistedProperty* properties = persistedProperties(count);
    for (size_t i = 0; i < count; ++i) {
        const PersistedProperty& property = properties[i];
        if (property.since > version)
            break;   // an older stream ends before it: it keeps its value
        if (property.kind != PersistedProperty::Kind::Dispatch) {
            ULONG value = 0;
            hr = readExactly(stream, &value, sizeof(value));
            if (FAILED(hr))
                return hr;
            (property.kind == PersistedProperty::Kind::ExtentWidth ? extent_.cx : extent_.cy) = LONG(value);
            continue;
        }
        VARIANT value;
        VariantInit(&value);
        hr = readVariant(stream, &value);
        if (SUCCEEDED(hr))
            hr = putDispatchProperty(property.dispid, &value);
        VariantClear(&value);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::Save(IStream* stream, BOOL clearDirty)
{
    if (!stream)
        return E_POINTER;
    HRESULT hr = writeExactly(stream, &kStreamVersion, sizeof(kStreamVersion));
    size_t count = 0;
    const PersistedProperty* properties = persistedProperties(count);
    for (size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
        const PersistedProperty& property = properties[i];
        if (property.kind != PersistedProperty::Kind::Dispatch) {
            const ULONG value =
                ULONG(property.kind == PersistedProperty::Kind::ExtentWidth ? extent_.cx : extent_.cy);
            hr = writeExactly(stream, &value, sizeof(value));
            continue;
        }
        VARIANT value;
        VariantInit(&value);
        hr = getDispatchProperty(property.dispid, &value);
        if (SUCCEEDED(hr))
            hr = writeVariant(stream, value);
        VariantClear(&value);
    }
    if (SUCCEEDED(hr) && clearDirty)
        dirty_ = false;
    return hr;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetSizeMax(ULARGE_INTEGER* size)
{
    if (!size)
        return E_POINTER;
    ULONGLONG total = sizeof(kStreamVersion);
    size_t count = 0;
    const PersistedProperty* properties = persistedProperties(count);
    for (size_t i = 0; i < count; ++i) {
        if (properties[i].kind != PersistedProperty::Kind::Dispatch) {
            total += sizeof(ULONG);
            continue;
        }
        total += sizeof(VARTYPE) + sizeof(ULONG);
        VARIANT value;
        VariantInit(&value);
        if (SUCCEEDED(getDispatchProperty(properties[i].dispid, &value)) && value.vt == VT_BSTR && value.bstrVal)
            total += SysStringByteLen(value.bstrVal) + sizeof(OLECHAR);
        VariantClear(&value);
    }
    size->QuadPart = total;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::InitNew(IStorage*)
{
    return InitNew();
}

HRESULT STDMETHODCALLTYPE ControlBase::Load(IStorage* storage)
{
    if (!storage)
        return E_POINTER;
    SelfReference self(this);
    IStream* stream = nullptr;
    HRESULT hr = storage->OpenStream(kStorageStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (FAILED(hr))
        return hr;
    hr = Load(stream);
    stream->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE ControlBase::Save(IStorage* storage, BOOL)
{
    if (!storage)
        return E_POINTER;
    IStream* stream = nullptr;
    HRESULT hr = storage->CreateStream(kStorageStream, STGM_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0,
                                       &stream);
    if (FAILED(hr))
        return hr;
    hr = Save(stream, TRUE);
    stream->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE ControlBase::SaveCompleted(IStorage*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::HandsOffStorage()
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::Load(IPropertyBag* bag, IErrorLog* log)
{
    if (!bag)
        return E_POINTER;
    SelfReference self(this);
    return eachPersistedProperty([&](const PersistedProperty& property, VARIANT& value) {
        const bool extent = property.kind != PersistedProperty::Kind::Dispatch;
        if (extent)
            value.vt = VT_UI4;
        // A property missing from the bag keeps its value.
        if (FAILED(bag->Read(property.name, &value, log)))
            return S_OK;
        if (extent) {
            if (SUCCEEDED(VariantChangeType(&value, &value, 0, VT_UI4)))
                (property.kind == PersistedProperty::Kind::ExtentWidth ? extent_.cx : extent_.cy) = LONG(value.ulVal);
            return S_OK;
        }
        return SUCCEEDED(putDispatchProperty(property.dispid, &value)) ? S_OK : E_FAIL;
    });
}

HRESULT STDMETHODCALLTYPE ControlBase::Save(IPropertyBag* bag, BOOL clearDirty, BOOL)
{
    if (!bag)
        return E_POINTER;
    const HRESULT hr = eachPersistedProperty([&](const PersistedProperty& property, VARIANT& value) {
        if (property.kind != PersistedProperty::Kind::Dispatch) {
            value.vt = VT_UI4;
            value.ulVal = ULONG(property.kind == PersistedProperty::Kind::ExtentWidth ? extent_.cx : extent_.cy);
        } else if (const HRESULT got = getDispatchProperty(property.dispid, &value); FAILED(got)) {
            return got;
        }
        return bag->Write(property.name, &value);
    });
    if (FAILED(hr))
        return hr;
    if (clearDirty)
        dirty_ = false;
    return S_OK;
}

// IQuickActivate

HRESULT STDMETHODCALLTYPE ControlBase::QuickActivate(QACONTAINER* container, QACONTROL* control)
{
    if (!container || !control)
        return E_POINTER;
    if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL))
        return E_INVALIDARG;
    HRESULT hr = SetClientSite(container->pClientSite);
    if (FAILED(hr))
        return hr;
    control->dwEventCookie = 0;
    if (container->pUnkEventSink)
        events_.Advise(container->pUnkEventSink, &control->dwEventCookie);
    control->dwPropNotifyCookie = 0;
    if (container->pAdviseSink)
        SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    control->dwMiscStatus = 0;
    GetMiscStatus(DVASPECT_CONTENT, &control->dwMiscStatus);
    GetViewStatus(&control->dwViewStatus);
    control->dwPointerActivationPolicy = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetContentExtent(LPSIZEL size)
{
    return SetExtent(DVASPECT_CONTENT, size);
}

HRESULT STDMETHODCALLTYPE ControlBase::GetContentExtent(LPSIZEL size)
{
    return GetExtent(DVASPECT_CONTENT, size);
}
