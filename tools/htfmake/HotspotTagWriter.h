#pragma once
// Puts a hotspot stream into an existing TIFF file without touching anything
// else in it: a new first directory (the old entries, tag 33577 added or
// replaced) is appended to the file with the stream's bytes, and the header
// is pointed at it. Image data, every other tag and the later directories
// keep their bytes and offsets; the old directory stays in the file,
// unreferenced. Classic and BigTIFF files, either byte order. Only the header
// and the first directory are read, so files of any size are handled.
#include <cstdint>
#include <functional>
#include <string>

// The change to make: append `appended` at the end of the file, then write
// `pointer` at `pointerAt` (the header's offset of the first directory).
struct HotspotDirectoryEdit {
    std::string appended;
    uint64_t pointerAt = 0;
    std::string pointer;
};

// Reads `length` bytes at `offset` of the file; false when they are not all there.
using TiffReader = std::function<bool(uint64_t offset, size_t length, std::string& bytes)>;

// False with a message when the file is not a TIFF file whose first
// directory lies within it, or when the result would be too large for its format.
bool planHotspotDirectory(const TiffReader& read, uint64_t fileSize, const std::string& hotspotBytes,
                          HotspotDirectoryEdit& edit, std::string& error);

// Applies the plan to the file at `path` (a copy of the image); false with a
// message when it cannot be read or written.
bool addHotspotDirectory(const std::string& path, const std::string& hotspotBytes, std::string& error);
