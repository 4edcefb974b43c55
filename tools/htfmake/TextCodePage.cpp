#include "TextCodePage.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdint>

namespace {

void appendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6), out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | c >> 12), out += char(0x80 | (c >> 6 & 0x3F)), out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | c >> 18), out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F)), out += char(0x80 | (c & 0x3F));
    }
}

#ifndef _WIN32
// Windows-1252's characters 0x80 to 0x9F (0: no character there); the other
// bytes are the same code points as in Unicode.
const char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};
#endif

}  // namespace

std::u16string utf16FromUtf8(const std::string& text)
{
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 4;
        uint32_t code = extra == 0 ? c : extra == 1 ? c & 0x1Fu : extra == 2 ? c & 0x0Fu : c & 0x07u;
        bool valid = extra < 4 && text.size() - i > extra;
        for (size_t k = 1; valid && k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            valid = (d & 0xC0) == 0x80;
            code = code << 6 | (d & 0x3Fu);
        }
        valid = valid && !((extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000) || code > 0x10FFFF ||
                           (code >= 0xD800 && code <= 0xDFFF));
        if (!valid) {
            out += char16_t(0xFFFD);
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            out += char16_t(0xD800 + ((code - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += char16_t(code);
        }
        i += extra + 1;
    }
    return out;
}

std::string utf8FromUtf16(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;   // a lone surrogate
        appendUtf8(out, c);
    }
    return out;
}

#ifdef _WIN32

unsigned ansiCodePage() { return GetACP(); }

namespace {

std::u16string utf16From(UINT codePage, const std::string& text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    std::u16string wide(size_t(n > 0 ? n : 0), u'\0');
    if (n > 0)
        MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), reinterpret_cast<wchar_t*>(&wide[0]), n);
    return wide;
}

}  // namespace

bool ansiFromUtf8(const std::string& text, std::string& ansi)
{
    ansi.clear();
    const std::u16string wide = utf16FromUtf8(text);
    if (wide.empty())
        return true;
    const auto* w = reinterpret_cast<const wchar_t*>(wide.data());
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w, int(wide.size()), nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy)
        return false;
    ansi.resize(size_t(n));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w, int(wide.size()), &ansi[0], n, nullptr, &lossy);
    return !lossy && utf16From(CP_ACP, ansi) == wide;
}

std::string utf8FromAnsi(const std::string& ansi)
{
    return utf8FromUtf16(utf16From(CP_ACP, ansi));
}

#else

unsigned ansiCodePage() { return 1252; }

bool ansiFromUtf8(const std::string& text, std::string& ansi)
{
    ansi.clear();
    for (char16_t c : utf16FromUtf8(text)) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            ansi += char(c);
            continue;
        }
        size_t k = 0;
        while (k < 32 && kCp1252High[k] != c)
            ++k;
        if (k == 32 || c == 0)
            return false;
        ansi += char(0x80 + k);
    }
    return true;
}

std::string utf8FromAnsi(const std::string& ansi)
{
    std::u16string wide;
    for (char b : ansi) {
        const auto byte = static_cast<unsigned char>(b);
        // Bytes without a character map to the C1 control of the same value, as Windows does.
        wide += byte >= 0x80 && byte < 0xA0 && kCp1252High[byte - 0x80] ? kCp1252High[byte - 0x80] : char16_t(byte);
    }
    return utf8FromUtf16(wide);
}

#endif
