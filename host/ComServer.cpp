#include "ComServer.h"

#include "ClassFactory.h"
#include "ViewAccessible.h"
#include "rozerado_h.h"

#include <new>

namespace {
// Guards the creation of the class object; the lock count itself changes
// with interlocked operations.
CRITICAL_SECTION classObjectLock;
bool attached = false;
ClassFactory* classObject = nullptr;
LONG moduleLocks = 0;
}

void ComServer::attach(HINSTANCE)
{
    InitializeCriticalSection(&classObjectLock);
    attached = true;
}

void ComServer::detach()
{
    if (!attached)
        return;
    if (classObject) {
        classObject->Release();
        classObject = nullptr;
    }
    DeleteCriticalSection(&classObjectLock);
    attached = false;
}

void ComServer::lock()
{
    InterlockedIncrement(&moduleLocks);
}

void ComServer::unlock()
{
    InterlockedDecrement(&moduleLocks);
}

LONG ComServer::lockCount()
{
    return InterlockedCompareExchange(&moduleLocks, 0, 0);
}

HRESULT ComServer::getClassObject(REFCLSID clsid, REFIID iid, void** result)
{
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_RAVOVavIrezCtrl))
        return CLASS_E_CLASSNOTAVAILABLE;
    if (!attached)
        return E_UNEXPECTED;
    EnterCriticalSection(&classObjectLock);
    if (!classObject)
        classObject = new (std::nothrow) ClassFactory;
    ClassFactory* object = classObject;
    LeaveCriticalSection(&classObjectLock);
    if (!object)
        return E_OUTOFMEMORY;
    return object->QueryInterface(iid, result);
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** result)
{
    return ComServer::getClassObject(clsid, iid, result);
}

STDAPI DllCanUnloadNow()
{
    // A screen reader may still hold a viewer's accessible object, whose
    // code is in this module.
    return ComServer::lockCount() == 0 && ViewAccessible::liveObjects() == 0 ? S_OK : S_FALSE;
}
