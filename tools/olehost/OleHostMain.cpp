// olehost: plays the web browser for the ActiveX control. Creates the
// control (registered, or from a module without registration), gives it the
// page's "src" parameter and a browser that reports a page location, shows it
// in place in a window of its own and prints every Navigate2 it receives. A
// short pointer script, screenshots and a drawing into a bitmap let it run
// without a person.
#include "OleHost.h"
#include "PointerScript.h"
#include "StandInBrowser.h"
#include "rozerado_h.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

const char kUsage[] =
    "usage: olehost [options]\n"
    "  --module PATH          create the control from PATH's DllGetClassObject (no registration needed)\n"
    "  --progid NAME          create the registered control NAME, a ProgID or a CLSID in braces\n"
    "                         (default ROZERADO.RAVOVavIrezCtrl; needs regsvr32 ROZERADO.DLL)\n"
    "  --src URL              the page's <param name=\"src\">, loaded through IPersistPropertyBag\n"
    "  --page URL             the page's URL, offered as a browser offers it: the bind host's base\n"
    "                         (SID_SBindHost), the container's moniker and the browser's location\n"
    "  --untrusted            declare the page's data untrusted (IObjectSafety) before the parameters\n"
    "                         are loaded, as browsers do: src then loads only from the web\n"
    "  --size WxH             client size of the window the control fills (default 640x480)\n"
    "  --draw-bmp FILE.bmp    after the script, IViewObject::Draw the control into a 24-bit bitmap\n"
    "                         of its size and save it\n"
    "script, run in order once the control is in place:\n"
    "  --move X,Y             move the pointer to X,Y of the window\n"
    "  --click X,Y            click there\n"
    "  --key KEY              press a key where the keyboard focus is: tab, shift+tab, enter, space,\n"
    "                         escape, left, right, up, down, pageup, pagedown, home, end, add, subtract,\n"
    "                         or a character (+, -, 0, 1, ctrl+p)\n"
    "  --wait MS              let the window work for MS milliseconds\n"
    "  --screenshot FILE.bmp  save what the screen shows of the window\n"
    "  --quit                 end after the script (dialogs are then answered and reported)\n"
    "Every Navigate2 is printed as \"Navigate2: URL target FRAME\".\n";

struct Options {
    std::string module;
    std::wstring progId = L"ROZERADO.RAVOVavIrezCtrl";
    std::wstring src;
    bool hasSrc = false;
    std::wstring page;
    int width = 640, height = 480;
    std::string drawBmp;
    PointerScript script{"olehost", false, true};
    bool quit = false;
    bool untrusted = false;
};

std::wstring widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], length);
    return wide;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), &bytes[0], length, nullptr, nullptr);
    return bytes;
}

bool parseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quit") {
            o.quit = true;
            continue;
        }
        if (arg == "--untrusted") {
            o.untrusted = true;
            continue;
        }
        if (arg == "-h" || arg == "--help")
            return false;
        const bool known = arg == "--module" || arg == "--progid" || arg == "--src" || arg == "--page" ||
                           arg == "--size" || arg == "--draw-bmp" || o.script.takes(arg);
        if (!known) {
            std::fprintf(stderr, "olehost: unknown argument %s\n", arg.c_str());
            return false;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "olehost: %s needs a value\n", arg.c_str());
            return false;
        }
        const char* value = argv[++i];
        long a = 0, b = 0;
        if (arg == "--module") {
            o.module = value;
        } else if (arg == "--progid") {
            o.progId = widen(value);
        } else if (arg == "--src") {
            o.src = widen(value), o.hasSrc = true;
        } else if (arg == "--page") {
            o.page = widen(value);
        } else if (arg == "--size") {
            if (!parseNumberPair(value, 'x', a, b) || a < 1 || b < 1 || a > 4096 || b > 4096)
                return std::fprintf(stderr, "olehost: bad size %s\n", value), false;
            o.width = int(a), o.height = int(b);
        } else if (arg == "--draw-bmp") {
            o.drawBmp = value;
        } else if (!o.script.add(arg, value)) {
            return false;
        }
    }
    return true;
}

// The control's drawing of itself, at the size of its window.
void drawToBitmap(OleHost& host, const std::string& path)
{
    RECT size = {};
    if (!GetClientRect(host.controlWindow(), &size) || size.right < 1 || size.bottom < 1)
        GetClientRect(host.hwnd(), &size);
    if (size.right < 1 || size.bottom < 1) {
        std::fprintf(stderr, "olehost: no size to draw %s\n", path.c_str());
        return;
    }
    Canvas canvas(size.right, size.bottom);
    const HRESULT hr = host.drawInto(canvas);
    std::printf("draw: 0x%08lX %s\n", static_cast<unsigned long>(hr), path.c_str());
    if (!canvas.saveBmp(path))
        std::fprintf(stderr, "olehost: cannot save %s\n", path.c_str());
}

int run(const Options& o)
{
    // Without a person nobody could answer a message box.
    const std::unique_ptr<DialogDismisser> dismisser = printingDialogDismisser(o.quit);

    OleHost host(o.width, o.height, "olehost");
    if (!host.hwnd()) {
        std::fprintf(stderr, "olehost: cannot create the window\n");
        return 1;
    }
    host.setPage(o.page);
    host.setUntrustedData(o.untrusted);
    if (o.hasSrc)
        host.parameters().set(L"src", o.src);
    StandInBrowser& browser = host.browser();
    browser.onNavigate = [&browser] {
        const RecordedNavigation& n = browser.navigations.back();
        std::printf("Navigate2: %s target %s\n", narrow(n.url).c_str(), narrow(n.frame).c_str());
        std::fflush(stdout);
    };

    const HRESULT created = o.module.empty() ? host.createRegistered(o.progId)
                                             : host.createFromModule(o.module, CLSID_RAVOVavIrezCtrl);
    if (FAILED(created)) {
        std::fprintf(stderr, "olehost: cannot create the control (0x%08lX)%s\n", static_cast<unsigned long>(created),
                     o.module.empty() ? "; is it registered (regsvr32 ROZERADO.DLL), or give --module?" : "");
        return 1;
    }
    const HRESULT embedded = host.embed();
    if (FAILED(embedded)) {
        std::fprintf(stderr, "olehost: the control refused to be embedded (0x%08lX)\n",
                     static_cast<unsigned long>(embedded));
        return 1;
    }
    pumpMessagesFor(100);
    o.script.run(host.hwnd());
    if (!o.drawBmp.empty())
        drawToBitmap(host, o.drawBmp);

    if (!o.quit)
        runMessageLoop();
    host.close();
    browser.onNavigate = nullptr;
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parseOptions(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (FAILED(OleInitialize(nullptr))) {
        std::fprintf(stderr, "olehost: OLE cannot start\n");
        return 1;
    }
    const int status = run(o);
    OleUninitialize();
    return status;
}
