#include "PrivateTiffTags.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <istream>
#include <memory>
#include <streambuf>
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
// The same for a handle whose hotspots a HotspotTagSink reads: libtiff skips
// the hotspot tag (field bit 0 is its FIELD_IGNORE, which it does not install),
// and the clip path, which no reader of such a handle uses (libtiff would
// hold its whole value, and our copy of it, at whatever size the tag claims).
constexpr unsigned short kFieldIgnored = 0;
const TIFFFieldInfo kFieldInfoHotspotsElsewhere[] = {
    {TIFFTAG_QELHOTSPOT, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_UNDEFINED, kFieldIgnored, 1, 1,
     const_cast<char*>("QELHotspot")},
    {TIFFTAG_QELCLIPPATH, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_UNDEFINED, kFieldIgnored, 1, 1,
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

    if (block->hotspotsElsewhere)
        TIFFMergeFieldInfo(tif, kFieldInfoHotspotsElsewhere,
                           sizeof kFieldInfoHotspotsElsewhere / sizeof kFieldInfoHotspotsElsewhere[0]);
    else
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

// Reads `bytes` bytes at `offset` of the document through the handle's client
// procedures.
bool readAt(TIFF* tif, uint64_t offset, void* out, size_t bytes)
{
    thandle_t client = TIFFClientdata(tif);
    return TIFFGetSeekProc(tif)(client, toff_t(offset), SEEK_SET) == toff_t(offset) &&
           TIFFGetReadProc(tif)(client, out, tmsize_t(bytes)) == tmsize_t(bytes);
}

// Where the current directory's first entry of `tag` keeps its value (in the
// entry itself when it fits there) and how many bytes it has, as libtiff
// would read a value of bytes; false without one it would read.
bool findByteEntry(TIFF* tif, uint32_t tag, uint64_t& offset, uint64_t& bytes)
{
    const bool big = TIFFIsBigTIFF(tif) != 0, swapped = TIFFIsByteSwapped(tif) != 0;
    const uint64_t directory = TIFFCurrentDirOffset(tif);
    auto u16 = [&](const uint8_t* p) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        if (swapped)
            TIFFSwabShort(&v);
        return v;
    };
    auto u32 = [&](const uint8_t* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        if (swapped)
            TIFFSwabLong(&v);
        return v;
    };
    auto u64 = [&](const uint8_t* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        if (swapped)
            TIFFSwabLong8(&v);
        return v;
    };
    uint8_t head[8];
    const size_t countBytes = big ? 8 : 2, entryBytes = big ? 20 : 12, inlineBytes = big ? 8 : 4;
    if (!readAt(tif, directory, head, countBytes))
        return false;
    const uint64_t entries = big ? u64(head) : u16(head);
    if (entries > 0xFFFF)
        return false;   // past libtiff's own limit: it did not read this directory
    std::vector<uint8_t> table(size_t(entries) * entryBytes);
    if (!table.empty() && !readAt(tif, directory + countBytes, table.data(), table.size()))
        return false;
    for (uint64_t i = 0; i < entries; ++i) {
        const uint8_t* e = &table[size_t(i) * entryBytes];
        if (u16(e) != tag)
            continue;
        // Values of one byte a unit (BYTE, ASCII, SBYTE, UNDEFINED), as the tag is written.
        const uint16_t type = u16(e + 2);
        if (type != TIFF_BYTE && type != TIFF_ASCII && type != TIFF_SBYTE && type != TIFF_UNDEFINED)
            return false;
        bytes = big ? u64(e + 4) : u32(e + 4);
        offset = bytes <= inlineBytes ? directory + countBytes + i * entryBytes + (big ? 12 : 8)
                                      : (big ? u64(e + 12) : u32(e + 8));
        const uint64_t size = TIFFGetSizeProc(tif)(TIFFClientdata(tif));
        return bytes > 0 && bytes <= uint64_t(kMaxLibtiffAllocation) && offset <= size && bytes <= size - offset;
    }
    return false;
}

// A value's bytes in the document as an input stream, read a block at a time
// through the handle's client procedures.
class EntryStream : public std::streambuf {
public:
    EntryStream(TIFF* tif, uint64_t offset, uint64_t bytes) : tif_(tif), next_(offset), left_(bytes) {}

protected:
    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        const size_t n = size_t(std::min<uint64_t>(left_, sizeof block_));
        if (n == 0 || !readAt(tif_, next_, block_, n)) {
            left_ = 0;
            return traits_type::eof();
        }
        next_ += n;
        left_ -= n;
        setg(block_, block_, block_ + n);
        return traits_type::to_int_type(*gptr());
    }

private:
    TIFF* tif_;
    uint64_t next_;
    uint64_t left_;
    char block_[64 * 1024];
};

// Hands the first directory's hotspot tag to the sink (see HotspotTagSink).
void streamHotspots(TIFF* tif, const HotspotTagSink& sink)
{
    uint64_t offset = 0, bytes = 0;
    if (!sink.take || !findByteEntry(tif, TIFFTAG_QELHOTSPOT, offset, bytes))
        return;
    auto buffer = std::make_unique<EntryStream>(tif, offset, bytes);
    std::istream in(buffer.get());
    sink.take(sink.context, in, bytes);
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
        return nullptr;
    }
    if (extra.hotspots) {
        try {
            streamHotspots(tif, *extra.hotspots);
        } catch (...) {
            // Out of memory for the stream: the document has no hotspots.
        }
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
