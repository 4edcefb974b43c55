#pragma once
// The document's hotspots as the control's page sees them
// (IRAVOVavIrezHotspots): Count, Item(index) from 0 in document order, and
// _NewEnum, through which VBScript's For Each and JScript's Enumerator walk
// them. The list is a copy taken when the page asked; items are made as they
// are read.
#include "AutomationObject.h"
#include "PageEvents.h"
#include "rozerado_h.h"

#include <memory>
#include <vector>

class HotspotCollection final : public AutomationObject<IRAVOVavIrezHotspots> {
public:
    using List = std::shared_ptr<const std::vector<PageHotspot>>;

    // A new collection with one reference for the caller; null without memory.
    static IRAVOVavIrezHotspots* create(List hotspots);

    HRESULT STDMETHODCALLTYPE get_Count(long* count) override;
    HRESULT STDMETHODCALLTYPE get_Item(long index, IRAVOVavIrezHotspot** hotspot) override;
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) override;

private:
    explicit HotspotCollection(List hotspots)
        : AutomationObject(IID_IRAVOVavIrezHotspots), hotspots_(std::move(hotspots))
    {
    }

    const List hotspots_;
};
