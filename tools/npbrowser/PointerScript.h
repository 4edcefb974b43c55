#pragma once
// The short script the stand-in host programs (npbrowser, olehost) run once
// their plug-in or control is shown, so that they run without a person:
// pointer moves, clicks and drags, key presses, toolbar commands, waits,
// screenshots and marks, given as command-line options and run in the order
// given.
#include "StandInBrowser.h"

#include <windows.h>

#include <string>
#include <vector>

struct ScriptStep {
    enum Kind { Move, Click, Press, Release, Command, Wait, Screenshot, Mark, WaitFile, Key } kind;
    POINT point;
    DWORD milliseconds;
    std::string path;
    int command = 0;
    KeyStroke key = {};
};

// "A<separator>B" with two whole numbers and nothing else.
bool parseNumberPair(const char* text, char separator, long& a, long& b);

class PointerScript {
public:
    // `program` prefixes the messages. Every program offers --move, --click,
    // --key, --wait and --screenshot; `withDrags` adds --press, --release, --command,
    // --mark and --wait-file. `checkedWait` refuses a --wait that is not a
    // number of at most 600000 ms (otherwise it is read as far as it is one).
    PointerScript(const char* program, bool withDrags, bool checkedWait);

    // Whether `option` is one of this script's options (all take a value).
    bool takes(const std::string& option) const;
    // Adds the step for `option` and its value; false, after a message on
    // stderr, when the value is bad.
    bool add(const std::string& option, const char* value);
    // Runs the steps in order against `window`'s client area.
    void run(HWND window) const;

    const std::vector<ScriptStep>& steps() const { return steps_; }

private:
    std::string program_;
    bool withDrags_;
    bool checkedWait_;
    std::vector<ScriptStep> steps_;
};
