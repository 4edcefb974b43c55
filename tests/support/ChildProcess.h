#pragma once
// Runs a program built beside the test program as a child process, with its
// standard output and error captured, for at most a given time.
#include <windows.h>

#include <string>

struct ChildRun {
    bool started = false;
    bool ended = false;       // within the time; otherwise it was terminated
    DWORD exitCode = 0;
    std::string out, err;
};

// The path of `name` in the directory of the running program.
std::string programBesideThis(const std::string& name);

// Runs "<program beside this> <arguments>" and waits up to `timeoutMs`.
ChildRun runBesideThis(const std::string& name, const std::string& arguments, DWORD timeoutMs);
