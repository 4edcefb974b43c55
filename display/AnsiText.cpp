#include "AnsiText.h"

#include <climits>

namespace {
// WC_ERR_INVALID_CHARS, which the headers hide for the Windows XP target: an
// unpaired surrogate fails a UTF-8 conversion instead of becoming U+FFFD.
constexpr DWORD kInvalidCharactersFail = 0x00000080;
} // namespace

bool toAnsiExactly(const wchar_t* text, size_t length, std::string& ansi)
{
    ansi.clear();
    if (length == 0)
        return true;
    if (!text || length > size_t(INT_MAX / 4))
        return false;
    // UTF-8 has every character; the flags of the other code pages are not
    // allowed with it.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? kInvalidCharactersFail : WC_NO_BEST_FIT_CHARS;
    BOOL defaulted = FALSE;
    BOOL* usedDefault = utf8 ? nullptr : &defaulted;
    const int size = WideCharToMultiByte(CP_ACP, flags, text, int(length), nullptr, 0, nullptr, usedDefault);
    if (size <= 0 || defaulted)
        return false;
    std::string converted(size_t(size), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, text, int(length), &converted[0], size, nullptr, usedDefault) != size ||
        defaulted)
        return false;
    ansi = std::move(converted);
    return true;
}
