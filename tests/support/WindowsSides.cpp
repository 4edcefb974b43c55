#include "WindowsSides.h"

#include <shlobj.h>

namespace {

constexpr bool kThis64 = sizeof(void*) == 8;

std::string withSlash(std::string path)
{
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    return path;
}

std::string ownBinDirectory()
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string path = self;
    return path.substr(0, path.find_last_of("\\/") + 1);
}

// The build's directory for the other architecture: bin beside bin64.
std::string otherBinDirectory()
{
    std::string own = ownBinDirectory();
    own.pop_back();
    return own.substr(0, own.find_last_of("\\/") + 1) + (kThis64 ? "bin\\" : "bin64\\");
}

std::string folder(int csidl)
{
    char path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, path)) ? std::string(path) : std::string();
}

std::string systemDirectory()
{
    char path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    return withSlash(std::string(path, length < MAX_PATH ? length : 0));
}

}  // namespace

bool windowsIs64Bit()
{
    if (kThis64)
        return true;
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::vector<WindowsSide> windowsSides()
{
    WindowsSide own;
    own.is64 = kThis64;
    own.name = kThis64 ? "64-bit" : "32-bit";
    // A 32-bit program on 64-bit Windows reaches the 32-bit system folder under
    // the 64-bit one's name.
    own.systemDirectory = systemDirectory();
    own.view = kThis64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    own.binDirectory = ownBinDirectory();
    own.programFiles = folder(CSIDL_PROGRAM_FILES);
    std::vector<WindowsSide> sides = {own};
    if (!windowsIs64Bit())
        return sides;

    WindowsSide other;
    other.is64 = !kThis64;
    other.name = kThis64 ? "32-bit" : "64-bit";
    if (kThis64) {
        char path[MAX_PATH] = {};
        const UINT length = GetSystemWow64DirectoryA(path, MAX_PATH);
        other.systemDirectory = withSlash(std::string(path, length < MAX_PATH ? length : 0));
    } else {
        // The 64-bit system folder, seen from a 32-bit program.
        char windows[MAX_PATH] = {};
        const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
        other.systemDirectory = withSlash(std::string(windows, length < MAX_PATH ? length : 0)) + "Sysnative\\";
    }
    other.view = kThis64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    other.binDirectory = otherBinDirectory();
    if (kThis64) {
        other.programFiles = folder(CSIDL_PROGRAM_FILESX86);
    } else {
        char path[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableA("ProgramW6432", path, MAX_PATH);
        other.programFiles = length && length < MAX_PATH ? std::string(path) : std::string();
    }
    sides.push_back(other);
    return sides;
}

std::string registryText(HKEY root, const std::string& key, const char* name, REGSAM view)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return "<none>";
    char value[2048] = {};
    DWORD size = sizeof value - 1, type = 0;
    const LONG status = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : "<none>";
}

bool registryKeyExists(HKEY root, const std::string& key, REGSAM view)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}
