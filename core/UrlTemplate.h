#pragma once
// The text work of hotspot navigation: filling the URL template with a
// hotspot's reference, choosing the target frame, the debug box's text and
// joining a relative URL to the scheme, host and port of the page's location.
// Plain C++ without platform headers, so it can be exercised anywhere.
#include <cstdint>
#include <string>

// The token that a hotspot's reference replaces in the URL template.
constexpr char kHotspotReferenceToken[] = "#HSREF#";
// The frame a navigation targets when the settings name none.
constexpr char kDefaultTargetFrame[] = "_self";

// Replaces every "#HSREF#" of `urlTemplate`, left to right, by `reference`,
// inserted unchanged. Tokens that the inserted reference brings in are not
// replaced again, so a reference that contains the token cannot make the
// replacement run without end.
std::string composeHotspotUrl(const std::string& urlTemplate, const std::string& reference);

// The configured frame, or "_self" when it is empty.
std::string targetFrameName(const std::string& configuredFrame);

// "Navigating frame: <frame>\nto relative URL: <url>", of any length.
std::string navigationDebugText(const std::string& frame, const std::string& url);
// "Not navigating frame: <frame>\nto URL: <url>\nbecause <reason>.", with the
// URL's control characters written as %XX so that the box shows them.
std::string refusedNavigationDebugText(const std::string& frame, const std::string& url,
                                       const std::string& reason);

// A port number as the browser location's authority carries it: decimal,
// without leading zeros.
std::string portText(uint16_t port);

// scheme "://" host ":" port, then the relative URL. The port is always
// written, also when it is the scheme's default. A relative URL that does not
// begin with "/" gets one in front of it, so that its text never runs into
// the port; the relative URL is always taken from the server root.
std::string joinBaseUrl(const std::string& scheme, const std::string& host,
                        const std::string& port, const std::string& relativeUrl);
