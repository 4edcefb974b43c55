#pragma once
// The private TIFF tags of hotspotted documents: 33577 QELHotspot (the
// hotspot stream) and 33576 QELClipPath. They are registered with libtiff
// through its tag-extender hook for every handle opened with HtfTIFFFdOpen;
// both tags share one value slot per handle, so a request for either returns
// the value set last (for a file with both, the hotspot bytes).
#include <windows.h>

#include <tiffio.h>

constexpr uint32_t TIFFTAG_QELCLIPPATH = 33576;
constexpr uint32_t TIFFTAG_QELHOTSPOT = 33577;

// Opens a TIFF file on a Windows file handle with the private tags known.
// On failure the file handle stays open and belongs to the caller.
TIFF* HtfTIFFFdOpen(HANDLE fileHandle, const char* name, const char* mode);
// Closes the handle (and its file handle) and frees the private tag values.
void HtfTIFFClose(TIFF* tif);
