#pragma once
// The built ROZERADO.DLL loaded into the test process, with its COM server
// exports, and registry helpers for the registration tests.
#include <windows.h>
#include <objbase.h>

#include "TiffFixture.h"

#include <string>
#include <vector>

struct ComModule {
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    using NoArgumentFn = HRESULT(WINAPI*)();

    ComModule();
    ~ComModule();
    ComModule(const ComModule&) = delete;
    ComModule& operator=(const ComModule&) = delete;

    static std::wstring path();   // beside the test program

    HMODULE module = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    NoArgumentFn canUnloadNow = nullptr;
    NoArgumentFn registerServer = nullptr;
    NoArgumentFn unregisterServer = nullptr;
};

// A new control from the module's class object (asked for IUnknown).
IUnknown* createControl(ComModule& com);

// Registry under HKEY_CLASSES_ROOT. A missing value reads as "<missing>".
bool classesKeyExists(const std::wstring& key);
std::wstring classesValue(const std::wstring& key, const wchar_t* name = nullptr);
// Number of values and subkeys of a key (-1 when the key is missing).
int classesValueCount(const std::wstring& key);
int classesSubkeyCount(const std::wstring& key);

// Download files of controls ("<address><counter>.htf") in the temporary directory.
size_t controlDownloads();

// Runs a program with a command line and waits; its exit code, or -1.
// Standard output goes to `output` when given.
int runProgram(const std::wstring& commandLine, std::string* output = nullptr, DWORD timeoutMs = 60000);

// The file: URL of a local path (backslashes become slashes).
std::wstring toFileUrl(const std::string& path);
// An 8-bit RGB document without hotspots: the left half of each row `left`,
// the right half `right` (0xRRGGBB).
TiffFixture twoColourFixture(uint32_t width, uint32_t height, unsigned left, unsigned right);

// The Unix path of a Windows path (Wine's kernel32 export), for programs
// of the machine itself; empty when there is none.
std::string unixPath(const std::string& path);
// A web server on 127.0.0.1 (python3 -m http.server) serving `directory`
// for `seconds`, on a port that this call's server alone answers: its base
// URL "http://127.0.0.1:PORT/", or empty when none came up.
std::wstring startWebServer(const std::string& directory, int seconds = 30);
