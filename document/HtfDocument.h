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

    // The first image's size as its directory gives it (0 when the last open
    // found no TIFF directory), and whether the last open gave no image
    // because its DIB was too large for the process to hold.
    uint32_t imageWidth() const { return imageWidth_; }
    uint32_t imageHeight() const { return imageHeight_; }
    bool imageTooLarge() const { return imageTooLarge_; }

private:
    HotspotList* extractHotspots(const void* bytes, uint32_t count);

    HotspotList* pendingHotspots = nullptr;
    uint32_t imageWidth_ = 0;
    uint32_t imageHeight_ = 0;
    bool imageTooLarge_ = false;
};
