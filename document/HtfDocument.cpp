#include "HtfDocument.h"

#include "HotspotList.h"
#include "HotspotStream.h"
#include "GlobalMemory.h"
#include "PrivateTags.h"
#include "PrivateTempFile.h"
#include "UserMessage.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// Errors of the TIFF library as a message box "<module> Error". While a
// document is being opened only its first error is shown: a damaged image
// reports every unreadable row, and the user needs one message, not thousands.
bool openInProgress = false;
bool errorShownDuringOpen = false;

void showTiffError(const char* module, const char* format, va_list args)
{
    if (openInProgress) {
        if (errorShownDuringOpen)
            return;
        errorShownDuringOpen = true;
    }
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    char caption[300];
    std::snprintf(caption, sizeof caption, "%s Error", module ? module : "TIFFLIB");
    showUserMessage(GetFocus(), text, caption, MB_ICONEXCLAMATION | MB_OK);
}

class OpenScope {
public:
    OpenScope()
    {
        TIFFSetErrorHandler(showTiffError);
        TIFFSetWarningHandler(nullptr);
        openInProgress = true;
        errorShownDuringOpen = false;
    }
    ~OpenScope() { openInProgress = false; }
};

// Closes the TIFF handle (and its file) on every path.
class TiffHandle {
public:
    explicit TiffHandle(TIFF* tif) : tif_(tif) {}
    ~TiffHandle() { HtfTIFFClose(tif_); }
    TiffHandle(const TiffHandle&) = delete;
    TiffHandle& operator=(const TiffHandle&) = delete;
    TIFF* get() const { return tif_; }

private:
    TIFF* tif_;
};

// Frees a _TIFFmalloc buffer on every path.
struct TiffBuffer {
    explicit TiffBuffer(tmsize_t size) : data(size > 0 ? _TIFFmalloc(size) : nullptr) {}
    ~TiffBuffer() { if (data) _TIFFfree(data); }
    TiffBuffer(const TiffBuffer&) = delete;
    TiffBuffer& operator=(const TiffBuffer&) = delete;
    void* data;
};

// Pixels per metre from the X resolution (72 per inch gives 2835).
int32_t resolutionOf(TIFF* tif)
{
    float resolution = 0;
    uint16_t unit = 0;
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &resolution);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    double value = resolution;
    if (unit == RESUNIT_INCH)
        value *= 39.37008;
    if (!(value >= 0 && value < 2147483647.0))   // NaN, negative or absurd
        return 0;
    return int32_t(std::lround(value));
}

struct Size {
    uint32_t width = 0;
    uint32_t height = 0;
    bool fitsDib() const { return width <= 0x7FFFFFFF && height <= 0x7FFFFFFF; }
};

Size sizeOf(TIFF* tif)
{
    Size size;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &size.height);
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &size.width);
    return size;
}

// Grey, bilevel and palette images keep their depth and indices when they
// have one sample of 1, 4 or 8 bits; others go through the RGBA conversion.
bool keepsIndexedForm(TIFF* tif, uint16_t defaultBits)
{
    uint16_t bits = defaultBits, samples = 1;
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    return samples == 1 && (bits == 1 || bits == 4 || bits == 8);
}

// Copies `bitCount` bits from the start of `src` to bit `dstBit` of `dst`
// (most significant bit first, as TIFF and DIB rows pack 1- and 4-bit pixels).
// Bits of `dst` outside the run keep their value; no byte outside it is touched.
void copyBits(unsigned char* dst, uint64_t dstBit, const unsigned char* src, uint64_t bitCount)
{
    unsigned char* out = dst + dstBit / 8;
    const unsigned shift = unsigned(dstBit % 8);
    const size_t wholeBytes = size_t(bitCount / 8);
    const unsigned restBits = unsigned(bitCount % 8);
    if (shift == 0) {
        std::memcpy(out, src, wholeBytes);
        if (restBits) {
            const unsigned char keep = static_cast<unsigned char>(0xFF >> restBits);
            out[wholeBytes] = static_cast<unsigned char>((out[wholeBytes] & keep) | (src[wholeBytes] & ~keep));
        }
        return;
    }
    // Each source byte straddles two destination bytes.
    for (size_t i = 0; i <= wholeBytes; ++i) {
        const unsigned bits = i < wholeBytes ? 8 : restBits;
        if (bits == 0)
            break;
        const unsigned sourceMask = (0xFF00u >> bits) & 0xFF;
        const unsigned wide = (src[i] & sourceMask) << (8 - shift);
        const unsigned wideMask = sourceMask << (8 - shift);
        out[i] = static_cast<unsigned char>((out[i] & ~(wideMask >> 8)) | (wide >> 8));
        if (wideMask & 0xFF)
            out[i + 1] = static_cast<unsigned char>((out[i + 1] & ~wideMask) | (wide & 0xFF));
    }
}

// Tiled files cannot be read by scanlines: each tile's rows are copied into
// the DIB rows they cover. Tile rows are padded to whole bytes, so a tile
// column starts at bit (column x tile width x bits per sample) of the DIB row,
// and edge tiles are clipped to the image's width and height.
void readIndexedTiles(TIFF* tif, unsigned char* pixels, uint32_t width, uint32_t height, uint32_t stride,
                      uint16_t bitsPerSample)
{
    uint32_t tileWidth = 0, tileLength = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    const tmsize_t tileRowBytes = TIFFTileRowSize(tif);
    const tmsize_t tileBytes = TIFFTileSize(tif);
    if (tileWidth == 0 || tileLength == 0 || tileRowBytes <= 0 || tileBytes <= 0)
        return;
    // The tile buffer must hold every row that is copied out of it.
    if (uint64_t(tileRowBytes) * 8 < uint64_t(tileWidth) * bitsPerSample ||
        uint64_t(tileBytes) < uint64_t(tileRowBytes) * tileLength ||
        uint64_t(stride) * 8 < uint64_t(width) * bitsPerSample)
        return;
    TiffBuffer tile(tileBytes);
    if (!tile.data)
        return;
    const auto* tileData = static_cast<const unsigned char*>(tile.data);
    for (uint32_t y = 0; y < height; y += tileLength) {
        const uint32_t rows = std::min(tileLength, height - y);
        for (uint32_t x = 0; x < width; x += tileWidth) {
            if (TIFFReadTile(tif, tile.data, x, y, 0, 0) < 0)
                continue;
            const uint64_t columns = std::min(tileWidth, width - x);
            for (uint32_t ty = 0; ty < rows; ++ty)
                copyBits(pixels + size_t(height - 1 - (y + ty)) * stride, uint64_t(x) * bitsPerSample,
                         tileData + size_t(ty) * size_t(tileRowBytes), columns * bitsPerSample);
            if (width - x <= tileWidth)
                break;   // x + tileWidth would wrap past the last column
        }
        if (height - y <= tileLength)
            break;
    }
}

// Reading goes on with the next row after a row that cannot be read (that
// row stays zero). After two failed rows in a row the rest of the strip is
// given up as well: a strip that cannot be loaded fails again for each of its
// rows, and a small damaged file that declares millions of rows in one strip
// would keep the reader busy for minutes. A codec that resynchronises after a
// damaged row still delivers the rows that follow it.
class RowCursor {
public:
    RowCursor(uint32_t height, uint32_t rowsPerStrip)
        : height_(height), rowsPerStrip_(rowsPerStrip == 0 || rowsPerStrip > height ? std::max<uint32_t>(height, 1)
                                                                                     : rowsPerStrip)
    {
    }
    bool more() const { return row_ < height_; }
    uint32_t row() const { return row_; }
    void advance(bool read)
    {
        if (read || !lastFailed_) {
            lastFailed_ = !read;
            ++row_;
            return;
        }
        lastFailed_ = false;
        const uint64_t next = (uint64_t(row_) / rowsPerStrip_ + 1) * rowsPerStrip_;
        row_ = uint32_t(std::min<uint64_t>(next, height_));
    }

private:
    uint32_t height_;
    uint32_t rowsPerStrip_;
    uint32_t row_ = 0;
    bool lastFailed_ = false;
};

void readIndexedRows(TIFF* tif, unsigned char* pixels, uint32_t width, uint32_t height, uint32_t stride,
                     tmsize_t scanlineBytes, uint16_t bitsPerSample)
{
    if (TIFFIsTiled(tif)) {
        readIndexedTiles(tif, pixels, width, height, stride, bitsPerSample);
        return;
    }
    uint32_t rowsPerStrip = 0;
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    RowCursor rows(height, rowsPerStrip);
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (planar == PLANARCONFIG_CONTIG) {
        while (rows.more()) {
            const uint32_t r = rows.row();
            rows.advance(TIFFReadScanline(tif, pixels + size_t(height - 1 - r) * stride, r, 0) == 1);
        }
    } else if (planar == PLANARCONFIG_SEPARATE) {
        // One sample per pixel (see keepsIndexedForm): plane 0 is the image.
        TiffBuffer row(scanlineBytes);
        if (!row.data)
            return;
        while (rows.more()) {
            const uint32_t r = rows.row();
            const bool read = TIFFReadScanline(tif, row.data, r, 0) == 1;
            if (read)
                std::memcpy(pixels + size_t(height - 1 - r) * stride, row.data, size_t(scanlineBytes));
            rows.advance(read);
        }
    }
}

// Shared by the grey and palette conversions: the DIB with the file's depth
// and rows; `fillPalette` writes the colour table.
// `tooLarge` is set when the image's DIB cannot be had in this process (its
// size is beyond a DIB's limits or its memory cannot be allocated).
template <class FillPalette>
DibHandle convertIndexed(TIFF* tif, uint16_t defaultBits, FillPalette fillPalette, bool& tooLarge)
{
    const Size size = sizeOf(tif);
    uint16_t bits = defaultBits;
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    const tmsize_t scanlineBytes = TIFFScanlineSize(tif);
    if (scanlineBytes < 0)
        return nullptr;
    if (!size.fitsDib() || uint64_t(scanlineBytes) > 0xFFFFFFFFull) {
        tooLarge = true;
        return nullptr;
    }
    DibHandle dib = createEmptyDib(int32_t(size.width), int32_t(size.height), uint32_t(scanlineBytes), bits,
                                   resolutionOf(tif));
    if (!dib) {
        tooLarge = true;
        return nullptr;
    }
    GlobalLockGuard<unsigned char> data(dib);
    if (!data) {
        GlobalFree(dib);
        return nullptr;
    }
    fillPalette(reinterpret_cast<RGBQUAD*>(data.get() + sizeof(BITMAPINFOHEADER)), 1u << bits);
    const uint32_t stride = uint32_t((uint64_t(scanlineBytes) + 3) / 4 * 4);
    readIndexedRows(tif, dibPixels(data.get()), size.width, size.height, stride, scanlineBytes, bits);
    return dib;
}

DibHandle convertGrey(TIFF* tif, bool& tooLarge)
{
    return convertIndexed(tif, 1, [tif](RGBQUAD* palette, uint32_t n) {
        uint16_t photometric = PHOTOMETRIC_MINISBLACK;
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
        const uint32_t step = 255 / (n - 1);
        for (uint32_t i = 0; i < n; ++i) {
            BYTE v = BYTE(step * i);
            if (photometric == PHOTOMETRIC_MINISWHITE)
                v = BYTE(255 - v);
            palette[i] = RGBQUAD{v, v, v, 0};
        }
    }, tooLarge);
}

DibHandle convertPalette(TIFF* tif, bool& tooLarge)
{
    return convertIndexed(tif, 8, [tif](RGBQUAD* palette, uint32_t n) {
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
            return;
        for (uint32_t i = 0; i < n; ++i)
            palette[i] = RGBQUAD{BYTE(blue[i] >> 8), BYTE(green[i] >> 8), BYTE(red[i] >> 8), 0};
    }, tooLarge);
}

// Ends a TIFFRGBAImage on every path.
struct RgbaImage {
    TIFFRGBAImage image{};
    bool begun = false;
    ~RgbaImage() { if (begun) TIFFRGBAImageEnd(&image); }
};

// Rows decoded per call: whole strips or tile rows, about 4 MiB of raster.
uint32_t rgbaBandRows(TIFF* tif, uint32_t width, uint32_t height)
{
    uint32_t unit = 0;
    if (TIFFIsTiled(tif))
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
    else
        TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &unit);
    unit = std::max<uint32_t>(1, std::min(unit, height));
    const uint64_t wanted = (4u << 20) / (uint64_t(std::max<uint32_t>(width, 1)) * 4);
    const uint64_t rows = std::max<uint64_t>(unit, wanted / unit * unit);
    return uint32_t(std::min<uint64_t>(rows, height));
}

// Every kind that is not kept indexed goes through libtiff's RGBA interface
// into a 24-bit DIB. The image is decoded in bands of whole strips (or tile
// rows) rather than into one raster of the whole image: the same conversion,
// with a raster of a few MiB instead of 4 bytes per pixel of the image.
DibHandle convertRgba(TIFF* tif, bool& tooLarge)
{
    const Size size = sizeOf(tif);
    if (!size.fitsDib() || uint64_t(size.width) * 3 > 0xFFFFFFFFull) {
        tooLarge = true;
        return nullptr;
    }
    DibHandle dib = createEmptyDib(int32_t(size.width), int32_t(size.height), size.width * 3, 24, resolutionOf(tif));
    tooLarge = !dib;
    if (!dib || size.width == 0 || size.height == 0)
        return dib;

    char message[1024] = {};
    RgbaImage rgba;
    if (!TIFFRGBAImageOK(tif, message) || !(rgba.begun = TIFFRGBAImageBegin(&rgba.image, tif, 0, message))) {
        TIFFError(TIFFFileName(tif), "%s", message);
        return dib;   // all black
    }
    const uint32_t bandRows = rgbaBandRows(tif, size.width, size.height);
    const uint64_t rasterBytes = uint64_t(size.width) * bandRows * 4;
    if (rasterBytes > kMaxDibBlockBytes)
        return dib;
    TiffBuffer raster{tmsize_t(rasterBytes)};
    if (!raster.data)
        return dib;

    GlobalLockGuard<unsigned char> data(dib);
    if (!data)
        return dib;
    unsigned char* pixels = dibPixels(data.get());
    const size_t stride = (size_t(size.width) * 3 + 3) / 4 * 4;
    for (uint32_t top = 0; top < size.height; top += bandRows) {
        const uint32_t rows = std::min(bandRows, size.height - top);
        rgba.image.row_offset = int(top);
        rgba.image.col_offset = 0;
        if (!TIFFRGBAImageGet(&rgba.image, static_cast<uint32_t*>(raster.data), size.width, rows)) {
            // A failed decode shows black, not a partial image: clear the
            // rows of the bands already copied (the rest was never written,
            // and touching it would commit the whole block).
            std::memset(pixels + size_t(size.height - top) * stride, 0, stride * top);
            return dib;
        }
        // The band's first raster row is its bottom row; DIB rows run bottom-up.
        unsigned char* out = pixels + size_t(size.height - top - rows) * stride;
        const uint32_t* in = static_cast<const uint32_t*>(raster.data);
        for (uint32_t k = 0; k < rows; ++k, out += stride, in += size.width) {
            for (uint32_t x = 0; x < size.width; ++x) {
                const uint32_t abgr = in[x];
                out[3 * x] = BYTE(abgr >> 16);      // blue
                out[3 * x + 1] = BYTE(abgr >> 8);   // green
                out[3 * x + 2] = BYTE(abgr);        // red
            }
        }
    }
    return dib;
}

} // namespace

HtfDocument::~HtfDocument()
{
    delete pendingHotspots;
}

HotspotList* HtfDocument::takeHotspots()
{
    HotspotList* list = pendingHotspots;
    pendingHotspots = nullptr;
    return list;
}

DibHandle HtfDocument::open(const char* fileName)
{
    delete pendingHotspots;
    pendingHotspots = nullptr;
    imageWidth_ = imageHeight_ = 0;
    imageTooLarge_ = false;

    OpenScope scope;
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    TIFF* opened = HtfTIFFFdOpen(file, fileName, "ru");
    if (!opened) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return nullptr;
    }
    TiffHandle tif(opened);

    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    const Size size = sizeOf(tif.get());
    imageWidth_ = size.width;
    imageHeight_ = size.height;
    bool tooLarge = false;
    DibHandle dib = nullptr;
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        dib = keepsIndexedForm(tif.get(), 1) ? convertGrey(tif.get(), tooLarge) : convertRgba(tif.get(), tooLarge);
        break;
    case PHOTOMETRIC_PALETTE:
        dib = keepsIndexedForm(tif.get(), 8) ? convertPalette(tif.get(), tooLarge)
                                             : convertRgba(tif.get(), tooLarge);
        break;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_MASK:
    case PHOTOMETRIC_SEPARATED:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB:
        dib = convertRgba(tif.get(), tooLarge);
        break;
    default:
        break;
    }
    imageTooLarge_ = !dib && tooLarge;

    uint32_t count = 0;
    void* bytes = nullptr;
    TIFFGetField(tif.get(), TIFFTAG_QELHOTSPOT, &count, &bytes);
    if (count != 0 && bytes)
        pendingHotspots = extractHotspots(bytes, count);
    return dib;
}

HotspotList* HtfDocument::extractHotspots(const void* bytes, uint32_t count)
{
    // The stream reader reads a file stream, so the bytes pass through a
    // temporary file of this loader's own (no file: no hotspots).
    PrivateTempFile temp;
    if (!temp.create(objectIdentity(this), ".tmp"))
        return nullptr;
    const bool written = temp.write(bytes, count);
    temp.close();
    if (!written)
        return nullptr;
    HotspotList* list = nullptr;
    try {
        list = new HotspotList;
        std::ifstream in(temp.path(), std::ios::in | std::ios::binary);
        readHotspotStream(in, *list);
    } catch (...) {
        delete list;
        list = nullptr;
    }
    return list;   // the temporary file goes with `temp`
}
