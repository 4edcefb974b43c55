#pragma once
// Watches this process for dialog windows ("#32770", such as message boxes),
// records their caption and text and dismisses them with OK (or Cancel, when
// the newest open scope asks for it), so that code
// under test that shows a real message box neither hangs the test nor goes
// unchecked. One watcher thread runs for the whole test program (started by
// the test main); each DialogWatcher object is a scope that collects the
// dialogs seen while it exists. A dialog that appears while no scope exists is
// dismissed too and counted as unexpected, which fails the program.
#include <windows.h>

#include <string>
#include <vector>

struct SeenDialog {
    std::string caption;
    std::string text;
};

class DialogWatcher {
public:
    // The button that answers the dialogs seen while this scope is the newest
    // (Leave: none; the test answers them itself).
    enum class Answer { Ok, Cancel, Leave };

    explicit DialogWatcher(Answer answer = Answer::Ok);
    ~DialogWatcher();
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

    // Dialogs seen during this scope so far, oldest first.
    std::vector<SeenDialog> seen() const;
    // Forgets what this scope has seen.
    void clear();

    // The process-wide watcher thread.
    static void start();
    static void stop();
    // Dialogs that appeared while no scope existed.
    static std::vector<SeenDialog> unexpected();

    // Called by the watcher thread, under its lock.
    void seenDuringScope(const SeenDialog& dialog);

    Answer answer() const { return answer_; }

private:
    Answer answer_;
    std::vector<SeenDialog> seen_;
};
