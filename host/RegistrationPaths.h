#pragma once
// The path texts that registration derives from the module's file name.
#include <string>

// Every single quote doubled, as a quoted value of a registry script needs.
std::wstring doubleSingleQuotes(const std::wstring& text);
// The type library file beside the module: the extension replaced by ".tlb",
// or ".tlb" appended when the file name has none.
std::wstring typeLibraryFileBeside(const std::wstring& modulePath);
// The module's directory: the path cut after its last "\", "/" or ":".
std::wstring moduleDirectoryOf(const std::wstring& modulePath);
