#include "PluginInstance.h"

#include "BrowserScript.h"
#include "DocumentTransfer.h"
#include "PrivateTempFile.h"
#include "ScriptableViewer.h"
#include "ViewInput.h"
#include "ViewerContainer.h"

#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

NPNetscapeFuncs* browserTable = nullptr;
NPPluginFuncs* pluginTable = nullptr;

PluginInstance* instanceData(NPP instance)
{
    return instance ? static_cast<PluginInstance*>(instance->pdata) : nullptr;
}

void closeStreamFile(PluginInstance& data)
{
    if (data.streamFile)
        fclose(data.streamFile);
    data.streamFile = nullptr;
}

// Forgets the pending document. Its file is our own temporary copy here
// (the browser's own files are never kept pending), so it goes too: nothing
// else would ever delete it.
void dropPendingFile(PluginInstance& data)
{
    if (!data.pendingFile.empty())
        DeleteFileA(data.pendingFile.c_str());
    data.pendingFile.clear();
}

// The document's name as the page's URL gives it.
std::wstring documentNameOf(const char* url)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, url, -1, nullptr, 0);
    if (length <= 1)
        return std::wstring();
    std::u16string wide(size_t(length), u'\0');
    MultiByteToWideChar(CP_ACP, 0, url, -1, reinterpret_cast<wchar_t*>(&wide[0]), length);
    wide.resize(size_t(length - 1));
    const std::u16string name = documentNameFromAddress(wide);
    return std::wstring(name.begin(), name.end());
}

// Destroys the container's windows. The object itself is kept until no call
// into the instance runs any more: the view being replaced may be the one
// whose message box is open.
void releaseContainer(PluginInstance& data)
{
    if (!data.container)
        return;
    data.container->destroyWindows();
    data.container->pluginInstance = nullptr;
    data.retiredContainers.push_back(std::move(data.container));
}

// Hands the pending file to the viewer when a container exists and the
// stream is complete, and forgets it: the caller owns the path from here
// (`shown` is empty when nothing was shown). Whether the document could be
// read does not matter. The viewer may show a message box, inside which the
// page can destroy the instance or stream another document.
bool showPendingFile(PluginInstance& data, std::string& shown)
{
    shown.clear();
    if (!data.container || data.pendingFile.empty() || data.streamFile)
        return false;
    shown.swap(data.pendingFile);
    const int length = MultiByteToWideChar(CP_ACP, 0, shown.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(size_t(length > 0 ? length : 1), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, shown.c_str(), -1, wide.data(), length);
    data.container->view().setDocumentName(data.documentName);
    data.container->view().setImageFile(wide.data());
    return true;
}

// Shows the pending file if possible and then deletes it.
void showAndDeletePendingFile(PluginInstance& data)
{
    std::string shown;
    if (showPendingFile(data, shown))
        DeleteFileA(shown.c_str());
}

// Creates the first free "<temp><identity><counter>.tif" (PrivateTempFile)
// and opens it as a C stream for writing. Empty path and null file when
// nothing can be created.
FILE* createTempFile(uintptr_t identity, std::string& path)
{
    path.clear();
    PrivateTempFile temp;
    if (!temp.create(identity, ".tif"))
        return nullptr;
    std::string created;
    HANDLE file = temp.detach(created);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    FILE* stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (!stream) {
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(file);
        DeleteFileA(created.c_str());
        return nullptr;
    }
    path = created;
    return stream;
}

}  // namespace

PluginInstance::PluginInstance() = default;

PluginInstance::~PluginInstance()
{
    freeing = true;
    shutDown();
    retiredContainers.clear();
}

void PluginInstance::shutDown()
{
    releaseContainer(*this);
    closeStreamFile(*this);
    dropPendingFile(*this);
    // The page may keep the scriptable object: it answers nothing from now on.
    if (scriptable) {
        scriptable->detach();
        if (browserTable && BrowserScript::available())
            browserTable->releaseobject(scriptable);
        scriptable = nullptr;
    }
    npp = nullptr;
}

// The page's events, raised on the plug-in's element. Each may run the
// page's listeners, which may destroy the instance: nothing of it is used
// after the event.

void PluginInstance::pageLoaded()
{
    if (!npp || !container)
        return;
    const TiffView& view = container->view();
    BrowserScript::raiseEvent(npp, "htf-load",
                              {{"width", BrowserScript::numberValue(view.imageWidth())},
                               {"height", BrowserScript::numberValue(view.imageHeight())},
                               {"hotspots", BrowserScript::numberValue(double(view.hotspots().size()))}});
}

void PluginInstance::pageError(const std::u16string& message)
{
    if (npp)
        BrowserScript::raiseEvent(npp, "htf-error", {{"message", BrowserScript::stringValue(message)}});
}

namespace {
std::vector<BrowserScript::Field> hotspotDetail(const PageHotspot& hotspot)
{
    return {{"ref", BrowserScript::stringValue(ViewerPage::fromAnsi(hotspot.ref))},
            {"text", BrowserScript::stringValue(hotspot.text)}};
}
} // namespace

void PluginInstance::hotspotEntered(const PageHotspot& hotspot)
{
    if (npp)
        BrowserScript::raiseEvent(npp, "htf-hotspotenter", hotspotDetail(hotspot));
}

void PluginInstance::hotspotLeft(const PageHotspot& hotspot)
{
    if (npp)
        BrowserScript::raiseEvent(npp, "htf-hotspotleave", hotspotDetail(hotspot));
}

void PluginInstance::viewChanged()
{
    if (!npp || !container)
        return;
    const PageView view = container->page().view();
    BrowserScript::raiseEvent(npp, "htf-viewchange",
                              {{"scale", BrowserScript::numberValue(view.scale)},
                               {"x", BrowserScript::numberValue(view.x)},
                               {"y", BrowserScript::numberValue(view.y)},
                               {"width", BrowserScript::numberValue(view.width)},
                               {"height", BrowserScript::numberValue(view.height)}});
}

bool PluginInstance::navigating(const PageNavigation& navigation)
{
    if (!npp)
        return false;
    return BrowserScript::raiseEvent(npp, "htf-navigate",
                                     {{"url", BrowserScript::stringValue(ViewerPage::fromAnsi(navigation.url))},
                                      {"frame", BrowserScript::stringValue(ViewerPage::fromAnsi(navigation.frame))},
                                      {"ref", BrowserScript::stringValue(ViewerPage::fromAnsi(navigation.ref))},
                                      {"text", BrowserScript::stringValue(navigation.text)}},
                                     true);
}

void PluginInstance::releaseHost()
{
    if (--callDepth > 0 || freeing)
        return;
    if (destroyRequested)
        free();
    else
        retiredContainers.clear();   // no call can be inside them any more
}

void PluginInstance::destroy()
{
    if (callDepth > 0) {
        destroyRequested = true;
        shutDown();
        return;
    }
    free();
}

void PluginInstance::free()
{
    freeing = true;
    this->~PluginInstance();
    // A browser that has already shut the plug-in down cannot take the
    // memory back; leaking it beats calling through a forgotten table.
    if (browserTable && browserTable->memfree)
        browserTable->memfree(this);
}

NPNetscapeFuncs* browserFunctions()
{
    return browserTable;
}

void setBrowserFunctions(NPNetscapeFuncs* functions)
{
    browserTable = functions;
}

NPPluginFuncs* pluginFunctions()
{
    return pluginTable;
}

void setPluginFunctions(NPPluginFuncs* functions)
{
    pluginTable = functions;
}

bool browserGetUrl(NPP instance, const char* url, const char* frame)
{
    if (!browserTable || !browserTable->geturl)
        return false;
    browserTable->geturl(instance, url, frame);
    return true;
}

NPError NPP_New(NPMIMEType, NPP instance, uint16_t, int16_t, char**, char**, NPSavedData*)
{
    if (!instance)
        return NPERR_INVALID_INSTANCE_ERROR;
    void* memory = browserTable && browserTable->memalloc ? browserTable->memalloc(sizeof(PluginInstance)) : nullptr;
    if (!memory)
        return NPERR_OUT_OF_MEMORY_ERROR;
    memset(memory, 0, sizeof(PluginInstance));
    auto* data = new (memory) PluginInstance;
    data->npp = instance;
    instance->pdata = data;
    return NPERR_NO_ERROR;
}

NPError NPP_Destroy(NPP instance, NPSavedData**)
{
    if (!instance)
        return NPERR_INVALID_INSTANCE_ERROR;
    PluginInstance* data = instanceData(instance);
    // The browser forgets the instance now, whatever is still running in it.
    instance->pdata = nullptr;
    if (data)
        data->destroy();
    return NPERR_NO_ERROR;
}

NPError NPP_SetWindow(NPP instance, NPWindow* window)
{
    PluginInstance* data = instanceData(instance);
    if (!data)
        return NPERR_INVALID_INSTANCE_ERROR;
    InstanceCall call(data);
    const bool present = window && window->window;
    HWND handle = present ? static_cast<HWND>(window->window) : nullptr;

    if (data->window) {
        if (present && handle == data->windowHandle) {
            // A resize of the same window: the container lays itself out
            // from the window's size message.
            if (data->container)
                UpdateWindow(data->container->hwnd());
            data->window = window;
            return NPERR_NO_ERROR;
        }
        releaseContainer(*data);
        data->windowHandle = nullptr;
        if (!present) {
            data->window = window;
            return NPERR_NO_ERROR;
        }
    } else if (!present) {
        data->window = window;
        releaseContainer(*data);
        return NPERR_NO_ERROR;
    }

    data->windowHandle = handle;
    InvalidateRect(handle, nullptr, TRUE);
    UpdateWindow(handle);
    data->window = window;
    releaseContainer(*data);
    data->container.reset(new ViewerContainer);
    data->container->setHostAnchor(data);
    data->container->setPageEvents(data);
    data->container->create(handle);
    data->container->pluginInstance = instance;

    ViewerContainer* shownIn = data->container.get();
    std::string shown;
    if (showPendingFile(*data, shown)) {
        // The reader's error box may have let the page destroy the instance
        // or give it another window: then the new owner paints for itself.
        if (!data->destroyRequested && data->container.get() == shownIn)
            UpdateWindow(shownIn->hwnd());
        DeleteFileA(shown.c_str());
    }
    return NPERR_NO_ERROR;
}

NPError NPP_NewStream(NPP instance, NPMIMEType, NPStream* stream, NPBool, uint16_t* stype)
{
    PluginInstance* data = instanceData(instance);
    if (!data)
        return NPERR_INVALID_INSTANCE_ERROR;
    InstanceCall call(data);
    data->documentName = documentNameOf(stream && stream->url ? stream->url : "");
    closeStreamFile(*data);
    // A document that never got shown is replaced by the new one.
    dropPendingFile(*data);
    data->streamFile = createTempFile(data->identity(), data->pendingFile);
    data->streamBytes = 0;
    data->streamRefused = false;
    if (stype)
        *stype = NP_NORMAL;
    return NPERR_NO_ERROR;
}

int32_t NPP_WriteReady(NPP, NPStream*)
{
    return kPluginWriteReady;
}

int32_t NPP_Write(NPP instance, NPStream*, int32_t, int32_t len, void* buffer)
{
    PluginInstance* data = instanceData(instance);
    if (!data)
        return len;
    if (data->streamRefused)
        return -1;
    if (!data->streamFile || len <= 0 || !buffer)
        return 0;
    if (uint64_t(len) > kMaxDocumentBytes - data->streamBytes) {
        // Larger than any document: the browser is told to stop (a negative
        // answer), the file goes and the viewer is left empty.
        closeStreamFile(*data);
        dropPendingFile(*data);
        data->streamRefused = true;
        if (data->container)
            data->container->view().setImageFile(nullptr);
        return -1;
    }
    data->streamBytes += uint64_t(len);
    fwrite(buffer, 1, size_t(len), data->streamFile);
    return len;
}

NPError NPP_DestroyStream(NPP instance, NPStream*, NPReason)
{
    PluginInstance* data = instanceData(instance);
    if (!data)
        return NPERR_INVALID_INSTANCE_ERROR;
    InstanceCall call(data);
    closeStreamFile(*data);
    // A stream that ended with an error is shown as far as it arrived.
    showAndDeletePendingFile(*data);
    return NPERR_NO_ERROR;
}

void NPP_StreamAsFile(NPP instance, NPStream*, const char* fname)
{
    PluginInstance* data = instanceData(instance);
    if (!data)
        return;
    InstanceCall call(data);
    closeStreamFile(*data);
    if (!fname || !*fname)
        return;
    // The browser's own file supersedes our copy; the browser's file is
    // shown where it is and neither copied nor deleted.
    dropPendingFile(*data);
    data->pendingFile = fname;
    std::string shown;
    if (!showPendingFile(*data, shown)) {
        data->pendingFile.clear();   // the browser's file is never kept pending
        return;
    }
    // Showing took the path out of pendingFile; whatever is pending now came
    // from a stream that started during the reader's box and stays pending
    // until that stream ends.
}

void NPP_Print(NPP instance, NPPrint* printInfo)
{
    PluginInstance* data = instanceData(instance);
    if (!data || !data->container)
        return;
    InstanceCall call(data);
    TiffView& view = data->container->view();
    if (!printInfo) {
        const RECT none = {0, 0, 0, 0};
        view.drawVisible(nullptr, none);
        return;
    }
    if (printInfo->mode == NP_FULL) {
        HDC dc = static_cast<HDC>(printInfo->print.fullPrint.platformPrint);
        // Without a device context the viewer would open its own print
        // dialog in the middle of the browser's job; leave the page to the
        // browser instead.
        printInfo->print.fullPrint.pluginPrinted = dc ? TRUE : FALSE;
        if (!dc)
            return;
        RECT clip = {};
        GetClipBox(dc, &clip);
        view.drawVisible(dc, clip);
        return;
    }
    const NPEmbedPrint& embed = printInfo->print.embedPrint;
    HDC dc = static_cast<HDC>(embed.platformPrint);
    if (!dc)
        return;
    const RECT target = {embed.window.x, embed.window.y, LONG(embed.window.x + int32_t(embed.window.width)),
                         LONG(embed.window.y + int32_t(embed.window.height))};
    view.drawVisible(dc, target);
}

void NPP_URLNotify(NPP, const char*, NPReason, void*) {}

NPError NPP_GetValue(NPP instance, int variable, void* value)
{
    if (variable != NPPVpluginScriptableNPObject || !value)
        return NPERR_GENERIC_ERROR;
    PluginInstance* data = instanceData(instance);
    if (!data || data->destroyRequested)
        return NPERR_INVALID_INSTANCE_ERROR;
    if (!data->scriptable)
        data->scriptable = ScriptableViewer::create(instance, data);
    if (!data->scriptable)
        return NPERR_GENERIC_ERROR;
    *static_cast<NPObject**>(value) = browserTable->retainobject(data->scriptable);
    return NPERR_NO_ERROR;
}
