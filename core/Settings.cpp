#include "Settings.h"

#include <cstdio>
#include <cstdlib>

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

Settings readSettings(const SettingsReader& read)
{
    Settings s;
    s.frameWidth = parseFrameWidth(read("Appearance", "FRAMEWIDTH", kDefaultFrameWidth).c_str());
    s.frameColor = parseFrameColor(read("Appearance", "FRAMECOLOR", kDefaultFrameColor).c_str());
    s.relUrl = read("NAV", "RELURL", kDefaultRelUrl);
    s.frame = read("NAV", "FRAME", kDefaultFrame);
    s.debugNav = parseDebugNav(read("NAV", "DEBUGNAV", kDefaultDebugNav).c_str());
    return s;
}
