// Opens one document with HtfDocument::open in a process of its own, for the
// mutation campaign: the reader's messages go to stderr, a crash is reported
// instead of starting a debugger, and after the open the program checks what
// a crash may not show at once.
//
//   htfopen file.htf
//
// Exit codes: 0 the open ended (with or without an image), 3 crash,
// 4 heap damaged, 5 the DIB's header disagrees with its block, 6 the open
// leaked (handles, or heap that a second open of the same file did not give
// back), 2 usage. Prints one line on stdout:
//   image <width>x<height>x<bits>|none hotspots <n>|none peak <bytes> working-set <bytes>
#include "Dib.h"
#include "GlobalMemory.h"
#include "HotspotList.h"
#include "HtfDocument.h"
#include "UserMessage.h"

#include <psapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

LONG WINAPI reportCrash(EXCEPTION_POINTERS* info)
{
    std::fprintf(stderr, "crash: exception 0x%08lX at %p\n", info->ExceptionRecord->ExceptionCode,
                 info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

bool heapsValid()
{
    std::vector<HANDLE> heaps(256);
    const DWORD n = GetProcessHeaps(DWORD(heaps.size()), heaps.data());
    for (DWORD i = 0; i < n && i < heaps.size(); ++i)
        if (!HeapValidate(heaps[i], 0, nullptr))
            return false;
    return true;
}

// Bytes in use in every heap of the process.
uint64_t heapBytesInUse()
{
    std::vector<HANDLE> heaps(256);
    const DWORD n = GetProcessHeaps(DWORD(heaps.size()), heaps.data());
    uint64_t total = 0;
    for (DWORD i = 0; i < n && i < heaps.size(); ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                total += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return total;
}

DWORD handleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

struct Outcome {
    std::string image = "none";
    std::string hotspots = "none";
    bool dibConsistent = true;
};

Outcome openOnce(const char* path)
{
    Outcome outcome;
    HtfDocument document;
    GlobalBlock dib(document.open(path));
    std::unique_ptr<HotspotList> list(document.takeHotspots());
    if (list)
        outcome.hotspots = std::to_string(list->count());
    if (!dib)
        return outcome;
    GlobalLockGuard<unsigned char> data(dib.get());
    const SIZE_T blockBytes = GlobalSize(dib.get());
    if (!data || blockBytes < sizeof(BITMAPINFOHEADER)) {
        outcome.dibConsistent = false;
        return outcome;
    }
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(data.get());
    const uint64_t rows = dibRowBytes(header->biBitCount, header->biWidth) * uint64_t(std::max<LONG>(header->biHeight, 0));
    const uint64_t needed = header->biSize + uint64_t(dibPaletteBytes(data.get())) + rows;
    outcome.dibConsistent = header->biSize == 40 && header->biWidth >= 0 && header->biHeight >= 0 &&
                            header->biSizeImage == rows && needed <= blockBytes;
    outcome.image = std::to_string(header->biWidth) + "x" + std::to_string(header->biHeight) + "x" +
                    std::to_string(header->biBitCount);
    return outcome;
}

} // namespace

int main(int argc, char** argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(reportCrash);
    printUserMessagesToStderr();
    if (argc != 2) {
        std::fprintf(stderr, "usage: htfopen file.htf\n");
        return 2;
    }
    // The first open also pays for what the library sets up once; the second
    // must give back all it takes.
    const Outcome first = openOnce(argv[1]);
    if (!heapsValid()) {
        std::fprintf(stderr, "heap damaged\n");
        return 4;
    }
    const uint64_t heapBefore = heapBytesInUse();
    const DWORD handlesBefore = handleCount();
    openOnce(argv[1]);
    const uint64_t heapAfter = heapBytesInUse();
    const DWORD handlesAfter = handleCount();

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("image %s hotspots %s peak %lu working-set %lu\n", first.image.c_str(), first.hotspots.c_str(),
                static_cast<unsigned long>(memory.PeakPagefileUsage),
                static_cast<unsigned long>(memory.PeakWorkingSetSize));
    std::fflush(stdout);
    if (!heapsValid()) {
        std::fprintf(stderr, "heap damaged\n");
        return 4;
    }
    if (!first.dibConsistent) {
        std::fprintf(stderr, "DIB header disagrees with its block\n");
        return 5;
    }
    if (handlesAfter > handlesBefore || heapAfter > heapBefore + 4096) {
        std::fprintf(stderr, "leak: %ld handles, %lld heap bytes\n", long(handlesAfter) - long(handlesBefore),
                     static_cast<long long>(heapAfter) - static_cast<long long>(heapBefore));
        return 6;
    }
    return 0;
}
