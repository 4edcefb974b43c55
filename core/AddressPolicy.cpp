#include "AddressPolicy.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace {

constexpr size_t kNone = std::string::npos;

template <class Text>
unsigned unitAt(const Text& text, size_t i)
{
    return static_cast<unsigned>(static_cast<typename std::make_unsigned<typename Text::value_type>::type>(text[i]));
}

bool isSeparator(unsigned c) { return c == '/' || c == '\\'; }
bool isLetter(unsigned c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(unsigned c) { return c >= '0' && c <= '9'; }
bool isSchemeCharacter(unsigned c) { return isLetter(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; }
unsigned lower(unsigned c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// The length of the scheme that starts at `from` (the text up to ":"), or
// kNone when there is none.
template <class Text>
size_t schemeLength(const Text& text, size_t from)
{
    if (from >= text.size() || !isLetter(unitAt(text, from)))
        return kNone;
    size_t i = from + 1;
    while (i < text.size() && isSchemeCharacter(unitAt(text, i)))
        ++i;
    return i < text.size() && unitAt(text, i) == ':' ? i - from : kNone;
}

// Whether text[from, from + length) is `ascii`, ignoring case.
template <class Text>
bool equalsIgnoringCase(const Text& text, size_t from, size_t length, const char* ascii)
{
    if (length != std::strlen(ascii) || from + length > text.size())
        return false;
    for (size_t i = 0; i < length; ++i)
        if (lower(unitAt(text, from + i)) != static_cast<unsigned char>(ascii[i]))
            return false;
    return true;
}

template <class Text>
size_t separatorsAt(const Text& text, size_t from)
{
    size_t n = 0;
    while (from + n < text.size() && isSeparator(unitAt(text, from + n)))
        ++n;
    return n;
}

template <class Text>
size_t segmentEnd(const Text& text, size_t from)
{
    while (from < text.size() && !isSeparator(unitAt(text, from)))
        ++from;
    return from;
}

// A drive: a letter, then ":" (in file: URLs also "|", as they may write it).
template <class Text>
bool driveAt(const Text& text, size_t from, bool inFileUrl = false)
{
    return from + 1 < text.size() && isLetter(unitAt(text, from)) &&
           (unitAt(text, from + 1) == ':' || (inFileUrl && unitAt(text, from + 1) == '|'));
}

// A file name the platform takes for a device wherever it stands: CON, PRN,
// AUX, NUL, COM0-9, LPT0-9 (also with the superscript digits 1, 2, 3),
// CONIN$ and CONOUT$, with any extension, stream name or trailing spaces
// and dots.
template <class Text>
bool isDeviceName(const Text& text, size_t begin, size_t end)
{
    size_t stop = begin;
    while (stop < end && unitAt(text, stop) != '.' && unitAt(text, stop) != ':')
        ++stop;
    while (stop > begin && unitAt(text, stop - 1) == ' ')
        --stop;
    const size_t length = stop - begin;
    for (const char* name : {"con", "prn", "aux", "nul", "conin$", "conout$"})
        if (equalsIgnoringCase(text, begin, length, name))
            return true;
    if (length == 4 && (equalsIgnoringCase(text, begin, 3, "com") || equalsIgnoringCase(text, begin, 3, "lpt"))) {
        const unsigned digit = unitAt(text, begin + 3);
        return isDigit(digit) || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

template <class Text>
bool hasDeviceNameFrom(const Text& text, size_t from)
{
    while (from < text.size()) {
        const size_t end = segmentEnd(text, from);
        if (end > from && isDeviceName(text, from, end))
            return true;
        from = end + 1;
    }
    return false;
}

// A path as the platform reads it, from `from` on.
template <class Text>
AddressKind classifyPath(const Text& text, size_t from, bool inFileUrl = false)
{
    const size_t separators = separatorsAt(text, from);
    if (separators >= 2) {
        // "\\server\share", or the device namespaces "\\.\" and "\\?\".
        const size_t begin = from + separators;
        const size_t end = segmentEnd(text, begin);
        if (equalsIgnoringCase(text, begin, end - begin, ".") || equalsIgnoringCase(text, begin, end - begin, "?"))
            return AddressKind::Device;
        return AddressKind::NetworkFile;
    }
    if (separators == 1 && from + 3 < text.size() && unitAt(text, from + 1) == '?' &&
        unitAt(text, from + 2) == '?' && isSeparator(unitAt(text, from + 3)))
        return AddressKind::Device;   // "\??\": the object manager's own names
    if (driveAt(text, from, inFileUrl))
        return hasDeviceNameFrom(text, from + 2) ? AddressKind::Device : AddressKind::LocalFile;
    return hasDeviceNameFrom(text, from) ? AddressKind::Device : AddressKind::Relative;
}

template <class Text>
int hexValue(const Text& text, size_t i)
{
    const unsigned c = lower(unitAt(text, i));
    if (isDigit(c))
        return int(c - '0');
    if (c >= 'a' && c <= 'f')
        return int(c - 'a' + 10);
    return -1;
}

// The text with every "%XX" replaced by the unit it stands for.
template <class Text>
Text percentDecoded(const Text& text, size_t from)
{
    Text decoded;
    for (size_t i = from; i < text.size(); ++i) {
        if (unitAt(text, i) == '%' && i + 2 < text.size() && hexValue(text, i + 1) >= 0 && hexValue(text, i + 2) >= 0) {
            decoded.push_back(typename Text::value_type(hexValue(text, i + 1) * 16 + hexValue(text, i + 2)));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

// What follows "file:". Escapes are decoded first, as the platform does
// before it opens the file.
template <class Text>
AddressKind classifyFileUrl(const Text& text, size_t from)
{
    const Text rest = percentDecoded(text, from);
    const size_t separators = separatorsAt(rest, 0);
    AddressKind kind = AddressKind::OtherScheme;
    if (separators == 2) {
        // file://host/...: a server, unless it is the local machine or a drive.
        const size_t end = segmentEnd(rest, 2);
        if (equalsIgnoringCase(rest, 2, end - 2, "localhost")) {
            const size_t path = end + separatorsAt(rest, end);
            kind = driveAt(rest, path, true) ? classifyPath(rest, path, true) : AddressKind::OtherScheme;
        } else if (end - 2 == 2 && driveAt(rest, 2, true)) {
            kind = classifyPath(rest, 2, true);
        } else {
            kind = classifyPath(rest, 0, true);
        }
    } else if (separators >= 4) {
        kind = classifyPath(rest, separators - 2, true);   // file:////server/share
    } else if (driveAt(rest, separators, true)) {
        kind = classifyPath(rest, separators, true);   // file:C:/, file:/C:/, file:///C:/
    }
    if (kind == AddressKind::Relative)
        kind = AddressKind::OtherScheme;
    if (kind == AddressKind::OtherScheme && hasDeviceNameFrom(rest, 0))
        kind = AddressKind::Device;
    return kind;
}

template <class Text>
AddressKind classify(const Text& text)
{
    const size_t scheme = schemeLength(text, 0);
    if (scheme == kNone || scheme == 1)
        return classifyPath(text, 0);   // a single letter is a drive
    if (equalsIgnoringCase(text, 0, scheme, "http") || equalsIgnoringCase(text, 0, scheme, "https"))
        return AddressKind::Web;
    if (equalsIgnoringCase(text, 0, scheme, "file"))
        return classifyFileUrl(text, scheme + 1);
    return AddressKind::OtherScheme;
}

} // namespace

AddressKind classifyAddress(const std::string& address)
{
    return classify(address);
}

AddressKind classifyAddress(const std::u16string& address)
{
    return classify(address);
}

bool hasControlCharacter(const std::string& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned c = unitAt(text, i);
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

bool hasNulCharacter(const std::u16string& text)
{
    return text.find(char16_t(0)) != std::u16string::npos;
}

bool maySourceLoad(AddressKind kind, bool untrustedData, bool pageIsLocalFile)
{
    if (kind == AddressKind::Device)
        return false;
    if (!untrustedData)
        return true;
    return kind == AddressKind::Web || (kind == AddressKind::LocalFile && pageIsLocalFile);
}

NavigationRefusal checkHotspotNavigation(const std::string& reference, const std::string& url)
{
    if (hasControlCharacter(reference))
        return NavigationRefusal::ControlCharacterInReference;
    if (hasControlCharacter(url))
        return NavigationRefusal::ControlCharacterInUrl;
    // Browsers drop leading spaces before they look for a scheme.
    size_t start = 0;
    while (start < url.size() && url[start] == ' ')
        ++start;
    if (separatorsAt(url, start) >= 2)
        return NavigationRefusal::NetworkPathReference;
    const size_t scheme = schemeLength(url, start);
    if (scheme == kNone)
        return NavigationRefusal::None;
    if (equalsIgnoringCase(url, start, scheme, "http") || equalsIgnoringCase(url, start, scheme, "https"))
        return NavigationRefusal::None;
    return NavigationRefusal::SchemeNotAllowed;
}

NavigationRefusal checkResolvedNavigation(const std::string& absoluteUrl)
{
    if (hasControlCharacter(absoluteUrl))
        return NavigationRefusal::ControlCharacterInUrl;
    return classifyAddress(absoluteUrl) == AddressKind::Web ? NavigationRefusal::None
                                                            : NavigationRefusal::SchemeNotAllowed;
}

const char* navigationRefusalText(NavigationRefusal refusal)
{
    switch (refusal) {
    case NavigationRefusal::None:
        return "";
    case NavigationRefusal::ControlCharacterInReference:
        return "the hotspot's reference holds a control character";
    case NavigationRefusal::ControlCharacterInUrl:
        return "the URL holds a control character";
    case NavigationRefusal::NetworkPathReference:
        return "the URL names another server without a scheme";
    case NavigationRefusal::SchemeNotAllowed:
        return "only http and https addresses are navigated";
    }
    return "";
}
