// Entry point of ROZERADO.DLL: when the module is attached to a process it
// remembers its handle (resources are loaded from it), sets up the COM
// server state and loads the settings; at detach it releases the COM server.
#include "ComServer.h"
#include "Module.h"
#include "SettingsFile.h"

#include <windows.h>

namespace {
HINSTANCE moduleInstance = nullptr;
}

HINSTANCE rozeradoModule()
{
    return moduleInstance;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        moduleInstance = instance;
        ComServer::attach(instance);
        DisableThreadLibraryCalls(instance);
        loadSettingsOnce(SettingsTrigger::ModuleAttach);
    } else if (reason == DLL_PROCESS_DETACH) {
        ComServer::detach();
    }
    return TRUE;
}
