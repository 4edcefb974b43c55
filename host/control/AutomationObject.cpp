#include "AutomationObject.h"

#include "Module.h"

HRESULT moduleTypeInfo(const GUID& guid, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    wchar_t path[MAX_PATH + 1] = {};
    if (!GetModuleFileNameW(rozeradoModule(), path, MAX_PATH))
        return E_UNEXPECTED;
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLib(path, &library);
    if (FAILED(hr))
        return hr;
    hr = library->GetTypeInfoOfGuid(guid, info);
    library->Release();
    return hr;
}

HRESULT failWithDescription(HRESULT hr, const IID& source, const wchar_t* description)
{
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)) || !create)
        return hr;
    create->SetGUID(source);
    create->SetSource(const_cast<LPOLESTR>(L"ROZERADO.RAVOVavIrezCtrl"));
    create->SetDescription(const_cast<LPOLESTR>(description));
    IErrorInfo* error = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&error))) && error) {
        SetErrorInfo(0, error);
        error->Release();
    }
    create->Release();
    return hr;
}
