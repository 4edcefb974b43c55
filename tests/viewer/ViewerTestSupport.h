#pragma once
// Shared pieces of the viewer tests: documents written with the fixture
// writer, a view in a real host window, and settings from a real
// rozerado.ini.
#include "TempDir.h"
#include "TiffFixture.h"
#include "TiffView.h"
#include "WindowCapture.h"

#include <memory>
#include <string>
#include <vector>

// An RGB document whose pixel (x, y) is rgbPattern(x, y).
unsigned rgbPattern(int x, int y);
std::string writeRgbDocument(int width, int height, const std::vector<FixtureHotspot>& hotspots = {},
                             unsigned (*colour)(int x, int y) = rgbPattern);
// A bilevel document (white, with black where `black` says).
std::string writeBilevelDocument(int width, int height, bool (*black)(int x, int y),
                                 const std::vector<FixtureHotspot>& hotspots = {});
std::wstring widen(const std::string& path);

// A view whose client area is exactly width x height in a host window.
struct ViewInWindow {
    std::unique_ptr<TestHostWindow> host;
    std::unique_ptr<TiffView> view;
    ViewInWindow(int width, int height, NavigationCallback* navigation = nullptr);
    ~ViewInWindow();
    void show(const std::string& path);
    void command(int id);
    Capture capture() const;
    // Sets the pointer to a client point of the view and sends the message.
    void pointerAt(int x, int y, UINT message = WM_MOUSEMOVE, WPARAM keys = 0);
};

// Writes rozerado.ini into the Windows directory and loads it; the default
// settings come back when the scope ends.
class ScopedSettings {
public:
    explicit ScopedSettings(const std::string& iniText);
    ~ScopedSettings();
};

constexpr unsigned kLightGrey = 0xC0C0C0;
