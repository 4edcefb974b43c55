#pragma once
// The process-wide settings, read from rozerado.ini in the Windows directory
// through the platform's profile reader (the values, defaults and parsing
// are the core's Settings). Nothing is ever written back. The host hands
// the viewer and navigation the values they need.
#include "Settings.h"

// The values in force; written only by loadSettings.
const Settings& settings();

// Reads every key of the file into the settings. Cannot fail: a missing
// file, section or key yields the default text, parsed like any other.
void loadSettings();

// The two moments that load the settings, each at most once per process.
enum class SettingsTrigger { ModuleAttach, PluginInitialize };
void loadSettingsOnce(SettingsTrigger trigger);
