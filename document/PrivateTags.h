#pragma once
// The private TIFF tags of hotspotted documents (33577 QELHotspot, 33576
// QELClipPath; the core registers them) for documents opened from Windows
// file handles.
#include "PrivateTiffTags.h"

#include <windows.h>

#include <tiffio.h>

// Opens a TIFF file on a Windows file handle with the private tags known.
// On failure the file handle stays open and belongs to the caller. `errors`,
// when given, receives the handle's errors (see htfTIFFOpen).
TIFF* HtfTIFFFdOpen(HANDLE fileHandle, const char* name, const char* mode, TIFFErrorHandlerExtR errors = nullptr,
                    void* errorsData = nullptr);
// Closes the handle (and its file handle) and frees the private tag values.
void HtfTIFFClose(TIFF* tif);
