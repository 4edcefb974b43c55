#include "ViewerTestSupport.h"

#include "CommandIds.h"
#include "SettingsFile.h"

#include <tiffio.h>

unsigned rgbPattern(int x, int y)
{
    return unsigned((x * 7) & 255) << 16 | unsigned((y * 5) & 255) << 8 | unsigned((x + y) & 255);
}

std::string writeRgbDocument(int width, int height, const std::vector<FixtureHotspot>& hotspots,
                             unsigned (*colour)(int x, int y))
{
    TiffFixture f;
    f.width = uint32_t(width), f.height = uint32_t(height), f.photometric = PHOTOMETRIC_RGB;
    f.samplesPerPixel = 3;
    f.compression = COMPRESSION_LZW;
    f.pixels.resize(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned c = colour(x, y);
            uint8_t* p = &f.pixels[(size_t(y) * width + x) * 3];
            p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c);
        }
    if (!hotspots.empty()) {
        f.withHotspotTag = true;
        f.hotspotBytes = hotspotStreamBytes(hotspots);
    }
    const std::string path = uniqueTempPath(".htf");
    writeTiffFixture(path, f);
    return path;
}

std::string writeBilevelDocument(int width, int height, bool (*black)(int, int),
                                 const std::vector<FixtureHotspot>& hotspots)
{
    TiffFixture f;
    f.width = uint32_t(width), f.height = uint32_t(height), f.bitsPerSample = 1;
    f.photometric = PHOTOMETRIC_MINISWHITE;
    f.compression = COMPRESSION_CCITTFAX4;
    const size_t stride = (size_t(width) + 7) / 8;
    f.pixels.assign(stride * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (black(x, y))
                f.pixels[size_t(y) * stride + size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
    if (!hotspots.empty()) {
        f.withHotspotTag = true;
        f.hotspotBytes = hotspotStreamBytes(hotspots);
    }
    const std::string path = uniqueTempPath(".htf");
    writeTiffFixture(path, f);
    return path;
}

std::wstring widen(const std::string& path)
{
    return std::wstring(path.begin(), path.end());
}

ViewInWindow::ViewInWindow(int width, int height, NavigationCallback* navigation)
{
    // The view has a border of one pixel on each side.
    host = std::make_unique<TestHostWindow>(width + 2, height + 2);
    // The outline the settings in force give, as the container gives it.
    view = std::make_unique<TiffView>(navigation,
                                      TiffView::Outline{settings().frameWidth, COLORREF(settings().frameColor)});
    RECT r = {0, 0, width + 2, height + 2};
    view->create(host->hwnd(), r);
    pumpMessages();
}

ViewInWindow::~ViewInWindow()
{
    view.reset();
    host.reset();
}

void ViewInWindow::show(const std::string& path)
{
    view->setImageFile(widen(path).c_str());
    UpdateWindow(view->hwnd());
    pumpMessages();
}

void ViewInWindow::command(int id)
{
    view->onCommand(id);
    pumpMessages();
}

Capture ViewInWindow::capture() const
{
    UpdateWindow(view->hwnd());
    return captureClient(view->hwnd());
}

void ViewInWindow::pointerAt(int x, int y, UINT message, WPARAM keys)
{
    POINT p = {x, y};
    ClientToScreen(view->hwnd(), &p);
    SetCursorPos(p.x, p.y);
    SendMessageA(view->hwnd(), message, keys, MAKELPARAM(x, y));
    pumpMessages();
}

namespace {
std::string iniPath()
{
    char directory[MAX_PATH] = {};
    GetWindowsDirectoryA(directory, MAX_PATH);
    return std::string(directory) + "\\rozerado.ini";
}
}

ScopedSettings::ScopedSettings(const std::string& iniText)
{
    writeWholeFile(iniPath(), iniText.data(), iniText.size());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "rozerado.ini");   // flush the profile cache
    loadSettings();
}

ScopedSettings::~ScopedSettings()
{
    DeleteFileA(iniPath().c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "rozerado.ini");
    loadSettings();
}
