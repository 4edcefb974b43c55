#pragma once
// Watches or answers the calls a loaded module makes to a function it
// imports, by pointing the module's import table entry at a stand-in. The
// print-job watch counts and passes every call on to the system: the test
// only learns whether the module started a print job, which no file on disk
// tells reliably when other programs print at the same time. The display
// depth override answers one question itself, the depth a screen has.
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

// Makes `module` see a display of `bits` bits a pixel (a 256-colour screen,
// say) while the object lives: its calls to gdi32's GetDeviceCaps answer
// BITSPIXEL with `bits` for display surfaces; every other question, and
// every printer's, reaches the system.
class DisplayDepthOverride {
public:
    DisplayDepthOverride(HMODULE module, int bits);
    ~DisplayDepthOverride();   // puts the real function back
    DisplayDepthOverride(const DisplayDepthOverride&) = delete;
    DisplayDepthOverride& operator=(const DisplayDepthOverride&) = delete;

    // False when the module imports no GetDeviceCaps.
    bool active() const { return slot_ != nullptr; }

private:
    void** slot_ = nullptr;
    void* real_ = nullptr;
};

// The import table entry of `function` from `library` (compared without
// case) in `module`, or null.
void** importSlot(HMODULE module, const char* library, const char* function);
