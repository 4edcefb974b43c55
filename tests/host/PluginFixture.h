#pragma once
// What the plug-in tests share: the real ROZERADO.DLL started by the stand-in
// browser once per program, test documents in memory, and the windows the
// plug-in creates in a host window.
#include "StandInBrowser.h"
#include "TempDir.h"
#include "TiffFixture.h"
#include "WindowCapture.h"

#include <gtest/gtest.h>

#include <tiffio.h>

#include <memory>
#include <string>
#include <vector>

constexpr unsigned kRed = 0xFF0000;
constexpr unsigned kBlue = 0x0000FF;
constexpr unsigned kLightGrey = 0xC0C0C0;

// The module, loaded and initialised once for the whole program.
inline PluginModule& plugin()
{
    static PluginModule* module = [] {
        auto m = new PluginModule(pluginPathBesideProgram());
        if (m->loaded())
            m->start();
        return m;
    }();
    return *module;
}

// A w x h RGB document, left half red, right half blue, with a hotspot over
// the left half whose reference is "815" (or `reference`).
inline std::vector<uint8_t> redBlueDocument(uint32_t w = 200, uint32_t h = 100, const std::string& reference = "815")
{
    TiffFixture f;
    f.width = w, f.height = h, f.photometric = PHOTOMETRIC_RGB, f.samplesPerPixel = 3;
    f.compression = COMPRESSION_LZW;
    f.pixels.resize(size_t(w) * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = &f.pixels[(size_t(y) * w + x) * 3];
            p[0] = x < w / 2 ? 255 : 0;
            p[1] = 0;
            p[2] = x < w / 2 ? 0 : 255;
        }
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes({{reference, u"Room 815", 0, 0, int32_t(w / 2), int32_t(h)}});
    const std::string path = uniqueTempPath(".htf");
    ScopedFile file(path);
    if (!writeTiffFixture(path, f))
        return {};
    return readWholeFile(path);
}

// The identity-based temporary name the plug-in uses for an instance.
inline std::string tempNameFor(NPP npp, int counter)
{
    return std::to_string(reinterpret_cast<intptr_t>(npp->pdata)) + std::to_string(counter) + ".tif";
}

inline std::string tempPathFor(NPP npp, int counter)
{
    return tempDirectory() + tempNameFor(npp, counter);
}

// The child windows the container creates in the host window.
inline HWND toolbarIn(HWND host)
{
    return FindWindowExA(host, nullptr, "ToolbarWindow32", nullptr);
}
inline HWND viewIn(HWND host)
{
    return FindWindowExA(host, nullptr, "TiffViewClass", nullptr);
}

// `window`'s rectangle in `host`'s client coordinates.
inline RECT rectIn(HWND host, HWND window)
{
    RECT r = {};
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, host, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// How many of the capture's pixels inside `area` have the colour.
inline int countColour(const Capture& c, const RECT& area, unsigned colour)
{
    int n = 0;
    for (int y = std::max<int>(0, area.top); y < std::min<int>(c.height, area.bottom); ++y)
        for (int x = std::max<int>(0, area.left); x < std::min<int>(c.width, area.right); ++x)
            n += c.at(x, y) == colour;
    return n;
}

// An instance with a host window of its own.
struct Shown {
    explicit Shown(int w = 400, int h = 340) : window(w, h), instance(plugin()) {}
    TestHostWindow window;
    InstanceDriver instance;

    void showDocument(const std::vector<uint8_t>& bytes)
    {
        ASSERT_EQ(instance.create(), NPERR_NO_ERROR);
        ASSERT_EQ(instance.setWindow(window.hwnd()), NPERR_NO_ERROR);
        ASSERT_EQ(instance.stream(bytes), NPERR_NO_ERROR);
        pumpMessages();
    }
    HWND host() const { return window.hwnd(); }
};
