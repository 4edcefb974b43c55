#pragma once
// Replaces, for the lifetime of the object, what one module calls for one
// function it imports (its import address table entry), so that a test can
// count or steer the platform calls of the code under test: the test program
// itself for code linked into it, ROZERADO.DLL for the module.
#include <windows.h>

#include <string>
#include <vector>

class ImportHook {
public:
    // `dll` and `function` as the module imports them ("kernel32.dll",
    // "CreateFileA"); the dll name is compared without regard to case.
    ImportHook(HMODULE module, const char* dll, const char* function, void* replacement);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool installed() const { return slot_ != nullptr; }
    // What the module called before (the platform's function).
    void* original() const { return original_; }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

// Records the CreateFileA calls of one module and lets a test act just
// before each (another process taking a name, say). One at a time.
class CreateFileSpy {
public:
    struct Call {
        std::string path;
        DWORD disposition;
        bool succeeded;
        DWORD error;
    };
    using Before = void (*)(const char* path, DWORD disposition);

    explicit CreateFileSpy(HMODULE module, Before before = nullptr);
    ~CreateFileSpy();
    CreateFileSpy(const CreateFileSpy&) = delete;
    CreateFileSpy& operator=(const CreateFileSpy&) = delete;

    bool installed() const { return hook_.installed(); }
    const std::vector<Call>& calls() const { return calls_; }
    // The calls that would create a file (every disposition but OPEN_EXISTING).
    size_t creations() const;

private:
    static HANDLE WINAPI spy(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    static CreateFileSpy* active_;

    Before before_;
    std::vector<Call> calls_;
    ImportHook hook_;
};
