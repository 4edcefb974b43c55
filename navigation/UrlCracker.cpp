#include "UrlCracker.h"
#include "AnsiText.h"
#include "UrlTemplate.h"

#include <cstring>
#include <cwchar>

UrlCracker::UrlCracker()
{
    reset();
}

void UrlCracker::reset()
{
    std::memset(scheme_, 0, sizeof scheme_);
    std::memset(host_, 0, sizeof host_);
    std::memset(user_, 0, sizeof user_);
    std::memset(password_, 0, sizeof password_);
    std::memset(path_, 0, sizeof path_);
    std::memset(extra_, 0, sizeof extra_);
    std::memset(url_, 0, sizeof url_);
    std::memset(port_, 0, sizeof port_);
    std::memset(&parts_, 0, sizeof parts_);
    parts_.dwStructSize = sizeof parts_;
    parts_.lpszScheme = scheme_;
    parts_.dwSchemeLength = kPartSize;
    parts_.lpszHostName = host_;
    parts_.dwHostNameLength = kPartSize;
    parts_.lpszUserName = user_;
    parts_.dwUserNameLength = kPartSize;
    parts_.lpszPassword = password_;
    parts_.dwPasswordLength = kPartSize;
    parts_.lpszUrlPath = path_;
    parts_.dwUrlPathLength = kPartSize;
    parts_.lpszExtraInfo = extra_;
    parts_.dwExtraInfoLength = kPartSize;
}

bool UrlCracker::crack(const wchar_t* location)
{
    reset();
    if (location == nullptr || location[0] == L'\0')
        return false;
    // Exactly or not at all: a look-alike character would crack into another
    // host. A location whose ANSI text (with its terminator) does not fit the
    // URL buffer is refused instead of being cut or overrun.
    std::string ansi;
    if (!toAnsiExactly(location, std::wcslen(location), ansi))
        return false;
    if (ansi.empty() || ansi.size() + 1 > kPartSize)
        return false;
    std::memcpy(url_, ansi.c_str(), ansi.size() + 1);
    const DWORD length = static_cast<DWORD>(ansi.size());
    if (!InternetCrackUrlA(url_, length, ICU_DECODE, &parts_)) {
        reset();
        return false;
    }
    const std::string port = portText(parts_.nPort);
    std::memcpy(port_, port.c_str(), port.size() + 1);   // at most 5 digits
    return true;
}
