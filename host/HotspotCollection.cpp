#include "HotspotCollection.h"

#include "ComObject.h"
#include "HotspotObject.h"

#include <new>

namespace {

// The enumerator of _NewEnum: hands out the items as IDispatch variants.
// The items are made as they are handed out, so that a document with very
// many hotspots costs nothing until they are walked.
class HotspotEnumerator final : public ComObject<IEnumVARIANT, IID_IEnumVARIANT> {
public:
    HotspotEnumerator(HotspotCollection::List hotspots, size_t position)
        : hotspots_(std::move(hotspots)), position_(position)
    {
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* items, ULONG* fetched) override
    {
        if (!items || (wanted > 1 && !fetched))
            return E_POINTER;
        ULONG count = 0;
        while (count < wanted && position_ < hotspots_->size()) {
            IRAVOVavIrezHotspot* item = HotspotObject::create((*hotspots_)[position_]);
            if (!item) {
                for (ULONG i = 0; i < count; ++i)
                    VariantClear(&items[i]);
                if (fetched)
                    *fetched = 0;
                return E_OUTOFMEMORY;
            }
            VariantInit(&items[count]);
            items[count].vt = VT_DISPATCH;
            items[count].pdispVal = item;
            ++position_;
            ++count;
        }
        if (fetched)
            *fetched = count;
        return count == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        const size_t left = hotspots_->size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override
    {
        if (!copy)
            return E_POINTER;
        *copy = new (std::nothrow) HotspotEnumerator(hotspots_, position_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    const HotspotCollection::List hotspots_;
    size_t position_;
};

} // namespace

IRAVOVavIrezHotspots* HotspotCollection::create(List hotspots)
{
    if (!hotspots)
        return nullptr;
    return new (std::nothrow) HotspotCollection(std::move(hotspots));
}

HRESULT STDMETHODCALLTYPE HotspotCollection::get_Count(long* count)
{
    if (!count)
        return E_POINTER;
    *count = long(hotspots_->size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HotspotCollection::get_Item(long index, IRAVOVavIrezHotspot** hotspot)
{
    if (!hotspot)
        return E_POINTER;
    *hotspot = nullptr;
    if (index < 0 || size_t(index) >= hotspots_->size())
        return failWithDescription(E_INVALIDARG, IID_IRAVOVavIrezHotspots, L"No hotspot at this index");
    *hotspot = HotspotObject::create((*hotspots_)[size_t(index)]);
    return *hotspot ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE HotspotCollection::get__NewEnum(IUnknown** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = new (std::nothrow) HotspotEnumerator(hotspots_, 0);
    return *enumerator ? S_OK : E_OUTOFMEMORY;
}
