#include "TiffImageDecoder.h"

#include "ImageTarget.h"
#include "TiffGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The largest raster band the colour conversion decodes at once (the largest
// block a Windows DIB may take).
constexpr uint64_t kMaxRasterBandBytes = 0x7FFFFFFF;

// What a tile read may take beyond the image's own bytes (tileReadFits).
constexpr uint64_t kTileSlackBytes = 4u << 20;
// The state a codec keeps for each pixel of a tile row, at most.
constexpr uint64_t kCodecBytesPerTilePixel = 16;

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
    // Sizes a signed 32-bit image header can carry.
    bool fitsSigned() const { return width <= 0x7FFFFFFF && height <= 0x7FFFFFFF; }
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
// (most significant bit first, as TIFF rows pack 1- and 4-bit pixels). Bits
// of `dst` outside the run keep their value; no byte outside it is touched.
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
// the rows they cover. Tile rows are padded to whole bytes, so a tile column
// starts at bit (column x tile width x bits per sample) of the image row, and
// edge tiles are clipped to the image's width and height. Only the tile rows
// inside the image are decoded: a tile far taller than the image costs the
// image's rows, not the tile's.
void readIndexedTiles(TIFF* tif, ImageTarget& target, uint32_t width, uint32_t height, uint32_t rowBytes,
                      uint16_t bitsPerSample)
{
    uint32_t tileWidth = 0, tileLength = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    const tmsize_t tileRowBytes = TIFFTileRowSize(tif);
    if (tileWidth == 0 || tileLength == 0 || tileRowBytes <= 0 || height == 0)
        return;
    // The tile buffer must hold every row that is copied out of it.
    if (uint64_t(tileRowBytes) * 8 < uint64_t(tileWidth) * bitsPerSample ||
        uint64_t(rowBytes) * 8 < uint64_t(width) * bitsPerSample)
        return;
    const uint32_t bandRows = std::min(tileLength, height);
    const uint64_t bufferBytes = uint64_t(tileRowBytes) * bandRows;
    if (!tileReadFits(tif, tileWidth, bufferBytes, uint64_t(rowBytes) * height) ||
        bufferBytes > uint64_t(TIFF_TMSIZE_T_MAX)) {
        TIFFErrorExtR(tif, TIFFFileName(tif), "Tiles of %u x %u pixels are too large for an image of %u x %u",
                      unsigned(tileWidth), unsigned(tileLength), unsigned(width), unsigned(height));
        return;
    }
    TiffBuffer tile{tmsize_t(bufferBytes)};
    if (!tile.data)
        return;
    const auto* tileData = static_cast<const unsigned char*>(tile.data);
    for (uint32_t y = 0; y < height; y += tileLength) {
        const uint32_t rows = std::min(tileLength, height - y);
        for (uint32_t x = 0; x < width; x += tileWidth) {
            const tmsize_t wanted = tileRowBytes * tmsize_t(rows);
            if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, 0), tile.data, wanted) != wanted)
                continue;
            const uint64_t columns = std::min(tileWidth, width - x);
            for (uint32_t ty = 0; ty < rows; ++ty)
                copyBits(target.row(y + ty), uint64_t(x) * bitsPerSample, tileData + size_t(ty) * size_t(tileRowBytes),
                         columns * bitsPerSample);
            if (width - x <= tileWidth)
                break;   // x + tileWidth would wrap past the last column
        }
        if (height - y <= tileLength)
            break;
    }
}

// Reading goes on with the next row after a row that cannot be read (that
// row stays black). After two failed rows in a row the rest of the strip is
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
    // Goes back to the first row of the strip that holds `row`.
    void restartStrip(uint32_t row)
    {
        row_ = std::min(row, height_) / rowsPerStrip_ * rowsPerStrip_;
        lastFailed_ = false;
    }
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

// Makes the first `count` rows black again (opaque in the RGBA layout).
void clearRows(ImageTarget& target, uint32_t count, size_t rowBytes)
{
    const bool rgba = target.colourLayout() == ImageTarget::ColourLayout::Rgba32;
    for (uint32_t y = 0; y < count; ++y) {
        uint8_t* row = target.row(y);
        std::memset(row, 0, rowBytes);
        if (rgba) {
            for (size_t alpha = 3; alpha < rowBytes; alpha += 4)
                row[alpha] = 255;
        }
    }
}

// The common colour kind, 8-bit RGB samples side by side in strips, read by
// scanlines instead of through the RGBA interface: the same pixels (that
// interface passes such samples through unchanged) at a fraction of the
// work. As there, a row that cannot be read makes the whole picture black.
bool isPlainRgbStrips(TIFF* tif)
{
    uint16_t bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG, extra = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra, &extraTypes);
    uint16_t photometric = 0, orientation = ORIENTATION_TOPLEFT;
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    return photometric == PHOTOMETRIC_RGB && bits == 8 && samples == 3 && extra == 0 &&
           planar == PLANARCONFIG_CONTIG && orientation == ORIENTATION_TOPLEFT && !TIFFIsTiled(tif);
}


} // namespace

// What a decoding needs between two bands: the kind of decoding, the target,
// where it stopped and the buffers it keeps.
struct TiffRowDecoder::State {
    enum class Mode { Done, IndexedRows, IndexedPlane, IndexedTiles, PlainRgb, Rgba };

    TIFF* tif = nullptr;
    ImageTarget* target = nullptr;
    TiffGeometry geometry;   // the directory the target and buffers were sized for
    Mode mode = Mode::Done;
    uint32_t width = 0, height = 0, rowBytes = 0, bandRows = 0, done = 0, rowsPerStrip = 1;
    uint16_t bits = 0;
    tmsize_t scanlineBytes = 0;
    RowCursor rows{0, 0};
    std::unique_ptr<TiffBuffer> buffer;   // a scanline, or the colour conversion's raster band
    RgbaImage image;
    bool cleared = false;

    template <class FillPalette>
    DecodeOutcome beginIndexed(uint16_t defaultBits, FillPalette fillPalette);
    DecodeOutcome beginRgba();
    bool beginRgbaImage();
    void decodeTo(uint32_t endRow);
    void decodeRgbaTo(uint32_t endRow);
    void decodePlainRgbTo(uint32_t endRow);
    // Nothing more to decode (the rest stays black).
    void finish() { mode = Mode::Done, done = height; }
    // A colour image that failed part way: black all over.
    void blacken(uint32_t decodedRows)
    {
        clearRows(*target, decodedRows, rowBytes);
        cleared = decodedRows > 0;
        finish();
    }
};

// Shared by the grey and palette conversions: the file's depth and rows;
// `fillPalette` makes the colour table.
template <class FillPalette>
DecodeOutcome TiffRowDecoder::State::beginIndexed(uint16_t defaultBits, FillPalette fillPalette)
{
    const Size size = sizeOf(tif);
    bits = defaultBits;
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    scanlineBytes = TIFFScanlineSize(tif);
    if (scanlineBytes < 0)
        return DecodeOutcome::Unsupported;   // no row size: nothing to decode
    if (!size.fitsSigned() || uint64_t(scanlineBytes) > 0xFFFFFFFFull)
        return DecodeOutcome::TooLarge;
    if (!target->allocate(size.width, size.height, bits, uint32_t(scanlineBytes), resolutionOf(tif)))
        return DecodeOutcome::NoMemory;
    width = size.width, height = size.height, rowBytes = uint32_t(scanlineBytes);
    const uint32_t count = 1u << bits;
    RgbColour palette[256];
    fillPalette(palette, count);
    target->setPalette(palette, count);
    if (TIFFIsTiled(tif)) {
        mode = Mode::IndexedTiles;
        return DecodeOutcome::Decoded;
    }
    uint32_t rowsPerStrip = 0;
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rows = RowCursor(height, rowsPerStrip);
    this->rowsPerStrip = rowsPerStrip == 0 || rowsPerStrip > height ? std::max<uint32_t>(height, 1) : rowsPerStrip;
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (planar == PLANARCONFIG_CONTIG) {
        mode = Mode::IndexedRows;
    } else if (planar == PLANARCONFIG_SEPARATE) {
        // One sample per pixel (see keepsIndexedForm): plane 0 is the image.
        buffer = std::make_unique<TiffBuffer>(scanlineBytes);
        mode = buffer->data ? Mode::IndexedPlane : Mode::Done;
    }
    if (mode == Mode::Done)
        finish();
    return DecodeOutcome::Decoded;
}

// Every kind that is not kept indexed goes through libtiff's RGBA interface,
// except 8-bit RGB strips (read by scanlines). The image is decoded in bands
// of whole strips (or tile rows) rather than into one raster of the whole
// image: the same conversion, with a raster of a few MiB instead of 4 bytes
// per pixel of the image.
DecodeOutcome TiffRowDecoder::State::beginRgba()
{
    const Size size = sizeOf(tif);
    const bool rgba = target->colourLayout() == ImageTarget::ColourLayout::Rgba32;
    const uint32_t pixelBytes = rgba ? 4 : 3;
    if (!size.fitsSigned() || uint64_t(size.width) * pixelBytes > 0xFFFFFFFFull)
        return DecodeOutcome::TooLarge;
    rowBytes = size.width * pixelBytes;
    if (!target->allocate(size.width, size.height, 24, rowBytes, resolutionOf(tif)))
        return DecodeOutcome::NoMemory;
    width = size.width, height = size.height;
    if (width == 0 || height == 0) {
        finish();
        return DecodeOutcome::Decoded;
    }
    if (isPlainRgbStrips(tif)) {
        TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        if (rowsPerStrip == 0 || rowsPerStrip > height)
            rowsPerStrip = height;
        scanlineBytes = TIFFScanlineSize(tif);
        if (scanlineBytes > 0 && uint64_t(scanlineBytes) >= uint64_t(width) * 3)
            buffer = std::make_unique<TiffBuffer>(scanlineBytes);
        if (buffer && buffer->data)
            mode = Mode::PlainRgb;
        else
            finish();   // all black
        return DecodeOutcome::Decoded;
    }
    // libtiff reads each tile of the colour interface whole: a tile much
    // larger than the image is refused instead.
    uint32_t tileWidth = 0;
    if (TIFFIsTiled(tif) && (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth) ||
                             !tileReadFits(tif, tileWidth, uint64_t(TIFFTileSize64(tif)), uint64_t(width) * height * 4))) {
        TIFFErrorExtR(tif, TIFFFileName(tif), "Tiles larger than the image of %u x %u", unsigned(width),
                      unsigned(height));
        finish();   // all black
        return DecodeOutcome::Decoded;
    }
    if (!beginRgbaImage()) {
        finish();   // all black
        return DecodeOutcome::Decoded;
    }
    bandRows = rgbaBandRows(tif, width, height);
    const uint64_t rasterBytes = uint64_t(width) * bandRows * 4;
    if (rasterBytes <= kMaxRasterBandBytes)
        buffer = std::make_unique<TiffBuffer>(tmsize_t(rasterBytes));
    if (buffer && buffer->data)
        mode = Mode::Rgba;
    else
        finish();
    return DecodeOutcome::Decoded;
}

bool TiffRowDecoder::State::beginRgbaImage()
{
    if (image.begun)
        TIFFRGBAImageEnd(&image.image);
    image.begun = false;
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message) || !(image.begun = TIFFRGBAImageBegin(&image.image, tif, 0, message))) {
        TIFFErrorExtR(tif, TIFFFileName(tif), "%s", message);
        return false;
    }
    return true;
}

void TiffRowDecoder::State::decodeTo(uint32_t endRow)
{
    endRow = std::min(endRow, height);
    switch (mode) {
    case Mode::Done:
        return;
    case Mode::IndexedTiles:
        readIndexedTiles(tif, *target, width, height, rowBytes, bits);
        finish();
        return;
    case Mode::IndexedRows:
        while (rows.more() && rows.row() < endRow) {
            const uint32_t r = rows.row();
            rows.advance(TIFFReadScanline(tif, target->row(r), r, 0) == 1);
        }
        break;
    case Mode::IndexedPlane:
        while (rows.more() && rows.row() < endRow) {
            const uint32_t r = rows.row();
            const bool read = TIFFReadScanline(tif, buffer->data, r, 0) == 1;
            if (read)
                std::memcpy(target->row(r), buffer->data, size_t(scanlineBytes));
            rows.advance(read);
        }
        break;
    case Mode::PlainRgb:
        return decodePlainRgbTo(endRow);
    case Mode::Rgba:
        return decodeRgbaTo(endRow);
    }
    done = rows.row();
    if (!rows.more())
        finish();
}

// 8-bit RGB strips by scanlines. As through the RGBA interface, a row that
// cannot be read makes the whole picture black.
void TiffRowDecoder::State::decodePlainRgbTo(uint32_t endRow)
{
    const ImageTarget::ColourLayout layout = target->colourLayout();
    const bool rgba = layout == ImageTarget::ColourLayout::Rgba32;
    // The file's own layout, a row as long as the scanline: read in place.
    const bool inPlace = layout == ImageTarget::ColourLayout::Rgb24 && uint64_t(scanlineBytes) == rowBytes;
    const auto* in = static_cast<const uint8_t*>(buffer->data);
    for (uint32_t y = done; y < endRow; ++y) {
        uint8_t* out = target->row(y);
        if (TIFFReadScanline(tif, inPlace ? out : buffer->data, y, 0) != 1)
            return blacken(y);
        if (inPlace)
            continue;
        if (layout == ImageTarget::ColourLayout::Rgb24) {
            std::memcpy(out, in, size_t(width) * 3);
        } else if (rgba) {
            for (uint32_t x = 0; x < width; ++x, out += 4) {
                out[0] = in[3 * x];
                out[1] = in[3 * x + 1];
                out[2] = in[3 * x + 2];
                out[3] = 255;
            }
        } else {
            for (uint32_t x = 0; x < width; ++x, out += 3) {
                out[0] = in[3 * x + 2];
                out[1] = in[3 * x + 1];
                out[2] = in[3 * x];
            }
        }
    }
    done = std::max(done, endRow);
    if (done == height)
        finish();
}

// Whole bands of strips (or tile rows); a failed band makes the picture black
// (not a partial image): the rows of the bands already copied are cleared.
void TiffRowDecoder::State::decodeRgbaTo(uint32_t endRow)
{
    // Where red and blue go in a pixel of the target's layout (green is
    // always in the middle), and how many bytes a pixel takes.
    const ImageTarget::ColourLayout layout = target->colourLayout();
    const bool rgba = layout == ImageTarget::ColourLayout::Rgba32;
    const size_t step = rgba ? 4 : 3;
    const size_t red = layout == ImageTarget::ColourLayout::Bgr24 ? 2 : 0, blue = 2 - red;
    while (done < endRow) {
        const uint32_t top = done, rows = std::min(bandRows, endRow - top);
        image.image.row_offset = int(top);
        image.image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image.image, static_cast<uint32_t*>(buffer->data), width, rows))
            return blacken(top);
        // The band's first raster row is its bottom row.
        const uint32_t* in = static_cast<const uint32_t*>(buffer->data);
        for (uint32_t k = 0; k < rows; ++k, in += width) {
            unsigned char* out = target->row(top + rows - 1 - k);
            for (uint32_t x = 0; x < width; ++x, out += step) {
                const uint32_t abgr = in[x];
                out[red] = uint8_t(abgr);
                out[1] = uint8_t(abgr >> 8);
                out[blue] = uint8_t(abgr >> 16);
                if (rgba)
                    out[3] = 255;
            }
        }
        done = top + rows;
    }
    if (done == height)
        finish();
}

TiffRowDecoder::TiffRowDecoder() = default;
TiffRowDecoder::~TiffRowDecoder() = default;

bool tileReadFits(TIFF* tif, uint32_t tileWidth, uint64_t readBytes, uint64_t imageBytes)
{
    const uint64_t limit = std::max(imageBytes, kTileSlackBytes);
    if (readBytes > limit)
        return false;
    // Uncompressed, PackBits, LZW and Deflate keep nothing per pixel of a row.
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return true;
    default:
        return uint64_t(tileWidth) * kCodecBytesPerTilePixel <= limit;
    }
}

DecodeOutcome TiffRowDecoder::begin(TIFF* tif, ImageTarget& target)
{
    state_ = std::make_unique<State>();
    State& s = *state_;
    s.tif = tif;
    s.target = &target;
    s.geometry = TiffGeometry::of(tif);
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const auto grey = [tif](RgbColour* palette, uint32_t n) {
        uint16_t kind = PHOTOMETRIC_MINISBLACK;
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &kind);
        fillGreyRamp(palette, n, kind);
    };
    const auto colourMap = [tif](RgbColour* palette, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i)
            palette[i] = RgbColour{};
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
            return;
        for (uint32_t i = 0; i < n; ++i)
            palette[i] = RgbColour{uint8_t(red[i] >> 8), uint8_t(green[i] >> 8), uint8_t(blue[i] >> 8)};
    };
    DecodeOutcome outcome = DecodeOutcome::Unsupported;
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        outcome = keepsIndexedForm(tif, 1) ? s.beginIndexed(1, grey) : s.beginRgba();
        break;
    case PHOTOMETRIC_PALETTE:
        outcome = keepsIndexedForm(tif, 8) ? s.beginIndexed(8, colourMap) : s.beginRgba();
        break;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_MASK:
    case PHOTOMETRIC_SEPARATED:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB:
        outcome = s.beginRgba();
        break;
    default:
        break;
    }
    if (outcome != DecodeOutcome::Decoded)
        s.finish();
    return outcome;
}

uint32_t TiffRowDecoder::decodeTo(uint32_t endRow)
{
    if (state_)
        state_->decodeTo(endRow);
    return rowsDone();
}

bool TiffRowDecoder::reattach()
{
    if (!state_)
        return true;
    State& s = *state_;
    if (s.mode != State::Mode::Done && TiffGeometry::of(s.tif) != s.geometry) {
        // Another directory stands where this image's was: the rows decoded
        // so far stay, nothing is decoded into them from it.
        TIFFErrorExtR(s.tif, TIFFFileName(s.tif), "%s", kDocumentChangedText);
        s.mode = State::Mode::Done;
        return false;
    }
    switch (s.mode) {
    case State::Mode::Rgba:
        if (!s.beginRgbaImage())
            s.blacken(s.done);
        break;
    case State::Mode::IndexedRows:
    case State::Mode::IndexedPlane:
        // Most codecs cannot skip rows: the strip is decoded from its start again.
        s.rows.restartStrip(s.done);
        s.done = s.rows.row();
        break;
    case State::Mode::PlainRgb:
        s.done = s.done / s.rowsPerStrip * s.rowsPerStrip;
        break;
    default:
        break;
    }
    return true;
}

void TiffRowDecoder::end()
{
    state_.reset();
}

uint32_t TiffRowDecoder::rowsDone() const { return state_ ? state_->done : 0; }
uint32_t TiffRowDecoder::height() const { return state_ ? state_->height : 0; }
bool TiffRowDecoder::cleared() const { return state_ && state_->cleared; }

DecodeOutcome decodeTiffImage(TIFF* tif, ImageTarget& target)
{
    TiffRowDecoder decoder;
    const DecodeOutcome outcome = decoder.begin(tif, target);
    if (outcome == DecodeOutcome::Decoded)
        decoder.decodeTo(UINT32_MAX);
    return outcome;
}

void fillGreyRamp(RgbColour* palette, uint32_t n, uint16_t photometric)
{
    const uint32_t step = 255 / (n - 1);
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t v = uint8_t(step * i);
        if (photometric == PHOTOMETRIC_MINISWHITE)
            v = uint8_t(255 - v);
        palette[i] = RgbColour{v, v, v};
    }
}
