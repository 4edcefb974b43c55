#include "ClassFactory.h"

#include "ComServer.h"
#include "RAVOVavIrezCtrl.h"

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID iid, void** result)
{
    if (!result)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *result = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef()
{
    const LONG count = InterlockedIncrement(&references_);
    if (count == 2)   // the first reference beyond the server's own
        ComServer::lock();
    return ULONG(count);
}

ULONG STDMETHODCALLTYPE ClassFactory::Release()
{
    const LONG count = InterlockedDecrement(&references_);
    if (count == 1)
        ComServer::unlock();
    else if (count == 0)
        delete this;
    return ULONG(count);
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** result)
{
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    return RAVOVavIrezCtrl::create(iid, result);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock)
{
    if (lock)
        ComServer::lock();
    else
        ComServer::unlock();
    return S_OK;
}
