#include "UrlTemplate.h"

#include <cstring>

std::string composeHotspotUrl(const std::string& urlTemplate, const std::string& reference)
{
    const size_t tokenLength = std::strlen(kHotspotReferenceToken);
    std::string url;
    url.reserve(urlTemplate.size());
    size_t from = 0;
    for (;;) {
        // Searching the template, never the result, keeps inserted text out
        // of later matches.
        const size_t at = urlTemplate.find(kHotspotReferenceToken, from);
        if (at == std::string::npos)
            break;
        url.append(urlTemplate, from, at - from);
        url += reference;
        from = at + tokenLength;
    }
    url.append(urlTemplate, from, std::string::npos);
    return url;
}

std::string targetFrameName(const std::string& configuredFrame)
{
    return configuredFrame.empty() ? std::string(kDefaultTargetFrame) : configuredFrame;
}

std::string navigationDebugText(const std::string& frame, const std::string& url)
{
    return "Navigating frame: " + frame + "\nto relative URL: " + url;
}

std::string refusedNavigationDebugText(const std::string& frame, const std::string& url,
                                       const std::string& reason)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : url) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            shown += '%';
            shown += kHex[byte >> 4];
            shown += kHex[byte & 15];
        } else {
            shown += c;
        }
    }
    return "Not navigating frame: " + frame + "\nto URL: " + shown + "\nbecause " + reason + ".";
}

std::string portText(uint16_t port)
{
    return std::to_string(static_cast<unsigned>(port));
}

std::string joinBaseUrl(const std::string& scheme, const std::string& host,
                        const std::string& port, const std::string& relativeUrl)
{
    std::string url = scheme + "://" + host + ":" + port;
    if (relativeUrl.empty() || relativeUrl[0] != '/')
        url += '/';
    url += relativeUrl;
    return url;
}
