// Plain keyboard, wheel and navigation logic of the viewer; no platform
// calls, so it is tested without a window.
#include "ViewInput.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

ViewAction scrollAction(bool possible, ViewAction action)
{
    return possible ? action : ViewAction::None;
}

} // namespace

ViewAction actionForKey(ViewKey key, KeyModifiers modifiers, bool repeat, const ViewInputState& state)
{
    if (modifiers.alt)
        return ViewAction::None;   // menus and the browser's own shortcuts
    if (state.dragging)
        return key == ViewKey::Escape && !modifiers.ctrl ? ViewAction::ClearFocus : ViewAction::None;

    switch (key) {
    case ViewKey::Tab:
        // Ctrl+Tab belongs to the browser (its tabs); without hotspots the
        // page moves the focus on.
        if (modifiers.ctrl || state.hotspotCount <= 0)
            return ViewAction::None;
        return modifiers.shift ? ViewAction::PreviousHotspot : ViewAction::NextHotspot;
    case ViewKey::Enter:
    case ViewKey::Space:
        if (modifiers.ctrl || !state.hasKeyFocus)
            return ViewAction::None;
        // A held key follows the hotspot once.
        return repeat ? ViewAction::Consume : ViewAction::FollowHotspot;
    case ViewKey::Escape:
        return state.hasKeyFocus && !modifiers.ctrl ? ViewAction::ClearFocus : ViewAction::None;
    case ViewKey::LetterP:
        if (!modifiers.ctrl || modifiers.shift || !state.hasImage)
            return ViewAction::None;   // without a document the page prints itself
        return repeat ? ViewAction::Consume : ViewAction::Print;
    default:
        break;
    }

    // Scrolling keys: used only where the image can scroll.
    if (!state.hasImage)
        return ViewAction::None;
    const bool across = state.scrollsHorizontally, down = state.scrollsVertically;
    switch (key) {
    case ViewKey::Left: return modifiers.ctrl ? ViewAction::None : scrollAction(across, ViewAction::LineLeft);
    case ViewKey::Right: return modifiers.ctrl ? ViewAction::None : scrollAction(across, ViewAction::LineRight);
    case ViewKey::Up: return modifiers.ctrl ? ViewAction::None : scrollAction(down, ViewAction::LineUp);
    case ViewKey::Down: return modifiers.ctrl ? ViewAction::None : scrollAction(down, ViewAction::LineDown);
    case ViewKey::PageUp:
    case ViewKey::PageDown: {
        if (modifiers.ctrl)
            return ViewAction::None;   // Ctrl+Page Up/Down switch the browser's tabs
        const bool up = key == ViewKey::PageUp;
        if (modifiers.shift)
            return scrollAction(across, up ? ViewAction::PageLeft : ViewAction::PageRight);
        return scrollAction(down, up ? ViewAction::PageUp : ViewAction::PageDown);
    }
    case ViewKey::Home: return scrollAction(across || down, ViewAction::TopLeft);
    case ViewKey::End: return scrollAction(across || down, ViewAction::BottomRight);
    default: return ViewAction::None;
    }
}

ViewAction actionForCharacter(char32_t character, KeyModifiers modifiers, const ViewInputState& state)
{
    if (modifiers.ctrl || modifiers.alt || !state.hasImage || state.dragging)
        return ViewAction::None;
    switch (character) {
    case U'+': return ViewAction::ZoomIn;
    case U'-': return ViewAction::ZoomOut;
    case U'0': return ViewAction::FitWindow;
    case U'1': return ViewAction::ActualSize;
    default: return ViewAction::None;
    }
}

int32_t nextKeyFocus(int32_t current, int32_t count, bool backward)
{
    if (count <= 0)
        return -1;
    if (current < 0 || current >= count)
        return backward ? count - 1 : 0;
    return backward ? (current + count - 1) % count : (current + 1) % count;
}

int32_t clampScroll(const ScrollAxis& axis, int64_t position)
{
    const int64_t maximum = std::max<int32_t>(0, axis.maximum);
    return int32_t(std::max<int64_t>(0, std::min(maximum, position)));
}

void scrollForAction(ViewAction action, ScrollAxis& horizontal, ScrollAxis& vertical)
{
    auto move = [](ScrollAxis& axis, int64_t by) { axis.position = clampScroll(axis, int64_t(axis.position) + by); };
    switch (action) {
    case ViewAction::LineLeft: move(horizontal, -kScrollLine); break;
    case ViewAction::LineRight: move(horizontal, kScrollLine); break;
    case ViewAction::LineUp: move(vertical, -kScrollLine); break;
    case ViewAction::LineDown: move(vertical, kScrollLine); break;
    case ViewAction::PageLeft: move(horizontal, -int64_t(horizontal.page)); break;
    case ViewAction::PageRight: move(horizontal, horizontal.page); break;
    case ViewAction::PageUp: move(vertical, -int64_t(vertical.page)); break;
    case ViewAction::PageDown: move(vertical, vertical.page); break;
    case ViewAction::TopLeft:
        horizontal.position = clampScroll(horizontal, 0);
        vertical.position = clampScroll(vertical, 0);
        break;
    case ViewAction::BottomRight:
        horizontal.position = clampScroll(horizontal, horizontal.maximum);
        vertical.position = clampScroll(vertical, vertical.maximum);
        break;
    default: break;
    }
}

int32_t scrollToShow(const ScrollAxis& axis, int32_t start, int32_t end)
{
    int64_t target = axis.position;
    if (int64_t(end) - start >= axis.page || start < axis.position)
        target = start;
    else if (int64_t(end) > int64_t(axis.position) + axis.page)
        target = int64_t(end) - axis.page;
    return clampScroll(axis, target);
}

int32_t WheelAccumulator::add(int32_t delta, int32_t perNotch)
{
    const int64_t worth = int64_t(delta) * perNotch;
    if ((worth < 0 && remainder_ > 0) || (worth > 0 && remainder_ < 0))
        remainder_ = 0;   // the wheel turned the other way
    const int64_t total = remainder_ + worth;
    const int64_t amount = total / kWheelNotch;   // toward zero: the rest keeps the sign
    remainder_ = total - amount * kWheelNotch;
    return int32_t(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, amount)));
}

int32_t wheelPixelsPerNotch(int32_t lines, int32_t page)
{
    const int32_t wholePage = std::max(1, page);
    if (lines < 0)
        return wholePage;
    return int32_t(std::min<int64_t>(int64_t(lines) * kScrollLine, wholePage));
}

int32_t scrollAfterZoom(int32_t pointer, int32_t oldPosition, int32_t oldOffset, double oldScale, double newScale,
                        int32_t newOffset, int32_t newMaximum)
{
    ScrollAxis axis;
    axis.maximum = newMaximum;
    if (!(oldScale > 0) || !(newScale > 0))
        return clampScroll(axis, oldPosition);
    // The image point under the pointer, in image pixels.
    const double imagePoint = (double(pointer) + oldPosition - oldOffset) / oldScale;
    const double position = std::floor(imagePoint * newScale + newOffset - pointer + 0.5);
    if (!(position == position))
        return clampScroll(axis, oldPosition);
    const double limited = std::max(-1.0e15, std::min(1.0e15, position));
    return clampScroll(axis, int64_t(limited));
}

int32_t neighbourInDirection(const std::vector<SpanRect>& rects, int32_t from, Direction direction)
{
    if (from < 0 || size_t(from) >= rects.size())
        return -1;
    // Centres doubled, so they stay whole numbers.
    auto centreX = [](const SpanRect& r) { return int64_t(r.left) + r.right; };
    auto centreY = [](const SpanRect& r) { return int64_t(r.top) + r.bottom; };
    const int64_t x0 = centreX(rects[size_t(from)]), y0 = centreY(rects[size_t(from)]);
    int32_t best = -1;
    int64_t bestScore = 0;
    for (size_t i = 0; i < rects.size(); ++i) {
        if (int32_t(i) == from)
            continue;
        const int64_t dx = centreX(rects[i]) - x0, dy = centreY(rects[i]) - y0;
        int64_t along = 0, aside = 0;
        switch (direction) {
        case Direction::Left: along = -dx, aside = dy; break;
        case Direction::Right: along = dx, aside = dy; break;
        case Direction::Up: along = -dy, aside = dx; break;
        case Direction::Down: along = dy, aside = dx; break;
        }
        if (along <= 0)
            continue;
        // Off-line distance counts double, so a hotspot in line wins over a
        // slightly nearer one off to the side.
        const int64_t score = along + 2 * (aside < 0 ? -aside : aside);
        if (best < 0 || score < bestScore) {
            best = int32_t(i);
            bestScore = score;
        }
    }
    return best;
}

namespace {

bool isSchemeCharacter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'+' ||
           c == u'-' || c == u'.';
}

// "scheme:" of two or more characters (one letter is a drive: "C:\").
bool looksLikeUrl(const std::u16string& text)
{
    const size_t colon = text.find(u':');
    if (colon == std::u16string::npos || colon < 2)
        return false;
    if (!((text[0] >= u'a' && text[0] <= u'z') || (text[0] >= u'A' && text[0] <= u'Z')))
        return false;
    for (size_t i = 1; i < colon; ++i)
        if (!isSchemeCharacter(text[i]))
            return false;
    return true;
}

int hexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

std::u16string documentNameFromAddress(const std::u16string& address)
{
    const bool url = looksLikeUrl(address);
    std::u16string path = address;
    if (url)
        path = path.substr(0, path.find_first_of(u"?#"));
    const size_t separator = path.find_last_of(u"/\\");
    std::u16string name = separator == std::u16string::npos ? path : path.substr(separator + 1);
    if (url && separator == std::u16string::npos)
        return {};   // "mailto:x" and the like name no file
    if (!url)
        return name;
    std::u16string decoded;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == u'%' && i + 2 < name.size() && hexValue(name[i + 1]) >= 0 && hexValue(name[i + 2]) >= 0) {
            const int byte = hexValue(name[i + 1]) * 16 + hexValue(name[i + 2]);
            if (byte >= 0x20 && byte < 0x7F) {
                decoded += char16_t(byte);
                i += 2;
                continue;
            }
        }
        decoded += name[i];
    }
    return decoded;
}
