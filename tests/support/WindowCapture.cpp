#include "WindowCapture.h"

#include <algorithm>

namespace {
constexpr char kHostClass[] = "RozeradoTestHost";

LRESULT CALLBACK hostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND)
        return 1;
    return DefWindowProcA(window, message, wParam, lParam);
}
}

TestHostWindow::TestHostWindow(int width, int height)
{
    WNDCLASSA wc = {};
    if (!GetClassInfoA(GetModuleHandleA(nullptr), kHostClass, &wc)) {
        wc.lpfnWndProc = hostProcedure;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = kHostClass;
        RegisterClassA(&wc);
    }
    window_ = CreateWindowExA(0, kHostClass, "test host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width,
                              height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    pumpMessages();
}

TestHostWindow::~TestHostWindow()
{
    if (IsWindow(window_))
        DestroyWindow(window_);
    pumpMessages();
}

void pumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

int Capture::differences(const Capture& other, const RECT& area) const
{
    int count = 0;
    for (int y = std::max<int>(0, area.top); y < std::min<int>(height, area.bottom); ++y)
        for (int x = std::max<int>(0, area.left); x < std::min<int>(width, area.right); ++x)
            count += at(x, y) != other.at(x, y);
    return count;
}

Capture captureClient(HWND window)
{
    Capture capture;
    RECT client;
    GetClientRect(window, &client);
    capture.width = client.right;
    capture.height = client.bottom;
    if (capture.width <= 0 || capture.height <= 0)
        return capture;
    HDC windowDc = GetDC(window);
    HDC memory = CreateCompatibleDC(windowDc);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = capture.width;
    info.bmiHeader.biHeight = -capture.height;   // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, capture.width, capture.height, windowDc, 0, 0, SRCCOPY);
    GdiFlush();
    const unsigned* p = static_cast<const unsigned*>(bits);
    capture.pixels.assign(p, p + size_t(capture.width) * size_t(capture.height));
    for (unsigned& v : capture.pixels)
        v &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, windowDc);
    return capture;
}
