#include "ResourceCounters.h"

#include <cstdint>

DWORD gdiObjects()
{
    if (DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS))
        return n;
    DWORD n = 0;
    for (uintptr_t slot = 1; slot < 0x10000; ++slot)
        n += GetObjectType(reinterpret_cast<HGDIOBJ>(slot)) != 0;
    return n;
}

namespace {
BOOL CALLBACK countWindow(HWND, LPARAM count)
{
    ++*reinterpret_cast<DWORD*>(count);
    return TRUE;
}

BOOL CALLBACK countWindowAndDescendants(HWND window, LPARAM count)
{
    ++*reinterpret_cast<DWORD*>(count);
    EnumChildWindows(window, countWindow, count);
    return TRUE;
}
}

DWORD userWindows()
{
    DWORD n = 0;
    EnumThreadWindows(GetCurrentThreadId(), countWindowAndDescendants, reinterpret_cast<LPARAM>(&n));
    return n;
}
