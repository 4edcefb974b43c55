#pragma once
// Plays a page's script that listens to the control's events: an event sink
// (IDispatch) connected to the control's connection point, which records
// every event with its arguments under the names the control's type library
// gives them, and may run a handler inside each (to cancel a navigation, or
// to tear the control down as a page may). Counts its references from 1 for
// its owner and never deletes itself, so a test can check that the control
// let go of it.
#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

struct ControlEvent {
    DISPID id = 0;
    std::wstring name;                     // as the type library names the event
    std::vector<std::wstring> arguments;   // strings in declaration order; a VARIANT_BOOL* as "cancel"
};

class ControlEvents : public IDispatch {
public:
    ControlEvents() = default;
    virtual ~ControlEvents();
    ControlEvents(const ControlEvents&) = delete;
    ControlEvents& operator=(const ControlEvents&) = delete;

    // Learns the event names from the control's class information and
    // connects to its default source interface. S_OK when connected.
    HRESULT connect(IUnknown* control);
    // Disconnects (nothing when not connected or the control is gone).
    void disconnect();

    std::vector<ControlEvent> events;
    // Runs inside each event after it was recorded; a Navigate handler can
    // cancel it with setCancel.
    std::function<void(const ControlEvent&)> handler;
    void setCancel(bool cancel);
    // The events recorded of one name.
    int count(const std::wstring& name) const;
    LONG references() const { return references_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references_); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--references_); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override;

private:
    LONG references_ = 1;
    IID events_ = IID_NULL;
    std::map<DISPID, std::wstring> names_;
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
    VARIANT_BOOL* cancel_ = nullptr;   // the running Navigate's
};
