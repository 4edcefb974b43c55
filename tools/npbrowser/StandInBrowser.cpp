#include "StandInBrowser.h"

#include "PageScript.h"

#include <shlwapi.h>
#include <urlmon.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kWindowClass[] = "RozeradoStandInBrowser";

std::vector<UrlRequest> requests;
std::function<void(const UrlRequest&)> urlListener;
int allocations = 0;
std::function<bool(MSG&)> keyboardFilter;

// Hands a message taken from the queue on as a browser's loop does: a
// keyboard message first to the filter (a container's accelerator
// translation), then translated (key downs make characters) and dispatched.
void handleQueued(MSG& msg)
{
    if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST && keyboardFilter && keyboardFilter(msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void* memAlloc(uint32_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (p)
        ++allocations;
    return p;
}

void memFree(void* p)
{
    if (p)
        --allocations;
    std::free(p);
}

NPError getUrl(NPP instance, const char* url, const char* target)
{
    UrlRequest request{instance, url ? url : "", target ? target : ""};
    requests.push_back(request);
    if (urlListener)
        urlListener(request);
    return NPERR_NO_ERROR;
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        // The browser tears the instance down after its loop ends; the
        // window itself goes with the BrowserWindow object.
        PostQuitMessage(0);
        return 0;
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(window, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        return 1;
    }
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// The deepest visible child of `window` at a client point, and the point in
// that child's client coordinates.
HWND windowAt(HWND window, POINT& point)
{
    for (;;) {
        HWND child = ChildWindowFromPointEx(window, point, CWP_SKIPINVISIBLE | CWP_SKIPDISABLED);
        if (!child || child == window)
            return window;
        MapWindowPoints(window, child, &point, 1);
        window = child;
    }
}

void postPointer(HWND window, POINT client, UINT message, WPARAM keys)
{
    POINT local;
    HWND target = pointerTarget(window, client, local);
    PostMessageA(target, WM_SETCURSOR, WPARAM(target), MAKELPARAM(HTCLIENT, message));
    PostMessageA(target, message, keys, MAKELPARAM(local.x, local.y));
}

template <class Function>
Function exportOf(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

PluginModule::PluginModule(const std::string& path)
{
    module_ = LoadLibraryA(path.c_str());
    if (!module_)
        return;
    getEntryPoints_ = exportOf<NP_GetEntryPointsFunc>(module_, "NP_GetEntryPoints");
    initialize_ = exportOf<NP_InitializeFunc>(module_, "NP_Initialize");
    shutdown_ = exportOf<NP_ShutdownFunc>(module_, "NP_Shutdown");
    if (!getEntryPoints_ || !initialize_ || !shutdown_) {
        FreeLibrary(module_);
        module_ = nullptr;
    }
}

PluginModule::~PluginModule()
{
    if (initialized_)
        shutdown();
    if (module_)
        FreeLibrary(module_);
}

NPError PluginModule::start(uint16_t version)
{
    plugin_ = {};
    plugin_.size = sizeof(plugin_);
    NPError result = getEntryPoints(&plugin_);
    if (result != NPERR_NO_ERROR)
        return result;
    browser_ = browserTable(version);
    return initialize(&browser_);
}

NPError PluginModule::getEntryPoints(NPPluginFuncs* table)
{
    return module_ ? getEntryPoints_(table) : NPERR_MODULE_LOAD_FAILED_ERROR;
}

NPError PluginModule::initialize(NPNetscapeFuncs* table)
{
    if (!module_)
        return NPERR_MODULE_LOAD_FAILED_ERROR;
    const NPError result = initialize_(table);
    initialized_ = initialized_ || result == NPERR_NO_ERROR;
    return result;
}

NPError PluginModule::shutdown()
{
    if (!module_)
        return NPERR_MODULE_LOAD_FAILED_ERROR;
    initialized_ = false;
    return shutdown_();
}

NPNetscapeFuncs PluginModule::browserTable(uint16_t version)
{
    NPNetscapeFuncs table = {};
    table.size = sizeof(table);
    table.version = version;
    table.geturl = getUrl;
    table.memalloc = memAlloc;
    table.memfree = memFree;
    PageScript::fillTable(table);
    return table;
}

std::vector<UrlRequest>& PluginModule::urlRequests()
{
    return requests;
}

void PluginModule::setUrlListener(std::function<void(const UrlRequest&)> listener)
{
    urlListener = std::move(listener);
}

int PluginModule::liveAllocations()
{
    return allocations;
}

BrowserWindow::BrowserWindow(int width, int height, const char* title)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    if (!GetClassInfoA(instance, kWindowClass, &wc)) {
        wc.lpfnWndProc = windowProcedure;
        wc.hInstance = instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = kWindowClass;
        RegisterClassA(&wc);
    }
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT frame = {0, 0, width, height};
    AdjustWindowRect(&frame, style, FALSE);
    window_ = CreateWindowExA(0, kWindowClass, title, style, 0, 0, frame.right - frame.left,
                              frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
}

BrowserWindow::~BrowserWindow()
{
    if (IsWindow(window_))
        DestroyWindow(window_);
}

void BrowserWindow::resize(int width, int height)
{
    RECT frame = {0, 0, width, height};
    AdjustWindowRect(&frame, DWORD(GetWindowLongA(window_, GWL_STYLE)), FALSE);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

InstanceDriver::InstanceDriver(PluginModule& module, uint16_t mode) : module_(module), mode_(mode) {}

InstanceDriver::~InstanceDriver()
{
    if (alive_)
        destroy();
}

NPError InstanceDriver::create()
{
    char mime[] = "application/x-RAVO-VavIrez";
    // The page holds the plug-in's element before the plug-in starts.
    PageScript::openPage(&npp_);
    const NPError result = module_.plugin().newp(mime, &npp_, mode_, 0, nullptr, nullptr, nullptr);
    alive_ = result == NPERR_NO_ERROR;
    return result;
}

NPError InstanceDriver::destroy()
{
    NPSavedData* saved = nullptr;
    const NPError result = module_.plugin().destroy(&npp_, &saved);
    alive_ = false;
    PageScript::closePage(&npp_);
    return result;
}

ScriptValue InstanceDriver::scriptable()
{
    NPObject* object = nullptr;
    if (!alive_ || !module_.plugin().getvalue ||
        module_.plugin().getvalue(&npp_, NPPVpluginScriptableNPObject, &object) != NPERR_NO_ERROR || !object)
        return ScriptValue::null();
    ScriptValue value = ScriptValue::object(object);
    // The plug-in handed its object over with a reference for the browser.
    if (NPNetscapeFuncs table = PluginModule::browserTable(); table.releaseobject)
        table.releaseobject(object);
    return value;
}

NPError InstanceDriver::setWindow(HWND window)
{
    if (!window)
        return setNullWindow();
    RECT client = {};
    GetClientRect(window, &client);
    window_ = {};
    window_.window = window;
    window_.width = uint32_t(client.right);
    window_.height = uint32_t(client.bottom);
    window_.clipRect = {0, 0, uint16_t(client.bottom), uint16_t(client.right)};
    window_.type = NPWindowTypeWindow;
    return module_.plugin().setwindow(&npp_, &window_);
}

NPError InstanceDriver::setNullWindow()
{
    return module_.plugin().setwindow(&npp_, nullptr);
}

NPError InstanceDriver::beginStream(uint16_t* streamType)
{
    stream_ = {};
    stream_.url = streamUrl.c_str();
    offset_ = 0;
    uint16_t type = NP_NORMAL;
    char mime[] = "application/x-RAVO-VavIrez";
    const NPError result = module_.plugin().newstream(&npp_, mime, &stream_, 0, &type);
    if (streamType)
        *streamType = type;
    return result;
}

int32_t InstanceDriver::write(const uint8_t* bytes, size_t length, size_t chunk)
{
    int32_t total = 0;
    size_t done = 0;
    while (done < length) {
        const int32_t ready = module_.plugin().writeready(&npp_, &stream_);
        if (ready <= 0)
            break;
        const size_t n = std::min({length - done, chunk, size_t(ready)});
        const int32_t taken = module_.plugin().write(&npp_, &stream_, offset_, int32_t(n),
                                                     const_cast<uint8_t*>(bytes + done));
        if (taken <= 0)
            break;
        done += size_t(taken);
        offset_ += taken;
        total += taken;
    }
    return total;
}

NPError InstanceDriver::endStream(NPReason reason)
{
    return module_.plugin().destroystream(&npp_, &stream_, reason);
}

NPError InstanceDriver::stream(const std::vector<uint8_t>& bytes, size_t chunk, NPReason reason)
{
    const NPError begun = beginStream();
    if (begun != NPERR_NO_ERROR)
        return begun;
    stream_.end = uint32_t(bytes.size());
    write(bytes.data(), bytes.size(), chunk);
    return endStream(reason);
}

bool InstanceDriver::printFullPage(HDC dc)
{
    NPPrint print = {};
    print.mode = NP_FULL;
    print.print.fullPrint.platformPrint = dc;
    print.print.fullPrint.printOne = 0;
    module_.plugin().print(&npp_, &print);
    return print.print.fullPrint.pluginPrinted != 0;
}

void InstanceDriver::printEmbedded(HDC dc, const RECT& area)
{
    NPPrint print = {};
    print.mode = NP_EMBED;
    print.print.embedPrint.platformPrint = dc;
    print.print.embedPrint.window.x = area.left;
    print.print.embedPrint.window.y = area.top;
    print.print.embedPrint.window.width = uint32_t(area.right - area.left);
    print.print.embedPrint.window.height = uint32_t(area.bottom - area.top);
    print.print.embedPrint.window.type = NPWindowTypeDrawable;
    module_.plugin().print(&npp_, &print);
}

std::string pluginPathBesideProgram()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string result = path;
    const size_t slash = result.find_last_of("\\/");
    result = slash == std::string::npos ? std::string() : result.substr(0, slash + 1);
    return result + "ROZERADO.DLL";
}

bool fetchDocument(const std::string& source, std::vector<uint8_t>& bytes, std::string& error)
{
    bytes.clear();
    const bool isUrl = source.rfind("http://", 0) == 0 || source.rfind("https://", 0) == 0 ||
                       source.rfind("file://", 0) == 0;
    if (!isUrl) {
        FILE* file = std::fopen(source.c_str(), "rb");
        if (!file) {
            error = "cannot open " + source;
            return false;
        }
        uint8_t buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + got);
        std::fclose(file);
        return true;
    }
    IStream* stream = nullptr;
    const HRESULT hr = URLOpenBlockingStreamA(nullptr, source.c_str(), &stream, 0, nullptr);
    if (FAILED(hr) || !stream) {
        char text[64];
        snprintf(text, sizeof(text), "download failed (0x%08lX)", static_cast<unsigned long>(hr));
        error = text;
        return false;
    }
    uint8_t buffer[65536];
    ULONG got = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &got)) && got > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    stream->Release();
    return true;
}

std::string resolveUrl(const std::string& page, const std::string& url)
{
    if (page.empty())
        return url;
    char resolved[4096] = {};
    DWORD length = sizeof(resolved);
    if (FAILED(UrlCombineA(page.c_str(), url.c_str(), resolved, &length, 0)))
        return url;
    return resolved;
}

HWND pointerTarget(HWND window, POINT client, POINT& local)
{
    POINT screen = client;
    ClientToScreen(window, &screen);
    SetCursorPos(screen.x, screen.y);
    local = client;
    HWND target = windowAt(window, local);
    if (HWND captured = GetCapture()) {
        // A window holding the capture gets the message wherever the pointer is.
        local = screen;
        ScreenToClient(captured, &local);
        target = captured;
    }
    return target;
}

void pointerMove(HWND window, POINT client)
{
    postPointer(window, client, WM_MOUSEMOVE, 0);
    pumpMessagesFor(0);
}

void pointerClick(HWND window, POINT client)
{
    postPointer(window, client, WM_MOUSEMOVE, 0);
    postPointer(window, client, WM_LBUTTONDOWN, MK_LBUTTON);
    pumpMessagesFor(0);
    postPointer(window, client, WM_LBUTTONUP, 0);
    pumpMessagesFor(0);
}

void pumpMessagesFor(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(int(msg.wParam));   // leave it for the main loop
                return;
            }
            handleQueued(msg);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(milliseconds - elapsed, 20), QS_ALLINPUT);
    }
}

void runMessageLoop()
{
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        handleQueued(msg);
}

void setKeyboardFilter(std::function<bool(MSG&)> filter)
{
    keyboardFilter = std::move(filter);
}

bool parseKeyStroke(const std::string& text, KeyStroke& key)
{
    key = KeyStroke();
    std::string rest = text;
    // Modifiers first ("shift+", "ctrl+", "alt+"); what remains is the key,
    // which may itself be "+".
    for (;;) {
        const size_t plus = rest.find('+');
        if (plus == std::string::npos || plus == 0 || plus + 1 == rest.size())
            break;
        std::string modifier = rest.substr(0, plus);
        std::transform(modifier.begin(), modifier.end(), modifier.begin(), ::tolower);
        if (modifier == "shift")
            key.shift = true;
        else if (modifier == "ctrl")
            key.ctrl = true;
        else if (modifier == "alt")
            key.alt = true;
        else
            return false;
        rest = rest.substr(plus + 1);
    }
    struct Named {
        const char* name;
        UINT key;
    };
    static const Named names[] = {
        {"tab", VK_TAB},       {"enter", VK_RETURN}, {"space", VK_SPACE},   {"escape", VK_ESCAPE},
        {"left", VK_LEFT},     {"right", VK_RIGHT},  {"up", VK_UP},         {"down", VK_DOWN},
        {"pageup", VK_PRIOR},  {"pagedown", VK_NEXT}, {"home", VK_HOME},    {"end", VK_END},
        {"add", VK_ADD},       {"subtract", VK_SUBTRACT},
    };
    std::string lower = rest;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    for (const Named& n : names)
        if (lower == n.name) {
            key.key = n.key;
            return true;
        }
    if (rest.size() != 1)
        return false;
    // One character: the key that types it on this keyboard, with Shift if
    // it needs it.
    const SHORT scan = VkKeyScanA(rest[0]);
    if (scan == -1)
        return false;
    key.key = UINT(LOBYTE(scan));
    key.shift = key.shift || (HIBYTE(scan) & 1);
    key.ctrl = key.ctrl || (HIBYTE(scan) & 2);
    key.alt = key.alt || (HIBYTE(scan) & 4);
    return true;
}

void pressKey(HWND window, const KeyStroke& key)
{
    // The key goes where the keyboard focus is, as the system sends it. A
    // window that nobody has activated yet (no window manager) is given the
    // focus as activating it would.
    if (!GetFocus())
        SetFocus(window);
    HWND target = GetFocus();
    if (!target)
        target = window;
    BYTE saved[256] = {}, state[256] = {};
    GetKeyboardState(saved);
    std::memcpy(state, saved, sizeof state);
    auto hold = [&state](UINT which, UINT left, bool down) {
        const BYTE value = down ? 0x80 : 0;
        state[which] = state[left] = value;
    };
    hold(VK_SHIFT, VK_LSHIFT, key.shift);
    hold(VK_CONTROL, VK_LCONTROL, key.ctrl);
    hold(VK_MENU, VK_LMENU, key.alt);
    state[key.key] = 0x80;
    SetKeyboardState(state);
    const LPARAM scan = LPARAM(MapVirtualKeyA(key.key, 0)) << 16;
    const LPARAM context = key.alt ? LPARAM(1) << 29 : 0;
    PostMessageA(target, key.alt ? WM_SYSKEYDOWN : WM_KEYDOWN, key.key, 1 | scan | context);
    pumpMessagesFor(0);
    state[key.key] = 0;
    SetKeyboardState(state);
    PostMessageA(target, key.alt ? WM_SYSKEYUP : WM_KEYUP, key.key, 1 | scan | context | (LPARAM(3) << 30));
    pumpMessagesFor(0);
    SetKeyboardState(saved);
}

Canvas::Canvas(int width, int height, COLORREF fill) : width_(width), height_(height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;   // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint8_t*>(bits);
    previous_ = SelectObject(dc_, bitmap_);
    HBRUSH brush = CreateSolidBrush(fill);
    RECT all = {0, 0, width, height};
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
}

Canvas::~Canvas()
{
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

unsigned Canvas::pixel(int x, int y) const
{
    if (!bits_ || x < 0 || y < 0 || x >= width_ || y >= height_)
        return 0;   // no surface (too large to allocate) or outside it
    GdiFlush();
    const size_t stride = (size_t(width_) * 3 + 3) & ~size_t(3);
    const uint8_t* p = bits_ + size_t(y) * stride + size_t(x) * 3;
    return unsigned(p[2]) << 16 | unsigned(p[1]) << 8 | p[0];
}

bool Canvas::saveBmp(const std::string& path) const
{
    if (!bits_)
        return false;
    GdiFlush();
    const size_t stride = (size_t(width_) * 3 + 3) & ~size_t(3);
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width_;
    header.biHeight = -height_;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = DWORD(stride * size_t(height_));
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + header.biSizeImage;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    bool ok = std::fwrite(&file, sizeof(file), 1, out) == 1 && std::fwrite(&header, sizeof(header), 1, out) == 1 &&
              std::fwrite(bits_, 1, header.biSizeImage, out) == header.biSizeImage;
    return std::fclose(out) == 0 && ok;
}

bool saveScreenshot(HWND window, const std::string& path)
{
    RECT client = {};
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    if (client.right <= 0 || client.bottom <= 0)
        return false;
    Canvas canvas(client.right, client.bottom);
    HDC screen = GetDC(nullptr);
    BitBlt(canvas.dc(), 0, 0, client.right, client.bottom, screen, origin.x, origin.y, SRCCOPY);
    ReleaseDC(nullptr, screen);
    return canvas.saveBmp(path);
}

DialogDismisser::DialogDismisser(std::function<void(const std::string&, const std::string&)> report)
    : report_(std::move(report))
{
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &DialogDismisser::run, this, 0, nullptr);
}

DialogDismisser::~DialogDismisser()
{
    SetEvent(stop_);
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    CloseHandle(stop_);
}

namespace {
struct DialogSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK findDialog(HWND window, LPARAM param)
{
    auto search = reinterpret_cast<DialogSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16] = {};
    GetClassNameA(window, className, sizeof(className));
    if (process == search->process && IsWindowVisible(window) && std::strcmp(className, "#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK collectText(HWND child, LPARAM param)
{
    char className[16] = {};
    GetClassNameA(child, className, sizeof(className));
    if (_stricmp(className, "Static") == 0) {
        char text[1024] = {};
        GetWindowTextA(child, text, sizeof(text));
        auto all = reinterpret_cast<std::string*>(param);
        if (*text)
            *all += (all->empty() ? "" : " ") + std::string(text);
    }
    return TRUE;
}
}  // namespace

DWORD WINAPI DialogDismisser::run(void* self)
{
    auto dismisser = static_cast<DialogDismisser*>(self);
    while (WaitForSingleObject(dismisser->stop_, 100) == WAIT_TIMEOUT) {
        DialogSearch search = {GetCurrentProcessId(), nullptr};
        EnumWindows(findDialog, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            continue;
        char caption[256] = {};
        GetWindowTextA(search.found, caption, sizeof(caption));
        std::string text;
        EnumChildWindows(search.found, collectText, reinterpret_cast<LPARAM>(&text));
        if (dismisser->report_)
            dismisser->report_(caption, text);
        // Cancel: closes a message box like OK does, and a print dialog
        // without printing.
        PostMessageA(search.found, WM_COMMAND, IDCANCEL, 0);
        Sleep(200);
    }
    return 0;
}

std::unique_ptr<DialogDismisser> printingDialogDismisser(bool wanted)
{
    if (!wanted)
        return nullptr;
    return std::unique_ptr<DialogDismisser>(
        new DialogDismisser([](const std::string& caption, const std::string& text) {
            std::printf("dialog \"%s\": %s (dismissed)\n", caption.c_str(), text.c_str());
            std::fflush(stdout);
        }));
}
