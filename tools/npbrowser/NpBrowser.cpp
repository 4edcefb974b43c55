// npbrowser: plays the web browser for the plug-in. Loads the plug-in
// module, shows one document in a window of its own, prints every URL the
// plug-in asks to load, and can run a short pointer script, take
// screenshots and print into bitmap files, so that it runs without a person.
#include "PointerScript.h"
#include "StandInBrowser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: npbrowser [options] DOCUMENT|URL\n"
    "  --plugin PATH          plug-in module (default: ROZERADO.DLL beside this program)\n"
    "  --size WxH             client size of the plug-in window (default 640x480)\n"
    "  --stream-first         stream the document before the window exists (default: window first)\n"
    "  --chunk N              bytes per NPP_Write (default 4096)\n"
    "  --page URL             page location: requested URLs are also shown resolved against it\n"
    "  --full-print FILE.bmp  print the document as a full page into an 850x1100 bitmap\n"
    "  --embed-print FILE.bmp print it embedded into a bitmap of the window's size\n"
    "script, run in order once the document is shown:\n"
    "  --move X,Y             move the pointer to X,Y of the plug-in window\n"
    "  --click X,Y            click there\n"
    "  --key KEY              press a key where the keyboard focus is: tab, shift+tab, enter, space,\n"
    "                         escape, left, right, up, down, pageup, pagedown, home, end, add, subtract,\n"
    "                         or a character (+, -, 0, 1, ctrl+p)\n"
    "  --press X,Y            move there and press the left button (a drag: --move steps, then --release)\n"
    "  --release X,Y          move there with the button down and release it\n"
    "  --command ID           send toolbar command ID to the plug-in's window as a button click does\n"
    "                         (123 zoom in, 124 zoom out, 125 magnifier, 126 pan, 127 fit window,\n"
    "                         128 fit width, 129 fit height, 130 actual size, 132 pointer)\n"
    "  --wait MS              let the window work for MS milliseconds\n"
    "  --screenshot FILE.bmp  save what the screen shows of the window\n"
    "  --mark FILE            create FILE (tells a script that this point is reached)\n"
    "  --wait-file FILE       let the window work until FILE exists (at most 60 s)\n"
    "  --quit                 end after the script (dialogs are then answered and reported)\n";

struct Options {
    std::string plugin;
    std::string document;
    int width = 640, height = 480;
    bool streamFirst = false;
    size_t chunk = 4096;
    std::string page;
    std::string fullPrint;
    std::string embedPrint;
    PointerScript script{"npbrowser", true, false};
    bool quit = false;
};

bool parseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        const char* value = hasValue ? argv[i + 1] : "";
        long a = 0, b = 0;
        if (arg == "--stream-first") {
            o.streamFirst = true;
        } else if (arg == "--quit") {
            o.quit = true;
        } else if (arg == "-h" || arg == "--help") {
            return false;
        } else if (!hasValue && (arg == "--plugin" || arg == "--size" || arg == "--chunk" || arg == "--page" ||
                                 arg == "--full-print" || arg == "--embed-print" || o.script.takes(arg))) {
            std::fprintf(stderr, "npbrowser: %s needs a value\n", arg.c_str());
            return false;
        } else if (arg == "--plugin") {
            o.plugin = value, ++i;
        } else if (arg == "--size") {
            if (!parseNumberPair(value, 'x', a, b) || a < 1 || b < 1 || a > 8192 || b > 8192)
                return std::fprintf(stderr, "npbrowser: bad size %s\n", value), false;
            o.width = int(a), o.height = int(b), ++i;
        } else if (arg == "--chunk") {
            a = std::strtol(value, nullptr, 10);
            if (a < 1)
                return std::fprintf(stderr, "npbrowser: bad chunk %s\n", value), false;
            o.chunk = size_t(a), ++i;
        } else if (arg == "--page") {
            o.page = value, ++i;
        } else if (arg == "--full-print") {
            o.fullPrint = value, ++i;
        } else if (arg == "--embed-print") {
            o.embedPrint = value, ++i;
        } else if (o.script.takes(arg)) {
            if (!o.script.add(arg, value))
                return false;
            ++i;
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "npbrowser: unknown option %s\n", arg.c_str());
            return false;
        } else {
            o.document = arg;
        }
    }
    if (o.document.empty())
        return false;
    if (o.plugin.empty())
        o.plugin = pluginPathBesideProgram();
    return true;
}

void printRequest(const UrlRequest& request, const std::string& page)
{
    std::printf("NPN_GetURL: %s target %s\n", request.url.c_str(), request.target.c_str());
    if (!page.empty())
        std::printf("  resolved: %s\n", resolveUrl(page, request.url).c_str());
    std::fflush(stdout);
}

void printInto(const Options& o, InstanceDriver& instance)
{
    if (!o.fullPrint.empty()) {
        Canvas page(850, 1100);
        const bool printed = instance.printFullPage(page.dc());
        std::printf("full-page print: plug-in %s the page\n", printed ? "printed" : "did not print");
        if (!page.saveBmp(o.fullPrint))
            std::fprintf(stderr, "npbrowser: cannot save %s\n", o.fullPrint.c_str());
    }
    if (!o.embedPrint.empty()) {
        Canvas page(o.width, o.height);
        instance.printEmbedded(page.dc(), {0, 0, o.width, o.height});
        std::printf("embedded print: %s\n", o.embedPrint.c_str());
        if (!page.saveBmp(o.embedPrint))
            std::fprintf(stderr, "npbrowser: cannot save %s\n", o.embedPrint.c_str());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parseOptions(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::vector<uint8_t> bytes;
    std::string error;
    if (!fetchDocument(o.document, bytes, error)) {
        std::fprintf(stderr, "npbrowser: %s\n", error.c_str());
        return 1;
    }

    // Without a person nobody could answer a message box.
    const std::unique_ptr<DialogDismisser> dismisser = printingDialogDismisser(o.quit);

    PluginModule module(o.plugin);
    if (!module.loaded()) {
        std::fprintf(stderr, "npbrowser: cannot load the plug-in %s\n", o.plugin.c_str());
        return 1;
    }
    if (NPError e = module.start()) {
        std::fprintf(stderr, "npbrowser: the plug-in refused to initialise (error %d)\n", e);
        return 1;
    }
    const std::string page = o.page;
    PluginModule::setUrlListener([page](const UrlRequest& request) { printRequest(request, page); });

    int status = 0;
    {
        BrowserWindow window(o.width, o.height, ("npbrowser - " + o.document).c_str());
        InstanceDriver instance(module, o.fullPrint.empty() ? NP_EMBED : NP_FULL);
        if (NPError e = instance.create()) {
            std::fprintf(stderr, "npbrowser: NPP_New failed (error %d)\n", e);
            return 1;
        }
        if (o.streamFirst) {
            instance.stream(bytes, o.chunk);
            instance.setWindow(window.hwnd());
        } else {
            instance.setWindow(window.hwnd());
            instance.stream(bytes, o.chunk);
        }
        pumpMessagesFor(100);
        o.script.run(window.hwnd());
        printInto(o, instance);

        if (!o.quit)
            runMessageLoop();
        instance.destroy();
    }
    PluginModule::setUrlListener(nullptr);
    return status;
}
