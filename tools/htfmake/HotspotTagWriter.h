#pragma once
// Puts a hotspot stream into an existing TIFF file without touching anything
// else in it: the file is copied byte for byte, a new first directory (the old
// entries, tag 33577 added or replaced) is appended with the stream's bytes,
// and the header is pointed at it. Image data, every other tag and the later
// directories keep their bytes and offsets; the old directory stays in the
// file, unreferenced. Classic and BigTIFF files, either byte order.
#include <string>

// False with a message when `tiff` is not a TIFF file whose first directory
// lies within the file, or when the result would be too large for its format.
bool withHotspotTag(const std::string& tiff, const std::string& hotspotBytes, std::string& out, std::string& error);
