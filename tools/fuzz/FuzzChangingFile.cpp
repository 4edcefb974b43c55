// The reader in parts over a file that changes while it is read: a site
// publishing a new version of the document between two range reads, or a
// hostile server. The input is a document followed by 8 control bytes; the
// byte source answers from the document until a number of reads the control
// bytes choose, and from then on from a copy of it that they mutate (the
// values of the directory entries that set an image's geometry, and a few
// bytes, mostly in the directories' area). Every level is read as the element's worker reads it: a
// striped level's rows streamed in pieces (as a download hands them over)
// and decoded as their strips complete, with tiles of the other levels
// decoded between the bands and the cache made to let its bytes go, so that
// directories are read again from the changed file; a tiled level tile by
// tile between the others. A buffer filled past its end or from another
// directory's sizes is the sanitizers' to find; a document found changed must
// stay failed.
#include "FuzzSupport.h"
#include "PlainImage.h"
#include "RangeFile.h"
#include "TiffGeometry.h"
#include "TiffLevels.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using fuzz::BudgetImage;
using fuzz::check;

struct Control {
    uint32_t switchAfter = 0;   // source reads before the file changes
    uint32_t seed = 0;          // the mutations
    uint32_t pieceBytes = 0;    // the pieces a striped level's strips come in
    uint32_t bandRows = 0;      // the rows of a striped level decoded at a time
    uint8_t flags = 0;          // bit 0: keep the cache between bands (else it lets its bytes go)
};

Control controlOf(const uint8_t* bytes)
{
    Control c;
    c.switchAfter = bytes[0] % 16;
    c.seed = uint32_t(bytes[1]) | uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]) << 16 | uint32_t(bytes[4]) << 24;
    c.pieceBytes = 512 + (uint32_t(bytes[5]) << 6);
    c.bandRows = 1 + bytes[6] % 64;
    c.flags = bytes[7];
    return c;
}

// The values of the entries that set an image's geometry, in a classic
// TIFF file's directory chain, changed as a new version of the document
// would change them (twice or half as large, one more or less, another
// value); the rest of the file stays as it is.
void changeGeometry(std::vector<uint8_t>& bytes, uint32_t& state)
{
    auto next = [&] { return state = state * 1103515245u + 12345u; };
    if (bytes.size() < 8 || (bytes[0] != 'I' && bytes[0] != 'M') || bytes[2] + bytes[3] != 42)
        return;
    const bool big = bytes[0] == 'M';
    auto get = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= uint32_t(bytes[at + i]) << (8 * (big ? n - 1 - i : i));
        return v;
    };
    auto put = [&](size_t at, int n, uint32_t v) {
        for (int i = 0; i < n; ++i)
            bytes[at + i] = uint8_t(v >> (8 * (big ? n - 1 - i : i)));
    };
    uint64_t ifd = get(4, 4);
    for (int directory = 0; directory < 8 && ifd >= 8 && ifd + 2 <= bytes.size(); ++directory) {
        const uint32_t entries = get(ifd, 2);
        if (ifd + 2 + 12 * uint64_t(entries) + 4 > bytes.size())
            return;
        for (uint32_t e = 0; e < entries; ++e) {
            const size_t at = ifd + 2 + 12 * size_t(e);
            const uint32_t tag = get(at, 2), type = get(at + 2, 2), count = get(at + 4, 4);
            const bool geometry = tag == TIFFTAG_IMAGEWIDTH || tag == TIFFTAG_IMAGELENGTH || tag == TIFFTAG_BITSPERSAMPLE ||
                                  tag == TIFFTAG_COMPRESSION || tag == TIFFTAG_PHOTOMETRIC || tag == TIFFTAG_SAMPLESPERPIXEL ||
                                  tag == TIFFTAG_ROWSPERSTRIP || tag == TIFFTAG_PLANARCONFIG || tag == TIFFTAG_TILEWIDTH ||
                                  tag == TIFFTAG_TILELENGTH;
            if (!geometry || count != 1 || (type != TIFF_SHORT && type != TIFF_LONG) || next() % 3 != 0)
                continue;
            const int n = type == TIFF_SHORT ? 2 : 4;
            const uint32_t v = get(at + 8, n), r = next() >> 8;
            const uint32_t changed[] = {v * 2, v / 2, v + 1, v - 1, v + 16, v & ~15u, r % 4096, r};
            put(at + 8, n, changed[(r >> 12) % 8]);
        }
        ifd = get(ifd + 2 + 12 * size_t(entries), 4);
    }
}

// The changed file: the same size, its images' geometry changed (see
// above), and a few bytes changed, most of them in the first 2 KB (the
// header and directories of the documents the seeds hold).
std::vector<uint8_t> mutated(const uint8_t* data, size_t size, uint32_t seed)
{
    std::vector<uint8_t> out(data, data + size);
    if (size == 0)
        return out;
    uint32_t state = seed | 1;
    auto next = [&] { return state = state * 1103515245u + 12345u; };
    if (seed & 0x100)
        changeGeometry(out, state);
    const int changes = (seed & 0x200) ? 0 : 1 + int(next() >> 16) % 8;
    for (int k = 0; k < changes; ++k) {
        const uint32_t r = next();
        const size_t area = (r & 0x80000000u) ? size : std::min<size_t>(size, 2048);
        out[(next() >> 8) % area] = uint8_t(r >> 16);
    }
    return out;
}

// The document until `switchAfter` reads, the changed copy after.
class ChangingSource : public ByteRangeSource {
public:
    ChangingSource(const uint8_t* data, size_t size, const std::vector<uint8_t>& changed, uint32_t switchAfter)
        : data_(data), size_(size), changed_(changed), switchAfter_(switchAfter)
    {
    }
    bool read(uint64_t offset, size_t length, uint8_t* out) override
    {
        if (offset > size_ || length > size_ - offset)
            return false;
        std::memcpy(out, current() + offset, length);
        ++reads_;
        return true;
    }
    // What the server would send now, for a download of many strips.
    const uint8_t* current() const { return reads_ >= switchAfter_ ? changed_.data() : data_; }

private:
    const uint8_t* data_;
    size_t size_;
    const std::vector<uint8_t>& changed_;
    uint32_t switchAfter_;
    uint32_t reads_ = 0;
};

// A tile of some other level than `level`, as a view that needs it would
// decode it between two bands.
void decodeAnother(TiffLevels& levels, size_t level, uint32_t turn)
{
    const std::vector<TiffLevel>& list = levels.levels();
    if (list.size() < 2)
        return;
    const size_t other = (level + 1 + turn % (list.size() - 1)) % list.size();
    const TiffLevel& l = list[other];
    if (fuzz::levelBytes(l) > fuzz::kImageBudget)
        return;
    const uint32_t column = turn % l.columns(), row = (turn / 3) % l.rows();
    BudgetImage tile;
    if (levels.decodeTile(other, column, row, tile) == DecodeOutcome::Decoded && tile.width > 0)
        fuzz::checkTile(l, column, row, tile);
}

// A document found changed fails every call from then on.
void checkStaysFailed(TiffLevels& levels)
{
    if (!levels.changed())
        return;
    BudgetImage tile;
    check(levels.decodeTile(0, 0, 0, tile) != DecodeOutcome::Decoded, "a changed document decodes no tile");
    check(levels.takeError() == kDocumentChangedText, "a changed document says so");
}

// A striped level decoded a band of rows at a time while its strips arrive
// in pieces (as a download hands them over; a band's strips that have not
// arrived yet are read from the source), with a tile of another level
// decoded between two bands.
void streamRows(TiffLevels& levels, RangeFile& file, ChangingSource& source, size_t level, const Control& control)
{
    uint64_t begin = 0, end = 0;
    if (!levels.stripSpan(level, begin, end))
        return;
    BudgetImage plane;
    if (levels.beginRows(level, plane) != DecodeOutcome::Decoded)
        return;
    const uint32_t height = levels.levels()[level].height;
    uint64_t at = begin / RangeFile::kBlockBytes * RangeFile::kBlockBytes;
    uint32_t done = 0, turn = 0;
    while (done < height && !levels.changed()) {
        if (at < end) {
            // Whole blocks only are kept: each piece from the last block
            // boundary, in a buffer of its own size.
            const uint64_t next = std::min<uint64_t>(end, at + control.pieceBytes);
            const uint64_t supplied = at / RangeFile::kBlockBytes * RangeFile::kBlockBytes;
            const std::vector<uint8_t> piece(source.current() + supplied, source.current() + next);
            file.supply(supplied, piece.data(), piece.size());
            at = next;
        }
        const uint32_t now = levels.decodeRows(std::min(height, done + control.bandRows));
        check(now <= height && (now >= done || levels.changed()), "rows go forward within the level");
        check(plane.height == 0 || uint32_t(plane.height) == height, "the plane keeps its level's size");
        decodeAnother(levels, level, turn++);
        if (!(control.flags & 1))
            file.forget(0, file.size());
        levels.takeError();
        if (now <= done)
            break;
        done = now;
    }
    levels.endRows();
}

void readChanging(const uint8_t* data, size_t size, const Control& control)
{
    const std::vector<uint8_t> changed = mutated(data, size, control.seed);
    ChangingSource source(data, size, changed, control.switchAfter);
    RangeFile file(source, size, size_t(1) << 20);
    TiffLevels levels(file);
    if (!levels.open("fuzz")) {
        checkStaysFailed(levels);
        return;
    }
    const std::vector<TiffLevel>& list = levels.levels();
    for (size_t i = 0; i < list.size() && i < 4; ++i) {
        const TiffLevel& l = list[i];
        if (fuzz::levelBytes(l) > fuzz::kImageBudget)
            continue;
        if (!l.tiled) {
            streamRows(levels, file, source, i, control);
        } else {
            fuzz::decodeCornerTiles(levels, i, [&](uint32_t turn) {
                decodeAnother(levels, i, turn);
                if (!(control.flags & 1))
                    file.forget(0, file.size());
            });
        }
        levels.takeError();
        checkStaysFailed(levels);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8)
        return 0;
    readChanging(data, size - 8, controlOf(data + size - 8));
    return 0;
}
