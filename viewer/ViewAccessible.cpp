#include "ViewAccessible.h"

#include "HostAnchor.h"
#include "HotspotRecord.h"
#include "TiffView.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

namespace {

LONG liveCount = 0;

constexpr wchar_t kDefaultName[] = L"Hotspot document";
constexpr wchar_t kDefaultAction[] = L"Jump";

HRESULT stringResult(const std::wstring& text, VARIANT* out)
{
    BSTR string = SysAllocStringLen(text.data(), UINT(text.size()));
    if (!string)
        return E_OUTOFMEMORY;
    V_VT(out) = VT_BSTR;
    V_BSTR(out) = string;
    return S_OK;
}

std::wstring fromAnsi(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], length);
    return wide;
}

void setI4(VARIANT* v, LONG value)
{
    V_VT(v) = VT_I4;
    V_I4(v) = value;
}

} // namespace

ViewAccessible::ViewAccessible(TiffView* view) : view_(view)
{
    InterlockedIncrement(&liveCount);
}

ViewAccessible::~ViewAccessible()
{
    InterlockedDecrement(&liveCount);
}

LONG ViewAccessible::liveObjects()
{
    return InterlockedCompareExchange(&liveCount, 0, 0);
}

HRESULT STDMETHODCALLTYPE ViewAccessible::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, __uuidof(IAccessible))) {
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ViewAccessible::AddRef()
{
    return ULONG(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE ViewAccessible::Release()
{
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0)
        delete this;
    return ULONG(count);
}

HRESULT STDMETHODCALLTYPE ViewAccessible::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}

// What the view and its links answer, one row a property: the answer for
// the view itself and the answer for a hotspot link. Each answer fills a
// VARIANT (VT_BSTR or VT_I4), or gives S_FALSE or an error. `checksChild`:
// the property is asked of a child, which must be the view or one of its links.
struct ViewAccessible::PropertyRow {
    Property property;
    bool checksChild;
    HRESULT (ViewAccessible::*self)(VARIANT* out) const;
    HRESULT (ViewAccessible::*link)(size_t index, VARIANT* out) const;
};

const ViewAccessible::PropertyRow ViewAccessible::kProperties[] = {
    {Property::Name, true, &ViewAccessible::documentName, &ViewAccessible::linkName},
    {Property::Value, true, &ViewAccessible::notFound, &ViewAccessible::linkUrl},
    {Property::Description, true, &ViewAccessible::documentDescription, &ViewAccessible::nothingOfLink},
    {Property::Role, true, &ViewAccessible::documentRole, &ViewAccessible::linkRole},
    {Property::State, true, &ViewAccessible::documentState, &ViewAccessible::linkState},
    {Property::DefaultAction, true, &ViewAccessible::nothing, &ViewAccessible::linkAction},
    {Property::Help, false, &ViewAccessible::nothing, &ViewAccessible::nothingOfLink},
    {Property::KeyboardShortcut, false, &ViewAccessible::nothing, &ViewAccessible::nothingOfLink},
};

LONG ViewAccessible::childOf(const VARIANT& child) const
{
    LONG id = 0;
    switch (V_VT(&child)) {
    case VT_EMPTY: id = CHILDID_SELF; break;
    case VT_I4: id = V_I4(&child); break;
    case VT_INT: id = V_INT(&child); break;
    case VT_I2: id = V_I2(&child); break;
    default: return -1;
    }
    return id >= 0 && id <= linkCount() ? id : -1;
}

LONG ViewAccessible::linkCount() const
{
    return view_->image() ? LONG(view_->hotspots().size()) : 0;
}

HRESULT ViewAccessible::checkChild(const VARIANT& child, LONG& id) const
{
    // The checks every request shares: a connected object, then a child
    // that names the view or one of its links.
    if (!view_)
        return CO_E_OBJNOTCONNECTED;
    id = childOf(child);
    return id < 0 ? E_INVALIDARG : S_OK;
}

HRESULT ViewAccessible::property(Property which, const VARIANT& child, VARIANT* out) const
{
    for (const PropertyRow& row : kProperties) {
        if (row.property != which)
            continue;
        if (!row.checksChild)
            return view_ ? (this->*row.self)(out) : CO_E_OBJNOTCONNECTED;
        LONG id = 0;
        if (const HRESULT checked = checkChild(child, id); checked != S_OK)
            return checked;
        return id == CHILDID_SELF ? (this->*row.self)(out) : (this->*row.link)(size_t(id - 1), out);
    }
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT ViewAccessible::textProperty(Property which, const VARIANT& child, BSTR* text) const
{
    if (!text)
        return E_POINTER;
    *text = nullptr;
    VARIANT answer;
    VariantInit(&answer);
    const HRESULT result = property(which, child, &answer);
    if (V_VT(&answer) == VT_BSTR)
        *text = V_BSTR(&answer);   // the caller owns it now
    else
        VariantClear(&answer);
    return result;
}

HRESULT ViewAccessible::variantProperty(Property which, const VARIANT& child, VARIANT* out) const
{
    if (!out)
        return E_POINTER;
    VariantInit(out);
    return property(which, child, out);
}

// The answers.

HRESULT ViewAccessible::nothing(VARIANT*) const
{
    return S_FALSE;
}

HRESULT ViewAccessible::nothingOfLink(size_t, VARIANT*) const
{
    return S_FALSE;
}

HRESULT ViewAccessible::notFound(VARIANT*) const
{
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT ViewAccessible::documentName(VARIANT* out) const
{
    const std::wstring& given = view_->documentName();
    return stringResult(given.empty() ? std::wstring(kDefaultName) : given, out);
}

HRESULT ViewAccessible::linkName(size_t index, VARIANT* out) const
{
    const ViewHotspot& h = *view_->hotspots()[index];
    const std::u16string& tip = h.hotspot->text;
    if (!tip.empty())
        return stringResult(std::wstring(tip.begin(), tip.end()), out);
    return stringResult(fromAnsi(h.hotspot->reference), out);
}

HRESULT ViewAccessible::linkUrl(size_t index, VARIANT* out) const
{
    // The link's URL as a click would request it; asking for it may ask the
    // browser for the page's location, so the host is held and the view is
    // not touched afterwards.
    std::string url;
    {
        HostHold hold(view_->hostAnchor());
        url = view_->hotspotUrl(int32_t(index));
    }
    return stringResult(fromAnsi(url), out);
}

HRESULT ViewAccessible::documentDescription(VARIANT* out) const
{
    if (!view_->image())
        return S_FALSE;
    const size_t links = view_->hotspots().size();
    wchar_t text[96];
    std::swprintf(text, sizeof text / sizeof text[0], L"%ld \u00D7 %ld pixels, %lu %ls", long(view_->imageWidth()),
                  long(view_->imageHeight()), static_cast<unsigned long>(links), links == 1 ? L"link" : L"links");
    return stringResult(text, out);
}

HRESULT ViewAccessible::documentRole(VARIANT* out) const
{
    setI4(out, ROLE_SYSTEM_GRAPHIC);
    return S_OK;
}

HRESULT ViewAccessible::linkRole(size_t, VARIANT* out) const
{
    setI4(out, ROLE_SYSTEM_LINK);
    return S_OK;
}

HRESULT ViewAccessible::documentState(VARIANT* out) const
{
    const HWND window = view_->hwnd();
    LONG bits = STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_READONLY;
    if (window && GetFocus() == window && view_->keyFocus() < 0)
        bits |= STATE_SYSTEM_FOCUSED;
    if (!window || !IsWindowVisible(window))
        bits |= STATE_SYSTEM_INVISIBLE;
    setI4(out, bits);
    return S_OK;
}

HRESULT ViewAccessible::linkState(size_t index, VARIANT* out) const
{
    const HWND window = view_->hwnd();
    LONG bits = STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_READONLY | STATE_SYSTEM_LINKED;
    if (window && GetFocus() == window && view_->keyFocus() == int32_t(index))
        bits |= STATE_SYSTEM_FOCUSED;
    RECT client = {}, shown = {};
    if (window)
        GetClientRect(window, &client);
    RECT r = view_->hotspotLocation(*view_->hotspots()[index]);
    // Edges belong to a hotspot: its right and bottom edge still show.
    r.right += 1;
    r.bottom += 1;
    if (!IntersectRect(&shown, &r, &client))
        bits |= STATE_SYSTEM_OFFSCREEN;
    setI4(out, bits);
    return S_OK;
}

HRESULT ViewAccessible::linkAction(size_t, VARIANT* out) const
{
    return stringResult(kDefaultAction, out);
}

RECT ViewAccessible::screenRect(LONG child) const
{
    RECT r = {};
    const HWND window = view_->hwnd();
    if (!window)
        return r;
    if (child == CHILDID_SELF)
        GetClientRect(window, &r);
    else
        r = view_->hotspotLocation(*view_->hotspots()[size_t(child - 1)]);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accParent(IDispatch** parent)
{
    if (!parent)
        return E_POINTER;
    *parent = nullptr;
    if (!view_)
        return CO_E_OBJNOTCONNECTED;
    // The window's own object (its frame and scroll bars) holds the client.
    const HWND window = view_->hwnd();
    if (!window)
        return S_FALSE;
    return AccessibleObjectFromWindow(window, DWORD(OBJID_WINDOW), IID_IDispatch, reinterpret_cast<void**>(parent));
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accChildCount(LONG* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    if (!view_)
        return CO_E_OBJNOTCONNECTED;
    *count = linkCount();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accChild(VARIANT child, IDispatch** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!view_)
        return CO_E_OBJNOTCONNECTED;
    // The hotspots are simple elements of this object, not objects of their own.
    return childOf(child) > 0 ? S_FALSE : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accName(VARIANT child, BSTR* name)
{
    return textProperty(Property::Name, child, name);
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accValue(VARIANT child, BSTR* value)
{
    return textProperty(Property::Value, child, value);
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accDescription(VARIANT child, BSTR* description)
{
    return textProperty(Property::Description, child, description);
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accRole(VARIANT child, VARIANT* role)
{
    return variantProperty(Property::Role, child, role);
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accState(VARIANT child, VARIANT* state)
{
    return variantProperty(Property::State, child, state);
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accHelp(VARIANT child, BSTR* help)
{
    return textProperty(Property::Help, child, help);
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accHelpTopic(BSTR* file, VARIANT, LONG* topic)
{
    if (file)
        *file = nullptr;
    if (topic)
        *topic = 0;
    return view_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accKeyboardShortcut(VARIANT child, BSTR* shortcut)
{
    return textProperty(Property::KeyboardShortcut, child, shortcut);
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accFocus(VARIANT* focus)
{
    if (!focus)
        return E_POINTER;
    VariantInit(focus);
    if (!view_)
        return CO_E_OBJNOTCONNECTED;
    const HWND window = view_->hwnd();
    if (!window || GetFocus() != window)
        return S_FALSE;
    const int32_t key = view_->keyFocus();
    setI4(focus, key >= 0 ? LONG(key + 1) : CHILDID_SELF);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accSelection(VARIANT* selection)
{
    if (!selection)
        return E_POINTER;
    VariantInit(selection);
    return view_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::get_accDefaultAction(VARIANT child, BSTR* action)
{
    return textProperty(Property::DefaultAction, child, action);
}

HRESULT STDMETHODCALLTYPE ViewAccessible::accSelect(LONG flags, VARIANT child)
{
    LONG id = 0;
    if (const HRESULT checked = checkChild(child, id); checked != S_OK)
        return checked;
    if (flags != SELFLAG_TAKEFOCUS)
        return DISP_E_MEMBERNOTFOUND;   // hotspots are focused, never selected
    const HWND window = view_->hwnd();
    if (!window)
        return S_FALSE;
    // Taking the focus tells the host, which may call out to its page: the
    // host is held meanwhile, and the view may have lost its window or
    // document afterwards.
    HostHold hold(view_->hostAnchor());
    const TiffView::CallOutMark mark = view_->markCallOut();
    SetFocus(window);
    if (!view_ || !view_->unchangedSince(mark))
        return S_OK;
    view_->setKeyFocus(id == CHILDID_SELF ? -1 : id - 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child)
{
    if (!left || !top || !width || !height)
        return E_POINTER;
    *left = *top = *width = *height = 0;
    LONG id = 0;
    if (const HRESULT checked = checkChild(child, id); checked != S_OK)
        return checked;
    const RECT r = screenRect(id);
    *left = r.left;
    *top = r.top;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::accNavigate(LONG direction, VARIANT start, VARIANT* end)
{
    if (!end)
        return E_POINTER;
    VariantInit(end);
    LONG id = 0;
    if (const HRESULT checked = checkChild(start, id); checked != S_OK)
        return checked;
    const LONG count = linkCount();
    LONG to = 0;
    if (id == CHILDID_SELF) {
        // From the view itself only into its children; its siblings are
        // the window's business.
        if (direction == NAVDIR_FIRSTCHILD && count > 0)
            to = 1;
        else if (direction == NAVDIR_LASTCHILD && count > 0)
            to = count;
        else if (direction < NAVDIR_MIN || direction > NAVDIR_MAX)
            return E_INVALIDARG;
    } else {
        switch (direction) {
        case NAVDIR_NEXT: to = id < count ? id + 1 : 0; break;
        case NAVDIR_PREVIOUS: to = id > 1 ? id - 1 : 0; break;
        case NAVDIR_LEFT:
        case NAVDIR_RIGHT:
        case NAVDIR_UP:
        case NAVDIR_DOWN: {
            std::vector<SpanRect> rects;
            for (LONG i = 1; i <= count; ++i) {
                const RECT r = screenRect(i);
                rects.push_back({r.left, r.top, r.right, r.bottom});
            }
            const Direction d = direction == NAVDIR_LEFT    ? Direction::Left
                                : direction == NAVDIR_RIGHT ? Direction::Right
                                : direction == NAVDIR_UP    ? Direction::Up
                                                            : Direction::Down;
            to = neighbourInDirection(rects, id - 1, d) + 1;
            break;
        }
        case NAVDIR_FIRSTCHILD:
        case NAVDIR_LASTCHILD: break;   // a link has no children
        default: return E_INVALIDARG;
        }
    }
    if (to <= 0)
        return S_FALSE;
    setI4(end, to);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::accHitTest(LONG x, LONG y, VARIANT* child)
{
    if (!child)
        return E_POINTER;
    VariantInit(child);
    if (!view_)
        return CO_E_OBJNOTCONNECTED;
    const HWND window = view_->hwnd();
    if (!window)
        return S_FALSE;
    POINT p = {x, y};
    ScreenToClient(window, &p);
    RECT client = {};
    GetClientRect(window, &client);
    if (!PtInRect(&client, p))
        return S_FALSE;
    // The hotspot a click there would follow: the first in list order
    // (edges belong to a hotspot).
    const int hit = view_->image() ? view_->viewState().hotspotAt(p.x, p.y) : -1;
    setI4(child, LONG(hit + 1));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::accDoDefaultAction(VARIANT child)
{
    LONG id = 0;
    if (const HRESULT checked = checkChild(child, id); checked != S_OK)
        return checked;
    if (id == CHILDID_SELF)
        return DISP_E_MEMBERNOTFOUND;
    // As a click: the host is held while the page may go on, and nothing of
    // the view is touched afterwards.
    HostHold hold(view_->hostAnchor());
    view_->followHotspotAt(id - 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::put_accName(VARIANT, BSTR)
{
    return view_ ? E_NOTIMPL : CO_E_OBJNOTCONNECTED;
}

HRESULT STDMETHODCALLTYPE ViewAccessible::put_accValue(VARIANT, BSTR)
{
    return view_ ? E_NOTIMPL : CO_E_OBJNOTCONNECTED;
}
