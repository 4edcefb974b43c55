#pragma once
// The plug-in role: the data of one plug-in instance, the browser's function
// table and the plug-in callbacks that the browser calls for every document
// (NPP_*). The exported entry points that hand the callbacks to the browser
// are in PluginEntry.cpp.
#include "HostAnchor.h"
#include "NpapiAbi.h"
#include "PageEvents.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class ViewerContainer;
struct ScriptableViewer;

// One plug-in instance, kept in the instance's pdata. The memory comes from
// the browser (NPN_MemAlloc), is zeroed and then constructed in place.
//
// The browser may destroy an instance while a call into it is still running:
// a message box, the print dialog or NPN_GetURL runs a message loop in which
// the page removes the plug-in. The instance counts the calls into it (the
// NPP_* callbacks and the messages of the viewer's windows); NPP_Destroy
// during such a call shuts the viewer's windows at once and frees the
// instance when the outermost call returns.
//
// The viewer's page events become the element's events on the plug-in's
// element of the page (htf-load, htf-error, htf-hotspotenter,
// htf-hotspotleave, htf-viewchange and the cancelable htf-navigate), and the
// page scripts the viewer through its ScriptableViewer.
struct PluginInstance : HostAnchor, PageEvents {
    PluginInstance();
    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    void holdHost() override { ++callDepth; }
    void releaseHost() override;
    bool hostClosing() const override { return destroyRequested; }

    void pageLoaded() override;
    void pageError(const std::u16string& message) override;
    void hotspotEntered(const PageHotspot& hotspot) override;
    void hotspotLeft(const PageHotspot& hotspot) override;
    void viewChanged() override;
    bool navigating(const PageNavigation& navigation) override;

    // NPP_Destroy: frees the instance now, or, while calls into it are
    // still running, shuts it down and frees it when the last one returns.
    void destroy();

    // The identity number in temporary file names.
    uintptr_t identity() const { return reinterpret_cast<uintptr_t>(this); }

    NPP npp = nullptr;                   // the browser's instance, while the instance lives
    ScriptableViewer* scriptable = nullptr;   // the page's object of this instance, once asked for
    NPWindow* window = nullptr;          // last description given to NPP_SetWindow; only tested for null
    HWND windowHandle = nullptr;         // the browser window the container lives in
    std::unique_ptr<ViewerContainer> container;
    // Containers replaced while a call into them may still be running; freed
    // when the outermost call returns.
    std::vector<std::unique_ptr<ViewerContainer>> retiredContainers;
    std::string pendingFile;             // document still to be shown (ANSI path); empty: none
    FILE* streamFile = nullptr;          // the temporary file the stream is written to
    std::wstring documentName;           // the streamed document's name in its URL, for screen readers
    uint64_t streamBytes = 0;            // bytes of the current stream taken so far
    bool streamRefused = false;          // the current stream grew too large and was dropped

    int callDepth = 0;                   // calls into the instance now running
    bool destroyRequested = false;       // NPP_Destroy came during a call
    bool freeing = false;                // the instance is being freed

private:
    // Closes the stream, forgets the pending document and destroys the
    // viewer's windows, keeping the objects that running calls may use.
    void shutDown();
    void free();
};

// Holds an instance for one call into it (null: none).
using InstanceCall = HostHold;

// The browser's function table, remembered by NP_Initialize (null after
// NP_Shutdown), and the plug-in's, remembered by NP_GetEntryPoints.
NPNetscapeFuncs* browserFunctions();
void setBrowserFunctions(NPNetscapeFuncs* functions);
NPPluginFuncs* pluginFunctions();
void setPluginFunctions(NPPluginFuncs* functions);

// Asks the browser to load `url` into `frame` (NPN_GetURL); false when the
// browser offers no such service.
bool browserGetUrl(NPP instance, const char* url, const char* frame);

// The plug-in callbacks.
NPError NPP_New(NPMIMEType type, NPP instance, uint16_t mode, int16_t argc, char** argn, char** argv,
                NPSavedData* saved);
NPError NPP_Destroy(NPP instance, NPSavedData** save);
NPError NPP_SetWindow(NPP instance, NPWindow* window);
NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype);
int32_t NPP_WriteReady(NPP instance, NPStream* stream);
int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer);
NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason);
void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname);
void NPP_Print(NPP instance, NPPrint* printInfo);
void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData);
// Hands out the scriptable object (NPPVpluginScriptableNPObject), retained
// for the browser.
NPError NPP_GetValue(NPP instance, int variable, void* value);

// NPP_WriteReady's answer: the plug-in takes any amount.
constexpr int32_t kPluginWriteReady = 0x0FFFFFFF;
