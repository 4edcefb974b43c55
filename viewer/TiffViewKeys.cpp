// TiffView: the keyboard focus, which moves through the hotspots with Tab,
// and the keys that scroll, zoom, print and follow hotspots.
#include "TiffView.h"

#include "CommandIds.h"
#include "NavigationCallback.h"
#include "ViewAccessible.h"

#include <commctrl.h>

#include <algorithm>
#include <new>

namespace {

// The tooltip tool that shows the focused hotspot's text beside it, placed by
// the view (a tracking tool); the pointer's tips are the control's others.
constexpr UINT_PTR kKeyTipToolId = 0x4B4559;

TOOLINFOA keyTipTool(HWND view)
{
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;   // up to and including lParam: 44 bytes on 32-bit, 64 on 64-bit Windows
    tool.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    tool.hwnd = view;
    tool.uId = kKeyTipToolId;
    return tool;
}

ViewKey viewKey(WPARAM key)
{
    switch (key) {
    case VK_TAB: return ViewKey::Tab;
    case VK_RETURN: return ViewKey::Enter;
    case VK_SPACE: return ViewKey::Space;
    case VK_ESCAPE: return ViewKey::Escape;
    case VK_LEFT: return ViewKey::Left;
    case VK_RIGHT: return ViewKey::Right;
    case VK_UP: return ViewKey::Up;
    case VK_DOWN: return ViewKey::Down;
    case VK_PRIOR: return ViewKey::PageUp;
    case VK_NEXT: return ViewKey::PageDown;
    case VK_HOME: return ViewKey::Home;
    case VK_END: return ViewKey::End;
    case 'P': return ViewKey::LetterP;
    default: return ViewKey::Other;
    }
}

// The modifier keys as the message being handled found them.
KeyModifiers modifiersNow()
{
    KeyModifiers m;
    m.shift = GetKeyState(VK_SHIFT) < 0;
    m.ctrl = GetKeyState(VK_CONTROL) < 0;
    m.alt = GetKeyState(VK_MENU) < 0;
    return m;
}

// Bit 30 of a key message: the key was already down (an automatic repeat).
bool isRepeat(LPARAM flags)
{
    return (DWORD(flags) & 0x40000000u) != 0;
}

} // namespace

ViewInputState TiffView::inputState() const
{
    ViewInputState s;
    const int32_t count = int32_t(model_.hotspotCount());
    s.hasImage = image_ != nullptr && model_.fitted();
    s.hotspotCount = s.hasImage ? count : 0;
    s.hasKeyFocus = s.hasImage && keyFocus_ >= 0 && keyFocus_ < count;
    s.dragging = lensActive_ || panning_;
    if (window_ && s.hasImage) {
        const RectI client = model_.client();
        s.scrollsHorizontally = model_.scaledWidth() > client.width();
        s.scrollsVertically = model_.scaledHeight() > client.height();
    }
    return s;
}

bool TiffView::usesKeyMessage(const MSG& message) const
{
    switch (message.message) {
    case WM_KEYDOWN:
        return actionForKey(viewKey(message.wParam), modifiersNow(), isRepeat(message.lParam), inputState()) !=
               ViewAction::None;
    case WM_CHAR:
        return actionForCharacter(char32_t(message.wParam), modifiersNow(), inputState()) != ViewAction::None;
    default:
        return false;
    }
}

LRESULT TiffView::dialogCode(LPARAM message) const
{
    // A dialog-like host leaves the keys the viewer uses to it.
    const ViewInputState state = inputState();
    LRESULT code = state.hasImage ? DLGC_WANTCHARS : 0;
    if (state.hotspotCount > 0)
        code |= DLGC_WANTTAB;
    if (state.scrollsHorizontally || state.scrollsVertically)
        code |= DLGC_WANTARROWS;
    if (const MSG* m = reinterpret_cast<const MSG*>(message); m && usesKeyMessage(*m))
        code |= DLGC_WANTMESSAGE;
    return code;
}

bool TiffView::takeFocus()
{
    if (!window_)
        return false;
    if (GetFocus() == window_)
        return true;
    // Taking the focus tells the host, which may call out to its container.
    const CallOutMark mark = markCallOut();
    SetFocus(window_);
    return unchangedSince(mark);
}

void TiffView::onFocusChange(bool gained)
{
    hasFocus_ = gained;
    const HWND window = window_;
    if (gained) {
        // As standard controls do: the parent learns that the view took the
        // focus (a control then becomes UI-active, which calls its site).
        const CallOutMark mark = markCallOut();
        if (HWND parent = GetParent(window))
            SendMessageA(parent, WM_COMMAND, MAKEWPARAM(0, kViewSetFocusNotification),
                         reinterpret_cast<LPARAM>(window));
        if (!unchangedSince(mark))
            return;
    }
    if (keyFocus_ < 0 || !keyOutline_)
        return;
    // The keyboard outline and tip show only while the view has the focus.
    redrawNow();
    showKeyTip();
    if (gained)
        NotifyWinEvent(EVENT_OBJECT_FOCUS, window, OBJID_CLIENT, LONG(keyFocus_ + 1));
}

bool TiffView::onKeyDown(WPARAM key, LPARAM flags)
{
    const ViewAction action = actionForKey(viewKey(key), modifiersNow(), isRepeat(flags), inputState());
    if (action == ViewAction::None)
        return false;
    runAction(action);
    return true;
}

bool TiffView::onCharacter(WPARAM character)
{
    const ViewAction action = actionForCharacter(char32_t(character), modifiersNow(), inputState());
    if (action == ViewAction::None)
        return false;
    runAction(action);
    return true;
}

void TiffView::runAction(ViewAction action)
{
    switch (action) {
    case ViewAction::NextHotspot:
    case ViewAction::PreviousHotspot:
        setKeyFocus(nextKeyFocus(keyFocus_, int32_t(model_.hotspotCount()), action == ViewAction::PreviousHotspot));
        break;
    case ViewAction::FollowHotspot:
        followHotspotAt(keyFocus_);   // the view may be gone afterwards
        break;
    case ViewAction::ClearFocus:
        // Releasing the capture ends a lens or pan drag as a lost capture does.
        if (lensActive_ || panning_)
            ReleaseCapture();
        clearKeyFocus();
        break;
    case ViewAction::ZoomIn:
    case ViewAction::ZoomOut:
    case ViewAction::FitWindow:
    case ViewAction::ActualSize:
        // As the toolbar's buttons (which hide every tip); the focused
        // hotspot's tip comes back at its new place.
        onCommand(action == ViewAction::ZoomIn    ? ID_ZOOM_IN
                  : action == ViewAction::ZoomOut ? ID_ZOOM_OUT
                  : action == ViewAction::FitWindow ? ID_FIT_WINDOW
                                                    : ID_ACTUAL_SIZE);
        showKeyTip();
        break;
    case ViewAction::Print:
        onCommand(ID_PRINT);   // the print dialog: the view may be gone afterwards
        break;
    case ViewAction::None:
    case ViewAction::Consume:
        break;
    default: {
        const int32_t hp = model_.horizontalBar().position, vp = model_.verticalBar().position;
        model_.scrollFor(action);
        if (showScrolled(hp, vp))
            showKeyTip();
        break;
    }
    }
}

void TiffView::setKeyFocus(int32_t index)
{
    if (!window_ || !image_ || index < 0 || index >= int32_t(model_.hotspotCount())) {
        clearKeyFocus();
        return;
    }
    keyFocus_ = index;
    keyOutline_ = true;
    GetCursorPos(&keyCursor_);
    const int32_t hp = model_.horizontalBar().position, vp = model_.verticalBar().position;
    if (model_.scrollToHotspot(size_t(index))) {
        if (model_.horizontalBar().position != hp)
            SetScrollPos(window_, SB_HORZ, model_.horizontalBar().position, TRUE);
        if (model_.verticalBar().position != vp)
            SetScrollPos(window_, SB_VERT, model_.verticalBar().position, TRUE);
    }
    redrawNow();
    updateTipRects();
    showKeyTip();
    // Screen readers follow the focus; the event goes last, as a reader's
    // hook may act on the view from inside it.
    if (GetFocus() == window_)
        NotifyWinEvent(EVENT_OBJECT_FOCUS, window_, OBJID_CLIENT, LONG(index + 1));
}

void TiffView::clearKeyFocus()
{
    const bool had = keyFocus_ >= 0;
    const bool shown = had && keyOutline_;
    keyFocus_ = -1;
    keyOutline_ = false;
    if (!window_)
        return;
    hideKeyTip();
    if (shown)
        redrawNow();
    if (had && GetFocus() == window_)
        NotifyWinEvent(EVENT_OBJECT_FOCUS, window_, OBJID_CLIENT, CHILDID_SELF);
}

void TiffView::pointerInput()
{
    if (!keyOutline_)
        return;
    POINT p;
    GetCursorPos(&p);
    if (p.x == keyCursor_.x && p.y == keyCursor_.y)
        return;   // a move the system made up, not the user's
    // The pointer was moved: its outline and tip show from now on, not the
    // keyboard's.
    keyOutline_ = false;
    hideKeyTip();
    if (keyFocus_ >= 0)
        redrawNow();
}

void TiffView::showKeyTip()
{
    const auto& hotspots = model_.hotspots();
    if (!tooltip_ || !window_ || !keyOutline_ || !hasFocus_ || keyFocus_ < 0 ||
        keyFocus_ >= int32_t(hotspots.size()) || hotspots[size_t(keyFocus_)]->tipText.empty()) {
        hideKeyTip();
        return;
    }
    const ViewHotspot& h = *hotspots[size_t(keyFocus_)];
    TOOLINFOA tool = keyTipTool(window_);
    tool.lpszText = const_cast<char*>(h.tipText.c_str());
    TOOLINFOA existing = keyTipTool(window_);
    if (SendMessageA(tooltip_, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&existing))) {
        SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
    } else {
        SendMessageA(tooltip_, TTM_POP, 0, 0);   // a tip the pointer brought up goes
        SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
    // Just below the hotspot's left end, kept inside the view.
    RECT client = {};
    GetClientRect(window_, &client);
    const RECT r = hotspotLocation(h);
    POINT at = {std::max(client.left, std::min<LONG>(r.left, client.right - 1)),
                std::max(client.top, std::min<LONG>(r.bottom + 2, client.bottom - 1))};
    ClientToScreen(window_, &at);
    SendMessageA(tooltip_, TTM_TRACKPOSITION, 0, MAKELPARAM(at.x, at.y));
    SendMessageA(tooltip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
}

void TiffView::hideKeyTip()
{
    if (!tooltip_ || !window_ || !IsWindow(tooltip_))
        return;
    TOOLINFOA tool = keyTipTool(window_);
    if (!SendMessageA(tooltip_, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&tool)))
        return;
    tool = keyTipTool(window_);
    SendMessageA(tooltip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
    // The tool goes with its tip, so that the pointer's tools are the only ones
    // while the keyboard is not in use.
    SendMessageA(tooltip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

const ViewHotspot* TiffView::outlinedHotspot() const
{
    if (keyOutline_) {
        if (!hasFocus_ || keyFocus_ < 0 || keyFocus_ >= int32_t(model_.hotspotCount()))
            return nullptr;
        return model_.hotspots()[size_t(keyFocus_)].get();
    }
    return mode_ == PointerMode ? currentHotspot_ : nullptr;
}

bool TiffView::followHotspotAt(int32_t index)
{
    if (!window_ || index < 0 || index >= int32_t(model_.hotspotCount()))
        return true;
    // The same path as a click: the same URL, frame and rules.
    return followHotspot(*model_.hotspots()[size_t(index)]);
}

std::string TiffView::hotspotUrl(int32_t index) const
{
    if (!navigation_ || index < 0 || index >= int32_t(model_.hotspotCount()))
        return std::string();
    return navigation_->hotspotUrl(*model_.hotspots()[size_t(index)]);
}

LRESULT TiffView::onGetObject(WPARAM wParam, LPARAM lParam, bool& handled)
{
    // Only the client area is ours; the window's frame and scroll bars are
    // the system's. The id is a 32-bit value, whatever the width of lParam.
    if (DWORD(lParam) != DWORD(OBJID_CLIENT)) {
        handled = false;
        return 0;
    }
    if (!accessible_)
        accessible_ = new (std::nothrow) ViewAccessible(this);
    if (!accessible_) {
        handled = false;
        return 0;
    }
    const LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible*>(accessible_));
    if (result < 0) {
        // COM is not available on this thread: the system's own object serves.
        handled = false;
        return 0;
    }
    return result;
}

void TiffView::releaseAccessible()
{
    if (!accessible_)
        return;
    ViewAccessible* accessible = accessible_;
    accessible_ = nullptr;
    accessible->disconnect();
    // Readers in other processes let go of it now; one in this process keeps
    // its reference and gets CO_E_OBJNOTCONNECTED.
    CoDisconnectObject(static_cast<IAccessible*>(accessible), 0);
    accessible->Release();
}
