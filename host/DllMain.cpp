// Entry point of ROZERADO.DLL: remembers the module handle (resources are
// loaded from it) when the module is attached to a process.
#include "Module.h"

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
    }
    return TRUE;
}
