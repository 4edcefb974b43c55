#include "ResourceCounters.h"

#include <psapi.h>

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

DWORD processHandles()
{
    DWORD n = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &n) && n)
        return n;
    // Where the count is not kept (Wine answers 0), probe the handle values:
    // kernel handles are multiples of 4.
    n = 0;
    DWORD flags = 0;
    for (uintptr_t value = 4; value < 0x20000; value += 4)
        n += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    return n;
}

size_t workingSetBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize;
}
