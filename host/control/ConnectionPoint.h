#pragma once
// The connection point of a control's event interface. It lives inside the
// control and shares its reference count; it keeps the advised sinks, which
// the control calls when it fires an event.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <utility>
#include <vector>

class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IConnectionPointContainer* container, const IID& iid) : container_(container), iid_(iid) {}
    ~ConnectionPoint();
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    const IID& iid() const { return iid_; }
    size_t connectionCount() const { return sinks_.size(); }
    // Drops every connection (the control is going away).
    void disconnectAll();
    // The sinks connected now, each with a reference for the caller: a sink
    // may disconnect itself, or others, while it is called.
    std::vector<IDispatch*> connectedSinks() const;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return container_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return container_->Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

    // An enumerator over this one connection point (EnumConnectionPoints).
    HRESULT enumerate(IEnumConnectionPoints** points);

private:
    IConnectionPointContainer* container_;
    const IID iid_;
    std::vector<std::pair<DWORD, IUnknown*>> sinks_;
    DWORD nextCookie_ = 1;
};
