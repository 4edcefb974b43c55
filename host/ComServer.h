#pragma once
// The module's in-process COM server state: the one class it serves
// (RAVOVavIrezCtrl), its class object, and the module lock count that
// DllCanUnloadNow reports. Set up at process attach, torn down at detach.
#include <windows.h>
#include <objbase.h>

class ComServer {
public:
    // Process attach: the module handle and the locks. Process detach:
    // releases the class object and frees the locks.
    static void attach(HINSTANCE module);
    static void detach();

    // The module lock count: one per live control, one per LockServer(TRUE),
    // one while any client holds the class object.
    static void lock();
    static void unlock();
    static LONG lockCount();

    // DllGetClassObject: creates the class object on first use, under a lock.
    static HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** result);
};
