#pragma once
// Navigation in the control host: reaches the top-level browser through the
// control's client site, takes the scheme, host and port of the page it
// shows, appends the relative URL and asks that browser to load the result
// into the named frame.
#include <unknwn.h>

#include <string>

// True when the browser was asked to navigate; false without a client site,
// without a relative URL, when the site leads to no web browser, or when the
// page's location cannot be cracked (also one of 1024 characters or more).
// Nothing is shown to the user. Every interface obtained is released.
bool navigateViaBrowser(IUnknown* clientSite, const std::string& relativeUrl,
                        const std::string& frame);

// The absolute URL that navigateViaBrowser would ask the browser to load for
// `relativeUrl`; empty whenever it would ask for nothing. Navigates nothing.
std::string browserAbsoluteUrl(IUnknown* clientSite, const std::string& relativeUrl);
