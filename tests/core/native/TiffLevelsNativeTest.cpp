// Reading in parts, built for this machine under the sanitizers: the range
// file's cache and merging, levelled documents from the tiled writer read
// tile by tile with the whole image's pixels, and damaged directories.
#include "PlainImage.h"
#include "RangeFile.h"
#include "TiffLevels.h"
#include "HtfReader.h"
#include "TiledDocumentWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
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
