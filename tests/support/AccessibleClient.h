#pragma once
// A screen reader's view of a window: its client object, asked for through
// AccessibleObjectFromWindow as a reader asks (COM must be initialised on the
// thread), read child by child with plain results. Child 0 is the object
// itself.
#include <windows.h>
#include <oleacc.h>

#include <string>

class AccessibleClient {
public:
    explicit AccessibleClient(HWND window);
    ~AccessibleClient();
    AccessibleClient(const AccessibleClient&) = delete;
    AccessibleClient& operator=(const AccessibleClient&) = delete;

    IAccessible* object() const { return object_; }
    // Lets go of the object now.
    void release();
    explicit operator bool() const { return object_ != nullptr; }

    long childCount() const;
    std::wstring name(long child) const;
    std::wstring value(long child) const;
    std::wstring description(long child) const;
    std::wstring defaultAction(long child) const;
    long role(long child) const;   // -1 on failure
    long state(long child) const;  // -1 on failure
    RECT location(long child) const;   // screen rectangle; empty on failure
    HRESULT doDefaultAction(long child) const;
    HRESULT select(long flags, long child) const;
    long hitTest(POINT screen) const;              // -1: outside
    long navigate(long direction, long from) const;   // 0: nowhere
    long focus() const;                            // -1: not focused

private:
    IAccessible* object_ = nullptr;
};

// A VT_I4 child id.
VARIANT childId(long id);
std::string narrowText(const std::wstring& text);
