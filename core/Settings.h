#pragma once
// The module's settings as values: the hotspot outline's width and colour,
// the navigation URL template, the target frame and the navigation debug
// switch, with their defaults and the rules that turn the texts of a
// settings file into them. Where the texts come from (an INI file read
// through the platform) is the host's business; every value has a default,
// so a missing file, section or key yields the default text, parsed like
// any other.
#include <cstdint>
#include <functional>
#include <string>

// The texts used when the file, section or key is missing.
constexpr char kDefaultFrameWidth[] = "1";
constexpr char kDefaultFrameColor[] = "0,128,128";
constexpr char kDefaultRelUrl[] = "/servlets/ZevuRedor?ShtmlFile=#HSREF#";
constexpr char kDefaultFrame[] = "_self";
constexpr char kDefaultDebugNav[] = "0";

struct Settings {
    int32_t frameWidth = 1;                 // 0..10; 0: no outline
    uint32_t frameColor = 0x00808000;       // COLORREF layout: red 0, green 128, blue 128
    std::string relUrl = kDefaultRelUrl;
    std::string frame = kDefaultFrame;
    bool debugNav = false;
};

// Parsing of the texts.
int32_t parseFrameWidth(const char* text);
uint32_t parseFrameColor(const char* text);
bool parseDebugNav(const char* text);

// The text of one key: (section, key, default text) -> the value, or the
// default text when the key is missing.
using SettingsReader = std::function<std::string(const char* section, const char* key, const char* defaultText)>;
// Every key read through `read`, in the order a settings file lists them,
// and parsed.
Settings readSettings(const SettingsReader& read);
