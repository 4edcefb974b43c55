#pragma once
// Counts the calls a loaded module makes to one function it imports, by
// pointing the module's import table entry at a counting stand-in that calls
// the real function. The module keeps its behaviour: the calls still reach
// the system; the test only learns that they were made. Used to see whether
// the module started a print job, which no file on disk tells reliably when
// other programs print at the same time.
#include <windows.h>

#include <string>

class StartDocWatch {
public:
    // Watches `module`'s calls to gdi32's StartDocA.
    explicit StartDocWatch(HMODULE module);
    ~StartDocWatch();   // puts the real function back
    StartDocWatch(const StartDocWatch&) = delete;
    StartDocWatch& operator=(const StartDocWatch&) = delete;

    // False when the module imports no StartDocA.
    bool watching() const { return slot_ != nullptr; }
    // Calls since the watch began.
    int calls() const;

private:
    void** slot_ = nullptr;
    void* real_ = nullptr;
};

// The import table entry of `function` from `library` (compared without
// case) in `module`, or null.
void** importSlot(HMODULE module, const char* library, const char* function);
