#pragma once
// One hotspot as the control's page sees it (IRAVOVavIrezHotspot): a copy
// taken when the page asked, so it stays readable whatever the viewer does
// afterwards.
#include "AutomationObject.h"
#include "PageEvents.h"
#include "rozerado_h.h"

class HotspotObject final : public AutomationObject<IRAVOVavIrezHotspot> {
public:
    // A new object with one reference for the caller; null without memory.
    static IRAVOVavIrezHotspot* create(const PageHotspot& hotspot);

    HRESULT STDMETHODCALLTYPE get_Ref(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_Text(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_X(long* value) override;
    HRESULT STDMETHODCALLTYPE get_Y(long* value) override;
    HRESULT STDMETHODCALLTYPE get_Width(long* value) override;
    HRESULT STDMETHODCALLTYPE get_Height(long* value) override;

private:
    explicit HotspotObject(const PageHotspot& hotspot)
        : AutomationObject(IID_IRAVOVavIrezHotspot), hotspot_(hotspot)
    {
    }
    static HRESULT number(long* value, int32_t number);

    const PageHotspot hotspot_;
};

// A BSTR of UTF-16 text (null for none).
BSTR allocString(const std::u16string& text);
