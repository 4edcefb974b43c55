#pragma once
// A document read a part at a time: the first directory and the hotspot tag
// come first, then its resolution levels (the first image, and the reduced
// images that follow it in the directory chain with the reduced-image bit of
// NewSubfileType or sit in its SubIFDs), each in a grid of tiles. A tiled
// level is decoded tile by tile, so a view of a huge document costs only the
// tiles it shows; a striped level is one tile, the whole level.
#include "HotspotList.h"
#include "PlainImage.h"
#include "RangeFile.h"
#include "TiffGeometry.h"
#include "TiffImageDecoder.h"

#include <memory>
#include <string>
#include <vector>

struct HotspotTagSink;

struct TiffLevel {
    uint32_t width = 0, height = 0;
    bool tiled = false;
    uint32_t tileWidth = 0, tileHeight = 0;   // the whole level when it is striped
    uint16_t bits = 0;                        // 1, 4, 8 (indexed) or 32 (RGBA) once decoded
    int directory = -1;                       // its place in the directory chain, or
    uint64_t subIfd = 0;                      // the offset of its SubIFD
    TiffGeometry file;                        // its directory's values, as read at open

    uint32_t columns() const { return tileWidth ? uint32_t((uint64_t(width) + tileWidth - 1) / tileWidth) : 0; }
    uint32_t rows() const { return tileHeight ? uint32_t((uint64_t(height) + tileHeight - 1) / tileHeight) : 0; }
};

class TiffLevels {
public:
    // Reduced images beyond this many are ignored.
    static constexpr size_t kMaxLevels = 32;
    // Largest decoded tile (a tile must be smaller than the image it tiles).
    static constexpr uint64_t kMaxTileBytes = uint64_t(64) << 20;

    explicit TiffLevels(RangeFile& file);
    ~TiffLevels();
    TiffLevels(const TiffLevels&) = delete;
    TiffLevels& operator=(const TiffLevels&) = delete;

    // Reads the first directory, its hotspots (unless `withHotspots` is
    // false: a caller that only needs the sizes skips a tag that may hold a
    // million of them) and the levels; false (with error()) when the bytes
    // are not a TIFF document. With `sink`, that sink reads the hotspot tag
    // instead (see PrivateTiffTags.h) and hotspots() stays null.
    bool open(const char* name, bool withHotspots = true, const HotspotTagSink* sink = nullptr);

    uint32_t width() const { return levels_.empty() ? 0 : levels_[0].width; }
    uint32_t height() const { return levels_.empty() ? 0 : levels_[0].height; }
    const std::vector<TiffLevel>& levels() const { return levels_; }
    const HotspotList* hotspots() const { return hotspots_.get(); }

    // The smallest level at least as fine as `scale` (screen pixels per
    // pixel of the first image): the first image from 1:1 up.
    size_t levelFor(double scale) const;

    // Fetches the bytes of the level's tiles in columns [c0, c1] and rows
    // [r0, r1] ahead, neighbours together.
    bool prefetch(size_t level, uint32_t c0, uint32_t r0, uint32_t c1, uint32_t r1);

    // Decodes one tile into `out` (clipped to the level's edges). Indexed
    // kinds keep their depth and palette; others become RGBA.
    DecodeOutcome decodeTile(size_t level, uint32_t column, uint32_t row, PlainImage& out);

    // A striped level decoded a band of rows at a time, as the bytes of its
    // strips arrive: beginRows() sizes `out` (kept by the caller until
    // endRows() or the next beginRows()), decodeRows() decodes on up to
    // `endRow` and returns the rows decoded so far. Other levels may be read
    // in between.
    DecodeOutcome beginRows(size_t level, PlainImage& out);
    uint32_t decodeRows(uint32_t endRow);
    // A colour level whose decoding failed part way was made black, the
    // rows decoded before included.
    bool rowsCleared() const { return rows_.cleared(); }
    uint32_t rowsDone() const { return rows_.rowsDone(); }
    void endRows();

    // The bytes of the file the level's strips take, from the first strip's
    // start to the last one's end; false for a tiled level or without strips.
    bool stripSpan(size_t level, uint64_t& begin, uint64_t& end);
    // The end of the rows from `fromRow` on whose strips (every plane's) lie
    // within [begin, end) of the file or are empty: the rows that can be
    // decoded from those bytes alone.
    uint32_t rowsWithin(size_t level, uint32_t fromRow, uint64_t begin, uint64_t end);

    // The first error libtiff reported since the last call, as
    // "<module>: <text>"; empty without one. Once the document is found
    // changed, always kDocumentChangedText.
    std::string takeError();

    // A level's directory, read again, differed from what open() read: the
    // file was replaced while it was read. Nothing more is decoded from it;
    // every call fails from then on.
    bool changed() const { return changed_; }

private:
    bool select(size_t level);
    void markChanged();
    bool addLevel(int directory, uint64_t subIfd);
    void forgetStrips(uint32_t before, uint32_t after);
    static int keepError(TIFF*, void* data, const char* module, const char* format, va_list args);

    RangeFile& file_;
    TIFF* tif_ = nullptr;
    std::vector<TiffLevel> levels_;
    std::unique_ptr<HotspotList> hotspots_;
    size_t current_ = 0;
    TiffRowDecoder rows_;
    size_t rowLevel_ = size_t(-1);   // the level rows_ decodes
    bool rowsDisturbed_ = false;     // a tile was decoded since its last rows
    uint64_t forgetFrom_ = UINT64_MAX;   // the first byte of its strips decoded
    bool changed_ = false;
    std::string error_;
};
