// Main of every test program: runs the tests with the dialog watcher active,
// so that no test can hang on a message box, and fails the program when a
// dialog appeared that no test was watching for.
#include "DialogWatcher.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {
class DialogEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        // The system libraries that ROZERADO.DLL imports are loaded before
        // the watcher thread starts. Loaded later, by the module's own load,
        // their entry points run under the loader lock and call into USER
        // (comctl32 loads cursors), while the watcher, busy enumerating
        // windows, can hold USER's lock and wait for the loader lock: on
        // Wine the two threads then deadlock now and then.
        for (const char* library : {"comctl32.dll", "comdlg32.dll", "ole32.dll", "oleaut32.dll", "urlmon.dll",
                                    "wininet.dll", "winspool.drv"})
            LoadLibraryA(library);
        DialogWatcher::start();
    }
    void TearDown() override
    {
        Sleep(50);   // let a late dialog be seen
        for (const SeenDialog& d : DialogWatcher::unexpected())
            ADD_FAILURE() << "unexpected dialog \"" << d.caption << "\": " << d.text;
        DialogWatcher::stop();
    }
};

LONG WINAPI reportCrash(EXCEPTION_POINTERS* info)
{
    std::fprintf(stderr, "crashed: exception %08lx at %p\n", static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                 info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}
}

int main(int argc, char** argv)
{
    // A crash ends the program at once (a failed test) instead of starting
    // the runtime's debugger, which would wait until CTest's time-out.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(reportCrash);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new DialogEnvironment);
    return RUN_ALL_TESTS();
}
