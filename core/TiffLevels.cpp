#include "TiffLevels.h"

#include "HtfReader.h"
#include "PrivateTiffTags.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Frees a _TIFFmalloc buffer on every path.
struct TiffBuffer {
    explicit TiffBuffer(uint64_t size) : data(size > 0 ? _TIFFmalloc(tmsize_t(size)) : nullptr) {}
    ~TiffBuffer() { if (data) _TIFFfree(data); }
    TiffBuffer(const TiffBuffer&) = delete;
    TiffBuffer& operator=(const TiffBuffer&) = delete;
    void* data;
};

// 1, 4 or 8 for the kinds kept indexed (one sample of that depth, grey or
// palette), 32 for those converted to RGBA, 0 for what the viewer does not show.
uint16_t decodedBits(TIFF* tif)
{
    uint16_t photometric = PHOTOMETRIC_MINISBLACK, bits = 1, samples = 1;
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const bool indexed = samples == 1 && (bits == 1 || bits == 4 || bits == 8);
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_PALETTE:
        return indexed ? bits : 32;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_MASK:
    case PHOTOMETRIC_SEPARATED:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB:
        return 32;
    default:
        return 0;
    }
}

// The colour table of an indexed level, as the whole-image reader makes it.
void fillPalette(TIFF* tif, uint16_t bits, PlainImage& out)
{
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const uint32_t n = 1u << bits;
    std::vector<RgbColour> palette(n);
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (photometric == PHOTOMETRIC_PALETTE) {
        if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) && red && green && blue) {
            for (uint32_t i = 0; i < n; ++i)
                palette[i] = RgbColour{uint8_t(red[i] >> 8), uint8_t(green[i] >> 8), uint8_t(blue[i] >> 8)};
        }
    } else {
        fillGreyRamp(palette.data(), n, photometric);
    }
    out.setPalette(palette.data(), n);
}

} // namespace

TiffLevels::TiffLevels(RangeFile& file) : file_(file) {}

TiffLevels::~TiffLevels()
{
    if (tif_)
        htfTIFFClose(tif_);
}

int TiffLevels::keepError(TIFF*, void* data, const char* module, const char* format, va_list args)
{
    auto* self = static_cast<TiffLevels*>(data);
    if (!self->error_.empty())
        return 1;
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    self->error_ = std::string(module ? module : "TIFFLIB") + ": " + text;
    return 1;
}

std::string TiffLevels::takeError()
{
    if (changed_)
        return kDocumentChangedText;
    std::string error;
    error.swap(error_);
    return error;
}

bool TiffLevels::addLevel(int directory, uint64_t subIfd)
{
    TiffLevel level;
    TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &level.width);
    TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &level.height);
    level.bits = decodedBits(tif_);
    level.tiled = TIFFIsTiled(tif_) != 0;
    level.directory = directory;
    level.subIfd = subIfd;
    level.file = TiffGeometry::of(tif_);
    if (level.tiled) {
        TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &level.tileWidth);
        TIFFGetField(tif_, TIFFTAG_TILELENGTH, &level.tileHeight);
        // A tile larger than the level is read as the level's size.
        level.tileWidth = std::min(level.tileWidth, level.width);
        level.tileHeight = std::min(level.tileHeight, level.height);
    } else {
        level.tileWidth = level.width, level.tileHeight = level.height;
    }
    if (level.width == 0 || level.height == 0 || level.bits == 0 || level.tileWidth == 0 || level.tileHeight == 0)
        return false;
    levels_.push_back(level);
    return true;
}

bool TiffLevels::open(const char* name, bool withHotspots, const HotspotTagSink* sink)
{
    // Without hotspots the tag is not read at all.
    static const HotspotTagSink dropped;
    tif_ = htfTIFFClientOpen(name, "rmO", file_.clientProcs(), keepError, this, withHotspots ? sink : &dropped);
    if (!tif_)
        return false;
    if (withHotspots && !sink)
        hotspots_ = readHotspotTag(tif_);
    if (!addLevel(0, 0)) {
        if (error_.empty())
            error_ = "The document's first image is empty or of a kind that is not shown";
        return true;   // opened: the hotspots may still be shown
    }
    // SubIFDs of the first image.
    std::vector<uint64_t> subIfds;
    uint16_t subCount = 0;
    uint64_t* offsets = nullptr;
    if (TIFFGetField(tif_, TIFFTAG_SUBIFD, &subCount, &offsets) && offsets)
        subIfds.assign(offsets, offsets + std::min<size_t>(subCount, kMaxLevels));
    // Reduced images that follow it in the chain (libtiff stops at a chain
    // that points back).
    for (int directory = 1; directory <= int(kMaxLevels) && TIFFReadDirectory(tif_); ++directory) {
        uint32_t kind = 0;
        TIFFGetField(tif_, TIFFTAG_SUBFILETYPE, &kind);
        if ((kind & FILETYPE_REDUCEDIMAGE) && !(kind & FILETYPE_MASK))
            addLevel(directory, 0);
    }
    for (uint64_t offset : subIfds) {
        uint32_t kind = 0;
        if (offset && TIFFSetSubDirectory(tif_, offset) && TIFFGetField(tif_, TIFFTAG_SUBFILETYPE, &kind) &&
            (kind & FILETYPE_REDUCEDIMAGE) && !(kind & FILETYPE_MASK))
            addLevel(-1, offset);
    }
    // Finest first; a level must be smaller than the one before it.
    std::stable_sort(levels_.begin() + 1, levels_.end(),
                     [](const TiffLevel& a, const TiffLevel& b) { return a.width > b.width; });
    std::vector<TiffLevel> kept{levels_[0]};
    for (size_t i = 1; i < levels_.size() && kept.size() < kMaxLevels; ++i) {
        if (levels_[i].width < kept.back().width && levels_[i].height < kept.back().height)
            kept.push_back(levels_[i]);
    }
    levels_.swap(kept);
    error_.clear();   // a damaged reduced image only loses that level
    current_ = size_t(-1);
    return select(0);
}

// Makes the level's directory the handle's current one. libtiff reads the
// directory again from the file: it must be the one read at open, or no
// buffer sized from that one may be filled from it.
bool TiffLevels::select(size_t level)
{
    if (changed_ || level >= levels_.size())
        return false;
    if (level == current_)
        return true;
    const TiffLevel& l = levels_[level];
    const bool ok = l.subIfd ? TIFFSetSubDirectory(tif_, l.subIfd) : TIFFSetDirectory(tif_, tdir_t(l.directory));
    current_ = ok ? level : size_t(-1);
    if (ok && TiffGeometry::of(tif_) != l.file) {
        markChanged();
        return false;
    }
    return ok;
}

void TiffLevels::markChanged()
{
    changed_ = true;
    current_ = size_t(-1);
}

size_t TiffLevels::levelFor(double scale) const
{
    size_t best = 0;
    for (size_t i = 1; i < levels_.size(); ++i) {
        if (double(levels_[i].width) >= double(levels_[0].width) * scale - 0.5 &&
            double(levels_[i].height) >= double(levels_[0].height) * scale - 0.5)
            best = i;
    }
    return best;
}

bool TiffLevels::prefetch(size_t level, uint32_t c0, uint32_t r0, uint32_t c1, uint32_t r1)
{
    if (!select(level))
        return false;
    if (!levels_[level].tiled)
        return true;   // a striped level is read by libtiff itself
    const TiffLevel& l = levels_[level];
    c1 = std::min(c1, l.columns() - 1), r1 = std::min(r1, l.rows() - 1);
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (uint32_t r = r0; r <= r1; ++r) {
        for (uint32_t c = c0; c <= c1; ++c) {
            const uint32_t tile = TIFFComputeTile(tif_, c * l.tileWidth, r * l.tileHeight, 0, 0);
            ranges.emplace_back(TIFFGetStrileOffset(tif_, tile), TIFFGetStrileByteCount(tif_, tile));
        }
    }
    return file_.prefetch(std::move(ranges));
}

DecodeOutcome TiffLevels::decodeTile(size_t level, uint32_t column, uint32_t row, PlainImage& out)
{
    if (level >= levels_.size() || !select(level))
        return DecodeOutcome::Unsupported;
    rowsDisturbed_ = true;
    const TiffLevel& l = levels_[level];
    if (column >= l.columns() || row >= l.rows())
        return DecodeOutcome::Unsupported;
    if (!l.tiled) {
        // The whole level, as the whole-image reader decodes it.
        return decodeTiffImage(tif_, out);
    }
    const uint32_t x = column * l.tileWidth, y = row * l.tileHeight;
    const uint32_t w = std::min(l.tileWidth, l.width - x), h = std::min(l.tileHeight, l.height - y);
    uint32_t fileTileWidth = 0, fileTileHeight = 0;
    TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &fileTileWidth);
    TIFFGetField(tif_, TIFFTAG_TILELENGTH, &fileTileHeight);
    const uint32_t tile = TIFFComputeTile(tif_, x, y, 0, 0);
    // A tile's reading may take what the whole level needs (and a little
    // more), not what a damaged tile size claims: such a tile is black, with
    // an error, as the whole-image reader shows such an image.
    const uint64_t levelBytes =
        l.bits == 32 ? uint64_t(l.width) * l.height * 4 : (uint64_t(l.width) * l.bits + 7) / 8 * l.height;
    auto damagedTileSize = [&]() {
        const uint32_t rowBytes = l.bits == 32 ? w * 4 : uint32_t((uint64_t(w) * l.bits + 7) / 8);
        if (!out.make(w, h, l.bits == 32 ? 24 : l.bits, rowBytes))
            return DecodeOutcome::NoMemory;
        if (l.bits != 32)
            fillPalette(tif_, l.bits, out);
        TIFFErrorExtR(tif_, TIFFFileName(tif_), "Tiles of %u x %u pixels are too large for an image of %u x %u",
                      unsigned(fileTileWidth), unsigned(fileTileHeight), unsigned(l.width), unsigned(l.height));
        return DecodeOutcome::Decoded;
    };

    if (l.bits == 32) {
        // The RGBA interface decodes whole tiles of the file's size.
        const uint64_t rasterBytes = uint64_t(fileTileWidth) * fileTileHeight * 4;
        if (!tileReadFits(tif_, fileTileWidth, rasterBytes, levelBytes) ||
            !tileReadFits(tif_, fileTileWidth, uint64_t(TIFFTileSize64(tif_)), levelBytes))
            return damagedTileSize();
        if (rasterBytes > kMaxTileBytes)
            return DecodeOutcome::TooLarge;
        TiffBuffer raster(rasterBytes);
        if (!raster.data || !out.make(w, h, 24, w * 4))
            return DecodeOutcome::NoMemory;
        if (!TIFFReadRGBATile(tif_, x, y, static_cast<uint32_t*>(raster.data)))
            return DecodeOutcome::Decoded;   // black, with the error kept
        // The raster's first row is the tile's bottom row; its words are
        // red in the low byte, as the image's.
        const auto* in = static_cast<const uint32_t*>(raster.data);
        for (uint32_t ty = 0; ty < h; ++ty)
            std::memcpy(out.row(ty), in + size_t(fileTileHeight - 1 - ty) * fileTileWidth, size_t(w) * 4);
        return DecodeOutcome::Decoded;
    }

    // Indexed: the tile's rows as the file packs them, no more rows decoded
    // than the level has below the tile's top.
    const tmsize_t tileRowBytes = TIFFTileRowSize(tif_);
    const uint32_t rowBytes = uint32_t((uint64_t(w) * l.bits + 7) / 8);
    if (tileRowBytes <= 0 || uint64_t(tileRowBytes) < rowBytes)
        return DecodeOutcome::TooLarge;
    if (!tileReadFits(tif_, fileTileWidth, uint64_t(tileRowBytes) * h, levelBytes))
        return damagedTileSize();
    if (uint64_t(tileRowBytes) * h > kMaxTileBytes)
        return DecodeOutcome::TooLarge;
    const uint64_t decodedBytes = uint64_t(tileRowBytes) * h;
    TiffBuffer buffer(decodedBytes);
    if (!buffer.data || !out.make(w, h, l.bits, rowBytes))
        return DecodeOutcome::NoMemory;
    fillPalette(tif_, l.bits, out);
    const tmsize_t got = TIFFReadEncodedTile(tif_, tile, buffer.data, tmsize_t(decodedBytes));
    if (got < 0)
        return DecodeOutcome::Decoded;   // index 0 throughout, with the error kept
    const auto* in = static_cast<const uint8_t*>(buffer.data);
    const uint32_t rowsRead = uint32_t(std::min<uint64_t>(h, uint64_t(got) / uint64_t(tileRowBytes)));
    for (uint32_t ty = 0; ty < rowsRead; ++ty)
        std::memcpy(out.row(ty), in + size_t(ty) * size_t(tileRowBytes), rowBytes);
    return DecodeOutcome::Decoded;
}

namespace {

// The strips of the current (striped) directory that hold the rows of strip
// row `index`: one, or one a plane when the samples lie in separate planes.
template <typename Visit>
bool forEachPlaneStrip(TIFF* tif, uint32_t index, uint32_t stripsPerPlane, uint32_t planes, Visit visit)
{
    for (uint32_t plane = 0; plane < planes; ++plane) {
        const uint32_t strip = plane * stripsPerPlane + index;
        if (!visit(TIFFGetStrileOffset(tif, strip), TIFFGetStrileByteCount(tif, strip)))
            return false;
    }
    return true;
}

// Rows per strip (the image's height when unset or larger), strips a plane
// and planes of the current directory.
void stripLayout(TIFF* tif, uint32_t height, uint32_t& rowsPerStrip, uint32_t& stripsPerPlane, uint32_t& planes)
{
    rowsPerStrip = 0;
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > height)
        rowsPerStrip = std::max<uint32_t>(height, 1);
    uint16_t planar = PLANARCONFIG_CONTIG, samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    planes = planar == PLANARCONFIG_SEPARATE ? std::max<uint32_t>(samples, 1) : 1;
    stripsPerPlane = uint32_t((uint64_t(height) + rowsPerStrip - 1) / rowsPerStrip);
    // A directory with fewer strips than its rows need: only those are read.
    const uint32_t strips = TIFFNumberOfStrips(tif);
    if (uint64_t(stripsPerPlane) * planes > strips)
        stripsPerPlane = strips / planes;
}

} // namespace

DecodeOutcome TiffLevels::beginRows(size_t level, PlainImage& out)
{
    endRows();
    if (level >= levels_.size() || levels_[level].tiled || !select(level))
        return DecodeOutcome::Unsupported;
    const DecodeOutcome outcome = rows_.begin(tif_, out);
    if (outcome == DecodeOutcome::Decoded)
        rowLevel_ = level;
    return outcome;
}

uint32_t TiffLevels::decodeRows(uint32_t endRow)
{
    if (rowLevel_ == size_t(-1) || changed_)
        return rows_.rowsDone();
    if (current_ != rowLevel_ || rowsDisturbed_) {
        // Another level or a tile was read in between: the handle reads
        // this one again.
        if (!select(rowLevel_))
            return rows_.rowsDone();
        if (!rows_.reattach()) {
            markChanged();
            return rows_.rowsDone();
        }
        rowsDisturbed_ = false;
    }
    const uint32_t before = rows_.rowsDone(), after = rows_.decodeTo(endRow);
    forgetStrips(before, after);
    return after;
}

// The bytes of the strips decoded whole between rows `before` and `after`
// are not read again: the cache gives up what lies from the first strip
// decoded up to the next strip to decode (strips in the file's order, as
// writers lay them out; a strip out of that order is read once more).
void TiffLevels::forgetStrips(uint32_t before, uint32_t after)
{
    const uint32_t height = levels_[rowLevel_].height;
    uint32_t rowsPerStrip, stripsPerPlane, planes;
    stripLayout(tif_, height, rowsPerStrip, stripsPerPlane, planes);
    const uint32_t first = before / rowsPerStrip;
    const uint32_t next = after >= height ? stripsPerPlane : std::min(stripsPerPlane, after / rowsPerStrip);
    const uint64_t size = file_.size();
    for (uint32_t index = first; index < next; ++index) {
        forEachPlaneStrip(tif_, index, stripsPerPlane, planes, [&](uint64_t offset, uint64_t count) {
            if (count > 0 && offset < size)
                forgetFrom_ = std::min(forgetFrom_, offset);
            return true;
        });
    }
    uint64_t end = next < stripsPerPlane ? UINT64_MAX : size;
    if (next < stripsPerPlane) {
        forEachPlaneStrip(tif_, next, stripsPerPlane, planes, [&](uint64_t offset, uint64_t count) {
            if (count > 0 && offset < size)
                end = std::min(end, offset);
            return true;
        });
    }
    if (end != UINT64_MAX && forgetFrom_ < end)
        file_.forget(forgetFrom_, end);
}

void TiffLevels::endRows()
{
    rows_.end();
    forgetFrom_ = UINT64_MAX;
    rowsDisturbed_ = false;
    rowLevel_ = size_t(-1);
}


bool TiffLevels::stripSpan(size_t level, uint64_t& begin, uint64_t& end)
{
    if (level >= levels_.size() || levels_[level].tiled || !select(level))
        return false;
    uint32_t rowsPerStrip, stripsPerPlane, planes;
    stripLayout(tif_, levels_[level].height, rowsPerStrip, stripsPerPlane, planes);
    begin = UINT64_MAX, end = 0;
    const uint64_t size = file_.size();
    for (uint32_t index = 0; index < stripsPerPlane; ++index) {
        forEachPlaneStrip(tif_, index, stripsPerPlane, planes, [&](uint64_t offset, uint64_t count) {
            if (count > 0 && offset < size) {
                begin = std::min(begin, offset);
                end = std::max(end, offset + std::min(count, size - offset));
            }
            return true;
        });
    }
    return begin < end;
}

uint32_t TiffLevels::rowsWithin(size_t level, uint32_t fromRow, uint64_t begin, uint64_t end)
{
    if (level >= levels_.size() || levels_[level].tiled || !select(level))
        return fromRow;
    const uint32_t height = levels_[level].height;
    uint32_t rowsPerStrip, stripsPerPlane, planes;
    stripLayout(tif_, height, rowsPerStrip, stripsPerPlane, planes);
    const uint64_t size = file_.size();
    uint32_t index = fromRow / rowsPerStrip;
    for (; index < stripsPerPlane; ++index) {
        const bool within = forEachPlaneStrip(tif_, index, stripsPerPlane, planes, [&](uint64_t offset, uint64_t count) {
            return count == 0 || offset >= size || (offset >= begin && offset + std::min(count, size - offset) <= end);
        });
        if (!within)
            break;
    }
    // Rows past the strips the directory has are decoded black at once.
    if (index >= stripsPerPlane)
        return height;
    return std::max(fromRow, uint32_t(std::min<uint64_t>(height, uint64_t(index) * rowsPerStrip)));
}
