#pragma once
// Text conversions between the CSV file's UTF-8, the hotspot records' UTF-16
// tooltips and their references in the ANSI code page. On Windows the ANSI
// code page is the system's; elsewhere it is Windows-1252, the code page of
// Western European Windows systems (and of Wine's default locale), so that a
// document made on Linux reads as the same text there.
#include <string>

// The number of the ANSI code page the references are written in.
unsigned ansiCodePage();

// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string utf16FromUtf8(const std::string& text);
std::string utf8FromUtf16(const std::u16string& text);

// UTF-8 to the ANSI code page; false when a character has no exact
// equivalent there (the viewer would show something other than was written).
bool ansiFromUtf8(const std::string& text, std::string& ansi);
std::string utf8FromAnsi(const std::string& ansi);
