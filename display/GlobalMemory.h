#pragma once
// Small owners for global memory blocks and their locks.
#include <windows.h>

// Owns a global memory block; frees it unless released.
class GlobalBlock {
public:
    explicit GlobalBlock(HGLOBAL block = nullptr) : block_(block) {}
    ~GlobalBlock() { if (block_) GlobalFree(block_); }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;

    HGLOBAL get() const { return block_; }
    HGLOBAL release() { HGLOBAL b = block_; block_ = nullptr; return b; }
    void reset(HGLOBAL block) { if (block_ && block_ != block) GlobalFree(block_); block_ = block; }
    explicit operator bool() const { return block_ != nullptr; }

private:
    HGLOBAL block_;
};

// Locks a global memory block for the lifetime of the object.
template <class T = unsigned char>
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL block) : block_(block), data_(block ? static_cast<T*>(GlobalLock(block)) : nullptr) {}
    ~GlobalLockGuard() { unlock(); }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

    T* get() const { return data_; }
    T* operator->() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }
    void unlock()
    {
        if (data_)
            GlobalUnlock(block_);
        data_ = nullptr;
    }

private:
    HGLOBAL block_;
    T* data_;
};
