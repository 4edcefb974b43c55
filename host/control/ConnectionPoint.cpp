#include "ConnectionPoint.h"

#include "ComObject.h"

#include <new>

namespace {

// An enumerator over a snapshot of counted interface items (connection
// points or connections), as IEnumConnectionPoints and IEnumConnections want.
template <class Interface, class Item, const IID& kIid>
class SnapshotEnumerator final : public ComObject<Interface, kIid> {
public:
    explicit SnapshotEnumerator(std::vector<Item> items, size_t position = 0)
        : items_(std::move(items)), position_(position)
    {
        for (Item& item : items_)
            addRef(item);
    }
    ~SnapshotEnumerator()
    {
        for (Item& item : items_)
            release(item);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, Item* out, ULONG* fetched) override
    {
        if (!out || (wanted > 1 && !fetched))
            return E_POINTER;
        ULONG count = 0;
        while (count < wanted && position_ < items_.size()) {
            out[count] = items_[position_++];
            addRef(out[count]);
            ++count;
        }
        if (fetched)
            *fetched = count;
        return count == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        const size_t left = items_.size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Interface** copy) override
    {
        if (!copy)
            return E_POINTER;
        *copy = new (std::nothrow) SnapshotEnumerator(items_, position_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    static void addRef(IConnectionPoint* point) { point->AddRef(); }
    static void release(IConnectionPoint* point) { point->Release(); }
    static void addRef(CONNECTDATA& data) { data.pUnk->AddRef(); }
    static void release(CONNECTDATA& data) { data.pUnk->Release(); }

    std::vector<Item> items_;
    size_t position_;
};

using PointEnumerator = SnapshotEnumerator<IEnumConnectionPoints, IConnectionPoint*, IID_IEnumConnectionPoints>;
using ConnectionEnumerator = SnapshotEnumerator<IEnumConnections, CONNECTDATA, IID_IEnumConnections>;

} // namespace

ConnectionPoint::~ConnectionPoint()
{
    disconnectAll();
}

void ConnectionPoint::disconnectAll()
{
    auto sinks = std::move(sinks_);
    sinks_.clear();
    for (auto& sink : sinks)
        sink.second->Release();
}

std::vector<IDispatch*> ConnectionPoint::connectedSinks() const
{
    // Each sink was asked for the event interface when it connected, and a
    // dispinterface is called through IDispatch.
    std::vector<IDispatch*> sinks;
    sinks.reserve(sinks_.size());
    for (const auto& sink : sinks_) {
        sink.second->AddRef();
        sinks.push_back(static_cast<IDispatch*>(sink.second));
    }
    return sinks;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::QueryInterface(REFIID iid, void** result)
{
    if (!result)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
        *result = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionInterface(IID* iid)
{
    if (!iid)
        return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!container)
        return E_POINTER;
    *container = container_;
    container_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = 0;
    IUnknown* events = nullptr;
    if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(&events))) || !events)
        return CONNECT_E_CANNOTCONNECT;
    sinks_.emplace_back(nextCookie_, events);
    *cookie = nextCookie_++;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Unadvise(DWORD cookie)
{
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
        if (it->first == cookie) {
            IUnknown* sink = it->second;
            sinks_.erase(it);
            sink->Release();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::EnumConnections(IEnumConnections** connections)
{
    if (!connections)
        return E_POINTER;
    std::vector<CONNECTDATA> items;
    for (auto& sink : sinks_)
        items.push_back(CONNECTDATA{sink.second, sink.first});
    *connections = new (std::nothrow) ConnectionEnumerator(std::move(items));
    return *connections ? S_OK : E_OUTOFMEMORY;
}

HRESULT ConnectionPoint::enumerate(IEnumConnectionPoints** points)
{
    if (!points)
        return E_POINTER;
    *points = new (std::nothrow) PointEnumerator({static_cast<IConnectionPoint*>(this)});
    return *points ? S_OK : E_OUTOFMEMORY;
}
