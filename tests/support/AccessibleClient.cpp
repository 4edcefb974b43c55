#include "AccessibleClient.h"

VARIANT childId(long id)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = id;
    return v;
}

std::string narrowText(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? char(c) : '?';
    return out;
}

namespace {
std::wstring take(BSTR text)
{
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return result;
}

long numberOf(HRESULT hr, VARIANT& v)
{
    const long result = SUCCEEDED(hr) && V_VT(&v) == VT_I4 ? V_I4(&v) : -1;
    VariantClear(&v);
    return result;
}
}  // namespace

AccessibleClient::AccessibleClient(HWND window)
{
    void* object = nullptr;
    if (SUCCEEDED(AccessibleObjectFromWindow(window, DWORD(OBJID_CLIENT), IID_IAccessible, &object)))
        object_ = static_cast<IAccessible*>(object);
}

AccessibleClient::~AccessibleClient()
{
    release();
}

void AccessibleClient::release()
{
    if (object_)
        object_->Release();
    object_ = nullptr;
}

long AccessibleClient::childCount() const
{
    LONG count = -1;
    return object_ && SUCCEEDED(object_->get_accChildCount(&count)) ? count : -1;
}

std::wstring AccessibleClient::name(long child) const
{
    BSTR text = nullptr;
    if (object_)
        object_->get_accName(childId(child), &text);
    return take(text);
}

std::wstring AccessibleClient::value(long child) const
{
    BSTR text = nullptr;
    if (object_)
        object_->get_accValue(childId(child), &text);
    return take(text);
}

std::wstring AccessibleClient::description(long child) const
{
    BSTR text = nullptr;
    if (object_)
        object_->get_accDescription(childId(child), &text);
    return take(text);
}

std::wstring AccessibleClient::defaultAction(long child) const
{
    BSTR text = nullptr;
    if (object_)
        object_->get_accDefaultAction(childId(child), &text);
    return take(text);
}

long AccessibleClient::role(long child) const
{
    VARIANT v;
    VariantInit(&v);
    return object_ ? numberOf(object_->get_accRole(childId(child), &v), v) : -1;
}

long AccessibleClient::state(long child) const
{
    VARIANT v;
    VariantInit(&v);
    return object_ ? numberOf(object_->get_accState(childId(child), &v), v) : -1;
}

RECT AccessibleClient::location(long child) const
{
    LONG left = 0, top = 0, width = 0, height = 0;
    if (!object_ || FAILED(object_->accLocation(&left, &top, &width, &height, childId(child))))
        return RECT{};
    return RECT{left, top, left + width, top + height};
}

HRESULT AccessibleClient::doDefaultAction(long child) const
{
    return object_ ? object_->accDoDefaultAction(childId(child)) : E_POINTER;
}

HRESULT AccessibleClient::select(long flags, long child) const
{
    return object_ ? object_->accSelect(flags, childId(child)) : E_POINTER;
}

long AccessibleClient::hitTest(POINT screen) const
{
    VARIANT v;
    VariantInit(&v);
    return object_ ? numberOf(object_->accHitTest(screen.x, screen.y, &v), v) : -1;
}

long AccessibleClient::navigate(long direction, long from) const
{
    VARIANT v;
    VariantInit(&v);
    if (!object_)
        return 0;
    const long to = numberOf(object_->accNavigate(direction, childId(from), &v), v);
    return to < 0 ? 0 : to;
}

long AccessibleClient::focus() const
{
    VARIANT v;
    VariantInit(&v);
    return object_ ? numberOf(object_->get_accFocus(&v), v) : -1;
}
