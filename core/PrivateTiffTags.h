#pragma once
// The private TIFF tags of hotspotted documents: 33577 QELHotspot (the
// hotspot stream) and 33576 QELClipPath. They are registered with libtiff
// through its tag-extender hook for every handle opened here; both tags share
// one value slot per handle, so a request for either returns the value set
// last (for a file with both, the hotspot bytes).
#include <tiffio.h>

#include <cstdint>
#include <iosfwd>

constexpr uint32_t TIFFTAG_QELCLIPPATH = 33576;
constexpr uint32_t TIFFTAG_QELHOTSPOT = 33577;

// No single allocation of libtiff's may exceed this: a damaged entry count
// would otherwise make it take a gigabyte or more for a moment. No image the
// viewer can show needs one block that large.
constexpr tmsize_t kMaxLibtiffAllocation = tmsize_t(512) << 20;

// The client procedures of one handle (TIFFClientOpen's arguments).
struct TiffClientProcs {
    thandle_t client = nullptr;
    TIFFReadWriteProc read = nullptr;
    TIFFReadWriteProc write = nullptr;
    TIFFSeekProc seek = nullptr;
    TIFFCloseProc close = nullptr;
    TIFFSizeProc size = nullptr;
    TIFFMapFileProc map = nullptr;
    TIFFUnmapFileProc unmap = nullptr;
};

// Opens a TIFF handle with the private tags known and the allocation limit
// set: `open` opens it with the options it is given (TIFFClientOpenExt,
// TIFFFdOpenExt, ...). `errors`, when given, receives the handle's errors
// (libtiff's per-handle handler; returning non-zero keeps them from the
// process-wide handler). Null on failure; whatever `open` was given then
// still belongs to the caller.
using TiffOpener = TIFF* (*)(void* context, TIFFOpenOptions* options);
TIFF* htfTIFFOpen(TiffOpener open, void* context, TIFFErrorHandlerExtR errors = nullptr, void* errorsData = nullptr);

// A reader that takes the first directory's hotspot tag as a stream instead
// of a value libtiff keeps: libtiff skips the tag on such a handle, and once
// the handle is open `take(context, in, bytes)` reads the tag's `bytes` bytes
// from `in`, which reads them from the document through the handle's own
// client procedures a block at a time. A tag of a million hotspots is then
// never held whole, where libtiff would hold it three times while it is read.
// TIFFGetField finds no hotspot value on such a handle, and no clip path
// (libtiff skips that tag too). `take` is not called when the directory has
// no hotspot tag, or one libtiff would not read (of a type other than bytes,
// larger than kMaxLibtiffAllocation or beyond the end of the document). A
// null `take` drops the tag unread. It must not throw.
struct HotspotTagSink {
    void (*take)(void* context, std::istream& in, uint64_t bytes) = nullptr;
    void* context = nullptr;
};

// htfTIFFOpen through client procedures; libtiff's warnings are not shown.
TIFF* htfTIFFClientOpen(const char* name, const char* mode, const TiffClientProcs& procs,
                        TIFFErrorHandlerExtR errors = nullptr, void* errorsData = nullptr,
                        const HotspotTagSink* hotspots = nullptr);
// Closes the handle and frees the private tag values.
void htfTIFFClose(TIFF* tif);
