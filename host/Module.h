#pragma once
#include <windows.h>

// The instance handle of ROZERADO.DLL once the module is attached.
HINSTANCE rozeradoModule();
