#pragma once
// The browser plug-in interface (NPAPI) as browsers lay it out on Windows,
// 32-bit and 64-bit (natural alignment: pointers and the tables' entries
// take 4 or 8 bytes, the integer fields keep their fixed widths): instance handle, window, stream and print descriptions, the two
// function tables, error codes and modes, and the scripting types (objects,
// classes, identifiers, values). Only what this module and its
// stand-in browser use; the tables end after the last entry either side reads
// or writes, and their `size` fields tell how much the other side provides.
// (MinGW's own npapi.h is the network-provider API, hence this file's name.)
#include <cstddef>
#include <cstdint>

typedef unsigned char NPBool;
typedef int16_t NPError;
typedef int16_t NPReason;
typedef char* NPMIMEType;

struct _NPP {
    void* pdata;   // the plug-in's instance data
    void* ndata;   // the browser's
};
typedef _NPP NPP_t;
typedef _NPP* NPP;

struct NPStream {
    void* pdata;
    void* ndata;
    const char* url;
    uint32_t end;
    uint32_t lastmodified;
    void* notifyData;
    const char* headers;
};

struct NPByteRange {
    int32_t offset;
    uint32_t length;
    NPByteRange* next;
};

struct NPSavedData {
    int32_t len;
    void* buf;
};

struct NPRect {
    uint16_t top;
    uint16_t left;
    uint16_t bottom;
    uint16_t right;
};

enum NPWindowType { NPWindowTypeWindow = 1, NPWindowTypeDrawable = 2 };

struct NPWindow {
    void* window;          // HWND on Windows
    int32_t x;
    int32_t y;
    uint32_t width;
    uint32_t height;
    NPRect clipRect;
    NPWindowType type;
};

struct NPFullPrint {
    NPBool pluginPrinted;  // set by the plug-in when it printed the page itself
    NPBool printOne;
    void* platformPrint;   // HDC
};

struct NPEmbedPrint {
    NPWindow window;
    void* platformPrint;   // HDC
};

struct NPPrint {
    uint16_t mode;         // NP_FULL or NP_EMBED
    union {
        NPFullPrint fullPrint;
        NPEmbedPrint embedPrint;
    } print;
};

// Instance modes.
constexpr uint16_t NP_EMBED = 1;
constexpr uint16_t NP_FULL = 2;

// Stream types.
constexpr uint16_t NP_NORMAL = 1;
constexpr uint16_t NP_SEEK = 2;
constexpr uint16_t NP_ASFILE = 3;
constexpr uint16_t NP_ASFILEONLY = 4;

// Error codes.
constexpr NPError NPERR_NO_ERROR = 0;
constexpr NPError NPERR_GENERIC_ERROR = 1;
constexpr NPError NPERR_INVALID_INSTANCE_ERROR = 2;
constexpr NPError NPERR_INVALID_FUNCTABLE_ERROR = 3;
constexpr NPError NPERR_MODULE_LOAD_FAILED_ERROR = 4;
constexpr NPError NPERR_OUT_OF_MEMORY_ERROR = 5;
constexpr NPError NPERR_INVALID_PLUGIN_ERROR = 6;
constexpr NPError NPERR_INVALID_PLUGIN_DIR_ERROR = 7;
constexpr NPError NPERR_INCOMPATIBLE_VERSION_ERROR = 8;
constexpr NPError NPERR_INVALID_PARAM = 9;
constexpr NPError NPERR_INVALID_URL = 10;
constexpr NPError NPERR_FILE_NOT_FOUND = 11;
constexpr NPError NPERR_NO_DATA = 12;
constexpr NPError NPERR_STREAM_NOT_SEEKABLE = 13;

// Reasons a stream ends.
constexpr NPReason NPRES_DONE = 0;
constexpr NPReason NPRES_NETWORK_ERR = 1;
constexpr NPReason NPRES_USER_BREAK = 2;

// Plug-in callbacks (C calling convention, as browsers call them).
typedef NPError (*NPP_NewProcPtr)(NPMIMEType, NPP, uint16_t mode, int16_t argc, char** argn, char** argv,
                                  NPSavedData*);
typedef NPError (*NPP_DestroyProcPtr)(NPP, NPSavedData**);
typedef NPError (*NPP_SetWindowProcPtr)(NPP, NPWindow*);
typedef NPError (*NPP_NewStreamProcPtr)(NPP, NPMIMEType, NPStream*, NPBool seekable, uint16_t* stype);
typedef NPError (*NPP_DestroyStreamProcPtr)(NPP, NPStream*, NPReason);
typedef void (*NPP_StreamAsFileProcPtr)(NPP, NPStream*, const char* fname);
typedef int32_t (*NPP_WriteReadyProcPtr)(NPP, NPStream*);
typedef int32_t (*NPP_WriteProcPtr)(NPP, NPStream*, int32_t offset, int32_t len, void* buffer);
typedef void (*NPP_PrintProcPtr)(NPP, NPPrint*);
typedef int16_t (*NPP_HandleEventProcPtr)(NPP, void* event);
typedef void (*NPP_URLNotifyProcPtr)(NPP, const char* url, NPReason, void* notifyData);
typedef NPError (*NPP_GetValueProcPtr)(NPP, int variable, void* value);
typedef NPError (*NPP_SetValueProcPtr)(NPP, int variable, void* value);

struct NPPluginFuncs {
    uint16_t size;
    uint16_t version;
    NPP_NewProcPtr newp;
    NPP_DestroyProcPtr destroy;
    NPP_SetWindowProcPtr setwindow;
    NPP_NewStreamProcPtr newstream;
    NPP_DestroyStreamProcPtr destroystream;
    NPP_StreamAsFileProcPtr asfile;
    NPP_WriteReadyProcPtr writeready;
    NPP_WriteProcPtr write;
    NPP_PrintProcPtr print;
    NPP_HandleEventProcPtr event;
    NPP_URLNotifyProcPtr urlnotify;
    void* javaClass;
    NPP_GetValueProcPtr getvalue;
    NPP_SetValueProcPtr setvalue;
};

// Browser services.
typedef NPError (*NPN_GetURLProcPtr)(NPP, const char* url, const char* window);
typedef NPError (*NPN_PostURLProcPtr)(NPP, const char* url, const char* window, uint32_t len, const char* buf,
                                      NPBool file);
typedef NPError (*NPN_RequestReadProcPtr)(NPStream*, NPByteRange*);
typedef NPError (*NPN_NewStreamProcPtr)(NPP, NPMIMEType, const char* window, NPStream**);
typedef int32_t (*NPN_WriteProcPtr)(NPP, NPStream*, int32_t len, void* buffer);
typedef NPError (*NPN_DestroyStreamProcPtr)(NPP, NPStream*, NPReason);
typedef void (*NPN_StatusProcPtr)(NPP, const char* message);
typedef const char* (*NPN_UserAgentProcPtr)(NPP);
typedef void* (*NPN_MemAllocProcPtr)(uint32_t size);
typedef void (*NPN_MemFreeProcPtr)(void* ptr);
typedef uint32_t (*NPN_MemFlushProcPtr)(uint32_t size);
typedef void (*NPN_ReloadPluginsProcPtr)(NPBool reloadPages);

// Scripting: objects, identifiers and values shared with the page's script.
typedef void* NPIdentifier;
typedef char NPUTF8;

struct NPString {
    const NPUTF8* UTF8Characters;
    uint32_t UTF8Length;
};

enum NPVariantType {
    NPVariantType_Void,
    NPVariantType_Null,
    NPVariantType_Bool,
    NPVariantType_Int32,
    NPVariantType_Double,
    NPVariantType_String,
    NPVariantType_Object
};

struct NPObject;

struct NPVariant {
    NPVariantType type;
    union {
        bool boolValue;
        int32_t intValue;
        double doubleValue;
        NPString stringValue;
        NPObject* objectValue;
    } value;
};

struct NPClass;
typedef NPObject* (*NPAllocateFunctionPtr)(NPP, NPClass*);
typedef void (*NPDeallocateFunctionPtr)(NPObject*);
typedef void (*NPInvalidateFunctionPtr)(NPObject*);
typedef bool (*NPHasMethodFunctionPtr)(NPObject*, NPIdentifier name);
typedef bool (*NPInvokeFunctionPtr)(NPObject*, NPIdentifier name, const NPVariant* args, uint32_t argCount,
                                    NPVariant* result);
typedef bool (*NPInvokeDefaultFunctionPtr)(NPObject*, const NPVariant* args, uint32_t argCount, NPVariant* result);
typedef bool (*NPHasPropertyFunctionPtr)(NPObject*, NPIdentifier name);
typedef bool (*NPGetPropertyFunctionPtr)(NPObject*, NPIdentifier name, NPVariant* result);
typedef bool (*NPSetPropertyFunctionPtr)(NPObject*, NPIdentifier name, const NPVariant* value);
typedef bool (*NPRemovePropertyFunctionPtr)(NPObject*, NPIdentifier name);
typedef bool (*NPEnumerationFunctionPtr)(NPObject*, NPIdentifier** names, uint32_t* count);
typedef bool (*NPConstructFunctionPtr)(NPObject*, const NPVariant* args, uint32_t argCount, NPVariant* result);

constexpr uint32_t NP_CLASS_STRUCT_VERSION = 3;

struct NPClass {
    uint32_t structVersion;
    NPAllocateFunctionPtr allocate;
    NPDeallocateFunctionPtr deallocate;
    NPInvalidateFunctionPtr invalidate;
    NPHasMethodFunctionPtr hasMethod;
    NPInvokeFunctionPtr invoke;
    NPInvokeDefaultFunctionPtr invokeDefault;
    NPHasPropertyFunctionPtr hasProperty;
    NPGetPropertyFunctionPtr getProperty;
    NPSetPropertyFunctionPtr setProperty;
    NPRemovePropertyFunctionPtr removeProperty;
    NPEnumerationFunctionPtr enumerate;
    NPConstructFunctionPtr construct;
};

struct NPObject {
    NPClass* _class;
    uint32_t referenceCount;
};

// NPP_GetValue's and NPN_GetValue's variables that the scripting uses.
constexpr int NPPVpluginScriptableNPObject = 15;
constexpr int NPNVWindowNPObject = 15;
constexpr int NPNVPluginElementNPObject = 16;

typedef void* (*NPN_GetJavaEnvProcPtr)();
typedef void* (*NPN_GetJavaPeerProcPtr)(NPP);
typedef NPError (*NPN_GetURLNotifyProcPtr)(NPP, const char* url, const char* window, void* notifyData);
typedef NPError (*NPN_PostURLNotifyProcPtr)(NPP, const char* url, const char* window, uint32_t len,
                                            const char* buf, NPBool file, void* notifyData);
typedef NPError (*NPN_GetValueProcPtr)(NPP, int variable, void* value);
typedef NPError (*NPN_SetValueProcPtr)(NPP, int variable, void* value);
typedef void (*NPN_InvalidateRectProcPtr)(NPP, NPRect*);
typedef void (*NPN_InvalidateRegionProcPtr)(NPP, void* region);
typedef void (*NPN_ForceRedrawProcPtr)(NPP);
typedef NPIdentifier (*NPN_GetStringIdentifierProcPtr)(const NPUTF8* name);
typedef void (*NPN_GetStringIdentifiersProcPtr)(const NPUTF8** names, int32_t count, NPIdentifier* identifiers);
typedef NPIdentifier (*NPN_GetIntIdentifierProcPtr)(int32_t value);
typedef bool (*NPN_IdentifierIsStringProcPtr)(NPIdentifier);
typedef NPUTF8* (*NPN_UTF8FromIdentifierProcPtr)(NPIdentifier);
typedef int32_t (*NPN_IntFromIdentifierProcPtr)(NPIdentifier);
typedef NPObject* (*NPN_CreateObjectProcPtr)(NPP, NPClass*);
typedef NPObject* (*NPN_RetainObjectProcPtr)(NPObject*);
typedef void (*NPN_ReleaseObjectProcPtr)(NPObject*);
typedef bool (*NPN_InvokeProcPtr)(NPP, NPObject*, NPIdentifier method, const NPVariant* args, uint32_t argCount,
                                  NPVariant* result);
typedef bool (*NPN_InvokeDefaultProcPtr)(NPP, NPObject*, const NPVariant* args, uint32_t argCount,
                                         NPVariant* result);
typedef bool (*NPN_EvaluateProcPtr)(NPP, NPObject*, NPString* script, NPVariant* result);
typedef bool (*NPN_GetPropertyProcPtr)(NPP, NPObject*, NPIdentifier name, NPVariant* result);
typedef bool (*NPN_SetPropertyProcPtr)(NPP, NPObject*, NPIdentifier name, const NPVariant* value);
typedef bool (*NPN_RemovePropertyProcPtr)(NPP, NPObject*, NPIdentifier name);
typedef bool (*NPN_HasPropertyProcPtr)(NPP, NPObject*, NPIdentifier name);
typedef bool (*NPN_HasMethodProcPtr)(NPP, NPObject*, NPIdentifier name);
typedef void (*NPN_ReleaseVariantValueProcPtr)(NPVariant*);
typedef void (*NPN_SetExceptionProcPtr)(NPObject*, const NPUTF8* message);

struct NPNetscapeFuncs {
    uint16_t size;
    uint16_t version;      // high byte major, low byte minor
    NPN_GetURLProcPtr geturl;
    NPN_PostURLProcPtr posturl;
    NPN_RequestReadProcPtr requestread;
    NPN_NewStreamProcPtr newstream;
    NPN_WriteProcPtr write;
    NPN_DestroyStreamProcPtr destroystream;
    NPN_StatusProcPtr status;
    NPN_UserAgentProcPtr uagent;
    NPN_MemAllocProcPtr memalloc;
    NPN_MemFreeProcPtr memfree;
    NPN_MemFlushProcPtr memflush;
    NPN_ReloadPluginsProcPtr reloadplugins;
    NPN_GetJavaEnvProcPtr getJavaEnv;
    NPN_GetJavaPeerProcPtr getJavaPeer;
    NPN_GetURLNotifyProcPtr geturlnotify;
    NPN_PostURLNotifyProcPtr posturlnotify;
    NPN_GetValueProcPtr getvalue;
    NPN_SetValueProcPtr setvalue;
    NPN_InvalidateRectProcPtr invalidaterect;
    NPN_InvalidateRegionProcPtr invalidateregion;
    NPN_ForceRedrawProcPtr forceredraw;
    NPN_GetStringIdentifierProcPtr getstringidentifier;
    NPN_GetStringIdentifiersProcPtr getstringidentifiers;
    NPN_GetIntIdentifierProcPtr getintidentifier;
    NPN_IdentifierIsStringProcPtr identifierisstring;
    NPN_UTF8FromIdentifierProcPtr utf8fromidentifier;
    NPN_IntFromIdentifierProcPtr intfromidentifier;
    NPN_CreateObjectProcPtr createobject;
    NPN_RetainObjectProcPtr retainobject;
    NPN_ReleaseObjectProcPtr releaseobject;
    NPN_InvokeProcPtr invoke;
    NPN_InvokeDefaultProcPtr invokeDefault;
    NPN_EvaluateProcPtr evaluate;
    NPN_GetPropertyProcPtr getproperty;
    NPN_SetPropertyProcPtr setproperty;
    NPN_RemovePropertyProcPtr removeproperty;
    NPN_HasPropertyProcPtr hasproperty;
    NPN_HasMethodProcPtr hasmethod;
    NPN_ReleaseVariantValueProcPtr releasevariantvalue;
    NPN_SetExceptionProcPtr setexception;
};

// The exported entry points (the platform's calling convention for exports).
typedef NPError(__stdcall* NP_GetEntryPointsFunc)(NPPluginFuncs*);
typedef NPError(__stdcall* NP_InitializeFunc)(NPNetscapeFuncs*);
typedef NPError(__stdcall* NP_ShutdownFunc)();

// Size of a table up to and including `member`, to test against its `size`.
#define NP_TABLE_COVERS(Type, table, member) \
    (size_t((table)->size) >= offsetof(Type, member) + sizeof((table)->member))

// The layout browsers expect on 32-bit and on 64-bit Windows.
constexpr bool kNpapi64 = sizeof(void*) == 8;
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "NPAPI layout: 32-bit or 64-bit Windows");
static_assert(sizeof(NPWindow) == (kNpapi64 ? 40 : 32), "NPWindow layout");
static_assert(offsetof(NPWindow, x) == (kNpapi64 ? 8 : 4), "NPWindow layout");
static_assert(offsetof(NPWindow, clipRect) == (kNpapi64 ? 24 : 20), "NPWindow layout");
static_assert(offsetof(NPWindow, type) == (kNpapi64 ? 32 : 28), "NPWindow layout");
static_assert(sizeof(NPStream) == (kNpapi64 ? 48 : 28), "NPStream layout");
static_assert(offsetof(NPStream, end) == (kNpapi64 ? 24 : 12), "NPStream layout");
static_assert(offsetof(NPStream, notifyData) == (kNpapi64 ? 32 : 20), "NPStream layout");
static_assert(sizeof(NPSavedData) == (kNpapi64 ? 16 : 8), "NPSavedData layout");
static_assert(sizeof(NPPrint) == (kNpapi64 ? 56 : 40), "NPPrint layout");
static_assert(offsetof(NPPrint, print) == (kNpapi64 ? 8 : 4), "NPPrint layout");
static_assert(offsetof(NPFullPrint, platformPrint) == (kNpapi64 ? 8 : 4), "NPFullPrint layout");
static_assert(offsetof(NPEmbedPrint, platformPrint) == (kNpapi64 ? 40 : 32), "NPEmbedPrint layout");
static_assert(offsetof(NPPluginFuncs, newp) == (kNpapi64 ? 8 : 4), "NPPluginFuncs layout");
static_assert(offsetof(NPPluginFuncs, event) == (kNpapi64 ? 80 : 40), "NPPluginFuncs layout");
static_assert(offsetof(NPPluginFuncs, urlnotify) == (kNpapi64 ? 88 : 44), "NPPluginFuncs layout");
static_assert(offsetof(NPPluginFuncs, javaClass) == (kNpapi64 ? 96 : 48), "NPPluginFuncs layout");
static_assert(offsetof(NPNetscapeFuncs, geturl) == (kNpapi64 ? 8 : 4), "NPNetscapeFuncs layout");
static_assert(offsetof(NPNetscapeFuncs, memalloc) == (kNpapi64 ? 72 : 36), "NPNetscapeFuncs layout");
static_assert(offsetof(NPNetscapeFuncs, memfree) == (kNpapi64 ? 80 : 40), "NPNetscapeFuncs layout");
static_assert(offsetof(NPNetscapeFuncs, getvalue) == (kNpapi64 ? 136 : 68), "NPNetscapeFuncs layout");
static_assert(offsetof(NPNetscapeFuncs, getstringidentifier) == (kNpapi64 ? 176 : 88), "NPNetscapeFuncs layout");
static_assert(offsetof(NPNetscapeFuncs, setexception) == (kNpapi64 ? 320 : 160), "NPNetscapeFuncs layout");
static_assert(sizeof(NPVariant) == (kNpapi64 ? 24 : 16), "NPVariant layout");
static_assert(sizeof(NPClass) == (kNpapi64 ? 104 : 52), "NPClass layout");
