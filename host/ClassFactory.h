#pragma once
// The class object of RAVOVavIrezCtrl. The server keeps one reference of its
// own for the life of the module; every further reference (a client's) holds
// one module lock, so DllCanUnloadNow answers S_FALSE while a client keeps it.
#include <windows.h>
#include <unknwn.h>

class ClassFactory final : public IClassFactory {
public:
    ClassFactory() = default;
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** result) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~ClassFactory() = default;
    LONG references_ = 1;   // the server's own
};
