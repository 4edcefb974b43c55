#include "TileEncoder.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>

namespace {

// The memory "file" behind the handle: its size grows with every write, and
// only the writes made while a tile is encoded are kept.
struct TileSink {
    uint64_t size = 0, at = 0;
    bool capturing = false;
    std::string* captured = nullptr;
    std::string message;
};

tmsize_t readNothing(thandle_t, void*, tmsize_t) { return 0; }

tmsize_t writeSink(thandle_t handle, void* data, tmsize_t n)
{
    auto* sink = static_cast<TileSink*>(handle);
    if (sink->capturing)
        sink->captured->append(static_cast<const char*>(data), size_t(n));
    sink->at += uint64_t(n);
    if (sink->at > sink->size)
        sink->size = sink->at;
    return n;
}

toff_t seekSink(thandle_t handle, toff_t offset, int whence)
{
    auto* sink = static_cast<TileSink*>(handle);
    sink->at = whence == SEEK_END ? sink->size + offset : whence == SEEK_CUR ? sink->at + offset : offset;
    return sink->at;
}

int closeSink(thandle_t) { return 0; }
toff_t sizeOfSink(thandle_t handle) { return static_cast<TileSink*>(handle)->size; }
int mapNothing(thandle_t, void**, toff_t*) { return 0; }
void unmapNothing(thandle_t, void*, toff_t) {}

int keepError(TIFF*, void* data, const char* module, const char* format, va_list args)
{
    auto* sink = static_cast<TileSink*>(data);
    if (sink->message.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        sink->message = std::string(module ? module : "libtiff") + ": " + text;
    }
    return 1;
}

int ignoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

bool encodeTile(const TileFormat& format, const uint8_t* pixels, std::string& encoded, std::string& error)
{
    TileSink sink;
    sink.captured = &encoded;
    encoded.clear();
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return error = "not enough memory to compress a tile", false;
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepError, &sink);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreWarning, &sink);
    TIFF* tif = TIFFClientOpenExt("tile", "w", &sink, readNothing, writeSink, seekSink, closeSink, sizeOfSink,
                                  mapNothing, unmapNothing, options);
    TIFFOpenOptionsFree(options);
    if (!tif)
        return error = sink.message.empty() ? "cannot compress a tile" : sink.message, false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, format.tileSize);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, format.tileSize);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, format.tileSize);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, format.tileSize);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, format.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, format.samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, format.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, format.compression);
    if (format.predictor != PREDICTOR_NONE)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, format.predictor);
    const tmsize_t bytes = TIFFTileSize(tif);
    sink.capturing = true;
    // libtiff reads the pixels only (its predictor works on a copy).
    const bool written = bytes > 0 && TIFFWriteEncodedTile(tif, 0, const_cast<uint8_t*>(pixels), bytes) == bytes;
    sink.capturing = false;
    // The directory libtiff writes as it closes goes nowhere.
    TIFFClose(tif);
    if (!written)
        return error = sink.message.empty() ? "cannot compress a tile" : sink.message, false;
    return true;
}
