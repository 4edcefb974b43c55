#include "SettingsFile.h"

#include <windows.h>

namespace {

constexpr char kFileName[] = "rozerado.ini";   // bare name: the Windows directory
constexpr DWORD kValueBytes = 1024;            // a longer value is cut to 1023 characters

Settings current;
bool loadedAtAttach = false;
bool loadedAtPluginInit = false;

std::string readKey(const char* section, const char* key, const char* defaultText)
{
    char buffer[kValueBytes] = {};
    GetPrivateProfileStringA(section, key, defaultText, buffer, kValueBytes, kFileName);
    return buffer;
}

} // namespace

const Settings& settings()
{
    return current;
}

void loadSettings()
{
    current = readSettings(readKey);
}

void loadSettingsOnce(SettingsTrigger trigger)
{
    bool& done = trigger == SettingsTrigger::ModuleAttach ? loadedAtAttach : loadedAtPluginInit;
    if (done)
        return;
    done = true;
    loadSettings();
}
