#pragma once
// Watches this process for dialog windows ("#32770", such as message boxes),
// records their caption and text and dismisses them with OK, so that code
// under test that shows a real message box neither hangs the test nor goes
// unchecked. The watcher runs on its own thread; the dialog's modal loop on
// the tested thread handles the posted command.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SeenDialog {
    std::string caption;
    std::string text;
};

class DialogWatcher {
public:
    DialogWatcher();
    ~DialogWatcher();
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

    // Dialogs seen so far, oldest first.
    std::vector<SeenDialog> seen() const;
    // Forgets what was seen.
    void clear();

private:
    static BOOL CALLBACK visitWindow(HWND window, LPARAM self);
    void run();
    void handle(HWND window);

    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<SeenDialog> seen_;
    std::vector<HWND> dismissed_;   // windows already answered, until they are gone
    std::thread thread_;
};
