#include "TiffPictureSource.h"

#include "ImageTarget.h"
#include "PrivateTiffTags.h"
#include "TiffImageDecoder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Where the decoder puts rows: the caller's band while it reads one; rows
// outside it (a damaged colour image clears the rows already decoded) go to
// a row of its own.
class BandTarget : public ImageTarget {
public:
    bool allocate(uint32_t width, uint32_t height, uint16_t bits, uint32_t rowBytes, int32_t pixelsPerMetre) override
    {
        kind.width = width, kind.height = height, kind.bits = bits, kind.rowBytes = rowBytes;
        kind.pixelsPerMetre = pixelsPerMetre;
        spare.assign(rowBytes, 0);
        return true;
    }
    void setPalette(const RgbColour* colours, uint32_t count) override
    {
        kind.palette.clear();
        for (uint32_t i = 0; i < count; ++i)
            kind.palette.push_back(uint32_t(colours[i].red) | uint32_t(colours[i].green) << 8 |
                                   uint32_t(colours[i].blue) << 16 | 0xFF000000u);
    }
    uint8_t* row(uint32_t y) override
    {
        if (y >= top && y - top < count)
            return band + size_t(y - top) * kind.rowBytes;
        return spare.data();
    }
    ColourLayout colourLayout() const override { return ColourLayout::Rgb24; }

    PictureKind kind;
    uint8_t* band = nullptr;
    uint32_t top = 0, count = 0;
    std::vector<uint8_t> spare;
};

// libtiff's first error on this handle, for the message.
int keepFirstError(TIFF*, void* data, const char* module, const char* format, va_list args)
{
    auto* message = static_cast<std::string*>(data);
    if (message->empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        *message = std::string(module ? module : "libtiff") + ": " + text;
    }
    return 1;
}

struct OpenRequest {
    const char* path;
};

TIFF* openFile(void* context, TIFFOpenOptions* options)
{
    // Read, not mapped: a mapped file counts in the process's memory as it is read.
    return TIFFOpenExt(static_cast<OpenRequest*>(context)->path, "rm", options);
}

}  // namespace

struct TiffPictureSource::State {
    TIFF* tif = nullptr;
    std::string libtiffError;
    BandTarget target;
    TiffRowDecoder decoder;
    std::string hotspots;
    uint32_t next = 0;
    // A tiled indexed image: one row of tiles decoded at a time.
    bool tiledIndexed = false;
    uint32_t tileWidth = 0, tileLength = 0;
    std::vector<uint8_t> tileRow, tile;
    uint32_t tileRowTop = UINT32_MAX;

    ~State()
    {
        decoder.end();
        if (tif)
            htfTIFFClose(tif);
    }
    void loadTileRow(uint32_t top);
};

TiffPictureSource::TiffPictureSource() : state_(std::make_unique<State>()) {}
TiffPictureSource::~TiffPictureSource() = default;

bool TiffPictureSource::open(const std::string& path, std::string& error)
{
    State& s = *state_;
    OpenRequest request{path.c_str()};
    s.tif = htfTIFFOpen(openFile, &request, keepFirstError, &s.libtiffError);
    if (!s.tif)
        return error = s.libtiffError.empty() ? "not a TIFF file" : s.libtiffError, false;
    uint32_t count = 0;
    const void* bytes = nullptr;
    if (TIFFGetField(s.tif, TIFFTAG_QELHOTSPOT, &count, &bytes) && count && bytes)
        s.hotspots.assign(static_cast<const char*>(bytes), count);
    const DecodeOutcome outcome = s.decoder.begin(s.tif, s.target);
    if (outcome == DecodeOutcome::TooLarge)
        return error = "the image's rows are too large", false;
    if (outcome != DecodeOutcome::Decoded || s.target.kind.width == 0 || s.target.kind.height == 0)
        return error = "the viewer shows no image from this TIFF file", false;
    s.tiledIndexed = TIFFIsTiled(s.tif) && s.target.kind.bits <= 8;
    if (s.tiledIndexed) {
        // The decoder would decode such an image whole; its tiles are read
        // here a row of tiles at a time instead.
        TIFFGetField(s.tif, TIFFTAG_TILEWIDTH, &s.tileWidth);
        TIFFGetField(s.tif, TIFFTAG_TILELENGTH, &s.tileLength);
        const tmsize_t tileBytes = TIFFTileSize(s.tif), tileRowBytes = TIFFTileRowSize(s.tif);
        const uint64_t bandBytes = uint64_t(s.target.kind.rowBytes) * std::min(s.tileLength, s.target.kind.height);
        if (s.tileWidth == 0 || s.tileLength == 0 || s.tileWidth % 8 || tileBytes <= 0 || tileRowBytes <= 0 ||
            uint64_t(tileRowBytes) * 8 < uint64_t(s.tileWidth) * s.target.kind.bits ||
            !tileReadFits(s.tif, s.tileWidth, uint64_t(tileBytes), bandBytes))
            return error = "the image's tiles are damaged or too large", false;
        s.tile.resize(size_t(tileBytes));
        s.tileRow.resize(size_t(bandBytes));
    }
    return true;
}

const PictureKind& TiffPictureSource::kind() const { return state_->target.kind; }
const std::string& TiffPictureSource::hotspotBytes() const { return state_->hotspots; }

// Decodes the row of tiles from `rowTop`; a tile that cannot be read stays
// black, as the viewer shows it.
void TiffPictureSource::State::loadTileRow(uint32_t rowTop)
{
    const PictureKind& kind = target.kind;
    const uint32_t rows = std::min(tileLength, kind.height - rowTop);
    const size_t tileRowBytes = size_t(TIFFTileRowSize(tif));
    std::fill(tileRow.begin(), tileRow.end(), 0);
    for (uint32_t x = 0; x < kind.width; x += tileWidth) {
        const tmsize_t wanted = tmsize_t(tileRowBytes * rows);
        if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, rowTop, 0, 0), tile.data(), wanted) != wanted)
            continue;
        // Tile columns start on whole bytes (tile widths are multiples of 8).
        const uint64_t columns = std::min(tileWidth, kind.width - x);
        const size_t from = size_t(uint64_t(x) * kind.bits / 8), bits = size_t(columns * kind.bits);
        for (uint32_t y = 0; y < rows; ++y) {
            uint8_t* out = &tileRow[size_t(y) * kind.rowBytes + from];
            const uint8_t* in = &tile[size_t(y) * tileRowBytes];
            std::memcpy(out, in, bits / 8);
            if (bits % 8)
                out[bits / 8] = uint8_t(in[bits / 8] & (0xFF00 >> (bits % 8)));
        }
        if (kind.width - x <= tileWidth)
            break;
    }
    tileRowTop = rowTop;
}

bool TiffPictureSource::readRows(uint8_t* rows, uint32_t count, std::string& error)
{
    State& s = *state_;
    const PictureKind& kind = s.target.kind;
    if (count > kind.height - s.next)
        return error = "read past the image's last row", false;
    if (s.tiledIndexed) {
        for (uint32_t y = s.next; y < s.next + count; ++y) {
            const uint32_t rowTop = y / s.tileLength * s.tileLength;
            if (rowTop != s.tileRowTop)
                s.loadTileRow(rowTop);
            std::memcpy(rows + size_t(y - s.next) * kind.rowBytes, &s.tileRow[size_t(y - rowTop) * kind.rowBytes],
                        kind.rowBytes);
        }
        s.next += count;
        return true;
    }
    s.target.band = rows, s.target.top = s.next, s.target.count = count;
    s.decoder.decodeTo(s.next + count);
    s.target.band = nullptr, s.target.count = 0;
    // A colour image that breaks off is black all over in the viewer: a
    // document of its top part would not be what the viewer shows.
    if (s.decoder.cleared())
        return error = "the image cannot be decoded to its end" +
                       (s.libtiffError.empty() ? std::string() : " (" + s.libtiffError + ")"), false;
    s.next += count;
    return true;
}
