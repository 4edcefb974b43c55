// Feeds any texts to the settings loader as the values of its keys (through
// the shim's profile reader) and to the three parsers, and checks the ranges
// that the rest of the module relies on.
#include "SettingsFile.h"
#include "windows.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> values;   // one text per key, in the order they are read
size_t nextValue = 0;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "settings: %s\n", what);
        std::abort();
    }
}

} // namespace

DWORD GetPrivateProfileStringA(const char*, const char*, const char* defaultText, char* buffer, DWORD size,
                               const char*)
{
    const std::string text = nextValue < values.size() ? values[nextValue++] : defaultText;
    if (size == 0)
        return 0;
    const size_t n = std::min<size_t>(std::strlen(text.c_str()), size - 1);   // the reader stops at a NUL
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return DWORD(n);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    values.clear();
    nextValue = 0;
    for (int key = 0; key < 5; ++key)
        values.push_back(input.ConsumeRandomLengthString(1500));
    loadSettings();
    const Settings& s = settings();
    check(s.frameWidth >= 0 && s.frameWidth <= 10, "frame width outside 0..10");
    check((s.frameColor >> 24) == 0, "colour with a non-zero top byte");
    check(s.relUrl.size() <= 1023 && s.frame.size() <= 1023, "a text longer than the buffer allows");
    check(s.debugNav == (!values[4].empty() && values[4][0] == '1'), "debug switch not from the first character");

    for (const std::string& text : values) {
        const int32_t width = parseFrameWidth(text.c_str());
        check(width >= 0 && width <= 10, "parsed frame width outside 0..10");
        check((parseFrameColor(text.c_str()) >> 24) == 0, "parsed colour with a non-zero top byte");
        check(parseDebugNav(text.c_str()) == (text.c_str()[0] == '1'), "parsed debug switch");
    }
    return 0;
}
