#pragma once
// Process-wide settings from rozerado.ini (read from the Windows directory):
// the hotspot outline's width and colour, the navigation URL template, the
// target frame and the navigation debug switch. Every value has a default;
// nothing is ever written back.
#include <cstdint>
#include <string>

// The texts used when the file, section or key is missing.
constexpr char kDefaultFrameWidth[] = "1";
constexpr char kDefaultFrameColor[] = "0,128,128";
constexpr char kDefaultRelUrl[] = "/servlets/ZevuRedor?ShtmlFile=#HSREF#";
constexpr char kDefaultFrame[] = "_self";
constexpr char kDefaultDebugNav[] = "0";

struct Settings {
    int32_t frameWidth = 1;                 // 0..10; 0: no outline
    uint32_t frameColor = 0x00808000;       // COLORREF: red 0, green 128, blue 128
    std::string relUrl = kDefaultRelUrl;
    std::string frame = kDefaultFrame;
    bool debugNav = false;
};

// The values in force; written only by loadSettings.
const Settings& settings();

// Reads every key of the file into the settings. Cannot fail: a missing
// file, section or key yields the default text, parsed like any other.
void loadSettings();

// The two moments that load the settings, each at most once per process.
enum class SettingsTrigger { ModuleAttach, PluginInitialize };
void loadSettingsOnce(SettingsTrigger trigger);

// Parsing of the texts, as loadSettings applies it.
int32_t parseFrameWidth(const char* text);
uint32_t parseFrameColor(const char* text);
bool parseDebugNav(const char* text);
