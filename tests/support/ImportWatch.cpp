#include "ImportWatch.h"

#include <atomic>
#include <cstring>

namespace {

using StartDocFn = int(WINAPI*)(HDC, const DOCINFOA*);
std::atomic<int> startDocCalls{0};
StartDocFn realStartDoc = nullptr;

int WINAPI countedStartDoc(HDC dc, const DOCINFOA* info)
{
    ++startDocCalls;
    return realStartDoc ? realStartDoc(dc, info) : 0;
}

using GetDeviceCapsFn = int(WINAPI*)(HDC, int);
GetDeviceCapsFn realGetDeviceCaps = nullptr;
std::atomic<int> displayBits{0};

int WINAPI displayDeviceCaps(HDC dc, int index)
{
    if (!realGetDeviceCaps)
        return 0;
    if (index == BITSPIXEL && realGetDeviceCaps(dc, TECHNOLOGY) == DT_RASDISPLAY)
        return displayBits;
    return realGetDeviceCaps(dc, index);
}

bool writeSlot(void** slot, void* value)
{
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old))
        return false;
    *slot = value;
    VirtualProtect(slot, sizeof(void*), old, &old);
    return true;
}

} // namespace

void** importSlot(HMODULE module, const char* library, const char* function)
{
    auto base = reinterpret_cast<const unsigned char*>(module);
    if (!base)
        return nullptr;
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return nullptr;
    for (auto entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
         ++entry) {
        if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), library) != 0)
            continue;
        auto names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
            base + (entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk));
        auto slots = reinterpret_cast<IMAGE_THUNK_DATA*>(const_cast<unsigned char*>(base) + entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

StartDocWatch::StartDocWatch(HMODULE module)
{
    void** slot = importSlot(module, "gdi32.dll", "StartDocA");
    if (!slot)
        return;
    real_ = *slot;
    realStartDoc = reinterpret_cast<StartDocFn>(real_);
    if (writeSlot(slot, reinterpret_cast<void*>(&countedStartDoc)))
        slot_ = slot;
    startDocCalls = 0;
}

StartDocWatch::~StartDocWatch()
{
    if (slot_)
        writeSlot(slot_, real_);
}

int StartDocWatch::calls() const
{
    return startDocCalls;
}

DisplayDepthOverride::DisplayDepthOverride(HMODULE module, int bits)
{
    void** slot = importSlot(module, "gdi32.dll", "GetDeviceCaps");
    if (!slot)
        return;
    real_ = *slot;
    realGetDeviceCaps = reinterpret_cast<GetDeviceCapsFn>(real_);
    displayBits = bits;
    if (writeSlot(slot, reinterpret_cast<void*>(&displayDeviceCaps)))
        slot_ = slot;
}

DisplayDepthOverride::~DisplayDepthOverride()
{
    if (slot_)
        writeSlot(slot_, real_);
}
