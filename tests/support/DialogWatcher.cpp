#include "DialogWatcher.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace {

constexpr int kMessageTextId = 0xFFFF;   // the static control holding a message box's text

std::mutex mutex;
std::vector<DialogWatcher*> scopes;
std::vector<SeenDialog> unexpectedDialogs;
std::vector<HWND> dismissed;   // windows already answered, until they are gone
std::atomic<bool> stopping{false};
std::thread watcher;

std::string windowText(HWND window)
{
    char buffer[2048] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

void handle(HWND window, std::vector<std::pair<HWND, SeenDialog>>& found)
{
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "#32770" || !IsWindowVisible(window))
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (std::find(dismissed.begin(), dismissed.end(), window) != dismissed.end())
            return;
        dismissed.push_back(window);
    }
    SeenDialog dialog;
    dialog.caption = windowText(window);
    if (HWND text = GetDlgItem(window, kMessageTextId))
        dialog.text = windowText(text);
    found.emplace_back(window, dialog);
}

BOOL CALLBACK visitWindow(HWND window, LPARAM found)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId())
        handle(window, *reinterpret_cast<std::vector<std::pair<HWND, SeenDialog>>*>(found));
    return TRUE;
}

void run()
{
    while (!stopping) {
        std::vector<std::pair<HWND, SeenDialog>> found;
        EnumWindows(visitWindow, reinterpret_cast<LPARAM>(&found));
        for (auto& [window, dialog] : found) {
            // Recorded before the dialog is answered, so a test that waits
            // for the call to return sees it.
            int button = IDOK;
            {
                std::lock_guard<std::mutex> lock(mutex);
                // A box answered and destroyed since it was found belonged to
                // a scope that has ended with the call that showed it: under
                // load this thread can be found and judged a scope apart.
                if (!IsWindow(window))
                    continue;
                if (scopes.empty())
                    unexpectedDialogs.push_back(dialog);
                else if (scopes.back()->answer() == DialogWatcher::Answer::Cancel)
                    button = IDCANCEL;
                else if (scopes.back()->answer() == DialogWatcher::Answer::Leave)
                    button = 0;
                for (DialogWatcher* scope : scopes)
                    scope->seenDuringScope(dialog);
            }
            if (button)
                PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            dismissed.erase(std::remove_if(dismissed.begin(), dismissed.end(), [](HWND w) { return !IsWindow(w); }),
                            dismissed.end());
        }
        Sleep(5);
    }
}

} // namespace

DialogWatcher::DialogWatcher(Answer answer) : answer_(answer)
{
    start();
    std::lock_guard<std::mutex> lock(mutex);
    scopes.push_back(this);
}

DialogWatcher::~DialogWatcher()
{
    std::lock_guard<std::mutex> lock(mutex);
    scopes.erase(std::find(scopes.begin(), scopes.end(), this));
}

std::vector<SeenDialog> DialogWatcher::seen() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return seen_;
}

void DialogWatcher::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    seen_.clear();
}

void DialogWatcher::seenDuringScope(const SeenDialog& dialog)
{
    seen_.push_back(dialog);   // the caller holds the lock
}

void DialogWatcher::start()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!watcher.joinable()) {
        stopping = false;
        watcher = std::thread(run);
    }
}

void DialogWatcher::stop()
{
    stopping = true;
    if (watcher.joinable())
        watcher.join();
}

std::vector<SeenDialog> DialogWatcher::unexpected()
{
    std::lock_guard<std::mutex> lock(mutex);
    return unexpectedDialogs;
}
