#include "ControlEvents.h"

#include <oleauto.h>

ControlEvents::~ControlEvents()
{
    disconnect();
}

HRESULT ControlEvents::connect(IUnknown* control)
{
    disconnect();
    IProvideClassInfo2* info = nullptr;
    HRESULT hr = control->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info));
    if (FAILED(hr))
        return hr;
    hr = info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events_);
    // The names and ids of the source interface, from the class's type information.
    ITypeInfo* classInfo = nullptr;
    if (SUCCEEDED(hr))
        hr = info->GetClassInfo(&classInfo);
    info->Release();
    if (FAILED(hr))
        return hr;
    ITypeLib* library = nullptr;
    UINT index = 0;
    ITypeInfo* source = nullptr;
    if (SUCCEEDED(classInfo->GetContainingTypeLib(&library, &index))) {
        library->GetTypeInfoOfGuid(events_, &source);
        library->Release();
    }
    classInfo->Release();
    names_.clear();
    if (source) {
        TYPEATTR* attributes = nullptr;
        if (SUCCEEDED(source->GetTypeAttr(&attributes))) {
            for (UINT i = 0; i < attributes->cFuncs; ++i) {
                FUNCDESC* function = nullptr;
                if (FAILED(source->GetFuncDesc(i, &function)))
                    continue;
                BSTR name = nullptr;
                UINT count = 0;
                if (SUCCEEDED(source->GetNames(function->memid, &name, 1, &count)) && name)
                    names_[function->memid] = name;
                SysFreeString(name);
                source->ReleaseFuncDesc(function);
            }
            source->ReleaseTypeAttr(attributes);
        }
        source->Release();
    }
    IConnectionPointContainer* container = nullptr;
    hr = control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr))
        return hr;
    hr = container->FindConnectionPoint(events_, &point_);
    container->Release();
    if (FAILED(hr))
        return hr;
    hr = point_->Advise(static_cast<IDispatch*>(this), &cookie_);
    if (FAILED(hr)) {
        point_->Release();
        point_ = nullptr;
    }
    return hr;
}

void ControlEvents::disconnect()
{
    if (!point_)
        return;
    IConnectionPoint* point = point_;
    point_ = nullptr;
    point->Unadvise(cookie_);
    point->Release();
}

void ControlEvents::setCancel(bool cancel)
{
    if (cancel_)
        *cancel_ = cancel ? VARIANT_TRUE : VARIANT_FALSE;
}

int ControlEvents::count(const std::wstring& name) const
{
    int n = 0;
    for (const ControlEvent& event : events)
        n += event.name == name;
    return n;
}

HRESULT STDMETHODCALLTYPE ControlEvents::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE ControlEvents::GetTypeInfoCount(UINT* count)
{
    if (count)
        *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlEvents::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlEvents::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlEvents::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                                EXCEPINFO*, UINT*)
{
    ControlEvent event;
    event.id = id;
    const auto named = names_.find(id);
    event.name = named != names_.end() ? named->second : L"#" + std::to_wstring(id);
    VARIANT_BOOL* cancel = nullptr;
    // DISPPARAMS holds the arguments last first.
    for (UINT i = params ? params->cArgs : 0; i-- > 0;) {
        const VARIANT& argument = params->rgvarg[i];
        if (argument.vt == VT_BSTR)
            event.arguments.push_back(argument.bstrVal ? argument.bstrVal : L"");
        else if (argument.vt == (VT_BOOL | VT_BYREF)) {
            event.arguments.push_back(L"cancel");
            cancel = argument.pboolVal;
        } else
            event.arguments.push_back(L"<type " + std::to_wstring(argument.vt) + L">");
    }
    events.push_back(event);
    VARIANT_BOOL* outer = cancel_;
    cancel_ = cancel;
    if (handler)
        handler(event);
    cancel_ = outer;
    return S_OK;
}
