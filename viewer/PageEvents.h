#pragma once
// What a viewer tells the page that shows it, and what the page reads of it:
// the same events and values in every host (the ActiveX control raises them
// through its connection point, the plug-in on its element of the page).
// The viewer reports; each host turns the reports into its own events.
#include <cstdint>
#include <string>

// One hotspot as the page sees it: its reference and tooltip text and its
// rectangle in image pixels (left and top the smaller edges).
struct PageHotspot {
    std::string ref;        // the document's bytes (ANSI code page)
    std::u16string text;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// The visible part of the image in image pixels, and the scale.
struct PageView {
    double scale = 1;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// A hotspot's URL about to go to the browser.
struct PageNavigation {
    std::string url;        // as the browser gets it (ANSI code page)
    std::string frame;
    std::string ref;
    std::u16string text;
};

// Every report may run the page's script, which may do anything to the
// viewer: remove it, give it another document, or release its host. Callers
// report last, or check that the view is unchanged before they go on.
class PageEvents {
public:
    // The document is shown (loaded), or could not be (error).
    virtual void pageLoaded() = 0;
    virtual void pageError(const std::u16string& message) = 0;
    // The outline moved onto a hotspot, or off it (pointer or keyboard).
    virtual void hotspotEntered(const PageHotspot& hotspot) = 0;
    virtual void hotspotLeft(const PageHotspot& hotspot) = 0;
    // The view zoomed or scrolled: at most once a message-loop turn.
    virtual void viewChanged() = 0;
    // A hotspot's URL is about to go to the browser: false cancels it.
    virtual bool navigating(const PageNavigation& navigation) = 0;

protected:
    ~PageEvents() = default;
};
