#pragma once
// Reads a hotspotted TIFF document from its bytes in memory: the first image
// into an ImageTarget and the hotspot list from the bytes of tag 33577. No
// file is written or read. The first error libtiff reports is kept (a damaged
// image reports every unreadable row; a person needs one message).
#include "HotspotList.h"
#include "TiffImageDecoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class ImageTarget;
struct HotspotTagSink;

struct HtfReadResult {
    bool opened = false;                 // the bytes opened as TIFF
    DecodeOutcome outcome = DecodeOutcome::Unsupported;
    uint32_t width = 0, height = 0;      // the first image's size as the file gives it
    std::unique_ptr<HotspotList> hotspots;   // null when the document has none
    bool hadError = false;
    std::string errorModule;             // libtiff's module of the first error
    std::string errorText;               // its text

    bool hasImage() const { return opened && outcome == DecodeOutcome::Decoded; }
    // No image because it is larger than the target can hold.
    bool tooLarge() const
    {
        return opened && (outcome == DecodeOutcome::TooLarge || outcome == DecodeOutcome::NoMemory);
    }
    // "<module> Error", as the Windows module captions its message box.
    std::string errorCaption() const;
};

// `name` is what libtiff's messages call the document. With `hotspots`, that
// sink reads the hotspot tag as the document opens (see PrivateTiffTags.h)
// and the result's list stays null.
HtfReadResult readHtfDocument(const uint8_t* data, size_t size, const char* name, ImageTarget& target,
                              const HotspotTagSink* hotspots = nullptr);

// The hotspot list carried by tag 33577 of the handle's current directory;
// null when the tag is absent or empty, or memory runs out while reading.
std::unique_ptr<HotspotList> readHotspotTag(TIFF* tif);
