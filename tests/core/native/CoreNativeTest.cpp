// The portable core built for this machine, with no Windows header in
// reach: documents written with the fixture writer are read back from memory
// into plain images, and damaged bytes never crash the reader.
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HotspotTable.h"
#include "HtfReader.h"
#include "ImageSampler.h"
#include "PlainImage.h"
#include "PrivateTiffTags.h"
#include "RangeFile.h"
#include "TiffBytes.h"
#include "TiffFixture.h"
#include "TiffLevels.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <unistd.h>

namespace {

// The bytes of a document written by `write` into a temporary file.
std::vector<uint8_t> writtenBytes(const std::function<bool(const std::string&)>& write)
{
    char path[] = "/tmp/htf-core-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    EXPECT_TRUE(write(path));
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path);
    return bytes;
}

std::vector<uint8_t> documentBytes(const TiffFixture& fixture)
{
    return writtenBytes([&](const std::string& path) { return writeTiffFixture(path, fixture); });
}

// The address sanitizer's allocator reports every allocation to a hook.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, size_t),
                                                         void (*onFree)(const volatile void*));

// The largest single block the process asked for while one is watching.
std::atomic<size_t> largestBlock{0};
std::atomic<bool> watchingBlocks{false};

void noteBlock(const volatile void*, size_t size)
{
    if (watchingBlocks && size > largestBlock)
        largestBlock = size;
}
void noteFree(const volatile void*) {}

struct LargestBlock {
    LargestBlock()
    {
        static const int installed = __sanitizer_install_malloc_and_free_hooks(noteBlock, noteFree);
        (void)installed;
        largestBlock = 0;
        watchingBlocks = true;
    }
    ~LargestBlock() { watchingBlocks = false; }
    size_t bytes() const { return largestBlock; }
};

TiffFixture indexed(uint32_t w, uint32_t h, uint16_t bits, uint16_t photometric)
{
    TiffFixture f;
    f.width = w, f.height = h, f.bitsPerSample = bits, f.photometric = photometric;
    f.pixels.resize(size_t(fixtureScanlineBytes(f)) * h);
    for (size_t i = 0; i < f.pixels.size(); ++i)
        f.pixels[i] = uint8_t(i * 37 + i / 7);
    if (photometric == PHOTOMETRIC_PALETTE) {
        const size_t n = size_t(1) << bits;
        f.colorMap.resize(3 * n);
        for (size_t i = 0; i < 3 * n; ++i)
            f.colorMap[i] = uint16_t(i * 997 + 0x1234);
    }
    return f;
}

TiffFixture rgb(uint32_t w, uint32_t h)
{
    TiffFixture f;
    f.width = w, f.height = h, f.photometric = PHOTOMETRIC_RGB, f.samplesPerPixel = 3;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            f.pixels.insert(f.pixels.end(), {uint8_t(10 * x + y), uint8_t(100 + y), uint8_t(200 - x)});
    return f;
}

// The colour the viewer shows for index i of an indexed fixture.
uint32_t expectedColour(const TiffFixture& f, uint32_t i)
{
    const uint32_t n = 1u << f.bitsPerSample;
    if (f.photometric == PHOTOMETRIC_PALETTE)
        return rgbaWord(uint8_t(f.colorMap[i] >> 8), uint8_t(f.colorMap[n + i] >> 8), uint8_t(f.colorMap[2 * n + i] >> 8));
    uint8_t v = uint8_t(255 / (n - 1) * i);
    if (f.photometric == PHOTOMETRIC_MINISWHITE)
        v = uint8_t(255 - v);
    return rgbaWord(v, v, v);
}

TEST(CoreNative, IndexedImagesKeepTheirRowsAndPalette)
{
    const std::pair<const char*, std::function<TiffFixture()>> cases[] = {
        {"bilevel", [] { return indexed(77, 31, 1, PHOTOMETRIC_MINISWHITE); }},
        {"bilevel G4", [] { TiffFixture f = indexed(130, 40, 1, PHOTOMETRIC_MINISWHITE); f.compression = COMPRESSION_CCITTFAX4; return f; }},
        {"grey 4-bit", [] { return indexed(33, 20, 4, PHOTOMETRIC_MINISBLACK); }},
        {"grey 8-bit LZW", [] { TiffFixture f = indexed(50, 30, 8, PHOTOMETRIC_MINISBLACK); f.compression = COMPRESSION_LZW; return f; }},
        {"palette", [] { return indexed(64, 48, 8, PHOTOMETRIC_PALETTE); }},
        {"tiled palette", [] { TiffFixture f = indexed(70, 50, 8, PHOTOMETRIC_PALETTE); f.tileSize = 16; return f; }},
        {"odd tiles", [] { TiffFixture f = indexed(45, 37, 1, PHOTOMETRIC_MINISWHITE); f.tileWidth = 24; f.tileLength = 10; return f; }},
    };
    for (const auto& [name, make] : cases) {
        const TiffFixture f = make();
        const std::vector<uint8_t> bytes = documentBytes(f);
        PlainImage image;
        const HtfReadResult r = readHtfDocument(bytes.data(), bytes.size(), name, image);
        ASSERT_TRUE(r.hasImage()) << name << ": " << r.errorText;
        EXPECT_FALSE(r.hadError) << name;
        ASSERT_EQ(image.bits, f.bitsPerSample) << name;
        ASSERT_EQ(uint32_t(image.width), f.width) << name;
        // Bits past the last pixel of a row are not part of the picture.
        const uint32_t scan = fixtureScanlineBytes(f);
        const uint32_t usedBits = f.width * f.bitsPerSample;
        const uint8_t lastMask = usedBits % 8 ? uint8_t(0xFF << (8 - usedBits % 8)) : 0xFF;
        for (uint32_t y = 0; y < f.height; ++y) {
            const uint8_t* got = image.row(y);
            const uint8_t* want = &f.pixels[size_t(y) * scan];
            ASSERT_EQ(0, std::memcmp(got, want, scan - 1)) << name << " row " << y;
            ASSERT_EQ(got[scan - 1] & lastMask, want[scan - 1] & lastMask) << name << " row " << y;
        }
        for (uint32_t i = 0; i < (1u << f.bitsPerSample); ++i)
            ASSERT_EQ(image.palette[i], expectedColour(f, i)) << name << " colour " << i;
    }
}

TEST(CoreNative, ColourImagesBecomeRgba)
{
    const std::pair<const char*, std::function<TiffFixture()>> cases[] = {
        {"rgb strips", [] { return rgb(40, 25); }},
        {"rgb LZW in strips of 3", [] { TiffFixture f = rgb(40, 25); f.compression = COMPRESSION_LZW; f.rowsPerStrip = 3; return f; }},
        // Not tiled RGB: the system's libtiff 4.5.0 lacks the one-line fix
        // of scripts/build-deps for uncompressed tiles through the RGBA
        // interface (test_core and the WebAssembly build have it).
        {"rgb planes", [] { TiffFixture f = rgb(8, 4); f.planar = PLANARCONFIG_SEPARATE;
            std::vector<uint8_t> planes;
            for (int s = 0; s < 3; ++s) for (size_t i = s; i < f.pixels.size(); i += 3) planes.push_back(f.pixels[i]);
            f.pixels = planes; return f; }},
    };
    for (const auto& [name, make] : cases) {
        const TiffFixture f = make();
        const TiffFixture source = rgb(f.width, f.height);
        const std::vector<uint8_t> bytes = documentBytes(f);
        PlainImage image;
        ASSERT_TRUE(readHtfDocument(bytes.data(), bytes.size(), name, image).hasImage()) << name;
        ASSERT_EQ(image.bits, 32) << name;
        for (uint32_t y = 0; y < f.height; ++y) {
            for (uint32_t x = 0; x < f.width; ++x) {
                const uint8_t* p = image.row(y) + 4 * x;
                const uint8_t* s = &source.pixels[(size_t(y) * f.width + x) * 3];
                ASSERT_TRUE(p[0] == s[0] && p[1] == s[1] && p[2] == s[2] && p[3] == 255) << name << " " << x << "," << y;
            }
        }
    }
}

// A colour image's rows not decoded yet (or never) are black and opaque,
// also where the memory held another image before.
TEST(CoreNative, ColourImagesStartBlackAndOpaque)
{
    PlainImage image;
    ASSERT_TRUE(image.allocate(7, 3, 8, 7, 0));
    std::fill(image.pixels.begin(), image.pixels.end(), uint8_t(0x7F));
    for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{5, 3}, {1, 1}, {333, 2}}) {
        ASSERT_TRUE(image.allocate(w, h, 24, 4 * w, 0));
        ASSERT_EQ(image.bits, 32);
        ASSERT_EQ(image.pixels.size(), size_t(4) * w * h);
        for (size_t i = 0; i < image.pixels.size(); ++i)
            ASSERT_EQ(image.pixels[i], i % 4 == 3 ? 255 : 0) << w << "x" << h << " byte " << i;
        std::fill(image.pixels.begin(), image.pixels.end(), uint8_t(0x7F));
    }
    // Rows of a size that is no whole number of words: the bytes past the
    // last whole word stay black.
    ASSERT_TRUE(image.make(3, 3, 32, 5));
    ASSERT_EQ(image.pixels, std::vector<uint8_t>({0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0}));
}

// A colour image kept in 3 bytes a pixel (either order) draws the same RGBA
// words as the same image read as RGBA, at every scale; 8-bit RGB strips,
// read in place, and colour through libtiff's RGBA interface alike.
TEST(CoreNative, ColourKeptInThreeBytesDrawsAsRgba)
{
    TiffFixture lzw = rgb(40, 25);
    lzw.compression = COMPRESSION_LZW;
    lzw.rowsPerStrip = 3;
    TiffFixture planes = rgb(40, 25);   // not plain strips: through the RGBA interface
    planes.planar = PLANARCONFIG_SEPARATE;
    std::vector<uint8_t> separate;
    for (int s = 0; s < 3; ++s)
        for (size_t i = s; i < planes.pixels.size(); i += 3)
            separate.push_back(planes.pixels[i]);
    planes.pixels = separate;
    for (const TiffFixture& f : {rgb(40, 25), lzw, planes}) {
        const std::vector<uint8_t> bytes = documentBytes(f);
        PlainImage rgba;
        ASSERT_TRUE(readHtfDocument(bytes.data(), bytes.size(), "rgba", rgba).hasImage());
        ImageSampler a;
        a.setImage(&rgba);
        for (const auto layout : {ImageTarget::ColourLayout::Rgb24, ImageTarget::ColourLayout::Bgr24}) {
            PlainImage packed;
            packed.layout = layout;
            ASSERT_TRUE(readHtfDocument(bytes.data(), bytes.size(), "packed", packed).hasImage());
            ASSERT_EQ(packed.bits, 24);
            ASSERT_EQ(packed.pixels.size(), size_t(40) * 25 * 3);
            ImageSampler b;
            b.setImage(&packed);
            for (const auto& [sw, sh] : {std::pair<int32_t, int32_t>{40, 25}, {13, 7}, {97, 61}}) {
                std::vector<uint32_t> one(size_t(sw) * sh, 1), other(size_t(sw) * sh, 2);
                ASSERT_TRUE(a.renderTile(0, 0, sw, sh, sw, sh, one.data()));
                ASSERT_TRUE(b.renderTile(0, 0, sw, sh, sw, sh, other.data()));
                ASSERT_EQ(one, other) << sw << "x" << sh << " layout " << int(layout);
            }
            std::vector<uint32_t> one(30, 1), other(30, 2);
            ASSERT_TRUE(a.renderStretched({3, 4, 20, 9}, 6, 5, one.data()));
            ASSERT_TRUE(b.renderStretched({3, 4, 20, 9}, 6, 5, other.data()));
            ASSERT_EQ(one, other);
        }
    }
}

TEST(CoreNative, HotspotsComeFromTheTagBytes)
{
    TiffFixture f = indexed(100, 80, 1, PHOTOMETRIC_MINISWHITE);
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes({{"815", u"Town hall", 10, 20, 30, 40}, {"816", u"Library", 1, 2, 3, 4}});
    const std::vector<uint8_t> bytes = documentBytes(f);
    PlainImage image;
    const HtfReadResult r = readHtfDocument(bytes.data(), bytes.size(), "doc", image);
    ASSERT_TRUE(r.hotspots);
    ASSERT_EQ(r.hotspots->count(), 2u);
    auto first = static_cast<const HotspotRecord*>(r.hotspots->begin()->get());
    EXPECT_EQ(first->reference, "815");
    EXPECT_EQ(first->text, u"Town hall");
    EXPECT_EQ(first->right, 30);
}

// A sink reads the hotspot tag from the document as libtiff would give its
// value: the same bytes, the first of two entries, nothing for a tag libtiff
// would not read; the handle itself then keeps no hotspot value.
TEST(CoreNative, HotspotSinkReadsTheTagAsLibtiffGivesIt)
{
    struct Taken {
        int calls = 0;
        std::string bytes;
        uint64_t declared = 0;
    };
    const auto take = [](void* context, std::istream& in, uint64_t bytes) {
        auto& taken = *static_cast<Taken*>(context);
        ++taken.calls;
        taken.declared = bytes;
        taken.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    const std::string stream = hotspotStreamBytes(
        {{"815", u"Town hall", 10, 20, 30, 40}, {"", u"no reference", 1, 2, 3, 4}, {"R\xe9", u"\u0416\u00e9", 5, 6, 7, 8}});
    // Varied, so that a block read from the wrong place shows.
    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 31 + i / 65521);
    struct Case {
        const char* name;
        bool withTag;
        std::string value;
        std::function<bool(const std::string&)> patch;
        int calls;
        std::string expected;
    };
    const Case cases[] = {
        {"a stream of three hotspots", true, stream, nullptr, 1, stream},
        {"a value longer than one block of the reader", true, big, nullptr, 1, big},
        {"a value held in the entry itself", true, "QEL", nullptr, 1, "QEL"},
        {"no tag", false, "", nullptr, 0, ""},
        {"a second entry after the first", true, stream,
         [](const std::string& path) { return insertDirectoryEntry(path, TIFFTAG_QELHOTSPOT, TIFF_UNDEFINED, 4, 0x44434241); },
         1, stream},
        {"an entry of shorts", false, "",
         [](const std::string& path) { return insertDirectoryEntry(path, TIFFTAG_QELHOTSPOT, TIFF_SHORT, 2, 0x00410042); },
         0, ""},
        {"a value past the end of the document", false, "",
         [](const std::string& path) { return insertDirectoryEntry(path, TIFFTAG_QELHOTSPOT, TIFF_UNDEFINED, 100, 0x7FFFFFF0); },
         0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffFixture f = indexed(40, 30, 1, PHOTOMETRIC_MINISWHITE);
        f.withHotspotTag = c.withTag;
        f.hotspotBytes = c.value;
        const std::vector<uint8_t> bytes = writtenBytes([&](const std::string& path) {
            return writeTiffFixture(path, f) && (!c.patch || c.patch(path));
        });
        Taken taken;
        HotspotTagSink sink;
        sink.take = take;
        sink.context = &taken;
        PlainImage image;
        const HtfReadResult r = readHtfDocument(bytes.data(), bytes.size(), "doc", image, &sink);
        EXPECT_TRUE(r.hasImage());
        EXPECT_FALSE(r.hotspots);
        EXPECT_EQ(taken.calls, c.calls);
        EXPECT_EQ(taken.bytes.size(), c.expected.size());
        const auto differs = std::mismatch(taken.bytes.begin(), taken.bytes.end(), c.expected.begin(), c.expected.end());
        EXPECT_TRUE(differs.first == taken.bytes.end()) << "from byte " << (differs.first - taken.bytes.begin());
        if (c.calls) {
            EXPECT_EQ(taken.declared, c.expected.size());
        }
        // The module's way, for comparison: libtiff's value of the tag.
        PlainImage again;
        const HtfReadResult module = readHtfDocument(bytes.data(), bytes.size(), "doc", again);
        EXPECT_EQ(module.hotspots != nullptr && c.value == stream, taken.bytes == stream);
    }
}

// The count field of the first directory's entry for `tag`.
void patchEntryCount(std::vector<uint8_t>& bytes, uint16_t tag, uint32_t count)
{
    const size_t entry = firstDirectoryEntry(bytes, tag);
    ASSERT_NE(entry, 0u) << "no entry " << tag;
    std::memcpy(&bytes[entry + 4], &count, 4);
}

// A server that claims a far larger file than the document it has, and
// answers every range within its claim: the document's bytes, zeros after.
struct ClaimingSource : ByteRangeSource {
    std::vector<uint8_t> bytes;
    bool read(uint64_t offset, size_t length, uint8_t* out) override
    {
        std::memset(out, 0, length);
        if (offset < bytes.size())
            std::memcpy(out, bytes.data() + offset, std::min<uint64_t>(length, bytes.size() - offset));
        return true;
    }
};

// What a document or its server claims sizes nothing: a 4 KB document whose
// server claims 600 MB and whose hotspot tag claims 510 MB (or whose stream
// claims two billion records, or whose clip path, which the element does not
// use, claims 510 MB) gets the hotspots its bytes hold, read as the element
// reads them, and no block larger than the reader's own buffers.
TEST(CoreNative, ClaimedSizesReserveNoMemory)
{
    const std::string stream = hotspotStreamBytes(
        {{"815", u"Town hall", 10, 20, 30, 40}, {"", u"no reference", 1, 2, 3, 4}, {"R\xe9", u"\u0416\u00e9", 5, 6, 7, 8}});
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> patch;
        std::string stream;
    };
    std::string billions = stream;
    const int32_t many = 0x7FFFFFFF;
    std::memcpy(&billions[13], &many, 4);   // after "QELHTF" and the version string
    const Case cases[] = {
        {"a hotspot tag of 510 MB", [](std::vector<uint8_t>& b) { patchEntryCount(b, TIFFTAG_QELHOTSPOT, 510u << 20); }, stream},
        {"a stream of 2147483647 records", nullptr, billions},
        {"a clip path of 510 MB", [](std::vector<uint8_t>& b) { patchEntryCount(b, TIFFTAG_QELCLIPPATH, 510u << 20); },
         stream},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffFixture f = indexed(40, 30, 1, PHOTOMETRIC_MINISWHITE);
        f.withHotspotTag = true;
        f.hotspotBytes = c.stream;
        f.withClipPathTag = true;
        f.clipPathBytes = std::string(64, 'c');
        ClaimingSource source;
        source.bytes = documentBytes(f);
        ASSERT_LT(source.bytes.size(), 4096u);
        if (c.patch)
            c.patch(source.bytes);
        RangeFile file(source, uint64_t(600) << 20);
        TiffLevels levels(file);
        std::unique_ptr<HotspotTable> table;
        HotspotTagSink sink;
        sink.take = packHotspotTag;
        sink.context = &table;
        LargestBlock largest;
        ASSERT_TRUE(levels.open("d", true, &sink));
        ASSERT_TRUE(table);
        ASSERT_EQ(table->count(), 2u);   // the record without a reference is not shown
        EXPECT_EQ(table->rects[6], 7);
        EXPECT_LT(largest.bytes(), size_t(1) << 20);
        EXPECT_LT(file.bytesFetched(), uint64_t(1) << 20);
    }
}

// Every prefix of a document, and each of its bytes flipped: the
// reader returns, and what it reports is consistent.
TEST(CoreNative, DamagedBytesNeverCrash)
{
    TiffFixture f = rgb(30, 20);
    f.compression = COMPRESSION_LZW;
    f.rowsPerStrip = 4;
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes({{"a", u"A", 1, 2, 3, 4}});
    const std::vector<uint8_t> bytes = documentBytes(f);
    int opened = 0;
    for (size_t n = 0; n <= bytes.size(); n += 7) {
        PlainImage image;
        const HtfReadResult r = readHtfDocument(bytes.data(), n, "cut", image);
        EXPECT_TRUE(!r.hasImage() || (image.width == 30 && image.height == 20)) << n;
        EXPECT_TRUE(r.opened || !r.hasImage()) << n;
        opened += r.opened;
    }
    EXPECT_GT(opened, 0);
    for (size_t at = 0; at < bytes.size(); ++at) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            std::vector<uint8_t> damaged = bytes;
            damaged[at] ^= flip;
            PlainImage image;
            const HtfReadResult r = readHtfDocument(damaged.data(), damaged.size(), "flipped", image);
            if (r.hasImage()) {
                EXPECT_EQ(image.pixels.size(), size_t(image.rowBytes) * size_t(image.height)) << at;
            }
        }
    }
}

// A 261 KB document whose image is 2^31 - 1 pixels wide: one row, one
// Deflate strip of 256 MiB of zero bytes (white). Every size is within the
// caps; the sampler's arithmetic must not overflow at a fit or at 1:1, at
// the left and at the right end.
TEST(CoreNative, ImageAsWideAsTheSignedRangeIsSampledAtFitAndOneToOne)
{
    constexpr int32_t kWidth = 0x7FFFFFFF;
    const std::vector<uint8_t> bytes =
        writtenBytes([](const std::string& path) { return writeZeroDeflateDocument(path, kWidth, 1); });
    ASSERT_LT(bytes.size(), 300000u);
    PlainImage image;
    const HtfReadResult r = readHtfDocument(bytes.data(), bytes.size(), "wide", image);
    ASSERT_TRUE(r.hasImage()) << r.errorText;
    ASSERT_EQ(image.width, kWidth);
    ImageSampler sampler;
    sampler.setImage(&image);
    const uint32_t white = image.palette[0];
    ASSERT_EQ(white, rgbaWord(255, 255, 255));
    struct Tile {
        const char* name;
        int32_t x, w, scaledWidth;
    } tiles[] = {
        {"fit, left", 0, 256, 800},          {"fit, right", 800 - 32, 32, 800},
        {"1:1, left", 0, 256, kWidth},      {"1:1, right", kWidth - 256, 256, kWidth},
        {"shrunk 8 times", 0, 256, kWidth / 8}, {"half size, middle", 1 << 29, 100, kWidth / 2 + 7},
    };
    for (const Tile& t : tiles) {
        std::vector<uint32_t> out(size_t(t.w), 0);
        ASSERT_TRUE(sampler.renderTile(t.x, 0, t.w, 1, t.scaledWidth, 1, out.data())) << t.name;
        EXPECT_EQ(std::count(out.begin(), out.end(), white), t.w) << t.name;
    }
}

// No buffer is larger than the image needs: tiles and strips that claim far
// more rows or columns than the image has are read as far as the image
// reaches, and the colour interface's tiles that would need more are
// refused with an error.
TEST(CoreNative, TilesAndStripsLargerThanTheImageTakeTheImagesMemory)
{
    auto bilevel = [](uint32_t w, uint32_t h) {
        TiffFixture f = indexed(w, h, 1, PHOTOMETRIC_MINISWHITE);
        f.tilesEndWithTheImage = true;
        return f;
    };
    struct Case {
        const char* name;
        TiffFixture fixture;
        bool keepsPixels;
    } cases[] = {
        // 32 x 26, tiles of 1 x 4160749569 pixels: 4.16 GB a tile by its size.
        {"tall tiles", [&] { TiffFixture f = bilevel(32, 26); f.tileWidth = 1, f.tileLength = 4160749569u; return f; }(), true},
        {"wide tiles", [&] { TiffFixture f = bilevel(32, 4); f.tileWidth = 1u << 20, f.tileLength = 2; return f; }(), true},
        {"tall strip", [&] { TiffFixture f = indexed(40, 30, 8, PHOTOMETRIC_MINISBLACK); f.rowsPerStrip = 4000000000u; return f; }(), true},
        {"tall colour tiles", [] {
             TiffFixture f = rgb(20, 10);
             f.tileWidth = 16, f.tileLength = 10000000, f.tilesEndWithTheImage = true;   // 480 MB a tile
             return f;
         }(), false},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes = documentBytes(c.fixture);
        ASSERT_LT(bytes.size(), 1u << 20) << c.name;
        PlainImage image;
        HtfReadResult r;
        size_t largest = 0;
        {
            LargestBlock watch;
            r = readHtfDocument(bytes.data(), bytes.size(), c.name, image);
            largest = watch.bytes();
        }
        EXPECT_LE(largest, size_t(8) << 20) << c.name;
        ASSERT_TRUE(r.hasImage()) << c.name << ": " << r.errorText;
        if (c.keepsPixels) {
            EXPECT_FALSE(r.hadError) << c.name << ": " << r.errorText;
            const uint32_t scan = fixtureScanlineBytes(c.fixture);
            for (uint32_t y = 0; y < c.fixture.height; ++y)
                ASSERT_EQ(std::memcmp(image.row(y), &c.fixture.pixels[size_t(y) * scan], scan), 0) << c.name << " row " << y;
        } else {
            EXPECT_TRUE(r.hadError) << c.name;
        }
    }
}

// Tiles whose size claims far more than their image, read by the whole-image
// reader and tile by tile (the levels reader): neither takes more than the
// image needs and a few MiB, neither for its buffers nor for the codec's
// state of a tile row; a damaged tile shows black with an error, a
// well-formed one its pixels.
TEST(CoreNative, TilesFarLargerThanTheImageTakeTheImagesMemoryInBothReaders)
{
    struct Bytes : ByteRangeSource {
        std::vector<uint8_t> bytes;
        bool read(uint64_t offset, size_t length, uint8_t* out) override
        {
            if (offset > bytes.size() || length > bytes.size() - offset)
                return false;
            std::memcpy(out, bytes.data() + offset, length);
            return true;
        }
    };
    auto patched = [](TiffFixture f, uint16_t tag, uint32_t value) {
        return writtenBytes([&](const std::string& path) {
            return writeTiffFixture(path, f) && patchDirectoryEntry(path, tag, value);
        });
    };
    TiffFixture fax = indexed(90, 70, 1, PHOTOMETRIC_MINISWHITE);
    fax.compression = COMPRESSION_CCITTFAX4, fax.tileSize = 16;
    TiffFixture colour = rgb(20, 10);
    colour.compression = COMPRESSION_LZW, colour.tileSize = 16;
    TiffFixture wide = indexed(32, 4, 1, PHOTOMETRIC_MINISWHITE);
    wide.tileWidth = 1u << 20, wide.tileLength = 2, wide.tilesEndWithTheImage = true;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool keepsPixels;
        const TiffFixture* fixture;
    } cases[] = {
        // A fax tile row of 4 million pixels: 66 MB of run arrays.
        {"fax tiles 4128784 wide", patched(fax, TIFFTAG_TILEWIDTH, 4128784), false, nullptr},
        {"colour tiles 4128784 wide", patched(colour, TIFFTAG_TILEWIDTH, 4128784), false, nullptr},
        {"colour tiles 1048576 tall", patched(colour, TIFFTAG_TILELENGTH, 1048576), false, nullptr},
        // Uncompressed rows a megapixel wide cost no codec state: read.
        {"plain tiles 1048576 wide", documentBytes(wide), true, &wide},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.empty());
        PlainImage whole;
        HtfReadResult r;
        size_t largest = 0;
        {
            LargestBlock watch;
            r = readHtfDocument(c.bytes.data(), c.bytes.size(), c.name, whole);
            largest = watch.bytes();
        }
        EXPECT_LE(largest, size_t(8) << 20);
        EXPECT_EQ(r.hadError, !c.keepsPixels) << r.errorText;

        Bytes source;
        source.bytes = c.bytes;
        RangeFile file(source, source.bytes.size());
        TiffLevels levels(file);
        ASSERT_TRUE(levels.open(c.name));
        ASSERT_FALSE(levels.levels().empty());
        PlainImage tile;
        {
            LargestBlock watch;
            EXPECT_EQ(levels.decodeTile(0, 0, 0, tile), DecodeOutcome::Decoded);
            largest = watch.bytes();
        }
        EXPECT_LE(largest, size_t(8) << 20);
        const std::string error = levels.takeError();
        if (!c.keepsPixels) {
            EXPECT_NE(error.find("too large for an image of"), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(error, "");
        const uint32_t scan = fixtureScanlineBytes(*c.fixture);
        for (int32_t y = 0; y < tile.height; ++y)
            EXPECT_EQ(std::memcmp(tile.row(uint32_t(y)), &c.fixture->pixels[size_t(y) * scan], scan), 0) << y;
    }
}

} // namespace
