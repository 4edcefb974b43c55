#pragma once
// The little of the platform that host/SettingsFile.cpp uses, for its native fuzz
// target: the profile reader returns texts that the fuzz target supplies.
#include <cstddef>

typedef unsigned long DWORD;

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText, char* buffer,
                               DWORD size, const char* fileName);
