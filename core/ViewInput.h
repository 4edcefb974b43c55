#pragma once
// The viewer's keyboard, wheel and screen-reader logic as plain functions:
// which key does what and whether the viewer uses it at all (the keys it
// does not use go back to the page), the Tab order over the hotspots, the
// scroll positions that keys, the wheel and a zoom about the pointer ask for,
// and the neighbour of a hotspot in a direction. No platform headers, so it
// is tested without a window and can serve other builds of the viewer.
#include <cstdint>
#include <string>
#include <vector>

// A scroll line of the viewer in view pixels: an arrow key, a scroll bar
// arrow and one line of the wheel move this far.
constexpr int32_t kScrollLine = 5;
// The wheel's delta for one notch.
constexpr int32_t kWheelNotch = 120;

// The keys the viewer knows, apart from the platform's key codes.
enum class ViewKey { Other, Tab, Enter, Space, Escape, Left, Right, Up, Down, PageUp, PageDown, Home, End, LetterP };

struct KeyModifiers {
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
};

enum class ViewAction {
    None,              // not used: the key goes back to the page or container
    Consume,           // used, does nothing (a held key repeating an action that must happen once)
    NextHotspot,
    PreviousHotspot,
    FollowHotspot,
    ClearFocus,        // clears the keyboard focus and ends a drag
    LineLeft,
    LineRight,
    LineUp,
    LineDown,
    PageLeft,
    PageRight,
    PageUp,
    PageDown,
    TopLeft,
    BottomRight,
    ZoomIn,
    ZoomOut,
    FitWindow,
    ActualSize,
    Print,
};

// What decides whether a key does something.
struct ViewInputState {
    bool hasImage = false;
    int32_t hotspotCount = 0;
    bool hasKeyFocus = false;        // a hotspot has the keyboard focus
    bool dragging = false;           // a magnifier or pan drag is in progress
    bool scrollsHorizontally = false;   // the image is wider than the view
    bool scrollsVertically = false;     // the image is taller than the view
};

// The action of a key press (`repeat`: the key is held and this is an
// automatic repetition). During a drag only Escape is used.
ViewAction actionForKey(ViewKey key, KeyModifiers modifiers, bool repeat, const ViewInputState& state);
// The action of a typed character ('+', '-', '0', '1'), whatever key and
// keyboard layout made it. Characters typed with Ctrl or Alt are not used.
ViewAction actionForCharacter(char32_t character, KeyModifiers modifiers, const ViewInputState& state);

// The hotspot that Tab (forward) or Shift+Tab moves the keyboard focus to,
// in list order with wrap-around; -1 when there are none. `current` -1 means
// no focus: forward gives the first, backward the last.
int32_t nextKeyFocus(int32_t current, int32_t count, bool backward);

// One axis of the view's scrolling: position, the largest position (the
// scaled image minus the client size, at least 0) and the page (client size).
struct ScrollAxis {
    int32_t position = 0;
    int32_t maximum = 0;
    int32_t page = 0;
};
// `position` clamped to 0..maximum.
int32_t clampScroll(const ScrollAxis& axis, int64_t position);

// The scroll positions after a scrolling action (lines, pages, corners);
// other actions leave them.
void scrollForAction(ViewAction action, ScrollAxis& horizontal, ScrollAxis& vertical);

// The position that shows the span [start, end) of document space in a
// client of `axis.page`: unchanged when it is already whole in view, else the
// least movement that brings it in (its start when it is larger than the
// view); clamped.
int32_t scrollToShow(const ScrollAxis& axis, int32_t start, int32_t end);

// Adds wheel deltas up and gives whole amounts: each notch (120) is worth
// `perNotch` units (pixels, or zoom steps), and deltas below a notch, as
// high-resolution wheels send them, add up until they make a whole unit.
// The amount has the sign of the deltas; turning the wheel the other way
// drops what was left over from the old direction.
class WheelAccumulator {
public:
    int32_t add(int32_t delta, int32_t perNotch);
    void reset() { remainder_ = 0; }
    int32_t remainder() const { return remainder_; }

private:
    int64_t remainder_ = 0;   // in delta units times perNotch
};

// Pixels one wheel notch scrolls: `lines` lines of kScrollLine, or a page
// when `lines` asks for whole pages (the platform's "one screen at a time",
// given as a negative number here) or is larger than a page.
int32_t wheelPixelsPerNotch(int32_t lines, int32_t page);

// The scroll position after a zoom that keeps the image point under the
// pointer in place along one axis. `pointer` is the pointer in client
// coordinates, `offset` the image's start in document space (its centring
// margin when it is smaller than the view), `maximum` the new largest
// position. Clamped to 0..maximum.
int32_t scrollAfterZoom(int32_t pointer, int32_t oldPosition, int32_t oldOffset, double oldScale, double newScale,
                        int32_t newOffset, int32_t newMaximum);

// A rectangle of document or screen space, right and bottom exclusive.
struct SpanRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};
enum class Direction { Left, Right, Up, Down };
// The index of the rectangle nearest to `rects[from]` whose centre lies in
// the direction (the one that is most nearly in line wins among those at
// about the same distance); -1 when there is none.
int32_t neighbourInDirection(const std::vector<SpanRect>& rects, int32_t from, Direction direction);

// The document's name as a page gave its address: the last part of a URL's
// path (without query and fragment, %-escapes of printable ASCII decoded) or
// of a file path. Empty when the address ends in a separator or is empty.
std::u16string documentNameFromAddress(const std::u16string& address);
