#include "ImportHook.h"
#include "ImportWatch.h"

#include <cstring>

ImportHook::ImportHook(HMODULE module, const char* dll, const char* function, void* replacement)
{
    void** slot = importSlot(module, dll, function);
    DWORD protection = 0;
    if (!slot || !VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection))
        return;
    original_ = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    slot_ = slot;
}

ImportHook::~ImportHook()
{
    if (!slot_)
        return;
    DWORD protection = 0;
    if (VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection)) {
        *slot_ = original_;
        VirtualProtect(slot_, sizeof *slot_, protection, &protection);
    }
}

CreateFileSpy* CreateFileSpy::active_ = nullptr;

CreateFileSpy::CreateFileSpy(HMODULE module, Before before)
    : before_(before), hook_(module, "kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&CreateFileSpy::spy))
{
    active_ = this;
}

CreateFileSpy::~CreateFileSpy()
{
    active_ = nullptr;
}

size_t CreateFileSpy::creations() const
{
    size_t n = 0;
    for (const Call& call : calls_)
        n += call.disposition != OPEN_EXISTING;
    return n;
}

HANDLE WINAPI CreateFileSpy::spy(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE templateFile)
{
    using CreateFileFn = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    // The platform's own function, also while the spy is being taken down.
    static const auto platform = reinterpret_cast<CreateFileFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateFileA")));
    static bool inBefore = false;
    CreateFileSpy* self = active_;
    if (self && self->before_ && !inBefore) {
        // What the test does here (creating a file itself) is not recorded.
        inBefore = true;
        self->before_(path ? path : "", disposition);
        inBefore = false;
    }
    HANDLE handle = platform(path, access, share, security, disposition, flags, templateFile);
    const DWORD error = GetLastError();
    if (self && !inBefore)
        self->calls_.push_back({path ? path : "", disposition, handle != INVALID_HANDLE_VALUE, error});
    SetLastError(error);
    return handle;
}
