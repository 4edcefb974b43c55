#pragma once
// Counters of what a process holds, for leak checks.
#include <windows.h>

// Live GDI objects of the process. Where GetGuiResources is not implemented
// (Wine answers 0), the handle table is walked instead: handles with a zero
// upper word name table slots.
DWORD gdiObjects();
// Windows of this thread, top-level ones and all their descendants.
DWORD userWindows();
// Kernel handles of the process (files, events, threads, ...); where the
// system keeps no count, the valid handle values are counted.
DWORD processHandles();
// The process's working set in bytes.
size_t workingSetBytes();
