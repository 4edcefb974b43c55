#pragma once
// The 32-bit and the 64-bit side of 64-bit Windows as a test program of
// either architecture sees them: where each side's system programs
// (regsvr32.exe, cscript.exe) are, which registry view it writes, and where
// the build puts its module and programs (build/bin for 32-bit, build/bin64
// for 64-bit). On 32-bit Windows there is one side.
#include <windows.h>

#include <string>
#include <vector>

struct WindowsSide {
    bool is64 = false;
    std::string name;              // "32-bit" or "64-bit"
    std::string systemDirectory;   // this side's system programs, as this process reaches them; ends with "\"
    REGSAM view = 0;               // KEY_WOW64_32KEY or KEY_WOW64_64KEY
    std::string binDirectory;      // this side's build output; ends with "\"
    std::string programFiles;      // this side's Program Files folder; no "\" at the end

    std::string module() const { return binDirectory + "ROZERADO.DLL"; }
    std::string program(const char* exe) const { return "\"" + systemDirectory + exe + "\""; }
};

// True when Windows itself is 64-bit (this process may be either).
bool windowsIs64Bit();
// The sides of this Windows: the test program's own first, then the other one
// on 64-bit Windows.
std::vector<WindowsSide> windowsSides();

// A string value of a key in one registry view, "<none>" when the key or the
// value is missing.
std::string registryText(HKEY root, const std::string& key, const char* name, REGSAM view);
bool registryKeyExists(HKEY root, const std::string& key, REGSAM view);
