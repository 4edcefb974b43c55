#include "WindowWrapper.h"

namespace {
// The window property that leads from a handle to its wrapper. A property
// (not GWLP_USERDATA) so that windows taken over keep their own user data.
constexpr char kWrapperProperty[] = "RozeradoWindowWrapper";
}

WindowWrapper::~WindowWrapper()
{
    if (window_ && IsWindow(window_)) {
        if (subclassed_)
            unsubclassWindow();
        else
            RemovePropA(window_, kWrapperProperty);
    }
}

HWND WindowWrapper::createWindow(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                                 int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance)
{
    if (window_)
        return nullptr;
    previousProcedure_ = DefWindowProcA;
    subclassed_ = false;
    return CreateWindowExA(exStyle, className, title, style, x, y, width, height, parent, menu, instance, this);
}

bool WindowWrapper::subclassWindow(HWND window)
{
    if (window_ || !IsWindow(window))
        return false;
    window_ = window;
    SetPropA(window, kWrapperProperty, this);
    previousProcedure_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(windowProcedure())));
    subclassed_ = true;
    return true;
}

void WindowWrapper::unsubclassWindow()
{
    if (!window_)
        return;
    if (IsWindow(window_)) {
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProcedure_));
        RemovePropA(window_, kWrapperProperty);
    }
    window_ = nullptr;
    subclassed_ = false;
    previousProcedure_ = DefWindowProcA;
}

LRESULT WindowWrapper::callPrevious(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(previousProcedure_, window_, message, wParam, lParam);
}

LRESULT WindowWrapper::dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    // The host stays whole until this message is done, whatever the page
    // does meanwhile; the hold is the last thing to go, since letting go of
    // it may free the host and this wrapper with it.
    HostHold hold(anchor_);
    MSG msg = {};
    msg.hwnd = window_;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = DWORD(GetMessageTime());
    const DWORD pos = GetMessagePos();
    msg.pt.x = short(LOWORD(pos));
    msg.pt.y = short(HIWORD(pos));
    const MSG* outer = currentMessage_;
    currentMessage_ = &msg;

    bool handled = true;
    LRESULT result = handleMessage(message, wParam, lParam, handled);
    currentMessage_ = outer;
    if (!handled && window_)
        result = callPrevious(message, wParam, lParam);

    if (message == WM_NCDESTROY && window_) {
        HWND window = window_;
        // A window destroyed while taken over gets its own procedure back.
        if (subclassed_ && IsWindow(window)) {
            WNDPROC ours = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
            if (ours == windowProcedure())
                SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProcedure_));
        }
        RemovePropA(window, kWrapperProperty);
        window_ = nullptr;
        subclassed_ = false;
        previousProcedure_ = DefWindowProcA;
        onFinalMessage(window);
    }
    return result;
}

LRESULT CALLBACK WindowWrapper::entry(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto wrapper = static_cast<WindowWrapper*>(GetPropA(window, kWrapperProperty));
    if (!wrapper && message == WM_NCCREATE) {
        auto create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        wrapper = static_cast<WindowWrapper*>(create->lpCreateParams);
        if (wrapper) {
            wrapper->window_ = window;
            SetPropA(window, kWrapperProperty, wrapper);
        }
    }
    if (!wrapper || wrapper->window_ != window)
        return DefWindowProcA(window, message, wParam, lParam);
    return wrapper->dispatch(message, wParam, lParam);
}
