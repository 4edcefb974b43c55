#pragma once
// A window handle owned by a C++ object. Every message of the window goes to
// handleMessage; a message the handler leaves unhandled goes on to the
// previous window procedure (DefWindowProcA for windows this wrapper creates,
// the window's own procedure for windows it takes over).
#include "HostAnchor.h"

#include <windows.h>

class WindowWrapper {
public:
    WindowWrapper() = default;
    virtual ~WindowWrapper();
    WindowWrapper(const WindowWrapper&) = delete;
    WindowWrapper& operator=(const WindowWrapper&) = delete;

    // Handles one message of the window. Set `handled` to false to pass the
    // message on to the previous procedure (it starts out true).
    virtual LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) = 0;
    // The procedure installed in windows this wrapper creates or takes over.
    virtual WNDPROC windowProcedure() const { return &WindowWrapper::entry; }
    // Called after the window's last message (WM_NCDESTROY); the handle is
    // already cleared.
    virtual void onFinalMessage(HWND) {}

    HWND hwnd() const { return window_; }
    // The message being processed (null outside a message), for relaying it.
    const MSG* currentMessage() const { return currentMessage_; }

    // Creates a window of a class whose procedure is windowProcedure() and
    // attaches to it during WM_NCCREATE.
    HWND createWindow(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y,
                      int width, int height, HWND parent, HMENU menu, HINSTANCE instance);
    // Takes over an existing window: its procedure becomes ours, the old one
    // is kept as the previous procedure. False when already attached.
    bool subclassWindow(HWND window);
    // Gives the window back: puts the previous procedure back unconditionally
    // and forgets the handle.
    void unsubclassWindow();
    // Passes a message to the previous procedure.
    LRESULT callPrevious(UINT message, WPARAM wParam, LPARAM lParam);
    // The host held while each message of this window is handled (null: none).
    void setHostAnchor(HostAnchor* anchor) { anchor_ = anchor; }
    HostAnchor* hostAnchor() const { return anchor_; }

    static LRESULT CALLBACK entry(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    HWND window_ = nullptr;
    const MSG* currentMessage_ = nullptr;
    WNDPROC previousProcedure_ = DefWindowProcA;
    bool subclassed_ = false;
    HostAnchor* anchor_ = nullptr;

private:
    LRESULT dispatch(UINT message, WPARAM wParam, LPARAM lParam);
};
