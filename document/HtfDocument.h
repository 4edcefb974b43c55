#pragma once
// Loads one hotspotted TIFF document: the first image as a DIB (1-, 4-, 8- or
// 24-bit, bottom-up) and the hotspot list decoded from tag 33577.
#include "Dib.h"

#include <memory>

class HotspotList;

class HtfDocument {
public:
    HtfDocument() = default;
    HtfDocument(const HtfDocument&) = delete;
    HtfDocument& operator=(const HtfDocument&) = delete;
    virtual ~HtfDocument();

    // Returns the first image (the caller owns it) or null when the file
    // cannot be opened as TIFF or its kind is not converted. Replaces the
    // pending hotspot list.
    DibHandle open(const char* fileName);
    // Hands the hotspot list of the last open to the caller (null if none).
    HotspotList* takeHotspots();

private:
    HotspotList* extractHotspots(const void* bytes, uint32_t count);

    HotspotList* pendingHotspots = nullptr;
};
