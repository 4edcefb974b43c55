#include "HtfReader.h"

#include "HotspotList.h"
#include "HotspotStream.h"
#include "ImageTarget.h"
#include "PrivateTiffTags.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <istream>
#include <streambuf>

namespace {

// The document's bytes as libtiff's client: reads and seeks within them.
struct MemoryFile {
    const uint8_t* data;
    uint64_t size;
    uint64_t position;
};

tmsize_t readMemory(thandle_t handle, void* buffer, tmsize_t count)
{
    auto* file = static_cast<MemoryFile*>(handle);
    if (count <= 0 || file->position >= file->size)
        return 0;
    const uint64_t n = std::min<uint64_t>(uint64_t(count), file->size - file->position);
    std::memcpy(buffer, file->data + file->position, size_t(n));
    file->position += n;
    return tmsize_t(n);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t)
{
    return 0;   // documents are only read
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<MemoryFile*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = file->position;
    else if (whence == SEEK_END)
        base = file->size;
    // libtiff passes negative moves as wrapped unsigned offsets.
    const uint64_t target = base + uint64_t(offset);
    if (whence != SEEK_SET && uint64_t(offset) > ~uint64_t(0) / 2 && target > base)
        return toff_t(-1);   // before the start
    file->position = target;
    return toff_t(file->position);
}

int closeMemory(thandle_t)
{
    return 0;
}

toff_t sizeOfMemory(thandle_t handle)
{
    return static_cast<MemoryFile*>(handle)->size;
}

int noMapping(thandle_t, void**, toff_t*)
{
    return 0;
}

void noUnmapping(thandle_t, void*, toff_t) {}

// Keeps the first error of the handle; nothing reaches the process-wide handler.
int keepFirstError(TIFF*, void* data, const char* module, const char* format, va_list args)
{
    auto* result = static_cast<HtfReadResult*>(data);
    if (result->hadError)
        return 1;
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    result->hadError = true;
    result->errorModule = module ? module : "TIFFLIB";
    result->errorText = text;
    return 1;
}

// An input stream over bytes in memory.
class MemoryBuffer : public std::streambuf {
public:
    MemoryBuffer(const void* data, size_t size)
    {
        char* begin = const_cast<char*>(static_cast<const char*>(data));
        setg(begin, begin, begin + size);
    }
};

} // namespace

std::string HtfReadResult::errorCaption() const
{
    return errorModule + " Error";
}

std::unique_ptr<HotspotList> readHotspotTag(TIFF* tif)
{
    uint32_t count = 0;
    void* bytes = nullptr;
    TIFFGetField(tif, TIFFTAG_QELHOTSPOT, &count, &bytes);
    if (count == 0 || !bytes)
        return nullptr;
    try {
        auto list = std::make_unique<HotspotList>();
        MemoryBuffer buffer(bytes, count);
        std::istream in(&buffer);
        readHotspotStream(in, *list);
        return list;
    } catch (...) {
        return nullptr;
    }
}

HtfReadResult readHtfDocument(const uint8_t* data, size_t size, const char* name, ImageTarget& target,
                              const HotspotTagSink* hotspots)
{
    HtfReadResult result;
    MemoryFile file{data, data ? uint64_t(size) : 0, 0};
    TiffClientProcs procs;
    procs.client = &file;
    procs.read = readMemory;
    procs.write = writeNothing;
    procs.seek = seekMemory;
    procs.close = closeMemory;
    procs.size = sizeOfMemory;
    procs.map = noMapping;
    procs.unmap = noUnmapping;
    // Not mapped: strips are read through the client procedures, as the
    // Windows module reads its files.
    TIFF* tif = htfTIFFClientOpen(name, "rm", procs, keepFirstError, &result, hotspots);
    if (!tif)
        return result;
    result.opened = true;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &result.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &result.height);
    try {
        result.outcome = decodeTiffImage(tif, target);
        if (!hotspots)
            result.hotspots = readHotspotTag(tif);
    } catch (...) {
        result.outcome = DecodeOutcome::NoMemory;
        result.hotspots.reset();
    }
    htfTIFFClose(tif);
    return result;
}
