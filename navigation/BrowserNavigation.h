#pragma once
// Navigation in the control host: reaches the top-level browser through the
// control's client site, takes the scheme, host and port of the page it
// shows, appends the relative URL and asks that browser to load the result
// into the named frame. Only http and https results are loaded.
#include <unknwn.h>

#include <string>

struct IWebBrowser2;

// The top-level web browser that a control's client site leads to (site's
// service provider, SID_STopLevelBrowser, SID_SWebBrowserApp), with a
// reference of its own for the caller; null when there is none.
IWebBrowser2* topLevelBrowser(IUnknown* clientSite);

// One navigation, prepared before anything is shown to the user: the browser
// (held) and the absolute URL. Nothing of the client site is touched after
// `prepare`, so a site that goes away meanwhile does no harm.
class BrowserNavigation {
public:
    BrowserNavigation() = default;
    ~BrowserNavigation();
    BrowserNavigation(const BrowserNavigation&) = delete;
    BrowserNavigation& operator=(const BrowserNavigation&) = delete;

    // False without a client site, without a relative URL, when the site
    // leads to no web browser, or when the page's location cannot be cracked
    // (also one of 1024 characters or more).
    bool prepare(IUnknown* clientSite, const std::string& relativeUrl);
    // scheme "://" host ":" port, then the relative URL (empty until prepared).
    const std::string& absoluteUrl() const { return absoluteUrl_; }
    // Asks the browser to load the absolute URL into `frame`; false when
    // nothing was prepared.
    bool navigate(const std::string& frame);

private:
    IWebBrowser2* browser_ = nullptr;
    std::string absoluteUrl_;
};

// prepare, then navigate when the absolute URL is http or https. True when
// the browser was asked to navigate. Nothing is shown to the user. Every
// interface obtained is released.
bool navigateViaBrowser(IUnknown* clientSite, const std::string& relativeUrl,
                        const std::string& frame);

// The absolute URL that navigateViaBrowser would ask the browser to load for
// `relativeUrl`; empty whenever it would ask for nothing. Navigates nothing.
std::string browserAbsoluteUrl(IUnknown* clientSite, const std::string& relativeUrl);
