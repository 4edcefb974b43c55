#pragma once
// Wide text narrowed to the ANSI code page exactly, for file paths and URLs:
// a character that the code page lacks fails the conversion instead of being
// replaced by a look-alike ("best fit"), which could turn a path or URL into
// another one (fullwidth "＼＼host＼share" into "\\host\share").
#include <windows.h>

#include <string>

// False, with `ansi` empty, when some character has no exact counterpart.
bool toAnsiExactly(const wchar_t* text, size_t length, std::string& ansi);
