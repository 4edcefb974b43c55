#include "RegistrationPaths.h"

std::wstring doubleSingleQuotes(const std::wstring& text)
{
    std::wstring quoted;
    quoted.reserve(text.size() + 4);
    for (wchar_t c : text) {
        quoted += c;
        if (c == L'\'')
            quoted += L'\'';
    }
    return quoted;
}

std::wstring moduleDirectoryOf(const std::wstring& modulePath)
{
    const size_t separator = modulePath.find_last_of(L"\\/:");
    return separator == std::wstring::npos ? std::wstring() : modulePath.substr(0, separator + 1);
}

std::wstring typeLibraryFileBeside(const std::wstring& modulePath)
{
    const size_t nameStart = moduleDirectoryOf(modulePath).size();
    const size_t dot = modulePath.find_last_of(L'.');
    if (dot == std::wstring::npos || dot < nameStart)
        return modulePath + L".tlb";
    return modulePath.substr(0, dot) + L".tlb";
}
