#pragma once
#include <windows.h>

// The module whose resources the viewer loads (its pictures and cursors): the
// module that contains the viewer's code, ROZERADO.DLL in a browser.
HINSTANCE viewerResourceModule();
