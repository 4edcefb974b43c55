// Reading in parts, built for this machine under the sanitizers: the range
// file's cache and merging, levelled documents from the tiled writer read
// tile by tile with the whole image's pixels, and damaged directories.
#include "PlainImage.h"
#include "RangeFile.h"
#include "TiffLevels.h"
#include "HtfReader.h"
#include "TiledDocumentWriter.h"
#include "TiffBytes.h"
#include "TiffFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

// Bytes in memory that count the reads asked of them, and can fail. After
// `switchAfter` reads it answers from `replacement` instead: a file replaced
// on the server while it is read.
struct CountingSource : ByteRangeSource {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<uint64_t, size_t>> reads;
    bool fail = false;
    std::vector<uint8_t> replacement;
    size_t switchAfter = SIZE_MAX;
    size_t readsReplaced = 0;
    bool read(uint64_t offset, size_t length, uint8_t* out) override
    {
        reads.emplace_back(offset, length);
        const bool replaced = reads.size() > switchAfter;
        const std::vector<uint8_t>& from = replaced ? replacement : bytes;
        readsReplaced += replaced;
        if (fail || offset + length > from.size())
            return false;
        std::memcpy(out, from.data() + offset, length);
        return true;
    }
};

// A classic little-endian TIFF of striped, uncompressed images, one a
// directory in the chain, every directory right after the header and the
// pixels after them all: two such files whose images have the same number of
// strips keep their directories at the same offsets, whatever their sizes.
struct StripedImage {
    uint32_t width, height, rowsPerStrip;
    uint32_t subfileType = 0;
    uint16_t bits = 8;                 // 1 or 8, one sample
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint8_t seed = 0;                  // varies the pixels
};

std::vector<uint8_t> stripedChain(const std::vector<StripedImage>& images)
{
    constexpr uint16_t kShort = 3, kLong = 4, kEntries = 10;
    std::vector<uint8_t> out(8);
    auto put16 = [&](size_t at, uint16_t v) { out[at] = uint8_t(v), out[at + 1] = uint8_t(v >> 8); };
    auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i)); };
    out[0] = out[1] = 'I', out[2] = 42;
    // Directories and their strip arrays first, the pixels after.
    std::vector<size_t> ifds, arrays;
    size_t at = 8;
    for (const StripedImage& image : images) {
        const uint32_t strips = (image.height + image.rowsPerStrip - 1) / image.rowsPerStrip;
        ifds.push_back(at);
        at += 2 + 12 * kEntries + 4;
        arrays.push_back(at);
        at += strips > 1 ? 8 * size_t(strips) : 0;
    }
    put32(4, uint32_t(ifds[0]));
    out.resize(at);
    for (size_t d = 0; d < images.size(); ++d) {
        const StripedImage& image = images[d];
        const uint32_t rowBytes = (image.width * image.bits + 7) / 8;
        const uint32_t strips = (image.height + image.rowsPerStrip - 1) / image.rowsPerStrip;
        std::vector<uint32_t> offsets, counts;
        for (uint32_t s = 0; s < strips; ++s) {
            const uint32_t rows = std::min(image.rowsPerStrip, image.height - s * image.rowsPerStrip);
            offsets.push_back(uint32_t(out.size()));
            counts.push_back(rows * rowBytes);
            for (uint32_t y = s * image.rowsPerStrip; y < s * image.rowsPerStrip + rows; ++y)
                for (uint32_t x = 0; x < rowBytes; ++x)
                    out.push_back(uint8_t((x * 7 + y * 13 + image.seed) ^ (y >> 3)));
        }
        size_t e = ifds[d];
        put16(e, kEntries);
        e += 2;
        auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
            put16(e, tag), put16(e + 2, type), put32(e + 4, count);
            if (type == kShort && count == 1)
                put16(e + 8, uint16_t(value)), put16(e + 10, 0);
            else
                put32(e + 8, value);
            e += 12;
        };
        const size_t offsetArray = arrays[d], countArray = arrays[d] + 4 * size_t(strips);
        for (uint32_t s = 0; strips > 1 && s < strips; ++s)
            put32(offsetArray + 4 * s, offsets[s]), put32(countArray + 4 * s, counts[s]);
        entry(TIFFTAG_SUBFILETYPE, kLong, 1, image.subfileType);
        entry(TIFFTAG_IMAGEWIDTH, kLong, 1, image.width);
        entry(TIFFTAG_IMAGELENGTH, kLong, 1, image.height);
        entry(TIFFTAG_BITSPERSAMPLE, kShort, 1, image.bits);
        entry(TIFFTAG_COMPRESSION, kShort, 1, COMPRESSION_NONE);
        entry(TIFFTAG_PHOTOMETRIC, kShort, 1, image.photometric);
        entry(TIFFTAG_STRIPOFFSETS, kLong, strips, strips > 1 ? uint32_t(offsetArray) : offsets[0]);
        entry(TIFFTAG_SAMPLESPERPIXEL, kShort, 1, 1);
        entry(TIFFTAG_ROWSPERSTRIP, kLong, 1, image.rowsPerStrip);
        entry(TIFFTAG_STRIPBYTECOUNTS, kLong, strips, strips > 1 ? uint32_t(countArray) : counts[0]);
        put32(e, d + 1 < images.size() ? uint32_t(ifds[d + 1]) : 0);
    }
    return out;
}

// Both documents padded with zeros to the longer one's size: a file replaced
// by one of the same size, which a comparison of sizes does not notice.
void sameSize(std::vector<uint8_t>& a, std::vector<uint8_t>& b)
{
    const size_t size = std::max(a.size(), b.size());
    a.resize(size), b.resize(size);
}

TEST(RangeFile, NeighbouringBlocksComeInOneReadAndStayCached)
{
    CountingSource source;
    source.bytes.resize(1 << 20);
    for (size_t i = 0; i < source.bytes.size(); ++i)
        source.bytes[i] = uint8_t(i * 31 + i / 4099);
    RangeFile file(source, source.bytes.size(), 256 << 10);
    std::vector<uint8_t> out(40000);
    ASSERT_EQ(file.read(10000, out.data(), out.size()), 40000);
    EXPECT_EQ(std::memcmp(out.data(), source.bytes.data() + 10000, out.size()), 0);
    ASSERT_EQ(source.reads.size(), 1u);   // blocks 0-3 in one read
    EXPECT_EQ(source.reads[0], std::make_pair(uint64_t(0), size_t(65536)));
    ASSERT_EQ(file.read(20000, out.data(), 100), 100);
    EXPECT_EQ(source.reads.size(), 1u);   // cached
    // Near the end: fewer bytes, and nothing past it.
    EXPECT_EQ(file.read((1 << 20) - 10, out.data(), 100), 10);
    EXPECT_EQ(file.read(1 << 20, out.data(), 100), 0);

    // Ranges closer than the merge gap come in one read; far ones apart.
    source.reads.clear();
    ASSERT_TRUE(file.prefetch({{300000, 1000}, {320000, 5000}, {340000, 100}, {900000, 10}}));
    ASSERT_EQ(source.reads.size(), 2u);
    EXPECT_LE(source.reads[0].first, 300000u);
    EXPECT_GE(source.reads[0].first + source.reads[0].second, 340100u);
    // Each less than the gap from the one before, together far wider than
    // it: still one read.
    source.reads.clear();
    ASSERT_TRUE(file.prefetch({{400000, 1000}, {440000, 1000}, {480000, 1000}, {520000, 1000}}));
    ASSERT_EQ(source.reads.size(), 1u);
    EXPECT_LE(source.reads[0].first, 400000u);
    EXPECT_GE(source.reads[0].first + source.reads[0].second, 521000u);
    // The cache stays within its budget, least recently used blocks first.
    for (uint64_t at = 0; at < (1 << 20); at += 16384)
        file.read(at, out.data(), 1);
    source.reads.clear();
    file.read((1 << 20) - 1, out.data(), 1);
    EXPECT_TRUE(source.reads.empty());
    file.read(0, out.data(), 1);
    EXPECT_EQ(source.reads.size(), 1u);
    // A failing source is an error, not bytes.
    source.fail = true;
    EXPECT_EQ(file.read(500000, out.data(), 10), -1);
    EXPECT_TRUE(file.failed());
}

TEST(RangeFile, SequentialReadsReadFurtherAheadEachTime)
{
    CountingSource source;
    source.bytes.resize(8 << 20, 7);
    RangeFile file(source, source.bytes.size(), 32 << 20);
    std::vector<uint8_t> out(5000);
    for (uint64_t at = 0; at < source.bytes.size(); at += out.size())
        ASSERT_GT(file.read(at, out.data(), out.size()), 0);
    // 1678 reads of 5000 bytes: 2, 4, 8 ... 256 blocks at a time.
    EXPECT_LE(source.reads.size(), 12u);
    EXPECT_EQ(file.bytesFetched(), source.bytes.size());
    // A jump elsewhere, back or forward, starts small again; reading on
    // from where the last read ended reads ahead.
    RangeFile again(source, source.bytes.size(), 32 << 20);
    const struct {
        const char* name;
        uint64_t at;
        size_t bytes;
    } steps[] = {
        {"a first read", 4 << 20, RangeFile::kBlockBytes},
        {"a jump back", 1 << 20, RangeFile::kBlockBytes},
        {"a jump forward", 6 << 20, RangeFile::kBlockBytes},
        {"on from the end of the last", (6 << 20) + RangeFile::kBlockBytes, 5 * RangeFile::kBlockBytes},
        {"a jump forward after it", 7 << 20, RangeFile::kBlockBytes},
    };
    for (const auto& step : steps) {
        source.reads.clear();
        ASSERT_EQ(again.read(step.at, out.data(), 10), 10) << step.name;
        ASSERT_EQ(source.reads.size(), 1u) << step.name;
        EXPECT_EQ(source.reads[0], std::make_pair(step.at, step.bytes)) << step.name;
    }
}

// Pieces the caller fetched itself, each handed over from a buffer of its
// own size (a read past a piece would be seen): the whole blocks among them
// are read without the source; twice the cache's budget handed over, with
// nothing read in between, leaves the cache within its budget.
TEST(RangeFile, SuppliedPiecesAreCachedWithinTheBudget)
{
    CountingSource source;
    source.bytes.resize(3 << 20);
    for (size_t i = 0; i < source.bytes.size(); ++i)
        source.bytes[i] = uint8_t(i * 7 + i / 5003);
    const size_t budget = 256 << 10;
    RangeFile file(source, source.bytes.size(), budget);
    for (uint64_t at = 0; at < 2 * budget;) {
        const size_t length = std::min<size_t>(7000 + at % 9000, 2 * budget - at);
        // Whole blocks only are kept: each piece goes from the last block boundary.
        const uint64_t from = at / RangeFile::kBlockBytes * RangeFile::kBlockBytes;
        std::vector<uint8_t> own(source.bytes.begin() + std::ptrdiff_t(from),
                                 source.bytes.begin() + std::ptrdiff_t(at + length));
        file.supply(from, own.data(), own.size());
        at += length;
        EXPECT_LE(file.cachedBytes(), budget) << at;
    }
    EXPECT_TRUE(source.reads.empty());
    // The last blocks handed over are read from the cache, as they were.
    std::vector<uint8_t> out(RangeFile::kBlockBytes * 4);
    const uint64_t tail = 2 * budget - out.size();
    ASSERT_EQ(file.read(tail, out.data(), out.size()), int64_t(out.size()));
    EXPECT_TRUE(source.reads.empty());
    EXPECT_EQ(std::memcmp(out.data(), source.bytes.data() + tail, out.size()), 0);
    // A piece that ends inside a block keeps that block out of the cache.
    std::vector<uint8_t> part(source.bytes.begin() + (1 << 20), source.bytes.begin() + (1 << 20) + 20000);
    file.supply(1 << 20, part.data(), part.size());
    ASSERT_EQ(file.read((1 << 20) + 17000, out.data(), 100), 100);
    EXPECT_EQ(source.reads.size(), 1u);
    EXPECT_EQ(std::memcmp(out.data(), source.bytes.data() + (1 << 20) + 17000, 100), 0);
}

std::vector<uint8_t> tiledDocument(const PlainImage& image, bool big, bool subIfds = false, uint32_t tileSize = 256)
{
    char path[] = "/tmp/htf-levels-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    TiledDocumentOptions options;
    options.levels = true, options.bigTiff = big, options.subIfds = subIfds, options.tileSize = tileSize;
    std::string error;
    EXPECT_TRUE(writeTiledDocument(image, std::string(), options, path, std::string(path) + ".tiles", error)) << error;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path);
    return bytes;
}

PlainImage pattern(int bits)
{
    PlainImage image;
    const uint32_t w = 1000, h = 700, rowBytes = bits == 32 ? w * 4 : (w * bits + 7) / 8;
    image.make(w, h, uint16_t(bits == 32 ? 24 : bits), rowBytes);
    if (bits == 1)
        image.palette = {rgbaWord(255, 255, 255), rgbaWord(0, 0, 0)};
    for (int i = 0; bits == 8 && i < 256; ++i)
        image.palette.push_back(rgbaWord(uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < rowBytes; ++x)
            if (bits != 32 || x % 4 != 3)
                image.row(y)[x] = uint8_t((x * 7 + y * 13) ^ (y >> 3));
    return image;
}

TEST(TiffLevels, WrittenLevelsOpenFromOneReadAndTilesMatchTheWholeImage)
{
    struct Layout { bool big, subIfds; const char* name; };
    for (int bits : {1, 8, 32}) {
        for (const Layout& layout : {Layout{false, false, "chain"}, Layout{true, false, "BigTIFF chain"},
                                     Layout{false, true, "SubIFDs"}, Layout{true, true, "BigTIFF SubIFDs"}}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + layout.name);
            const PlainImage image = pattern(bits);
            CountingSource source;
            source.bytes = tiledDocument(image, layout.big, layout.subIfds);
            PlainImage whole;
            ASSERT_TRUE(readHtfDocument(source.bytes.data(), source.bytes.size(), "d", whole).hasImage());
            EXPECT_TRUE(whole.pixels == image.pixels);
            EXPECT_TRUE(whole.palette == image.palette);

            RangeFile file(source, source.bytes.size());
            TiffLevels levels(file);
            ASSERT_TRUE(levels.open("d"));
            EXPECT_EQ(source.reads.size(), 1u);   // the directories are all at the start
            ASSERT_EQ(levels.levels().size(), 3u);
            // Reduced images in the chain or SubIFDs, never both.
            for (size_t i = 1; i < 3; ++i) {
                EXPECT_EQ(levels.levels()[i].directory < 0, layout.subIfds) << i;
                EXPECT_EQ(levels.levels()[i].subIfd != 0, layout.subIfds) << i;
            }
            EXPECT_EQ(levels.levels()[1].width, 500u);
            EXPECT_EQ(levels.levels()[2].height, 175u);
            const TiffLevel& l = levels.levels()[0];
            for (uint32_t r = 0; r < l.rows(); ++r) {
                for (uint32_t c = 0; c < l.columns(); ++c) {
                    PlainImage tile;
                    ASSERT_EQ(levels.decodeTile(0, c, r, tile), DecodeOutcome::Decoded);
                    EXPECT_TRUE(tile.palette == whole.palette);
                    for (int32_t y = 0; y < tile.height; ++y) {
                        ASSERT_EQ(std::memcmp(tile.row(uint32_t(y)),
                                              whole.row(r * 256 + uint32_t(y)) + size_t(c) * 256 * whole.bits / 8,
                                              tile.rowBytes), 0) << c << "," << r << " row " << y;
                    }
                }
            }
            EXPECT_EQ(levels.takeError(), "");
            // The first reduced level's first tile is the image halved.
            PlainImage half, halfTile;
            ASSERT_TRUE(reduceImage(image, half));
            ASSERT_EQ(levels.decodeTile(1, 0, 0, halfTile), DecodeOutcome::Decoded);
            for (int32_t y = 0; y < halfTile.height; ++y)
                ASSERT_EQ(std::memcmp(halfTile.row(uint32_t(y)), half.row(uint32_t(y)), halfTile.rowBytes), 0) << y;
            PlainImage smallest;
            EXPECT_EQ(levels.decodeTile(2, 0, 0, smallest), DecodeOutcome::Decoded);
            EXPECT_EQ(smallest.width, 250);
            EXPECT_EQ(levels.levelFor(1.0), 0u);
            EXPECT_EQ(levels.levelFor(0.3), 1u);
            EXPECT_EQ(levels.levelFor(0.1), 2u);
        }
    }
}

// Which images of the directory chain are levels: reduced images smaller
// than the one before; not a reduced transparency mask, another page, or a
// reduced image as large as the first.
TEST(TiffLevels, OnlySmallerReducedImagesOfTheChainAreLevels)
{
    constexpr uint32_t kReducedMask = FILETYPE_REDUCEDIMAGE | FILETYPE_MASK;
    struct Case {
        const char* name;
        std::vector<StripedImage> chain;
        std::vector<uint32_t> widths;
    };
    const Case cases[] = {
        {"two reduced images", {{400, 300, 50}, {200, 150, 50, FILETYPE_REDUCEDIMAGE}, {100, 75, 75, FILETYPE_REDUCEDIMAGE}},
         {400, 200, 100}},
        {"a reduced transparency mask between them",
         {{400, 300, 50}, {200, 150, 50, kReducedMask, 1, PHOTOMETRIC_MASK}, {100, 75, 75, FILETYPE_REDUCEDIMAGE}},
         {400, 100}},
        {"another page", {{400, 300, 50}, {200, 150, 50, FILETYPE_PAGE}}, {400}},
        {"a reduced image as large as the first", {{400, 300, 50}, {400, 300, 50, FILETYPE_REDUCEDIMAGE}}, {400}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CountingSource source;
        source.bytes = stripedChain(c.chain);
        RangeFile file(source, source.bytes.size());
        TiffLevels levels(file);
        ASSERT_TRUE(levels.open("d"));
        std::vector<uint32_t> widths;
        for (const TiffLevel& l : levels.levels())
            widths.push_back(l.width);
        EXPECT_EQ(widths, c.widths);
        PlainImage last;
        EXPECT_EQ(levels.decodeTile(levels.levels().size() - 1, 0, 0, last), DecodeOutcome::Decoded);
        EXPECT_EQ(last.width, int32_t(c.widths.back()));
    }
}

TEST(TiffLevels, DamagedDirectoriesNeverCrash)
{
    const std::vector<uint8_t> good = tiledDocument(pattern(8), false);
    uint32_t state = 12345;
    auto next = [&] { return state = state * 1103515245u + 12345u; };
    for (int round = 0; round < 300; ++round) {
        CountingSource source;
        source.bytes = good;
        for (int k = 0; k < 4; ++k)
            source.bytes[8 + next() % 600] = uint8_t(next() >> 16);   // the directories' area
        RangeFile file(source, source.bytes.size());
        TiffLevels levels(file);
        if (!levels.open("d"))
            continue;
        for (size_t i = 0; i < levels.levels().size(); ++i) {
            const TiffLevel& l = levels.levels()[i];
            for (uint32_t r = 0; r < std::min(l.rows(), 3u); ++r)
                for (uint32_t c = 0; c < std::min(l.columns(), 3u); ++c) {
                    PlainImage tile;
                    levels.decodeTile(i, c, r, tile);
                    EXPECT_LE(tile.pixels.size(), size_t(TiffLevels::kMaxTileBytes));
                }
        }
    }
}

} // namespace

// A striped document written by the fixture writer, as bytes.
std::vector<uint8_t> stripedDocument(const TiffFixture& fixture)
{
    char path[] = "/tmp/htf-strips-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    EXPECT_TRUE(writeTiffFixture(path, fixture));
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path);
    return bytes;
}

TiffFixture stripedFixture(uint32_t w, uint32_t h, uint16_t photometric, uint16_t bits, uint16_t samples,
                           uint16_t compression, uint32_t rowsPerStrip)
{
    TiffFixture f;
    f.width = w, f.height = h, f.photometric = photometric, f.bitsPerSample = bits, f.samplesPerPixel = samples;
    f.compression = compression, f.rowsPerStrip = rowsPerStrip;
    f.pixels.resize(size_t(fixtureScanlineBytes(f)) * h * (f.planar == PLANARCONFIG_SEPARATE ? samples : 1));
    for (size_t i = 0; i < f.pixels.size(); ++i)
        f.pixels[i] = uint8_t((i * 37 + i / 7) ^ (i / 501));
    if (photometric == PHOTOMETRIC_PALETTE) {
        f.colorMap.resize(3u << bits);
        for (size_t i = 0; i < f.colorMap.size(); ++i)
            f.colorMap[i] = uint16_t(i * 997 + 0x1234);
    }
    return f;
}

// A striped level streamed in pieces (as a download hands them over) and
// decoded band by band as its strips complete: the same pixels as the whole
// reader, no read of the source beyond the directories, and the cache holds
// little more than the piece in hand.
TEST(TiffLevels, StripsDecodedAsTheirBytesArriveGiveTheWholeImage)
{
    // held: what the cache may hold while the strips stream in, in blocks (a
    // row of separate planes needs the last plane's strip: the earlier planes
    // wait in the cache until it comes).
    struct Case {
        const char* name;
        std::function<TiffFixture()> make;
        size_t held;
    };
    const Case cases[] = {
        {"bilevel G4, 8 rows a strip", [] { return stripedFixture(2000, 403, PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITTFAX4, 8); }, 12},
        {"grey 4-bit, one strip", [] { return stripedFixture(90, 60, PHOTOMETRIC_MINISBLACK, 4, 1, COMPRESSION_NONE, 0); }, 12},
        {"palette LZW, 3 rows", [] { return stripedFixture(701, 300, PHOTOMETRIC_PALETTE, 8, 1, COMPRESSION_LZW, 3); }, 12},
        {"RGB LZW, a row a strip", [] { return stripedFixture(600, 200, PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW, 1); }, 12},
        {"RGB planes apart", [] { TiffFixture f = stripedFixture(400, 300, PHOTOMETRIC_RGB, 8, 3, COMPRESSION_NONE, 7);
                                  f.planar = PLANARCONFIG_SEPARATE; f.pixels.resize(size_t(400) * 300 * 3); return f; }, 40},
        {"grey 16-bit", [] { return stripedFixture(600, 300, PHOTOMETRIC_MINISBLACK, 16, 1, COMPRESSION_DEFLATE, 5); }, 12},
    };
    for (const auto& [name, make, held] : cases) {
        SCOPED_TRACE(name);
        CountingSource source;
        source.bytes = stripedDocument(make());
        PlainImage whole;
        ASSERT_TRUE(readHtfDocument(source.bytes.data(), source.bytes.size(), "d", whole).hasImage());

        RangeFile file(source, source.bytes.size(), 1 << 20);
        TiffLevels levels(file);
        ASSERT_TRUE(levels.open("d"));
        uint64_t begin = 0, end = 0;
        ASSERT_TRUE(levels.stripSpan(0, begin, end));
        EXPECT_LE(end, source.bytes.size());
        PlainImage plane;
        ASSERT_EQ(levels.beginRows(0, plane), DecodeOutcome::Decoded);
        const size_t readsAfterOpen = source.reads.size();
        const uint64_t from = begin / RangeFile::kBlockBytes * RangeFile::kBlockBytes;
        uint32_t done = 0, bands = 0;
        for (uint64_t at = from; at < end;) {
            const uint64_t next = std::min<uint64_t>(end, at + 5000);
            // Whole blocks only are kept: the piece from the last block boundary.
            const uint64_t supplied = at / RangeFile::kBlockBytes * RangeFile::kBlockBytes;
            const std::vector<uint8_t> piece(source.bytes.begin() + std::ptrdiff_t(supplied),
                                             source.bytes.begin() + std::ptrdiff_t(next));
            file.supply(supplied, piece.data(), piece.size());
            at = next;
            const uint64_t whole = at == end ? at : at / RangeFile::kBlockBytes * RangeFile::kBlockBytes;
            const uint32_t ready = levels.rowsWithin(0, done, from, whole);
            ASSERT_GE(ready, done);
            if (ready > done) {
                const uint32_t now = levels.decodeRows(ready);
                ASSERT_GE(now, ready);
                done = now, ++bands;
            }
            EXPECT_LE(file.cachedBytes(), held * RangeFile::kBlockBytes);
        }
        // The last block of the span may end before a block boundary.
        if (done < uint32_t(whole.height))
            done = levels.decodeRows(uint32_t(whole.height));
        EXPECT_EQ(done, uint32_t(whole.height));
        EXPECT_EQ(source.reads.size(), readsAfterOpen) << "the strips were read from the source";
        EXPECT_FALSE(levels.rowsCleared());
        EXPECT_EQ(levels.takeError(), "");
        ASSERT_EQ(plane.pixels.size(), whole.pixels.size());
        EXPECT_TRUE(plane.pixels == whole.pixels);
        EXPECT_TRUE(plane.palette == whole.palette);
        if (std::string(name).find("one strip") == std::string::npos) {
            EXPECT_GT(bands, 2u);
        }
    }
}

// A file replaced on the server by another of the same size while it is
// read: a level's directory read again after the switch (another level was
// read in between, and the cache had let the directory's bytes go) describes
// another image. Nothing of that image goes into the buffers sized for the
// first one (the sanitizers would see it): the document fails with the
// change, and every later call fails. The same steps over a file that stays
// the same decode on to the end.
TEST(TiffLevels, AFileReplacedWhileItIsReadFailsAndNeverFillsBuffersOfTheOldOne)
{
    const auto twoStripedLevels = [](uint32_t width, uint8_t seed) {
        return stripedChain({{width, 800, 8, 0, 8, PHOTOMETRIC_MINISBLACK, seed},
                             {200, 400, 8, FILETYPE_REDUCEDIMAGE, 8, PHOTOMETRIC_MINISBLACK, seed}});
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> before, after;
        bool tiled, changes;
    };
    Case cases[] = {
        {"striped rows, the first image five times as wide", twoStripedLevels(400, 0), twoStripedLevels(2000, 1), false, true},
        {"striped rows, the same file", twoStripedLevels(400, 0), twoStripedLevels(400, 0), false, false},
        {"colour tiles, half as wide", tiledDocument(pattern(32), false), tiledDocument(pattern(32), false, false, 128), true, true},
        {"colour tiles, the same file", tiledDocument(pattern(32), false), tiledDocument(pattern(32), false), true, false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        sameSize(c.before, c.after);
        ASSERT_EQ(tiffLong(c.before, 4), tiffLong(c.after, 4));   // the first directory's offset
        CountingSource source;
        source.bytes = c.before;
        source.replacement = c.after;
        RangeFile file(source, source.bytes.size());
        TiffLevels levels(file);
        ASSERT_TRUE(levels.open("d"));
        ASSERT_GE(levels.levels().size(), 2u);
        // The switch: from the next read on the source answers with the
        // other file, and the cache holds nothing of the first.
        auto replace = [&] {
            source.switchAfter = source.reads.size();
            file.forget(0, file.size());
        };
        if (c.tiled) {
            // Every tile of both levels, the finer one again after the switch.
            std::vector<PlainImage> first;
            for (size_t level : {size_t(0), size_t(1)}) {
                const TiffLevel& l = levels.levels()[level];
                for (uint32_t r = 0; r < l.rows(); ++r)
                    for (uint32_t col = 0; col < l.columns(); ++col) {
                        first.emplace_back();
                        ASSERT_EQ(levels.decodeTile(level, col, r, first.back()), DecodeOutcome::Decoded);
                    }
            }
            replace();
            const TiffLevel& l = levels.levels()[0];
            for (uint32_t r = 0; r < l.rows(); ++r)
                for (uint32_t col = 0; col < l.columns(); ++col) {
                    PlainImage again;
                    const DecodeOutcome outcome = levels.decodeTile(0, col, r, again);
                    if (c.changes) {
                        EXPECT_NE(outcome, DecodeOutcome::Decoded);
                    } else {
                        ASSERT_EQ(outcome, DecodeOutcome::Decoded);
                        EXPECT_TRUE(again.pixels == first[r * l.columns() + col].pixels);
                    }
                }
        } else {
            // The first image's strips streamed in pieces and decoded as
            // they come; the reduced level read in between; the rest of the
            // strips from the file as the server has it by then.
            const uint32_t height = levels.levels()[0].height;
            uint64_t begin = 0, end = 0;
            ASSERT_TRUE(levels.stripSpan(0, begin, end));
            PlainImage plane, reduced;
            ASSERT_EQ(levels.beginRows(0, plane), DecodeOutcome::Decoded);
            uint32_t done = 0;
            auto stream = [&](uint64_t from, uint64_t to) {
                for (uint64_t at = from; at < to;) {
                    const uint64_t next = std::min<uint64_t>(to, at + 5000);
                    const std::vector<uint8_t>& now = source.reads.size() >= source.switchAfter ? c.after : c.before;
                    const std::vector<uint8_t> piece(now.begin() + std::ptrdiff_t(at), now.begin() + std::ptrdiff_t(next));
                    file.supply(at, piece.data(), piece.size());
                    at = next;
                    const uint32_t ready = levels.rowsWithin(0, done, begin, at);
                    if (ready > done)
                        done = std::max(done, levels.decodeRows(ready));
                }
            };
            const uint64_t middle = (begin + end) / 2 / RangeFile::kBlockBytes * RangeFile::kBlockBytes;
            stream(begin, middle);
            ASSERT_GT(done, 0u);
            ASSERT_LT(done, height);
            ASSERT_EQ(levels.decodeTile(1, 0, 0, reduced), DecodeOutcome::Decoded);
            replace();
            stream(middle, end);
            done = levels.decodeRows(height);
            if (c.changes) {
                EXPECT_LT(done, height);
            } else {
                EXPECT_EQ(done, height);
                PlainImage whole;
                ASSERT_TRUE(readHtfDocument(c.before.data(), c.before.size(), "d", whole).hasImage());
                EXPECT_TRUE(plane.pixels == whole.pixels);
            }
        }
        EXPECT_GT(source.readsReplaced, 0u) << "the replaced file was never read";
        EXPECT_EQ(levels.changed(), c.changes);
        if (c.changes) {
            EXPECT_EQ(levels.takeError(), kDocumentChangedText);
            // Every later call fails, the level that still reads the same included.
            PlainImage tile;
            EXPECT_NE(levels.decodeTile(1, 0, 0, tile), DecodeOutcome::Decoded);
            EXPECT_FALSE(levels.prefetch(0, 0, 0, 0, 0));
            EXPECT_NE(levels.beginRows(1, tile), DecodeOutcome::Decoded);
            EXPECT_EQ(levels.takeError(), kDocumentChangedText);
        } else {
            EXPECT_EQ(levels.takeError(), "");
        }
    }
}

// Decoding goes on where it stopped after another level was read.
TEST(TiffLevels, RowDecodingGoesOnAfterOtherReads)
{
    CountingSource source;
    source.bytes = stripedDocument(stripedFixture(200, 80, PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW, 4));
    PlainImage whole;
    ASSERT_TRUE(readHtfDocument(source.bytes.data(), source.bytes.size(), "d", whole).hasImage());
    RangeFile file(source, source.bytes.size());
    TiffLevels levels(file);
    ASSERT_TRUE(levels.open("d"));
    PlainImage plane, other;
    ASSERT_EQ(levels.beginRows(0, plane), DecodeOutcome::Decoded);
    EXPECT_EQ(levels.decodeRows(30), 30u);
    ASSERT_EQ(levels.decodeTile(0, 0, 0, other), DecodeOutcome::Decoded);   // the whole level, apart
    EXPECT_EQ(levels.decodeRows(80), 80u);
    for (uint32_t y = 0; y < 80; ++y)
        ASSERT_EQ(std::memcmp(plane.row(y), whole.row(y), plane.rowBytes), 0) << "row " << y;
    EXPECT_TRUE(other.pixels == whole.pixels);
}

// Damaged strips decoded a band at a time: a colour image that fails part
// way is black all over, the rows shown before included; a bilevel strip
// with one undecodable row gives the rows after it.
TEST(TiffLevels, DamagedStripsDecodedInBands)
{
    // The bytes of the strips from the middle of the span on.
    const auto overwriteSecondHalf = [](std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end) {
        for (uint64_t at = begin + (end - begin) / 2; at < end; ++at)
            bytes[at] = uint8_t(at * 13);
    };
    struct Case {
        const char* name;
        TiffFixture fixture;
        std::function<void(std::vector<uint8_t>&, uint64_t, uint64_t)> damage;
        uint32_t firstBand;
        bool blackened;
    };
    TiffFixture fax = stripedFixture(300, 60, PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITTFAX3, 60);
    const Case cases[] = {
        {"colour, the strips' bytes overwritten from the middle on",
         stripedFixture(200, 80, PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW, 4), overwriteSecondHalf, 20, true},
        {"colour, the strips from the middle on past the end of the file",
         stripedFixture(200, 80, PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW, 4),
         [](std::vector<uint8_t>& bytes, uint64_t, uint64_t) {
             // The second half of the strip offsets point past the end.
             const size_t entry = firstDirectoryEntry(bytes, TIFFTAG_STRIPOFFSETS);
             const uint32_t count = tiffLong(bytes, entry + 4), offsets = tiffLong(bytes, entry + 8);
             ASSERT_EQ(count, 20u);
             const uint32_t past = uint32_t(bytes.size()) + 1000;
             for (uint32_t k = count / 2; k < count; ++k)
                 std::memcpy(&bytes[offsets + 4 * k], &past, 4);
         },
         20, true},
        {"bilevel G3 1D, one strip, one row's codes broken", fax,
         [](std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end) {
             // Two bytes in the codes of row 20: a code word the decoder
             // does not know, which it reports; it finds the next row's start.
             const uint64_t at = begin + (end - begin) / 3 + 3;
             bytes[at] = bytes[at + 1] = 0x01;
         },
         60, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CountingSource source;
        source.bytes = stripedDocument(c.fixture);
        PlainImage whole;
        ASSERT_TRUE(readHtfDocument(source.bytes.data(), source.bytes.size(), "d", whole).hasImage());
        uint64_t begin = 0, end = 0;
        {
            RangeFile probeFile(source, source.bytes.size());
            TiffLevels probe(probeFile);
            ASSERT_TRUE(probe.open("d"));
            ASSERT_TRUE(probe.stripSpan(0, begin, end));
        }
        c.damage(source.bytes, begin, end);
        RangeFile file(source, source.bytes.size());
        TiffLevels levels(file);
        ASSERT_TRUE(levels.open("d"));
        PlainImage plane;
        const uint32_t height = c.fixture.height;
        ASSERT_EQ(levels.beginRows(0, plane), DecodeOutcome::Decoded);
        EXPECT_EQ(levels.decodeRows(c.firstBand), c.firstBand);
        EXPECT_EQ(levels.decodeRows(height), height);
        EXPECT_EQ(levels.rowsCleared(), c.blackened);
        EXPECT_NE(levels.takeError(), "");
        if (c.blackened) {
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t x = 0; x < c.fixture.width; ++x)
                    ASSERT_EQ(plane.row(y)[4 * x] | plane.row(y)[4 * x + 1] | plane.row(y)[4 * x + 2], 0) << x << "," << y;
            continue;
        }
        // That row alone differs from the image: those after it are decoded.
        std::vector<uint32_t> differing;
        for (uint32_t y = 0; y < height; ++y) {
            if (std::memcmp(plane.row(y), whole.row(y), plane.rowBytes) != 0)
                differing.push_back(y);
        }
        EXPECT_EQ(differing, std::vector<uint32_t>{20});
    }
}
