#include "DialogWatcher.h"

#include <algorithm>

namespace {
constexpr int kMessageTextId = 0xFFFF;   // the static control holding a message box's text

std::string windowText(HWND window)
{
    char buffer[2048] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}
}

DialogWatcher::DialogWatcher() : thread_([this] { run(); }) {}

DialogWatcher::~DialogWatcher()
{
    stop_ = true;
    thread_.join();
}

std::vector<SeenDialog> DialogWatcher::seen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void DialogWatcher::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.clear();
}

void DialogWatcher::run()
{
    while (!stop_) {
        EnumWindows(&DialogWatcher::visitWindow, reinterpret_cast<LPARAM>(this));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            dismissed_.erase(std::remove_if(dismissed_.begin(), dismissed_.end(),
                                            [](HWND w) { return !IsWindow(w); }),
                             dismissed_.end());
        }
        Sleep(5);
    }
}

BOOL CALLBACK DialogWatcher::visitWindow(HWND window, LPARAM self)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId())
        reinterpret_cast<DialogWatcher*>(self)->handle(window);
    return TRUE;
}

void DialogWatcher::handle(HWND window)
{
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "#32770" || !IsWindowVisible(window))
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::find(dismissed_.begin(), dismissed_.end(), window) != dismissed_.end())
            return;
        dismissed_.push_back(window);
    }
    SeenDialog dialog;
    dialog.caption = windowText(window);
    if (HWND text = GetDlgItem(window, kMessageTextId))
        dialog.text = windowText(text);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(dialog);
    }
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}
