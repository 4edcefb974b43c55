// DllRegisterServer and DllUnregisterServer: the registry entries come from
// the registry script (resource 102 of type "REGISTRY"), processed by the
// system's registrar with %MODULE% replaced by the module's short path; the
// type library comes from resource 1 of the module.
#include "Module.h"
#include "Registrar.h"
#include "RegistrationPaths.h"

#include <oleauto.h>

#include <string>

namespace {

constexpr UINT kRegistryScriptId = 102;

std::wstring moduleFileName()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(rozeradoModule(), path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring shortPathOf(const std::wstring& path)
{
    wchar_t shortPath[MAX_PATH + 1] = {};
    const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    if (length == 0 || length > MAX_PATH)
        return path;
    return std::wstring(shortPath, length);
}

// COM for the duration of one call, unless the caller has set it up already.
class ComScope {
public:
    ComScope() : initialized_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope()
    {
        if (initialized_)
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialized_;
};

// Runs the registry script through the registrar, registering or removing.
HRESULT processRegistryScript(const std::wstring& modulePath, bool doRegister)
{
    IRegistrar* registrar = nullptr;
    HRESULT hr = CoCreateInstance(kClsidRegistrar, nullptr, CLSCTX_INPROC_SERVER, kIidRegistrar,
                                  reinterpret_cast<void**>(&registrar));
    if (FAILED(hr))
        return hr;
    const std::wstring quoted = doubleSingleQuotes(shortPathOf(modulePath));
    hr = registrar->AddReplacement(L"MODULE", quoted.c_str());
    if (SUCCEEDED(hr))
        hr = doRegister ? registrar->ResourceRegister(modulePath.c_str(), kRegistryScriptId, L"REGISTRY")
                        : registrar->ResourceUnregister(modulePath.c_str(), kRegistryScriptId, L"REGISTRY");
    registrar->Release();
    return hr;
}

// The type library from the module's resource 1, else from the ".tlb" file
// beside the module.
HRESULT loadTypeLibrary(const std::wstring& modulePath, ITypeLib** library, std::wstring& loadedFrom)
{
    loadedFrom = modulePath;
    HRESULT hr = LoadTypeLib(modulePath.c_str(), library);
    if (SUCCEEDED(hr))
        return hr;
    loadedFrom = typeLibraryFileBeside(modulePath);
    return LoadTypeLib(loadedFrom.c_str(), library);
}

using UnRegisterTypeLibFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

void unregisterTypeLibrary(const std::wstring& modulePath)
{
    ITypeLib* library = nullptr;
    std::wstring loadedFrom;
    if (FAILED(loadTypeLibrary(modulePath, &library, loadedFrom)))
        return;
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(library->GetLibAttr(&attributes))) {
        HMODULE oleaut = GetModuleHandleA("oleaut32.dll");
        auto unregister = oleaut ? reinterpret_cast<UnRegisterTypeLibFunction>(
                                       reinterpret_cast<void*>(GetProcAddress(oleaut, "UnRegisterTypeLib")))
                                 : nullptr;
        if (unregister)
            unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                       attributes->syskind);
        library->ReleaseTLibAttr(attributes);
    }
    library->Release();
}

} // namespace

STDAPI DllRegisterServer()
{
    ComScope com;
    const std::wstring modulePath = moduleFileName();
    HRESULT hr = processRegistryScript(modulePath, true);
    if (FAILED(hr))
        return hr;
    ITypeLib* library = nullptr;
    std::wstring loadedFrom;
    hr = loadTypeLibrary(modulePath, &library, loadedFrom);
    if (FAILED(hr))
        return hr;
    std::wstring helpDirectory = moduleDirectoryOf(modulePath);
    hr = RegisterTypeLib(library, const_cast<wchar_t*>(loadedFrom.c_str()),
                         helpDirectory.empty() ? nullptr : const_cast<wchar_t*>(helpDirectory.c_str()));
    library->Release();
    return hr;
}

STDAPI DllUnregisterServer()
{
    ComScope com;
    const std::wstring modulePath = moduleFileName();
    processRegistryScript(modulePath, false);
    unregisterTypeLibrary(modulePath);
    return S_OK;
}
