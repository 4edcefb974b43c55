#pragma once
// What the viewer window calls when the user clicks a hotspot. The container
// that holds the viewer implements it and asks the host browser to load the
// hotspot's URL.
#include <string>

struct ViewHotspot;

class NavigationCallback {
public:
    // True when a navigation request was handed to the browser.
    virtual bool navigateToHotspot(const ViewHotspot& hotspot) = 0;
    // The URL that navigateToHotspot would ask the browser to load, for
    // screen readers (empty when there is none); nothing is navigated.
    virtual std::string hotspotUrl(const ViewHotspot&) { return std::string(); }

protected:
    ~NavigationCallback() = default;
};
