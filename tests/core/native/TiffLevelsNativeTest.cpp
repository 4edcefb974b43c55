// Reading in parts, built for this machine under the sanitizers: the range
// file's cache and merging, levelled documents from the tiled writer read
// tile by tile with the whole image's pixels, and damaged directories.
#include "PlainImage.h"
#include "RangeFile.h"
#include "TiffLevels.h"
#include "HtfReader.h"
#include "TiledDocumentWriter.h"
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

// Bytes in memory that count the reads asked of them, and can fail.
struct CountingSource : ByteRangeSource {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<uint64_t, size_t>> reads;
    bool fail = false;
    bool read(uint64_t offset, size_t length, uint8_t* out) override
    {
        reads.emplace_back(offset, length);
        if (fail || offset + length > bytes.size())
            return false;
        std::memcpy(out, bytes.data() + offset, length);
        return true;
    }
};

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
    // A jump elsewhere starts small again.
    RangeFile again(source, source.bytes.size(), 32 << 20);
    source.reads.clear();
    again.read(4 << 20, out.data(), 10);
    again.read(1 << 20, out.data(), 10);
    ASSERT_EQ(source.reads.size(), 2u);
    EXPECT_EQ(source.reads[1].second, RangeFile::kBlockBytes);
}

std::vector<uint8_t> tiledDocument(const PlainImage& image, bool big, bool subIfds = false)
{
    char path[] = "/tmp/htf-levels-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    TiledDocumentOptions options;
    options.levels = true, options.bigTiff = big, options.subIfds = subIfds;
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
            file.supply(supplied, source.bytes.data() + supplied, size_t(next - supplied));
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

// Decoding goes on where it stopped after another level was read, and a
// colour image that fails part way is black all over, the rows shown
// before included.
TEST(TiffLevels, RowDecodingSurvivesOtherReadsAndReportsAColourFailure)
{
    CountingSource source;
    source.bytes = stripedDocument(stripedFixture(200, 80, PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW, 4));
    PlainImage whole;
    ASSERT_TRUE(readHtfDocument(source.bytes.data(), source.bytes.size(), "d", whole).hasImage());
    {
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
    // The strips from the middle on point past the end of the file.
    RangeFile probeFile(source, source.bytes.size());
    TiffLevels probe(probeFile);
    ASSERT_TRUE(probe.open("d"));
    uint64_t begin = 0, end = 0;
    ASSERT_TRUE(probe.stripSpan(0, begin, end));
    CountingSource damaged;
    damaged.bytes.assign(source.bytes.begin(), source.bytes.end());
    for (uint64_t at = begin + (end - begin) / 2; at < end; ++at)
        damaged.bytes[at] = uint8_t(at * 13);
    RangeFile file(damaged, damaged.bytes.size());
    TiffLevels levels(file);
    ASSERT_TRUE(levels.open("d"));
    PlainImage plane;
    ASSERT_EQ(levels.beginRows(0, plane), DecodeOutcome::Decoded);
    EXPECT_EQ(levels.decodeRows(20), 20u);
    EXPECT_NE(plane.row(5)[0] | plane.row(5)[1] | plane.row(5)[2], 0);
    EXPECT_EQ(levels.decodeRows(80), 80u);
    EXPECT_TRUE(levels.rowsCleared());
    EXPECT_NE(levels.takeError(), "");
    for (uint32_t y = 0; y < 80; ++y)
        for (uint32_t x = 0; x < 200; ++x)
            ASSERT_EQ(plane.row(y)[4 * x] | plane.row(y)[4 * x + 1] | plane.row(y)[4 * x + 2], 0) << x << "," << y;
}
