// The portable core as WebAssembly functions for the browser element: the
// reader (run in the decoding worker), the image sampler and the zoom and
// scroll model (run beside the page). Plain C functions over pointers into
// the module's memory; the JavaScript side owns every handle it gets and
// gives it back with the matching release function.
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HotspotStream.h"
#include "HotspotTable.h"
#include "HtfReader.h"
#include "PrivateTiffTags.h"
#include "ImageSampler.h"
#include "PlainImage.h"
#include "RangeFile.h"
#include "TiffLevels.h"
#include "AddressPolicy.h"
#include "UrlTemplate.h"
#include "ViewState.h"

#include <emscripten/emscripten.h>
#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// A document read in the worker.
struct WebDocument {
    PlainImage image;
    HtfReadResult result;
    std::unique_ptr<HotspotTable> hotspots;
    std::string error;
};

// The image and its sampler, beside the page.
struct WebImage {
    PlainImage image;
    ImageSampler sampler;
};

std::string composed;   // the last composed URL, read by the caller at once

// The bytes of a document read in ranges come from the JavaScript side
// (synchronous range requests in the worker, or a download in memory): the
// core calls Module.htfReadRange(source, offset, length, address), which
// copies exactly `length` bytes to `address` and answers 1, or 0 on failure.
EM_JS(int, htf_js_read_range, (int source, double offset, size_t length, uint8_t* out), {
    return Module.htfReadRange(source, offset, length, out) ? 1 : 0;
});

class JsRangeSource : public ByteRangeSource {
public:
    explicit JsRangeSource(int source) : source_(source) {}
    bool read(uint64_t offset, size_t length, uint8_t* out) override
    {
        return htf_js_read_range(source_, double(offset), length, out) == 1;
    }

private:
    int source_;
};

// The zoom and scroll model beside the page, with the document's hotspots as
// packed rectangles (four int32 a hotspot: left, top, right, bottom as the
// document gives them) instead of a record each: their fractions and their
// rectangles at the current zoom are worked out when asked for, by the same
// arithmetic as ViewState's records, and the hotspot index reads them here.
class WebView : public ViewState, public HotspotIndex::Shapes {
public:
    explicit WebView(int32_t scrollBarSize) : ViewState(scrollBarSize) {}

    void clearRects()
    {
        std::vector<int32_t>().swap(rects_);
        index_.clear();
        indexed_ = false;
    }
    // Room for `count` hotspots, replacing those held; null without an image.
    // The caller fills it in before the next hit test.
    int32_t* rectsFor(uint32_t count)
    {
        clearRects();
        if (!hasImage() || count == 0)
            return nullptr;
        rects_.resize(size_t(count) * 4);
        return rects_.data();
    }
    // Adds `count` hotspots after those held (none without an image).
    void appendRects(const int32_t* rects, uint32_t count)
    {
        if (!hasImage() || count == 0)
            return;
        rects_.insert(rects_.end(), rects, rects + size_t(count) * 4);
        index_.clear();
        indexed_ = false;
    }
    void indexRects()
    {
        index_.build(*this);
        indexed_ = true;
    }

    size_t size() const override { return rects_.size() / 4; }
    void fractions(size_t i, double& left, double& top, double& right, double& bottom) const override
    {
        const int32_t* r = &rects_[4 * i];
        left = double(r[0]) / imageWidth();
        top = double(r[1]) / imageHeight();
        right = double(r[2]) / imageWidth();
        bottom = double(r[3]) / imageHeight();
    }
    bool contains(size_t i, int32_t x, int32_t y, int32_t imageLeft, int32_t imageTop, int32_t scaledWidth,
                  int32_t scaledHeight) const override
    {
        const RectI p = pixelRect(i, imageLeft, imageTop, scaledWidth, scaledHeight);
        return p.left <= x && x <= p.right && p.top <= y && y <= p.bottom;
    }

    // Hotspot i's rectangle in document space at the current zoom.
    RectI rectAt(size_t i) const
    {
        const RectI r = imageRect();
        return pixelRect(i, r.left, r.top, scaledWidth(), scaledHeight());
    }
    // The first hotspot in list order at client point (x, y), or -1.
    int at(int32_t clientX, int32_t clientY)
    {
        if (!indexed_)
            indexRects();
        const PointI p = documentPoint(clientX, clientY);
        const RectI r = imageRect();
        return index_.firstContaining(*this, p.x, p.y, r.left, r.top, scaledWidth(), scaledHeight());
    }

private:
    RectI pixelRect(size_t i, int32_t imageLeft, int32_t imageTop, int32_t scaledWidth, int32_t scaledHeight) const
    {
        double left, top, right, bottom;
        fractions(i, left, top, right, bottom);
        return fractionRect(left, top, right, bottom, imageLeft, imageTop, scaledWidth, scaledHeight);
    }

    std::vector<int32_t> rects_;
    HotspotIndex index_;
    bool indexed_ = false;
};

WebView* web(ViewState* v) { return static_cast<WebView*>(v); }
const WebView* web(const ViewState* v) { return static_cast<const WebView*>(v); }

// A document read level by level and tile by tile in the worker.
struct WebLevels {
    WebLevels(int source, uint64_t size, size_t cacheBytes)
        : bytes(source), file(bytes, size, cacheBytes), levels(file)
    {
    }
    JsRangeSource bytes;
    RangeFile file;
    TiffLevels levels;
    bool opened = false;
    std::unique_ptr<HotspotTable> hotspots;
    std::string pendingError;   // one of ours, reported at the next call
    std::string error;          // what the last call returned
};

// One decoded tile (or a whole striped level), and its sampler once it is
// drawn at a scale in the worker.
struct WebTile {
    PlainImage image;
    DecodeOutcome outcome = DecodeOutcome::Unsupported;
    ImageSampler sampler;
    bool sampling = false;
    int32_t rowsDecoded = INT32_MAX;   // a striped level's rows decoded so far
};

// A tiled level whose tiles are much smaller than the screen's, drawn at the
// view's scale in the worker: the level's plane (a tile, drawn with
// htf_tile_render) filled with the level's tiles as views need them.
struct WebMosaic {
    int level = -1;
    uint32_t columns = 0, rows = 0;
    uint32_t tileWidth = 0, tileHeight = 0;
    WebTile plane;
    std::vector<uint8_t> filled;   // a byte a tile of the level: 1 once it is in the plane
    PlainImage scratch;            // each tile decoded here first
};

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void* htf_alloc(size_t size)
{
    return std::malloc(size);
}

EMSCRIPTEN_KEEPALIVE void htf_free(void* block)
{
    std::free(block);
}

// The bytes of the core's memory in use (allocated and not yet freed): what a
// read holds until its document is released, and what it leaves behind after.
EMSCRIPTEN_KEEPALIVE size_t htf_heap_in_use()
{
    return size_t(mallinfo().uordblks);
}

// --- Reading (the worker) ---

EMSCRIPTEN_KEEPALIVE WebDocument* htf_read(const uint8_t* data, size_t size)
{
    auto* doc = new (std::nothrow) WebDocument;
    if (!doc)
        return nullptr;
    try {
        HotspotTagSink sink;
        sink.take = packHotspotTag;
        sink.context = &doc->hotspots;
        doc->result = readHtfDocument(data, size, "document", doc->image, &sink);
        if (doc->result.hadError)
            doc->error = doc->result.errorCaption() + "\n" + doc->result.errorText;
    } catch (...) {
        doc->image.allocate(0, 0, 8, 0, 0);
        doc->result.outcome = DecodeOutcome::NoMemory;
    }
    return doc;
}

EMSCRIPTEN_KEEPALIVE int htf_doc_opened(const WebDocument* d) { return d && d->result.opened; }
EMSCRIPTEN_KEEPALIVE int htf_doc_outcome(const WebDocument* d) { return d ? int(d->result.outcome) : -1; }
EMSCRIPTEN_KEEPALIVE int htf_doc_has_image(const WebDocument* d) { return d && d->result.hasImage(); }
EMSCRIPTEN_KEEPALIVE int htf_doc_too_large(const WebDocument* d) { return d && d->result.tooLarge(); }
EMSCRIPTEN_KEEPALIVE uint32_t htf_doc_file_width(const WebDocument* d) { return d->result.width; }
EMSCRIPTEN_KEEPALIVE uint32_t htf_doc_file_height(const WebDocument* d) { return d->result.height; }
EMSCRIPTEN_KEEPALIVE int32_t htf_doc_width(const WebDocument* d) { return d->image.width; }
EMSCRIPTEN_KEEPALIVE int32_t htf_doc_height(const WebDocument* d) { return d->image.height; }
EMSCRIPTEN_KEEPALIVE int htf_doc_bits(const WebDocument* d) { return d->image.bits; }
EMSCRIPTEN_KEEPALIVE uint32_t htf_doc_row_bytes(const WebDocument* d) { return d->image.rowBytes; }
EMSCRIPTEN_KEEPALIVE const uint8_t* htf_doc_pixels(const WebDocument* d) { return d->image.pixels.data(); }
EMSCRIPTEN_KEEPALIVE size_t htf_doc_pixel_bytes(const WebDocument* d) { return d->image.pixels.size(); }
EMSCRIPTEN_KEEPALIVE const uint32_t* htf_doc_palette(const WebDocument* d) { return d->image.palette.data(); }
EMSCRIPTEN_KEEPALIVE size_t htf_doc_palette_count(const WebDocument* d) { return d->image.palette.size(); }
EMSCRIPTEN_KEEPALIVE const char* htf_doc_error(const WebDocument* d) { return d->error.c_str(); }
EMSCRIPTEN_KEEPALIVE const HotspotTable* htf_doc_hotspots(const WebDocument* d) { return d->hotspots.get(); }
EMSCRIPTEN_KEEPALIVE void htf_doc_release(WebDocument* d) { delete d; }

// --- Reading in ranges: the directories and hotspots first, then tiles (the worker) ---

// withHotspots 0: the levels alone (see TiffLevels::open), the hotspots read as none.
EMSCRIPTEN_KEEPALIVE WebLevels* htf_levels_open(int source, double size, double cacheBytes, int withHotspots)
{
    if (!(size >= 0 && size < 9007199254740992.0) || !(cacheBytes >= 0 && cacheBytes < 2147483648.0))
        return nullptr;
    auto* doc = new (std::nothrow) WebLevels(source, uint64_t(size), size_t(cacheBytes));
    if (!doc)
        return nullptr;
    try {
        HotspotTagSink sink;
        sink.take = packHotspotTag;
        sink.context = &doc->hotspots;
        doc->opened = doc->levels.open("document", withHotspots != 0, &sink);
    } catch (...) {
        doc->opened = false;
        doc->pendingError = "Not enough memory to read the document";
    }
    return doc;
}

EMSCRIPTEN_KEEPALIVE int htf_levels_opened(const WebLevels* d) { return d && d->opened; }
// Packed as the document opened (a document opened only to learn its size has none).
EMSCRIPTEN_KEEPALIVE const HotspotTable* htf_levels_hotspots(WebLevels* d) { return d->hotspots.get(); }

// A packed hotspot table (see HotspotTable); null reads as empty.
EMSCRIPTEN_KEEPALIVE uint32_t htf_hotspots_count(const HotspotTable* t) { return t ? uint32_t(t->rects.size() / 4) : 0; }
EMSCRIPTEN_KEEPALIVE const int32_t* htf_hotspots_rects(const HotspotTable* t) { return t ? t->rects.data() : nullptr; }
EMSCRIPTEN_KEEPALIVE const uint32_t* htf_hotspots_offsets(const HotspotTable* t) { return t ? t->offsets.data() : nullptr; }
EMSCRIPTEN_KEEPALIVE const void* htf_hotspots_chars(const HotspotTable* t) { return t ? t->units() : nullptr; }
EMSCRIPTEN_KEEPALIVE size_t htf_hotspots_char_count(const HotspotTable* t) { return t ? t->unitCount() : 0; }
// The bytes of one code unit: 1 or 2.
EMSCRIPTEN_KEEPALIVE int htf_hotspots_char_bytes(const HotspotTable* t) { return t ? t->unitBytes() : 1; }
// The first error reported since the last call; empty without one.
EMSCRIPTEN_KEEPALIVE const char* htf_levels_error(WebLevels* d)
{
    std::string error = d->levels.takeError();
    if (error.empty())
        error.swap(d->pendingError);
    d->error.swap(error);
    return d->error.c_str();
}
EMSCRIPTEN_KEEPALIVE int htf_levels_count(const WebLevels* d) { return int(d->levels.levels().size()); }
// Level i: width, height, tile width, tile height, tiled, decoded bits.
EMSCRIPTEN_KEEPALIVE int htf_levels_info(const WebLevels* d, int index, int32_t* out)
{
    if (index < 0 || size_t(index) >= d->levels.levels().size())
        return 0;
    const TiffLevel& l = d->levels.levels()[size_t(index)];
    const int32_t values[] = {int32_t(std::min<uint32_t>(l.width, 0x7FFFFFFF)),
                              int32_t(std::min<uint32_t>(l.height, 0x7FFFFFFF)),
                              int32_t(std::min<uint32_t>(l.tileWidth, 0x7FFFFFFF)),
                              int32_t(std::min<uint32_t>(l.tileHeight, 0x7FFFFFFF)), l.tiled ? 1 : 0, l.bits};
    std::memcpy(out, values, sizeof values);
    return 1;
}
EMSCRIPTEN_KEEPALIVE int htf_levels_for(const WebLevels* d, double scale) { return int(d->levels.levelFor(scale)); }
EMSCRIPTEN_KEEPALIVE int htf_levels_prefetch(WebLevels* d, int level, uint32_t c0, uint32_t r0, uint32_t c1,
                                             uint32_t r1)
{
    try {
        return d->levels.prefetch(size_t(level), c0, r0, c1, r1) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
EMSCRIPTEN_KEEPALIVE WebTile* htf_levels_tile(WebLevels* d, int level, uint32_t column, uint32_t row)
{
    auto* tile = new (std::nothrow) WebTile;
    if (!tile)
        return nullptr;
    try {
        tile->outcome = d->levels.decodeTile(size_t(level), column, row, tile->image);
    } catch (...) {
        tile->outcome = DecodeOutcome::NoMemory;
    }
    if (tile->outcome != DecodeOutcome::Decoded)
        tile->image.allocate(0, 0, 8, 0, 0);
    return tile;
}
// A striped level decoded a band of rows at a time as its strips arrive:
// the level's plane is a tile (drawn with htf_tile_render) whose rows fill
// from the top. Null without memory; its outcome says whether rows come.
EMSCRIPTEN_KEEPALIVE WebTile* htf_levels_rows_begin(WebLevels* d, int level)
{
    auto* tile = new (std::nothrow) WebTile;
    if (!tile)
        return nullptr;
    // A colour level is kept as red, green, blue: the worker holds the
    // level's pixels, 3 bytes a pixel are a quarter less than RGBA, and 8-bit
    // RGB strips are read straight into its rows.
    tile->image.layout = ImageTarget::ColourLayout::Rgb24;
    try {
        tile->outcome = level < 0 ? DecodeOutcome::Unsupported : d->levels.beginRows(size_t(level), tile->image);
        tile->rowsDecoded = 0;
    } catch (...) {
        tile->outcome = DecodeOutcome::NoMemory;
    }
    if (tile->outcome != DecodeOutcome::Decoded) {
        d->levels.endRows();
        tile->image.allocate(0, 0, 8, 0, 0);
    }
    return tile;
}
// Decodes the plane's rows on up to `endRow`; returns the rows decoded.
EMSCRIPTEN_KEEPALIVE uint32_t htf_levels_rows_decode(WebLevels* d, WebTile* t, uint32_t endRow)
{
    const uint32_t before = d->levels.rowsDone();
    uint32_t after = before;
    try {
        after = d->levels.decodeRows(endRow);
    } catch (...) {
        d->pendingError = "Not enough memory to decode the image";
        return before;
    }
    t->rowsDecoded = int32_t(after);
    if (t->sampling)
        t->sampler.rowsChanged(d->levels.rowsCleared() ? 0 : int32_t(before), int32_t(after));
    return after;
}
EMSCRIPTEN_KEEPALIVE int htf_levels_rows_cleared(const WebLevels* d) { return d->levels.rowsCleared(); }
EMSCRIPTEN_KEEPALIVE void htf_levels_rows_end(WebLevels* d) { d->levels.endRows(); }
// The plane of a tiled level for drawing it at the view's scale: the
// level's size and depth, no tile in it yet. Null when the level is not
// tiled, its tiles do not start on whole bytes of a row, or without memory.
EMSCRIPTEN_KEEPALIVE WebMosaic* htf_levels_mosaic_begin(WebLevels* d, int level)
{
    if (level < 0 || size_t(level) >= d->levels.levels().size())
        return nullptr;
    const TiffLevel& l = d->levels.levels()[size_t(level)];
    if (!l.tiled || l.width == 0 || l.height == 0 || l.tileWidth == 0 || l.tileHeight == 0 ||
        (uint64_t(l.tileWidth) * l.bits) % 8 != 0)
        return nullptr;
    const uint64_t rowBytes = (uint64_t(l.width) * l.bits + 7) / 8;
    if (rowBytes > UINT32_MAX)
        return nullptr;
    auto* mosaic = new (std::nothrow) WebMosaic;
    if (!mosaic)
        return nullptr;
    try {
        mosaic->filled.assign(size_t(l.columns()) * l.rows(), 0);
    } catch (...) {
        delete mosaic;
        return nullptr;
    }
    if (!mosaic->plane.image.make(l.width, l.height, l.bits, uint32_t(rowBytes))) {
        delete mosaic;
        return nullptr;
    }
    mosaic->plane.outcome = DecodeOutcome::Decoded;
    mosaic->level = level;
    mosaic->columns = l.columns(), mosaic->rows = l.rows();
    mosaic->tileWidth = l.tileWidth, mosaic->tileHeight = l.tileHeight;
    return mosaic;
}

// Puts the level's tiles in columns [c0, c1] and rows [r0, r1] into the
// plane, those not there yet: their bytes fetched together first, then each
// tile decoded and copied to its place. Returns the DecodeOutcome: Decoded
// (0) when every tile is in, else what stopped it (the level's error says more).
EMSCRIPTEN_KEEPALIVE int htf_levels_mosaic_fill(WebLevels* d, WebMosaic* m, uint32_t c0, uint32_t r0, uint32_t c1,
                                                uint32_t r1)
{
    if (c0 > c1 || r0 > r1 || c1 >= m->columns || r1 >= m->rows)
        return int(DecodeOutcome::Unsupported);
    // The bytes of the tiles still missing, in as few reads as the range file makes of them.
    uint32_t mc0 = UINT32_MAX, mr0 = UINT32_MAX, mc1 = 0, mr1 = 0;
    for (uint32_t r = r0; r <= r1; ++r) {
        for (uint32_t c = c0; c <= c1; ++c) {
            if (m->filled[size_t(r) * m->columns + c])
                continue;
            mc0 = std::min(mc0, c), mc1 = std::max(mc1, c), mr0 = std::min(mr0, r), mr1 = std::max(mr1, r);
        }
    }
    if (mc0 == UINT32_MAX)
        return int(DecodeOutcome::Decoded);
    PlainImage& image = m->plane.image;
    // Decodes row r's missing tiles into the plane; the drawing's reduced
    // plane follows the rows of the tiles put in, once a row, also when a
    // tile stops it.
    auto fillRow = [&](uint32_t r) {
        int32_t changedEnd = -1;
        DecodeOutcome outcome = DecodeOutcome::Decoded;
        for (uint32_t c = mc0; c <= mc1 && outcome == DecodeOutcome::Decoded; ++c) {
            uint8_t& done = m->filled[size_t(r) * m->columns + c];
            if (done)
                continue;
            PlainImage& tile = m->scratch;
            outcome = d->levels.decodeTile(size_t(m->level), c, r, tile);
            const uint64_t x = uint64_t(c) * m->tileWidth, y = uint64_t(r) * m->tileHeight;
            // A tile of another depth or larger than its place in the level (a
            // damaged directory) is not copied.
            if (outcome == DecodeOutcome::Decoded &&
                (tile.bits != image.bits || x + uint64_t(tile.width) > uint64_t(image.width) ||
                 y + uint64_t(tile.height) > uint64_t(image.height)))
                outcome = DecodeOutcome::Unsupported;
            if (outcome != DecodeOutcome::Decoded)
                break;
            if (image.palette.empty())
                image.palette = tile.palette;
            const size_t at = size_t(x * image.bits / 8);
            const size_t bytes = std::min<size_t>(tile.rowBytes, image.rowBytes - at);
            for (int32_t ty = 0; ty < tile.height; ++ty)
                std::memcpy(image.row(uint32_t(y) + uint32_t(ty)) + at, tile.row(uint32_t(ty)), bytes);
            done = 1;
            changedEnd = std::max(changedEnd, int32_t(y) + tile.height);
        }
        if (changedEnd >= 0 && m->plane.sampling)
            m->plane.sampler.rowsChanged(int32_t(uint64_t(r) * m->tileHeight), changedEnd);
        return outcome;
    };
    try {
        d->levels.prefetch(size_t(m->level), mc0, mr0, mc1, mr1);
        for (uint32_t r = mr0; r <= mr1; ++r) {
            const DecodeOutcome outcome = fillRow(r);
            if (outcome != DecodeOutcome::Decoded)
                return int(outcome);
        }
    } catch (...) {
        return int(DecodeOutcome::NoMemory);
    }
    return int(DecodeOutcome::Decoded);
}
// The plane, drawn with htf_tile_render.
EMSCRIPTEN_KEEPALIVE WebTile* htf_mosaic_plane(WebMosaic* m) { return &m->plane; }
EMSCRIPTEN_KEEPALIVE void htf_mosaic_release(WebMosaic* m) { delete m; }
// The file's bytes the level's strips take: out[0] the first, out[1] past the last.
EMSCRIPTEN_KEEPALIVE int htf_levels_strip_span(WebLevels* d, int level, double* out)
{
    uint64_t begin = 0, end = 0;
    if (level < 0 || !d->levels.stripSpan(size_t(level), begin, end))
        return 0;
    out[0] = double(begin), out[1] = double(end);
    return 1;
}
// The end of the rows from `fromRow` on that the bytes [begin, end) hold.
EMSCRIPTEN_KEEPALIVE uint32_t htf_levels_rows_within(WebLevels* d, int level, uint32_t fromRow, double begin, double end)
{
    return level < 0 ? fromRow : d->levels.rowsWithin(size_t(level), fromRow, uint64_t(begin), uint64_t(end));
}
// Bytes of the file fetched by the caller (a streamed download), for the
// reads that follow.
EMSCRIPTEN_KEEPALIVE void htf_levels_supply(WebLevels* d, double offset, const uint8_t* bytes, size_t length)
{
    try {
        d->file.supply(uint64_t(offset), bytes, length);
    } catch (...) {
        // Not kept: the reads fetch the bytes themselves.
    }
}
EMSCRIPTEN_KEEPALIVE double htf_levels_fetched(const WebLevels* d) { return double(d->file.bytesFetched()); }
EMSCRIPTEN_KEEPALIVE int htf_levels_reads(const WebLevels* d) { return int(d->file.sourceReads()); }
EMSCRIPTEN_KEEPALIVE int htf_levels_failed(const WebLevels* d) { return d->file.failed(); }
// 1 once a directory read again differed from the one read at open: the file
// was replaced on the server while it was read (its error text says so). The
// document is over; no call decodes anything more from it.
EMSCRIPTEN_KEEPALIVE int htf_levels_changed(const WebLevels* d) { return d->levels.changed() ? 1 : 0; }
EMSCRIPTEN_KEEPALIVE void htf_levels_release(WebLevels* d) { delete d; }

EMSCRIPTEN_KEEPALIVE int htf_tile_outcome(const WebTile* t) { return int(t->outcome); }
EMSCRIPTEN_KEEPALIVE int32_t htf_tile_width(const WebTile* t) { return t->image.width; }
EMSCRIPTEN_KEEPALIVE int32_t htf_tile_height(const WebTile* t) { return t->image.height; }
EMSCRIPTEN_KEEPALIVE int htf_tile_bits(const WebTile* t) { return t->image.bits; }
EMSCRIPTEN_KEEPALIVE uint32_t htf_tile_row_bytes(const WebTile* t) { return t->image.rowBytes; }
EMSCRIPTEN_KEEPALIVE const uint8_t* htf_tile_pixels(const WebTile* t) { return t->image.pixels.data(); }
EMSCRIPTEN_KEEPALIVE size_t htf_tile_pixel_bytes(const WebTile* t) { return t->image.pixels.size(); }
EMSCRIPTEN_KEEPALIVE const uint32_t* htf_tile_palette(const WebTile* t) { return t->image.palette.data(); }
EMSCRIPTEN_KEEPALIVE size_t htf_tile_palette_count(const WebTile* t) { return t->image.palette.size(); }
EMSCRIPTEN_KEEPALIVE void htf_tile_release(WebTile* t) { delete t; }
// The tile at (x, y), w x h, of the decoded image scaled to scaledWidth x
// scaledHeight, as RGBA words into `out`, by the viewer's sampling rule.
EMSCRIPTEN_KEEPALIVE int htf_tile_render(WebTile* t, int32_t x, int32_t y, int32_t w, int32_t h, int32_t scaledWidth,
                                         int32_t scaledHeight, uint32_t* out)
{
    if (t->outcome != DecodeOutcome::Decoded)
        return 0;
    try {
        if (!t->sampling)
            t->sampler.setImage(&t->image, t->rowsDecoded), t->sampling = true;
        return t->sampler.renderTile(x, y, w, h, scaledWidth, scaledHeight, out) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// --- The image beside the page ---

EMSCRIPTEN_KEEPALIVE WebImage* htf_image_make(int32_t width, int32_t height, int bits, uint32_t rowBytes)
{
    auto* image = new (std::nothrow) WebImage;
    if (!image)
        return nullptr;
    if (width <= 0 || height <= 0 || !image->image.make(uint32_t(width), uint32_t(height), uint16_t(bits), rowBytes) ||
        (bits != 32 && bits != 1 && bits != 4 && bits != 8)) {
        delete image;
        return nullptr;
    }
    if (bits != 32)
        image->image.palette.assign(size_t(1) << bits, 0xFF000000u);
    return image;
}

EMSCRIPTEN_KEEPALIVE uint8_t* htf_image_pixels(WebImage* i) { return i->image.pixels.data(); }
EMSCRIPTEN_KEEPALIVE uint32_t* htf_image_palette(WebImage* i) { return i->image.palette.data(); }
EMSCRIPTEN_KEEPALIVE void htf_image_ready(WebImage* i) { i->sampler.setImage(&i->image); }
EMSCRIPTEN_KEEPALIVE int htf_image_tile(WebImage* i, int32_t x, int32_t y, int32_t w, int32_t h, int32_t scaledWidth,
                                        int32_t scaledHeight, uint32_t* out)
{
    return i->sampler.renderTile(x, y, w, h, scaledWidth, scaledHeight, out);
}
EMSCRIPTEN_KEEPALIVE int htf_image_stretched(WebImage* i, int32_t left, int32_t top, int32_t right, int32_t bottom,
                                             int32_t w, int32_t h, uint32_t* out)
{
    RectI source;
    source.left = left, source.top = top, source.right = right, source.bottom = bottom;
    return i->sampler.renderStretched(source, w, h, out);
}
EMSCRIPTEN_KEEPALIVE void htf_image_release(WebImage* i) { delete i; }

// --- The zoom and scroll model ---

EMSCRIPTEN_KEEPALIVE ViewState* htf_view_new(int32_t scrollBarSize)
{
    return new (std::nothrow) WebView(scrollBarSize);
}
EMSCRIPTEN_KEEPALIVE void htf_view_release(ViewState* v) { delete web(v); }
EMSCRIPTEN_KEEPALIVE void htf_view_set_viewport(ViewState* v, int32_t w, int32_t h) { v->setViewport(w, h); }
// A new image drops the hotspots.
EMSCRIPTEN_KEEPALIVE void htf_view_set_image(ViewState* v, int32_t w, int32_t h)
{
    v->setImage(w, h);
    web(v)->clearRects();
}
// Room for `count` hotspots, four int32 each (left, top, right, bottom), in
// place of those held: the caller writes them there.
// Null without an image (or for none) and when memory runs out. The hotspot
// index is built at the first hit test.
EMSCRIPTEN_KEEPALIVE int32_t* htf_view_hotspot_rects(ViewState* v, uint32_t count)
{
    try {
        return web(v)->rectsFor(count);
    } catch (const std::bad_alloc&) {
        web(v)->clearRects();
        return nullptr;
    }
}
// `count` hotspots at once after those held, four int32 each; 1 when all
// were added, 0 when memory ran out (the view keeps those it held before).
EMSCRIPTEN_KEEPALIVE int htf_view_add_hotspots(ViewState* v, const int32_t* rects, uint32_t count)
{
    try {
        web(v)->appendRects(rects, count);
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}
EMSCRIPTEN_KEEPALIVE int htf_view_fit(ViewState* v) { return v->ensureFitted(); }
EMSCRIPTEN_KEEPALIVE int htf_view_command(ViewState* v, int id) { return v->command(id); }
EMSCRIPTEN_KEEPALIVE void htf_view_scroll(ViewState* v, int horizontal, int request, int32_t thumb)
{
    v->scroll(horizontal != 0, request, thumb);
}
EMSCRIPTEN_KEEPALIVE int htf_view_pan(ViewState* v, int32_t dx, int32_t dy) { return v->pan(dx, dy); }
EMSCRIPTEN_KEEPALIVE void htf_view_set_position(ViewState* v, int horizontal, int32_t position)
{
    v->setPosition(horizontal != 0, position);
}
// A scale restored from outside, held within the zoom limits; 1 when it changed.
EMSCRIPTEN_KEEPALIVE int htf_view_set_scale(ViewState* v, double scale) { return v->setScale(scale); }
EMSCRIPTEN_KEEPALIVE double htf_view_scale(const ViewState* v) { return v->scale(); }
EMSCRIPTEN_KEEPALIVE double htf_view_min_scale(const ViewState* v) { return v->minScale(); }
EMSCRIPTEN_KEEPALIVE double htf_view_max_scale(const ViewState* v) { return v->maxScale(); }
// The state as 20 integers: scaled size, client size, image rectangle
// (left, top, right, bottom), the visible source (left, top, right, bottom),
// then per bar (horizontal, vertical): shown, range, page, position.
EMSCRIPTEN_KEEPALIVE void htf_view_state(const ViewState* v, int32_t* out)
{
    const RectI client = v->client(), image = v->imageRect(), source = v->visibleSource();
    const int32_t values[] = {v->scaledWidth(), v->scaledHeight(), client.width(), client.height(),
                              image.left, image.top, image.right, image.bottom,
                              source.left, source.top, source.right, source.bottom,
                              v->horizontalBar().shown, v->horizontalBar().range, v->horizontalBar().page,
                              v->horizontalBar().position,
                              v->verticalBar().shown, v->verticalBar().range, v->verticalBar().page,
                              v->verticalBar().position};
    std::memcpy(out, values, sizeof values);
}
// Hotspot i's rectangle in document space: left, top, right, bottom.
EMSCRIPTEN_KEEPALIVE int htf_view_hotspot_rect(const ViewState* v, int index, int32_t* out)
{
    if (index < 0 || size_t(index) >= web(v)->size())
        return 0;
    const RectI r = web(v)->rectAt(size_t(index));
    out[0] = r.left, out[1] = r.top, out[2] = r.right, out[3] = r.bottom;
    return 1;
}
// The first hotspot at client point (x, y), or -1 (also when the index
// cannot be built for want of memory).
EMSCRIPTEN_KEEPALIVE int htf_view_hotspot_at(ViewState* v, int32_t x, int32_t y)
{
    try {
        return web(v)->at(x, y);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

// --- Keys and the wheel, as the viewer window takes them ---

namespace {
ViewInputState inputState(int hasImage, int hotspots, int keyFocus, int dragging, int scrollsH, int scrollsV)
{
    ViewInputState state;
    state.hasImage = hasImage != 0;
    state.hotspotCount = hotspots;
    state.hasKeyFocus = keyFocus != 0;
    state.dragging = dragging != 0;
    state.scrollsHorizontally = scrollsH != 0;
    state.scrollsVertically = scrollsV != 0;
    return state;
}
} // namespace

// The action of a key (ViewKey numbering) and of a typed character.
EMSCRIPTEN_KEEPALIVE int htf_key_action(int key, int shift, int ctrl, int alt, int repeat, int hasImage, int hotspots,
                                        int keyFocus, int dragging, int scrollsH, int scrollsV)
{
    return int(actionForKey(ViewKey(key), KeyModifiers{shift != 0, ctrl != 0, alt != 0}, repeat != 0,
                            inputState(hasImage, hotspots, keyFocus, dragging, scrollsH, scrollsV)));
}
EMSCRIPTEN_KEEPALIVE int htf_char_action(uint32_t character, int shift, int ctrl, int alt, int hasImage, int hotspots,
                                         int keyFocus, int dragging, int scrollsH, int scrollsV)
{
    return int(actionForCharacter(char32_t(character), KeyModifiers{shift != 0, ctrl != 0, alt != 0},
                                  inputState(hasImage, hotspots, keyFocus, dragging, scrollsH, scrollsV)));
}
EMSCRIPTEN_KEEPALIVE void htf_view_scroll_for(ViewState* v, int action) { v->scrollFor(ViewAction(action)); }
EMSCRIPTEN_KEEPALIVE int htf_view_wheel(ViewState* v, int32_t delta, int horizontal, int tilt, int32_t lines)
{
    return v->wheel(delta, horizontal != 0, tilt != 0, lines);
}
EMSCRIPTEN_KEEPALIVE int htf_view_wheel_zoom(ViewState* v, int32_t delta, int32_t x, int32_t y)
{
    return v->wheelZoom(delta, x, y);
}

// --- Navigation: the module's composition and refusals ---

// The URL template with every "#HSREF#" replaced by the reference (both
// UTF-8), checked as the module checks a hotspot's URL before it navigates:
// `refusal` receives 0 when it may be followed, else the reason's number.
EMSCRIPTEN_KEEPALIVE const char* htf_hotspot_url(const char* urlTemplate, const char* reference, int* refusal)
{
    composed = composeHotspotUrl(urlTemplate, reference);
    *refusal = int(checkHotspotNavigation(reference, composed));
    return composed.c_str();
}

// After resolution against the page: only http and https are followed.
EMSCRIPTEN_KEEPALIVE int htf_resolved_refusal(const char* absoluteUrl)
{
    return int(checkResolvedNavigation(absoluteUrl));
}

EMSCRIPTEN_KEEPALIVE const char* htf_refusal_text(int refusal)
{
    return navigationRefusalText(NavigationRefusal(refusal));
}

} // extern "C"
