#pragma once
// The image viewer window: shows the first image of a hotspotted document at
// any zoom with scroll bars, outlines the hotspot under the pointer, shows its
// tooltip, reports clicks to its navigation callback, shows a magnifier lens
// and pans. The zoom, fits, scroll bars and hotspot rectangles are the
// portable view model's (ViewState); the window is its adapter: it turns
// messages into the model's steps and the model's state into scroll bars,
// repaints, tooltips and cursors. Its member functions are spread over files
// by concern: TiffView.cpp (life cycle, messages, commands),
// TiffViewGeometry.cpp (the model's state on the window), TiffViewImage.cpp
// (setImageFile), TiffViewPaint.cpp, TiffViewPointer.cpp, TiffViewKeys.cpp,
// TiffViewWheel.cpp, TiffViewPrint.cpp and TiffViewPage.cpp (the page's API
// and events).
#include "Dib.h"
#include "ImageRenderer.h"
#include "MagnifierLens.h"
#include "PageEvents.h"
#include "ViewState.h"
#include "WindowWrapper.h"

#include <windows.h>

// The message of a tilting wheel, which systems from Windows Vista on send;
// the module builds for older ones too, which never send it.
#ifndef WM_MOUSEHWHEEL
#define WM_MOUSEHWHEEL 0x020E
#endif

#include <memory>
#include <string>
#include <vector>

class HotspotList;
class NavigationCallback;
class ViewAccessible;

// The outline of the hotspot under the pointer or with the keyboard focus:
// its width (0: none) and colour, as the settings give them.
struct ViewOutline {
    int32_t width = 1;
    COLORREF colour = RGB(0, 128, 128);
};

class TiffView : public WindowWrapper {
public:
    enum Mode : int32_t { PointerMode = 0, MagnifierMode = 1, PanMode = 2 };

    using Outline = ViewOutline;
    // The view's own message that carries a page report to its window.
    static constexpr UINT kPageReportMessage = WM_APP + 0x34;

    explicit TiffView(NavigationCallback* navigation, Outline outline = Outline());
    ~TiffView() override;

    // Creates the view window (a child of `parent` at `rect`), its tooltip
    // control and the drawing resources.
    void create(HWND parent, const RECT& rect);
    // Shows the document at `fileName` (UTF-16; null empties the view),
    // fitted afresh at the next paint.
    void setImageFile(const wchar_t* fileName);
    // Reads the shown document again from `fileName` (a host that asks for a
    // drawing re-reads its file): when the image has the size of the one
    // shown, the scale, the zoom limits and the scroll positions stay;
    // otherwise it is a new document, fitted afresh.
    void reloadImageFile(const wchar_t* fileName);
    // A toolbar command (CommandIds.h); ignored while no image is set.
    void onCommand(int commandId);
    // Draws the visible part fitted into `rect` of `dc`; without a device
    // context prints it through the print dialog.
    void drawVisible(HDC dc, const RECT& rect);

    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

    // What a call that may run a message loop (a message box, a dialog, a
    // call to the browser) must find unchanged when it returns before it
    // touches the view again: the same window, the same document and a host
    // that has not been told to go. The page can remove the viewer or give
    // it a new document from inside such a loop.
    struct CallOutMark {
        HWND window;
        uint32_t document;
    };
    CallOutMark markCallOut() const { return {window_, documentGeneration_}; }
    bool unchangedSince(const CallOutMark& mark) const;
    // Counts the documents set so far (each setImageFile is a new one).
    uint32_t documentGeneration() const { return documentGeneration_; }

    // The tooltip: one tool whose text and rectangle are those of one
    // hotspot at a time. showTip makes `hotspot`'s text the tip of the
    // client rectangle `rect` (the tip appears when the pointer has rested
    // there for the delay; a tip of another hotspot that is showing goes at
    // once); a hotspot without tip text hides it. hideTip hides the tip and
    // empties the tool. Hover keeps it on the current hotspot.
    void showTip(const ViewHotspot& hotspot, const RECT& rect);
    void hideTip();
    const ViewHotspot* tipHotspot() const { return tipHotspot_; }
    // The client rectangle of a hotspot at the current zoom and scroll
    // positions (edges included, so right and bottom are one past them),
    // limited to the client area.
    RECT hotspotClientRect(const ViewHotspot& hotspot) const;

    // Keyboard (TiffViewKeys.cpp).
    // The hotspot with the keyboard focus, an index into hotspots(); -1: none.
    int32_t keyFocus() const { return keyFocus_; }
    // Moves the keyboard focus to hotspot `index` (-1 clears it): outlines
    // it, scrolls it into view, shows its tip and tells screen readers.
    void setKeyFocus(int32_t index);
    // Whether the view uses this keyboard message (key down or character);
    // a container hands the others back to its page.
    bool usesKeyMessage(const MSG& message) const;
    // Follows hotspot `index` as a click does. False when the view changed
    // meanwhile (the page may remove it or give it another document during
    // the call): nothing of the view may be touched then.
    bool followHotspotAt(int32_t index);
    // A hotspot's rectangle in client coordinates at the current zoom and
    // scroll positions, wherever it lies (also outside the client area).
    RECT hotspotLocation(const ViewHotspot& hotspot) const;
    // The URL a click on hotspot `index` would request (empty: none).
    std::string hotspotUrl(int32_t index) const;
    // The document's name as the page gave it (for screen readers).
    void setDocumentName(const std::wstring& name) { documentName_ = name; }
    const std::wstring& documentName() const { return documentName_; }

    // The page (TiffViewPage.cpp): what a host's page API reads and asks of
    // the view. Events go to `events` (null: none): hotspot enter and leave
    // as the outline moves, the document's load or error and view changes
    // posted to the view's window, so that they come from a message loop of
    // their own, never from inside a paint or a host's call.
    void setPageEvents(PageEvents* events) { pageEvents_ = events; }
    PageEvents* pageEvents() const { return pageEvents_; }
    // Hotspot `index` of hotspots() as the page sees it.
    PageHotspot pageHotspot(size_t index) const;
    // The visible part in image pixels (zero without a fitted image).
    PageView pageView() const;
    // Zooms out until hotspot `index` takes at most 80 % of the view each
    // way, then in while the next step still does, within the zoom limits,
    // and centres it. False without an image or such a hotspot.
    bool zoomToHotspot(size_t index);
    // Outlines the hotspots at `indices` of hotspots() as the pointer
    // outlines one (empty: none), until another document.
    void setHighlight(std::vector<int32_t> indices);
    const std::vector<int32_t>& highlighted() const { return highlighted_; }

    // Geometry (TiffViewGeometry.cpp): the model's state on the window.
    void updateScrollBars();
    void updateTipRects();
    // The first hotspot in list order whose pixel rectangle holds the
    // document point, or null.
    const ViewHotspot* hotspotAt(POINT document) const;
    POINT documentPoint(POINT client) const;
    // The image's rectangle in a client rectangle at scroll positions 0.
    RECT centreImageRect(const RECT& client) const;

    // Read access for the container, the hosts and the tests.
    const ViewState& viewState() const { return model_; }
    int32_t mode() const { return mode_; }
    double scale() const { return model_.scale(); }
    double minScale() const { return model_.minScale(); }
    double maxScale() const { return model_.maxScale(); }
    int32_t scaledWidth() const { return model_.scaledWidth(); }
    int32_t scaledHeight() const { return model_.scaledHeight(); }
    int32_t imageWidth() const { return model_.imageWidth(); }
    int32_t imageHeight() const { return model_.imageHeight(); }
    DibHandle image() const { return image_; }
    HPALETTE palette() const { return palette_; }
    HWND tooltipWindow() const { return tooltip_; }
    const std::vector<std::unique_ptr<ViewHotspot>>& hotspots() const { return model_.hotspots(); }
    const ViewHotspot* currentHotspot() const { return currentHotspot_; }
    bool lensActive() const { return lensActive_; }
    bool panning() const { return panning_; }
    // A text drawn in the view instead of an image that cannot be shown
    // (empty when there is none).
    const std::wstring& notice() const { return notice_; }
    int32_t displayBitsPerPixel() const { return displayBitsPerPixel_; }
    // The screen depth decides the palette reduction; tests set 8 to take
    // the palette-screen path on a true-colour screen.
    void setDisplayBitsPerPixel(int32_t bits) { displayBitsPerPixel_ = bits; }

private:
    // Messages.
    LRESULT handleViewMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    void onPaint();
    void onSize();
    void onScroll(int bar, WPARAM wParam);
    void onMouseMove(WPARAM keys);
    void onButtonDown();
    void onButtonUp();
    void onDoubleClick();
    void onCaptureLost();
    void relayToTooltip();
    // Asks the navigation callback to follow the hotspot; false when the
    // view changed meanwhile (nothing of it may be touched then).
    bool followHotspot(const ViewHotspot& hotspot);
    void panStep();
    void redrawNow();

    // Page events (TiffViewPage.cpp).
    // Reports a move of the outline to the page: leave, then enter.
    void reportOutline();
    // Posts a report of the document just set (load or error).
    void queueDocumentReport();
    // Posts a view-change report when the view differs from the last one
    // reported and none is queued.
    void queueViewReport();
    void onPageReport(WPARAM kind, LPARAM generation);

    // Keyboard, focus and wheel (TiffViewKeys.cpp, TiffViewWheel.cpp).
    bool takeFocus();
    void onFocusChange(bool gained);
    bool onKeyDown(WPARAM key, LPARAM flags);
    bool onCharacter(WPARAM character);
    LRESULT dialogCode(LPARAM message) const;
    ViewInputState inputState() const;
    void runAction(ViewAction action);
    void clearKeyFocus();
    void pointerInput();
    const ViewHotspot* outlinedHotspot() const;
    void showKeyTip();
    void hideKeyTip();
    bool onWheel(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onGetObject(WPARAM wParam, LPARAM lParam, bool& handled);
    void releaseAccessible();

    // The model's geometry onto the window (TiffViewGeometry.cpp).
    // The view's area inside its border with the bars it shows, given to the
    // model when it changed (a new window size).
    void syncViewport();
    // Scroll bars to the model's: ranges, pages, positions, shown or not.
    void applyScrollBars();
    // After the model's positions moved from (hp, vp): the bars, a repaint
    // of the whole view and the tooltip rectangles. False when nothing moved.
    bool showScrolled(int32_t hp, int32_t vp);
    // A geometry command of the model (zoom, fits, 1:1) shown: zoom steps
    // with redrawing suspended while the bars change.
    void runGeometryCommand(int commandId);
    void toggleMode(Mode mode);
    void pointerMode();

    // Painting helpers.
    bool drawImage(HDC target, const RECT& imageRect, int hpos, int vpos);
    void drawFrame(HDC target, int hpos, int vpos);
    void drawNotice(HDC dc, const RECT& client);
    void ensureOffscreen(HDC paintDc, int width, int height);
    void releaseOffscreen();
    void releaseImage();
    // Reads the document into the released view; false when the page
    // changed the view while a box of the reader was open (nothing kept).
    bool loadDocument(const wchar_t* fileName);
    void makeViewHotspots();
    // The bars and a repaint of a document just set (or of none).
    void showNewDocument();
    // The first fit of a new document once the window has room.
    void ensureFitted();
    void addTipTool();
    int scrollPos(int bar) const;

    int32_t offscreenWidth_ = 0;
    int32_t offscreenHeight_ = 0;
    DibHandle image_ = nullptr;
    HPALETTE palette_ = nullptr;
    // The zoom and scroll model: scale and limits, scaled size, scroll bars,
    // the hotspots with their rectangles and index.
    ViewState model_;
    MagnifierLens lens_;
    bool lensActive_ = false;
    bool panning_ = false;
    POINT panOrigin_ = {};
    HDC offscreenDc_ = nullptr;
    HBITMAP offscreenBitmap_ = nullptr;
    HGDIOBJ offscreenPrevious_ = nullptr;
    bool useOffscreen_ = false;
    Outline outline_;
    int32_t mode_ = PointerMode;
    // The cursor set: the system's arrow and the module's four (shared
    // resources, never destroyed).
    struct Cursors {
        HCURSOR arrow, magnifier, openHand, pointingHand, globeHand;
    } cursors_ = {};
    HPEN framePen_ = nullptr;
    std::unique_ptr<HotspotList> hotspotList_;
    bool frameOnly_ = false;
    const ViewHotspot* currentHotspot_ = nullptr;
    HWND tooltip_ = nullptr;
    HFONT tipFont_ = nullptr;
    const ViewHotspot* tipHotspot_ = nullptr;   // whose text the tool carries
    RECT tipRect_ = {};                         // the tool's rectangle
    std::wstring notice_;
    NavigationCallback* navigation_ = nullptr;
    int32_t displayBitsPerPixel_ = 24;
    bool layoutBusy_ = false;

    // Draws the image at the current scale from a cache of scaled tiles, so
    // that a paint costs what the window costs, not what the image costs.
    ImageRenderer renderer_;
    int cursorHidden_ = 0;   // ShowCursor(FALSE) calls not yet undone
    uint32_t documentGeneration_ = 0;

    // Keyboard focus: the hotspot it is on, whether the last input was the
    // keyboard's (its outline then shows instead of the pointer's) and the
    // pointer position then (a move away from it is pointer input).
    int32_t keyFocus_ = -1;
    bool keyOutline_ = false;
    bool hasFocus_ = false;
    POINT keyCursor_ = {};
    std::wstring documentName_;
    ViewAccessible* accessible_ = nullptr;   // made at a screen reader's first request

    // The page: its events, the hotspot whose outline it was told of last,
    // the view it was told of last (and whether a report is queued), and
    // the hotspots it outlines.
    PageEvents* pageEvents_ = nullptr;
    const ViewHotspot* reportedOutline_ = nullptr;
    PageView reportedView_;
    bool viewReportQueued_ = false;
    std::vector<int32_t> highlighted_;
};
