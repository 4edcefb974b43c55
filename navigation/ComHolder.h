#pragma once
// Owns one reference on a COM interface and releases it when it goes out of
// scope. `out()` hands the empty slot to a call that returns an interface.
#include <unknwn.h>

template <typename Interface>
class ComHolder {
public:
    ComHolder() = default;
    ~ComHolder() { reset(); }
    ComHolder(const ComHolder&) = delete;
    ComHolder& operator=(const ComHolder&) = delete;

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // Releases what is held and returns the slot for a call to fill.
    Interface** out()
    {
        reset();
        return &pointer_;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }

    void reset()
    {
        if (pointer_ != nullptr) {
            Interface* held = pointer_;
            pointer_ = nullptr;
            held->Release();
        }
    }

private:
    Interface* pointer_ = nullptr;
};
