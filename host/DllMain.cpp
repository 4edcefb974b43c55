// Entry point of ROZERADO.DLL: when the module is attached to a process it
// remembers its handle (resources are loaded from it) and loads the settings.
#include "Module.h"
#include "Settings.h"

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
        DisableThreadLibraryCalls(instance);
        loadSettingsOnce(SettingsTrigger::ModuleAttach);
    }
    return TRUE;
}
