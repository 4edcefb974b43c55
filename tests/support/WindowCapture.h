#pragma once
// Real windows for tests: a top-level host window of an exact client size,
// a message pump, and the pixels a window shows, read back from its device
// context.
#include <windows.h>

#include <vector>

// A borderless top-level window at the screen's top-left corner whose client
// area is width x height. Destroyed with the object.
class TestHostWindow {
public:
    TestHostWindow(int width, int height);
    ~TestHostWindow();
    TestHostWindow(const TestHostWindow&) = delete;
    TestHostWindow& operator=(const TestHostWindow&) = delete;
    HWND hwnd() const { return window_; }

private:
    HWND window_ = nullptr;
};

// Handles every message waiting for this thread.
void pumpMessages();

// The client-area pixels of a window as 0xRRGGBB, rows from the top.
struct Capture {
    int width = 0;
    int height = 0;
    std::vector<unsigned> pixels;
    unsigned at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    // Pixels inside the rectangle that differ from `other`.
    int differences(const Capture& other, const RECT& area) const;
};
Capture captureClient(HWND window);
