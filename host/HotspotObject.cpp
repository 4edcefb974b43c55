#include "HotspotObject.h"

#include "ViewerPage.h"

#include <new>

BSTR allocString(const std::u16string& text)
{
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), UINT(text.size()));
}

IRAVOVavIrezHotspot* HotspotObject::create(const PageHotspot& hotspot)
{
    return new (std::nothrow) HotspotObject(hotspot);
}

HRESULT STDMETHODCALLTYPE HotspotObject::get_Ref(BSTR* value)
{
    if (!value)
        return E_POINTER;
    *value = allocString(ViewerPage::fromAnsi(hotspot_.ref));
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE HotspotObject::get_Text(BSTR* value)
{
    if (!value)
        return E_POINTER;
    *value = allocString(hotspot_.text);
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT HotspotObject::number(long* value, int32_t number)
{
    if (!value)
        return E_POINTER;
    *value = number;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HotspotObject::get_X(long* value) { return number(value, hotspot_.x); }
HRESULT STDMETHODCALLTYPE HotspotObject::get_Y(long* value) { return number(value, hotspot_.y); }
HRESULT STDMETHODCALLTYPE HotspotObject::get_Width(long* value) { return number(value, hotspot_.width); }
HRESULT STDMETHODCALLTYPE HotspotObject::get_Height(long* value) { return number(value, hotspot_.height); }
