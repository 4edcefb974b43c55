#include "PluginInstance.h"

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

// A counter this high means the directory cannot take a new file at all.
constexpr int kMaxTempCounter = 100000;

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

void releaseContainer(PluginInstance& data)
{
    if (data.container)
        data.container->destroyWindows();
    data.container.reset();
}

// Hands the pending file to the viewer when a container exists and the
// stream is complete. Whether the document could be read does not matter.
bool showPendingFile(PluginInstance& data)
{
    if (!data.container || data.pendingFile.empty() || data.streamFile)
        return false;
    const int length = MultiByteToWideChar(CP_ACP, 0, data.pendingFile.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(size_t(length > 0 ? length : 1), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, data.pendingFile.c_str(), -1, wide.data(), length);
    data.container->view().setDocumentName(data.documentName);
    data.container->view().setImageFile(wide.data());
    return true;
}

// Shows the pending file if possible and then deletes it.
void showAndDeletePendingFile(PluginInstance& data)
{
    if (!showPendingFile(data))
        return;
    DeleteFileA(data.pendingFile.c_str());
    data.pendingFile.clear();
}

// Creates the first free "<temp><identity><counter>.tif". The name is taken
// and the file created in one step, so a file that appears meanwhile is
// never overwritten. Empty path and null file when nothing can be created.
FILE* createTempFile(long identity, std::string& path)
{
    path.clear();
    char directory[1024] = {};
    const DWORD length = GetTempPathA(sizeof(directory), directory);
    if (length == 0 || length >= sizeof(directory))
        return nullptr;
    for (int counter = 0; counter < kMaxTempCounter; ++counter) {
        const std::string candidate = directory + pluginTempFileName(identity, counter);
        HANDLE file = CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED)
                continue;   // taken (or a directory of that name): try the next counter
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
        FILE* stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
        if (!stream) {
            if (fd >= 0)
                _close(fd);
            else
                CloseHandle(file);
            DeleteFileA(candidate.c_str());
            return nullptr;
        }
        path = candidate;
        return stream;
    }
    return nullptr;
}

}  // namespace

PluginInstance::PluginInstance() = default;

PluginInstance::~PluginInstance()
{
    releaseContainer(*this);
    closeStreamFile(*this);
    dropPendingFile(*this);
}

std::string pluginTempFileName(long identity, int counter)
{
    char name[48];
    snprintf(name, sizeof(name), "%ld%d.tif", identity, counter);
    return name;
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
    instance->pdata = new (memory) PluginInstance;
    return NPERR_NO_ERROR;
}

NPError NPP_Destroy(NPP instance, NPSavedData**)
{
    if (!instance)
        return NPERR_INVALID_INSTANCE_ERROR;
    if (PluginInstance* data = instanceData(instance)) {
        data->~PluginInstance();
        // A browser that has already shut the plug-in down cannot take the
        // memory back; leaking it beats calling through a forgotten table.
        if (browserTable && browserTable->memfree)
            browserTable->memfree(data);
    }
    instance->pdata = nullptr;
    return NPERR_NO_ERROR;
}

NPError NPP_SetWindow(NPP instance, NPWindow* window)
{
    PluginInstance* data = instanceData(instance);
    if (!data)
        return NPERR_INVALID_INSTANCE_ERROR;
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
    data->container->create(handle);
    data->container->pluginInstance = instance;

    if (showPendingFile(*data)) {
        UpdateWindow(data->container->hwnd());
        DeleteFileA(data->pendingFile.c_str());
        data->pendingFile.clear();
    }
    return NPERR_NO_ERROR;
}

NPError NPP_NewStream(NPP instance, NPMIMEType, NPStream* stream, NPBool, uint16_t* stype)
{
    PluginInstance* data = instanceData(instance);
    if (!data)
        return NPERR_INVALID_INSTANCE_ERROR;
    data->documentName = documentNameOf(stream && stream->url ? stream->url : "");
    closeStreamFile(*data);
    // A document that never got shown is replaced by the new one.
    dropPendingFile(*data);
    data->streamFile = createTempFile(data->identity(), data->pendingFile);
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
    if (!data->streamFile || len <= 0 || !buffer)
        return 0;
    fwrite(buffer, 1, size_t(len), data->streamFile);
    return len;
}

NPError NPP_DestroyStream(NPP instance, NPStream*, NPReason)
{
    PluginInstance* data = instanceData(instance);
    if (!data)
        return NPERR_INVALID_INSTANCE_ERROR;
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
    closeStreamFile(*data);
    if (!fname || !*fname)
        return;
    // The browser's own file supersedes our copy; the browser's file is
    // shown where it is and neither copied nor deleted.
    dropPendingFile(*data);
    data->pendingFile = fname;
    showPendingFile(*data);
    data->pendingFile.clear();
}

void NPP_Print(NPP instance, NPPrint* printInfo)
{
    PluginInstance* data = instanceData(instance);
    if (!data || !data->container)
        return;
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
