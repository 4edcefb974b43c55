// The portable reader against the Windows module's reader: the same
// documents give the same pixels, palette, hotspots and errors, read from
// memory instead of from a file.
#include "DialogWatcher.h"
#include "DibView.h"
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HtfDocument.h"
#include "HtfReader.h"
#include "ImageTarget.h"
#include "TempDir.h"
#include "TiffFixture.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <functional>
#include <memory>

namespace {

// Rows top-down in plain memory, in either colour layout.
class MemoryTarget : public ImageTarget {
public:
    explicit MemoryTarget(ColourLayout layout) : layout_(layout) {}
    bool allocate(uint32_t width, uint32_t height, uint16_t bits, uint32_t rowBytes, int32_t resolution) override
    {
        ++allocations;
        this->width = width, this->height = height, this->bits = bits, this->rowBytes = rowBytes;
        this->resolution = resolution;
        if (uint64_t(rowBytes) * height > (64u << 20))
            return false;   // the tests' own limit: no image here is that large
        pixels.assign(size_t(rowBytes) * height, 0);
        if (bits == 24 && layout_ == ColourLayout::Rgba32) {
            for (size_t alpha = 3; alpha < pixels.size(); alpha += 4)
                pixels[alpha] = 255;   // black is opaque
        }
        return true;
    }
    void setPalette(const RgbColour* colours, uint32_t count) override { palette.assign(colours, colours + count); }
    uint8_t* row(uint32_t y) override { return pixels.data() + size_t(y) * rowBytes; }
    ColourLayout colourLayout() const override { return layout_; }

    uint32_t width = 0, height = 0, rowBytes = 0;
    uint16_t bits = 0;
    int32_t resolution = 0;
    int allocations = 0;
    std::vector<RgbColour> palette;
    std::vector<uint8_t> pixels;

private:
    ColourLayout layout_;
};

struct Both {
    std::unique_ptr<DibOwner> module;           // the Windows reader's DIB
    std::unique_ptr<HotspotList> moduleHotspots;
    std::vector<SeenDialog> moduleMessages;
    bool moduleTooLarge = false;
    HtfReadResult core;
    std::unique_ptr<MemoryTarget> target;
};

Both readBoth(const std::string& path, ImageTarget::ColourLayout layout)
{
    Both both;
    {
        DialogWatcher watcher;
        HtfDocument document;
        both.module = std::make_unique<DibOwner>(document.open(path.c_str()));
        both.moduleHotspots.reset(document.takeHotspots());
        both.moduleTooLarge = document.imageTooLarge();
        Sleep(50);   // let the watcher see the box
        both.moduleMessages = watcher.seen();
    }
    const std::vector<unsigned char> bytes = readWholeFile(path);
    both.target = std::make_unique<MemoryTarget>(layout);
    both.core = readHtfDocument(bytes.data(), bytes.size(), "doc.htf", *both.target);
    return both;
}

// Every pixel and palette entry of the core's image equals the module's DIB.
void expectSamePicture(const Both& both, const std::string& name)
{
    ASSERT_TRUE(both.module->dib) << name;
    ASSERT_TRUE(both.core.hasImage()) << name;
    const DibView dib(both.module->dib);
    const MemoryTarget& t = *both.target;
    ASSERT_EQ(int32_t(t.width), dib.header.biWidth) << name;
    ASSERT_EQ(int32_t(t.height), dib.header.biHeight) << name;
    EXPECT_EQ(t.resolution, dib.header.biXPelsPerMeter) << name;
    const bool rgba = t.colourLayout() == ImageTarget::ColourLayout::Rgba32;
    if (dib.header.biBitCount <= 8) {
        // Indexed: same depth, palette and packed rows.
        ASSERT_EQ(t.bits, dib.header.biBitCount) << name;
        ASSERT_EQ(t.palette.size(), dib.palette.size()) << name;
        for (size_t i = 0; i < t.palette.size(); ++i)
            EXPECT_EQ(unsigned(t.palette[i].red) << 16 | unsigned(t.palette[i].green) << 8 | t.palette[i].blue,
                      dib.paletteRgb(unsigned(i)))
                << name << " palette " << i;
        const size_t usedBytes = (size_t(t.width) * t.bits + 7) / 8;
        for (uint32_t y = 0; y < t.height; ++y)
            ASSERT_EQ(0, std::memcmp(t.pixels.data() + size_t(y) * t.rowBytes, &dib.pixels[(t.height - 1 - y) * dib.stride],
                                     usedBytes))
                << name << " row " << y;
        return;
    }
    ASSERT_EQ(t.bits, 24) << name;
    for (uint32_t y = 0; y < t.height; ++y) {
        for (uint32_t x = 0; x < t.width; ++x) {
            const uint8_t* p = t.pixels.data() + size_t(y) * t.rowBytes + x * (rgba ? 4 : 3);
            const unsigned got = rgba ? unsigned(p[0]) << 16 | unsigned(p[1]) << 8 | p[2]
                                      : unsigned(p[2]) << 16 | unsigned(p[1]) << 8 | p[0];
            ASSERT_EQ(got, dib.rgbAt(int(y), int(x))) << name << " pixel " << x << "," << y;
            if (rgba) {
                ASSERT_EQ(p[3], 255) << name;
            }
        }
    }
}

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
    f.xResolution = 300;
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

struct PictureCase {
    const char* name;
    std::function<TiffFixture()> make;
};

TEST(CoreReader, DecodesEveryKindAsTheModuleDoes)
{
    const PictureCase cases[] = {
        {"bilevel min-is-white", [] { return indexed(77, 31, 1, PHOTOMETRIC_MINISWHITE); }},
        {"bilevel G4", [] { TiffFixture f = indexed(130, 40, 1, PHOTOMETRIC_MINISWHITE); f.compression = COMPRESSION_CCITTFAX4; return f; }},
        {"grey 4-bit", [] { return indexed(33, 20, 4, PHOTOMETRIC_MINISBLACK); }},
        {"grey 8-bit LZW", [] { TiffFixture f = indexed(50, 30, 8, PHOTOMETRIC_MINISBLACK); f.compression = COMPRESSION_LZW; return f; }},
        {"palette 8-bit", [] { return indexed(64, 48, 8, PHOTOMETRIC_PALETTE); }},
        {"palette 4-bit PackBits", [] { TiffFixture f = indexed(21, 9, 4, PHOTOMETRIC_PALETTE); f.compression = COMPRESSION_PACKBITS; return f; }},
        {"tiled bilevel, odd tiles", [] { TiffFixture f = indexed(45, 37, 1, PHOTOMETRIC_MINISWHITE); f.tileWidth = 24; f.tileLength = 10; return f; }},
        {"tiled palette", [] { TiffFixture f = indexed(70, 50, 8, PHOTOMETRIC_PALETTE); f.tileSize = 16; return f; }},
        {"separate plane grey", [] { TiffFixture f = indexed(20, 10, 8, PHOTOMETRIC_MINISBLACK); f.planar = PLANARCONFIG_SEPARATE; return f; }},
        {"rgb", [] { return rgb(40, 25); }},
        {"rgb deflate in strips", [] { TiffFixture f = rgb(40, 25); f.compression = COMPRESSION_ADOBE_DEFLATE; f.rowsPerStrip = 3; return f; }},
        {"rgb tiled", [] { TiffFixture f = rgb(40, 25); f.tileSize = 16; return f; }},
        {"16-bit grey goes through rgb", [] { TiffFixture f = indexed(12, 8, 16, PHOTOMETRIC_MINISBLACK); return f; }},
    };
    for (const PictureCase& c : cases) {
        ScopedFile file(uniqueTempPath(".htf"));
        ASSERT_TRUE(writeTiffFixture(file.path(), c.make())) << c.name;
        for (auto layout : {ImageTarget::ColourLayout::Bgr24, ImageTarget::ColourLayout::Rgba32}) {
            Both both = readBoth(file.path(), layout);
            expectSamePicture(both, c.name);
            EXPECT_FALSE(both.core.hadError) << c.name << ": " << both.core.errorText;
        }
    }
}

TEST(CoreReader, HotspotsComeFromTheTagBytesAsTheModuleReadsThem)
{
    TiffFixture f = indexed(100, 80, 1, PHOTOMETRIC_MINISWHITE);
    f.withHotspotTag = true;
    f.hotspotBytes = hotspotStreamBytes({{"815", u"Town hall \u00e9", 10, 20, 30, 40},
                                         {"x&view=2", u"", 0, 0, 100, 80, "info"}});
    ScopedFile file(uniqueTempPath(".htf"));
    ASSERT_TRUE(writeTiffFixture(file.path(), f));
    Both both = readBoth(file.path(), ImageTarget::ColourLayout::Rgba32);
    ASSERT_TRUE(both.core.hotspots);
    ASSERT_TRUE(both.moduleHotspots);
    ASSERT_EQ(both.core.hotspots->count(), 2u);
    auto coreIt = both.core.hotspots->begin();
    for (const auto& element : *both.moduleHotspots) {
        auto a = static_cast<const HotspotRecord*>(element.get());
        auto b = static_cast<const HotspotRecord*>(coreIt->get());
        EXPECT_EQ(a->reference, b->reference);
        EXPECT_EQ(a->text, b->text);
        EXPECT_EQ(a->info, b->info);
        EXPECT_EQ(a->left, b->left);
        EXPECT_EQ(a->bottom, b->bottom);
        ++coreIt;
    }
    EXPECT_EQ(static_cast<const HotspotRecord*>(both.core.hotspots->begin()->get())->text, u"Town hall \u00e9");
}

TEST(CoreReader, NoTagEmptyTagAndDamagedStream)
{
    struct Case {
        const char* name;
        bool tag;
        std::string bytes;
        int expected;   // -1: no list
    } cases[] = {
        {"no tag", false, "", -1},
        {"wrong magic", true, "NOTHTF and more bytes", 0},
        {"cut after one record", true, hotspotStreamBytes({{"a", u"A", 1, 2, 3, 4}, {"b", u"B", 5, 6, 7, 8}}).substr(0, 40), -2},
    };
    for (const Case& c : cases) {
        TiffFixture f = indexed(10, 10, 8, PHOTOMETRIC_MINISBLACK);
        f.withHotspotTag = c.tag;
        f.hotspotBytes = c.bytes;
        ScopedFile file(uniqueTempPath(".htf"));
        ASSERT_TRUE(writeTiffFixture(file.path(), f)) << c.name;
        Both both = readBoth(file.path(), ImageTarget::ColourLayout::Rgba32);
        ASSERT_TRUE(both.core.hasImage()) << c.name;
        EXPECT_EQ(bool(both.core.hotspots), bool(both.moduleHotspots)) << c.name;
        if (c.expected == -1) {
            EXPECT_FALSE(both.core.hotspots) << c.name;
        } else {
            ASSERT_TRUE(both.core.hotspots) << c.name;
            EXPECT_EQ(both.core.hotspots->count(), both.moduleHotspots->count()) << c.name;
            if (c.expected >= 0) {
                EXPECT_EQ(both.core.hotspots->count(), size_t(c.expected)) << c.name;
            }
        }
    }
}

TEST(CoreReader, DamagedDocumentsReportTheModulesFirstMessage)
{
    auto greyLzw = [] { TiffFixture f = indexed(200, 100, 8, PHOTOMETRIC_MINISBLACK); f.compression = COMPRESSION_LZW; f.rowsPerStrip = 100; return f; };
    auto rgbLzw = [] { TiffFixture f = rgb(200, 100); f.compression = COMPRESSION_LZW; f.rowsPerStrip = 100; return f; };
    struct Damage {
        const char* name;
        TiffFixture fixture;
        std::function<bool(const std::string&)> apply;
    } damages[] = {
        {"grey strip runs past the end", greyLzw(), [](const std::string& p) { return patchDirectoryEntry(p, TIFFTAG_STRIPBYTECOUNTS, 5000000); }},
        {"rgb strip offset past the end", rgbLzw(), [](const std::string& p) { return patchDirectoryEntry(p, TIFFTAG_STRIPOFFSETS, 0x7FFFFF00); }},
        {"directory cut off", greyLzw(), [](const std::string& p) { return truncateFile(p, 3000); }},
        {"huge grey", greyLzw(), [](const std::string& p) { return patchDirectoryEntry(p, TIFFTAG_IMAGEWIDTH, 100000) && patchDirectoryEntry(p, TIFFTAG_IMAGELENGTH, 100000); }},
        {"header only", greyLzw(), [](const std::string& p) { return truncateFile(p, 8); }},
        {"unknown photometric", greyLzw(), [](const std::string& p) { return patchDirectoryEntry(p, TIFFTAG_PHOTOMETRIC, 77); }},
    };
    for (Damage& d : damages) {
        ScopedFile file(uniqueTempPath(".htf"));
        ASSERT_TRUE(writeTiffFixture(file.path(), d.fixture)) << d.name;
        ASSERT_TRUE(d.apply(file.path())) << d.name;
        Both both = readBoth(file.path(), ImageTarget::ColourLayout::Rgba32);
        EXPECT_EQ(both.core.hasImage(), both.module->dib != nullptr) << d.name;
        EXPECT_EQ(both.core.tooLarge(), both.moduleTooLarge) << d.name;
        if (both.core.hasImage())
            expectSamePicture(both, d.name);
        // The module shows at most one box; the core keeps the same message.
        ASSERT_LE(both.moduleMessages.size(), 1u) << d.name;
        EXPECT_EQ(both.core.hadError, both.moduleMessages.size() == 1) << d.name;
        if (both.core.hadError && !both.moduleMessages.empty()) {
            EXPECT_EQ(both.core.errorCaption(), both.moduleMessages[0].caption) << d.name;
            // The module names the file by its path, the core by the name it is given.
            const std::string& shown = both.moduleMessages[0].text;
            const std::string& kept = both.core.errorText;
            const size_t at = kept.find("doc.htf");
            if (at == std::string::npos)
                EXPECT_EQ(kept, shown) << d.name;
            else
                EXPECT_EQ(kept.substr(at + 7), shown.substr(shown.size() - (kept.size() - at - 7))) << d.name;
        }
    }
}

TEST(CoreReader, BytesThatAreNoTiffOpenNothing)
{
    const std::string inputs[] = {"", "II", "MM\0*", "not a tiff file at all", std::string(64, '\0')};
    for (const std::string& input : inputs) {
        MemoryTarget target(ImageTarget::ColourLayout::Rgba32);
        HtfReadResult r =
            readHtfDocument(reinterpret_cast<const uint8_t*>(input.data()), input.size(), "x.htf", target);
        EXPECT_FALSE(r.opened) << input.size();
        EXPECT_FALSE(r.hasImage());
        EXPECT_EQ(target.allocations, 0);
    }
    MemoryTarget target(ImageTarget::ColourLayout::Rgba32);
    EXPECT_FALSE(readHtfDocument(nullptr, 100, "x.htf", target).opened);
}

TEST(CoreReader, ATargetWithoutMemoryStopsTheReader)
{
    TiffFixture f = indexed(3000, 3000, 8, PHOTOMETRIC_MINISBLACK);   // 9 MB: within the limit
    f.pixels.assign(f.pixels.size(), 0);
    ScopedFile file(uniqueTempPath(".htf"));
    ASSERT_TRUE(writeTiffFixture(file.path(), f));
    ASSERT_TRUE(patchDirectoryEntry(file.path(), TIFFTAG_IMAGELENGTH, 30000));   // 90 MB: beyond it
    const std::vector<unsigned char> bytes = readWholeFile(file.path());
    MemoryTarget target(ImageTarget::ColourLayout::Rgba32);
    HtfReadResult r = readHtfDocument(bytes.data(), bytes.size(), "x.htf", target);
    EXPECT_TRUE(r.opened);
    EXPECT_EQ(r.outcome, DecodeOutcome::NoMemory);
    EXPECT_FALSE(r.hasImage());
}

} // namespace
