#pragma once
// What the viewer window calls when the user clicks a hotspot. The container
// that holds the viewer implements it and asks the host browser to load the
// hotspot's URL.
struct ViewHotspot;

class NavigationCallback {
public:
    // True when a navigation request was handed to the browser.
    virtual bool navigateToHotspot(const ViewHotspot& hotspot) = 0;

protected:
    ~NavigationCallback() = default;
};
