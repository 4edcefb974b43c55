#pragma once
// Splits one URL into its parts with the platform's URL cracking
// (InternetCrackUrlA, escaped characters decoded). Every text part has a
// buffer of 1024 characters of its own; a URL of 1024 characters or more, or
// one whose part does not fit its buffer, is refused. One cracker serves one
// navigation.
#include <windows.h>
#include <wininet.h>

class UrlCracker {
public:
    static constexpr DWORD kPartSize = 1024;

    UrlCracker();
    UrlCracker(const UrlCracker&) = delete;   // the parts point into this object
    UrlCracker& operator=(const UrlCracker&) = delete;

    // Converts `location` to the ANSI code page and cracks it. False for a
    // null or empty location, one too long for the URL buffer, or one the
    // platform cannot crack.
    bool crack(const wchar_t* location);

    const char* scheme() const { return scheme_; }
    const char* host() const { return host_; }
    // The port in decimal; for a URL without one, the scheme's default port.
    const char* port() const { return port_; }

private:
    void reset();

    URL_COMPONENTSA parts_;
    char scheme_[kPartSize];
    char host_[kPartSize];
    char user_[kPartSize];
    char password_[kPartSize];
    char path_[kPartSize];
    char extra_[kPartSize];
    char url_[kPartSize];
    char port_[128];
};
