#pragma once
// What a page may make the module load and what a document may make the
// browser show, decided on the text of addresses alone. Plain C++ without
// platform headers, so it can be fuzzed natively; the same rules serve ANSI
// text (hotspot URLs) and UTF-16 text (the control's src).
//
// Addresses are read the way the platform's URL and path handling reads
// them: "\" and "/" both separate, a scheme is letters, digits, "+", "-" and
// "." after a first letter, and a single letter before ":" is a drive.
#include <string>

enum class AddressKind {
    Relative,     // no scheme, drive or server: resolved against the page
    Web,          // http: or https:
    LocalFile,    // a drive path ("C:\x"), or a file: URL on a drive
    NetworkFile,  // a server's share ("\\server\share", file://server/share)
    Device,       // "\\.\", "\\?\", "\??\" paths, and device names (COM1, NUL, ...) as file names
    OtherScheme,  // any other scheme: javascript:, data:, ftp:, mk:, res:, ...
};

AddressKind classifyAddress(const std::string& address);
AddressKind classifyAddress(const std::u16string& address);

// True for a character below 0x20, 0x7F or (UTF-16) NUL.
bool hasControlCharacter(const std::string& text);
bool hasNulCharacter(const std::u16string& text);

// --- The control's src --------------------------------------------------

// Whether the control may load a document of this kind. Device paths never;
// for a host that marked the page's data as untrusted, only the web, and
// files on a local drive when the page itself is such a file; for other
// hosts (a desktop program, a script host) everything else.
bool maySourceLoad(AddressKind kind, bool untrustedData, bool pageIsLocalFile);

// --- A hotspot's navigation ---------------------------------------------

enum class NavigationRefusal {
    None,
    ControlCharacterInReference,
    ControlCharacterInUrl,
    NetworkPathReference,   // "//host/..." or "\\host\...": another server, or a share from a local page
    SchemeNotAllowed,       // a scheme other than http or https
};

// The composed URL of a hotspot may be navigated only when the reference and
// the URL hold no control character and the URL is relative (from the page's
// server) or http/https.
NavigationRefusal checkHotspotNavigation(const std::string& reference, const std::string& url);
// After resolution against the page (control role): only http and https.
NavigationRefusal checkResolvedNavigation(const std::string& absoluteUrl);

// Why a navigation is not made, for the navigation debug box.
const char* navigationRefusalText(NavigationRefusal refusal);
