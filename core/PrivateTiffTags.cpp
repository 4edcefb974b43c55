#include "PrivateTiffTags.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char kClientName[] = "QELPrivateTags";

enum : uint32_t {
    kPrintHookInstalled = 1u << 0,
    kHotspotSet = 1u << 1,    // the hotspot tag's field is set in this directory
    kClipPathSet = 1u << 2,   // the clip path tag's field is set in this directory
};

// Attached to each handle through libtiff's client info.
struct PrivateTagBlock {
    uint32_t flags;
    uint32_t byteCount;   // byte count of the private tag value set last
    void* bytes;          // our copy of those bytes (_TIFFmalloc), or null
    TIFFVSetMethod parentSetField;
    TIFFVGetMethod parentGetField;
    TIFFPrintMethod parentPrintDir;
    bool hotspotsElsewhere;   // opened with a HotspotTagSink: no hotspot value kept
};

// Variable byte count passed as an unsigned 32-bit value followed by a
// pointer. libtiff's one-field bitmap bits are fixed for its own tags, so the
// tags are custom fields and their per-tag "set" state is kept in our block.
const TIFFFieldInfo kFieldInfo[] = {
    {TIFFTAG_QELHOTSPOT, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_UNDEFINED, FIELD_CUSTOM, 1, 1,
     const_cast<char*>("QELHotspot")},
    {TIFFTAG_QELCLIPPATH, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_UNDEFINED, FIELD_CUSTOM, 1, 1,
     const_cast<char*>("QELClipPath")},
};

bool extenderInstalled = false;
TIFFExtendProc parentExtender = nullptr;

// Blocks made while a handle is being opened by htfTIFFOpen; freed when the
// open fails, since libtiff then discards the handle without a close.
thread_local std::vector<PrivateTagBlock*>* openingBlocks = nullptr;
// The sink of the handle being opened, if any.
thread_local const HotspotTagSink* openingSink = nullptr;

// libtiff's warnings (unknown tags, odd values) are not shown to anyone.
int ignoreWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

bool isPrivateTag(uint32_t tag)
{
    return tag == TIFFTAG_QELCLIPPATH || tag == TIFFTAG_QELHOTSPOT;
}

uint32_t setFlagOf(uint32_t tag)
{
    return tag == TIFFTAG_QELHOTSPOT ? kHotspotSet : kClipPathSet;
}

PrivateTagBlock* blockOf(TIFF* tif)
{
    return static_cast<PrivateTagBlock*>(TIFFGetClientInfo(tif, kClientName));
}

void freeBlock(PrivateTagBlock* block)
{
    if (!block)
        return;
    if (block->bytes)
        _TIFFfree(block->bytes);
    _TIFFfree(block);
}

void printDirectory(TIFF* tif, FILE* out, long flags)
{
    PrivateTagBlock* block = blockOf(tif);
    if (!block)
        return;
    if (block->parentPrintDir)
        block->parentPrintDir(tif, out, flags);
    if (block->flags & kClipPathSet)
        std::fprintf(out, "  QEL ClipPath encluded Length: %ld ! \n", long(block->byteCount));
}

int setField(TIFF* tif, uint32_t tag, va_list ap)
{
    PrivateTagBlock* block = blockOf(tif);
    if (!isPrivateTag(tag))
        return block->parentSetField(tif, tag, ap);

    va_list forward;
    va_copy(forward, ap);
    const uint32_t count = va_arg(ap, uint32_t);
    const void* data = va_arg(ap, const void*);

    if (tag == TIFFTAG_QELHOTSPOT && block->hotspotsElsewhere) {
        // Straight to the reader while the handle opens; dropped afterwards.
        if (openingSink && openingSink->take)
            openingSink->take(openingSink->context, data && count ? data : nullptr, data ? count : 0);
        va_end(forward);
        return 1;
    }

    block->byteCount = count;
    if (block->bytes)
        _TIFFfree(block->bytes);
    block->bytes = nullptr;
    if (data && count > 0) {
        block->bytes = _TIFFmalloc(tmsize_t(count));
        if (block->bytes)
            std::memcpy(block->bytes, data, count);
    }

    if (!(block->flags & kPrintHookInstalled)) {
        TIFFTagMethods* methods = TIFFAccessTagMethods(tif);
        block->parentPrintDir = methods->printdir;
        methods->printdir = printDirectory;
        block->flags |= kPrintHookInstalled;
    }
    block->flags |= setFlagOf(tag);

    // The library marks the directory's custom fields as set (which
    // TIFFGetField checks before asking us) and keeps the value for writing.
    if (data)
        block->parentSetField(tif, tag, forward);
    va_end(forward);
    return 1;
}

int getField(TIFF* tif, uint32_t tag, va_list ap)
{
    PrivateTagBlock* block = blockOf(tif);
    if (!isPrivateTag(tag))
        return block->parentGetField(tif, tag, ap);
    if (!(block->flags & setFlagOf(tag)))
        return 0;
    *va_arg(ap, uint32_t*) = block->byteCount;
    *va_arg(ap, void**) = block->bytes;
    return 1;
}

void extender(TIFF* tif)
{
    PrivateTagBlock* block = blockOf(tif);
    if (!block) {
        if (!openingBlocks) {
            // Not a handle of ours (another part of the process uses libtiff).
            if (parentExtender)
                parentExtender(tif);
            return;
        }
        block = static_cast<PrivateTagBlock*>(_TIFFmalloc(sizeof(PrivateTagBlock)));
        if (!block)
            return;
        std::memset(block, 0, sizeof *block);
        block->hotspotsElsewhere = openingSink != nullptr;
        openingBlocks->push_back(block);
        TIFFSetClientInfo(tif, block, kClientName);
    }

    TIFFMergeFieldInfo(tif, kFieldInfo, sizeof kFieldInfo / sizeof kFieldInfo[0]);

    // A fresh directory: forget the previous directory's value and hook.
    if (block->bytes)
        _TIFFfree(block->bytes);
    const bool hotspotsElsewhere = block->hotspotsElsewhere;
    std::memset(block, 0, sizeof *block);
    block->hotspotsElsewhere = hotspotsElsewhere;
    TIFFTagMethods* methods = TIFFAccessTagMethods(tif);
    block->parentSetField = methods->vsetfield;
    block->parentGetField = methods->vgetfield;
    methods->vsetfield = setField;
    methods->vgetfield = getField;

    if (parentExtender)
        parentExtender(tif);
}

// What htfTIFFOpen adds to the options of one open.
struct OpenOptions {
    TIFFErrorHandlerExtR errors;
    void* errorsData;
    bool quiet;
    const HotspotTagSink* hotspots;
};

TIFF* openWithOptions(TiffOpener open, void* context, const OpenOptions& extra)
{
    if (!extenderInstalled) {
        parentExtender = TIFFSetTagExtender(extender);
        extenderInstalled = true;
    }
    std::vector<PrivateTagBlock*> made;
    openingBlocks = &made;
    openingSink = extra.hotspots;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options) {
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxLibtiffAllocation);
        if (extra.errors)
            TIFFOpenOptionsSetErrorHandlerExtR(options, extra.errors, extra.errorsData);
        if (extra.quiet)
            TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreWarning, nullptr);
    }
    TIFF* tif = open(context, options);
    if (options)
        TIFFOpenOptionsFree(options);
    openingBlocks = nullptr;
    openingSink = nullptr;
    if (!tif) {
        for (PrivateTagBlock* block : made)
            freeBlock(block);
    }
    return tif;
}

struct ClientOpen {
    const char* name;
    const char* mode;
    const TiffClientProcs* procs;
};

TIFF* openClient(void* context, TIFFOpenOptions* options)
{
    const auto* a = static_cast<const ClientOpen*>(context);
    const TiffClientProcs& p = *a->procs;
    return TIFFClientOpenExt(a->name, a->mode, p.client, p.read, p.write, p.seek, p.close, p.size, p.map, p.unmap,
                             options);
}

} // namespace

TIFF* htfTIFFOpen(TiffOpener open, void* context, TIFFErrorHandlerExtR errors, void* errorsData)
{
    return openWithOptions(open, context, OpenOptions{errors, errorsData, false, nullptr});
}

TIFF* htfTIFFClientOpen(const char* name, const char* mode, const TiffClientProcs& procs,
                        TIFFErrorHandlerExtR errors, void* errorsData, const HotspotTagSink* hotspots)
{
    ClientOpen a{name, mode, &procs};
    return openWithOptions(openClient, &a, OpenOptions{errors, errorsData, true, hotspots});
}

void htfTIFFClose(TIFF* tif)
{
    if (!tif)
        return;
    PrivateTagBlock* block = blockOf(tif);
    TIFFClose(tif);
    freeBlock(block);
}
