#include "Settings.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kFileName[] = "rozerado.ini";   // bare name: the Windows directory
constexpr DWORD kValueBytes = 1024;

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

int32_t parseFrameWidth(const char* text)
{
    // strtol saturates where atoi would overflow; the result is clamped anyway.
    const long value = std::strtol(text, nullptr, 10);
    if (value > 10)
        return 10;
    return value > 0 ? int32_t(value) : 0;
}

uint32_t parseFrameColor(const char* text)
{
    int red = 0, green = 0, blue = 0;
    std::sscanf(text, "%d,%d,%d", &red, &green, &blue);
    return uint32_t(red & 0xFF) | uint32_t(green & 0xFF) << 8 | uint32_t(blue & 0xFF) << 16;
}

bool parseDebugNav(const char* text)
{
    return text[0] == '1';
}

void loadSettings()
{
    current.frameWidth = parseFrameWidth(readKey("Appearance", "FRAMEWIDTH", kDefaultFrameWidth).c_str());
    current.frameColor = parseFrameColor(readKey("Appearance", "FRAMECOLOR", kDefaultFrameColor).c_str());
    current.relUrl = readKey("NAV", "RELURL", kDefaultRelUrl);
    current.frame = readKey("NAV", "FRAME", kDefaultFrame);
    current.debugNav = parseDebugNav(readKey("NAV", "DEBUGNAV", kDefaultDebugNav).c_str());
}

void loadSettingsOnce(SettingsTrigger trigger)
{
    bool& done = trigger == SettingsTrigger::ModuleAttach ? loadedAtAttach : loadedAtPluginInit;
    if (done)
        return;
    done = true;
    loadSettings();
}
