// The exported entry points of the plug-in role. A browser calls
// NP_GetEntryPoints for the plug-in's callbacks, then NP_Initialize with its
// own services, and NP_Shutdown once every instance is gone.
#include "NpapiAbi.h"
#include "PluginInstance.h"
#include "SettingsFile.h"
#include "ViewAccessible.h"

namespace {
// The interface version this plug-in implements: major 0, minor 11.
constexpr uint16_t kPluginVersion = 11;
// Browsers from minor version 9 on know URL notifications and ask for a
// Java class.
constexpr uint16_t kFirstMinorWithNotify = 9;
}  // namespace

extern "C" NPError __stdcall NP_GetEntryPoints(NPPluginFuncs* functions)
{
    // The table must have room for every callback written below.
    if (!functions || !NP_TABLE_COVERS(NPPluginFuncs, functions, event))
        return NPERR_INVALID_FUNCTABLE_ERROR;
    functions->version = kPluginVersion;
    functions->newp = NPP_New;
    functions->destroy = NPP_Destroy;
    functions->setwindow = NPP_SetWindow;
    functions->newstream = NPP_NewStream;
    functions->destroystream = NPP_DestroyStream;
    functions->asfile = NPP_StreamAsFile;
    functions->writeready = NPP_WriteReady;
    functions->write = NPP_Write;
    functions->print = NPP_Print;
    functions->event = nullptr;
    // Browsers that script plug-ins ask for the scriptable object here.
    if (NP_TABLE_COVERS(NPPluginFuncs, functions, getvalue))
        functions->getvalue = NPP_GetValue;
    setPluginFunctions(functions);
    return NPERR_NO_ERROR;
}

extern "C" NPError __stdcall NP_Initialize(NPNetscapeFuncs* functions)
{
    // The services this plug-in calls must lie inside the browser's table.
    if (!functions || !NP_TABLE_COVERS(NPNetscapeFuncs, functions, memfree))
        return NPERR_INVALID_FUNCTABLE_ERROR;
    if ((functions->version >> 8) > 0)
        return NPERR_INCOMPATIBLE_VERSION_ERROR;
    setBrowserFunctions(functions);
    if ((functions->version & 0xFF) >= kFirstMinorWithNotify) {
        NPPluginFuncs* plugin = pluginFunctions();
        if (plugin && NP_TABLE_COVERS(NPPluginFuncs, plugin, urlnotify))
            plugin->urlnotify = NPP_URLNotify;
        if (plugin && NP_TABLE_COVERS(NPPluginFuncs, plugin, javaClass))
            plugin->javaClass = nullptr;
    }
    loadSettingsOnce(SettingsTrigger::PluginInitialize);
    return NPERR_NO_ERROR;
}

extern "C" NPError __stdcall NP_Shutdown()
{
    setBrowserFunctions(nullptr);
    // A screen reader that still holds a viewer's accessible object would
    // call into this module after the browser unloads it: it stays loaded.
    if (ViewAccessible::liveObjects() > 0) {
        HMODULE self = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&NP_Shutdown), &self);
    }
    return NPERR_NO_ERROR;
}
