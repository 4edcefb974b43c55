#pragma once
// A small stand-in for a web browser that hosts NPAPI plug-ins: loads the
// plug-in module, hands it the browser's function table, gives instances a
// real window, streams documents to them, prints them into bitmaps and
// records the URLs the plug-in asks it to load. Its scripting side
// (PageScript) gives each instance a page with the plug-in's element. Used by the npbrowser program
// and by the plug-in tests.
#include "NpapiAbi.h"
#include "PageScript.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One NPN_GetURL call.
struct UrlRequest {
    NPP instance;
    std::string url;
    std::string target;
};

// The plug-in module and the two function tables.
class PluginModule {
public:
    // Browser version announced by default: major 0, minor 11.
    static constexpr uint16_t kBrowserVersion = 11;

    explicit PluginModule(const std::string& path);
    ~PluginModule();   // NP_Shutdown when initialised, then unloads the module
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    bool loaded() const { return module_ != nullptr; }
    // The browser's order: NP_GetEntryPoints, then NP_Initialize.
    NPError start(uint16_t version = kBrowserVersion);
    NPError getEntryPoints(NPPluginFuncs* table);
    NPError initialize(NPNetscapeFuncs* table);
    NPError shutdown();

    NPPluginFuncs& plugin() { return plugin_; }
    // A table filled with this browser's services, of the given version.
    static NPNetscapeFuncs browserTable(uint16_t version = kBrowserVersion);

    // Every NPN_GetURL so far, oldest first; cleared on request.
    static std::vector<UrlRequest>& urlRequests();
    // Called for every NPN_GetURL as well (null: none).
    static void setUrlListener(std::function<void(const UrlRequest&)> listener);
    // Blocks handed out by NPN_MemAlloc and not yet freed.
    static int liveAllocations();

private:
    HMODULE module_ = nullptr;
    NP_GetEntryPointsFunc getEntryPoints_ = nullptr;
    NP_InitializeFunc initialize_ = nullptr;
    NP_ShutdownFunc shutdown_ = nullptr;
    bool initialized_ = false;
    NPPluginFuncs plugin_ = {};
    NPNetscapeFuncs browser_ = {};
};

// A top-level window of the given client size that plays the browser's
// plug-in window. Closing it ends runMessageLoop.
class BrowserWindow {
public:
    BrowserWindow(int width, int height, const char* title = "npbrowser");
    ~BrowserWindow();
    BrowserWindow(const BrowserWindow&) = delete;
    BrowserWindow& operator=(const BrowserWindow&) = delete;
    HWND hwnd() const { return window_; }
    // Changes the client size (the plug-in sees WM_SIZE).
    void resize(int width, int height);

private:
    HWND window_ = nullptr;
};

// One plug-in instance as the browser drives it.
class InstanceDriver {
public:
    InstanceDriver(PluginModule& module, uint16_t mode = NP_EMBED);
    ~InstanceDriver();   // NPP_Destroy if still alive
    InstanceDriver(const InstanceDriver&) = delete;
    InstanceDriver& operator=(const InstanceDriver&) = delete;

    NPP npp() { return &npp_; }
    bool alive() const { return alive_; }
    // The address the streams come from (NPStream::url).
    std::string streamUrl = "http://localhost/document.htf";
    NPError create();
    NPError destroy();
    // NPP_SetWindow with the window's client size; null passes no window.
    NPError setWindow(HWND window);
    NPError setNullWindow();

    // The stream: NPP_NewStream, then NPP_WriteReady / NPP_Write in chunks,
    // then NPP_DestroyStream with `reason`. Returns NPP_DestroyStream's
    // result (or the first error).
    NPError stream(const std::vector<uint8_t>& bytes, size_t chunk = 4096, NPReason reason = NPRES_DONE);
    NPError beginStream(uint16_t* streamType = nullptr);
    // Offers the bytes as the browser does: at most NPP_WriteReady at a time.
    int32_t write(const uint8_t* bytes, size_t length, size_t chunk = 4096);
    NPError endStream(NPReason reason = NPRES_DONE);

    // The plug-in's scriptable object (NPPVpluginScriptableNPObject), as the
    // page's script sees the element; null when it offers none.
    ScriptValue scriptable();

    // Printing into a device context: full page (returns pluginPrinted) or
    // embedded into `area`.
    bool printFullPage(HDC dc);
    void printEmbedded(HDC dc, const RECT& area);

private:
    PluginModule& module_;
    uint16_t mode_;
    NPP_t npp_ = {};
    NPWindow window_ = {};
    NPStream stream_ = {};
    bool alive_ = false;
    int32_t offset_ = 0;
};

// The ROZERADO.DLL next to the running program.
std::string pluginPathBesideProgram();
// A document's bytes from a file or, for an http(s)/file URL, through urlmon.
bool fetchDocument(const std::string& source, std::vector<uint8_t>& bytes, std::string& error);
// `url` resolved against `page` (unchanged when page is empty or url absolute).
std::string resolveUrl(const std::string& page, const std::string& url);

// Moves the cursor to a point in `window`'s client coordinates and returns
// the window that gets pointer messages there: the deepest visible child
// under it, or the window holding the capture; `local` is the point in that
// window's client coordinates.
HWND pointerTarget(HWND window, POINT client, POINT& local);
// Pointer input as a user would give it, at a point in `window`'s client
// coordinates: the cursor moves there and the window under it gets the
// mouse messages.
void pointerMove(HWND window, POINT client);
void pointerClick(HWND window, POINT client);
// Handles messages for the given time.
void pumpMessagesFor(DWORD milliseconds);
// Handles messages until WM_QUIT (a BrowserWindow closed).
void runMessageLoop();
// Both loops offer every keyboard message to this filter before they
// translate and dispatch it, as a container offers them to its UI-active
// control (null: none); true means the filter used it.
void setKeyboardFilter(std::function<bool(MSG&)> filter);

// A key with the modifiers held while it is pressed.
struct KeyStroke {
    UINT key = 0;   // virtual-key code
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
};
// "tab", "shift+tab", "enter", "space", "escape", "left", "right", "up",
// "down", "pageup", "pagedown", "home", "end", "add" and "subtract" (the
// keypad's), or one character ("+", "-", "0", "1", "p"), each with any of
// "shift+", "ctrl+" and "alt+" in front. False for anything else.
bool parseKeyStroke(const std::string& text, KeyStroke& key);
// Presses and releases the key as a user would: the window with the keyboard
// focus gets the key messages with the modifiers held, through the loop
// above (so they are filtered and make characters). When no window has the
// focus, `window` gets it first, as activating it would give it.
void pressKey(HWND window, const KeyStroke& key);

// A 24-bit bitmap in memory with a device context to draw into.
class Canvas {
public:
    Canvas(int width, int height, COLORREF fill = RGB(255, 255, 255));
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // False when the surface could not be made (too large).
    bool valid() const { return bits_ != nullptr; }
    // 0xRRGGBB at (x, y), y from the top; 0 outside or without a surface.
    unsigned pixel(int x, int y) const;
    bool saveBmp(const std::string& path) const;

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint8_t* bits_ = nullptr;
};

// What the screen shows in the window's rectangle (including windows above
// it, such as a tooltip), saved as a BMP file.
bool saveScreenshot(HWND window, const std::string& path);

// Dismisses every dialog box of this process with OK and reports its caption
// and text, for runs without a person (message boxes must not block).
class DialogDismisser {
public:
    explicit DialogDismisser(std::function<void(const std::string& caption, const std::string& text)> report);
    ~DialogDismisser();
    DialogDismisser(const DialogDismisser&) = delete;
    DialogDismisser& operator=(const DialogDismisser&) = delete;

private:
    static DWORD WINAPI run(void* self);
    std::function<void(const std::string&, const std::string&)> report_;
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
};

// For a run without a person (`wanted`): a dismisser that prints every dialog
// as "dialog "CAPTION": TEXT (dismissed)" on stdout. Null otherwise.
std::unique_ptr<DialogDismisser> printingDialogDismisser(bool wanted);
