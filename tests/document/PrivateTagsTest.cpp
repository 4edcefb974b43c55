#include "PrivateTags.h"
#include "TempDir.h"
#include "TiffFixture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Opens a written fixture through the private-tag wrapper; closes on exit.
class OpenedFixture {
public:
    explicit OpenedFixture(const TiffFixture& fixture) : file_(uniqueTempPath(".tif"))
    {
        EXPECT_TRUE(writeTiffFixture(file_.path(), fixture));
        HANDLE h = CreateFileA(file_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        tif_ = HtfTIFFFdOpen(h, file_.c_str(), "ru");
        EXPECT_NE(tif_, nullptr);
    }
    ~OpenedFixture() { HtfTIFFClose(tif_); }
    TIFF* tif() const { return tif_; }

    // The directory as TIFFPrintDirectory prints it.
    std::string printed() const
    {
        const std::string path = uniqueTempPath(".txt");
        FILE* out = std::fopen(path.c_str(), "wb");
        TIFFPrintDirectory(tif_, out, 0);
        std::fclose(out);
        auto bytes = readWholeFile(path);
        DeleteFileA(path.c_str());
        return std::string(bytes.begin(), bytes.end());
    }

private:
    ScopedFile file_;
    TIFF* tif_ = nullptr;
};

TiffFixture tagged(bool hotspot, bool clip)
{
    TiffFixture f;
    f.width = 2, f.height = 2, f.pixels = {1, 2, 3, 4};
    f.withHotspotTag = hotspot;
    f.hotspotBytes = std::string("QELHTF\0hot", 10);
    f.withClipPathTag = clip;
    f.clipPathBytes = "clip!";
    return f;
}

std::string valueOf(TIFF* tif, uint32_t tag, int* result = nullptr)
{
    uint32_t count = 0xDEAD;
    void* bytes = reinterpret_cast<void*>(0x1);
    const int r = TIFFGetField(tif, tag, &count, &bytes);
    if (result)
        *result = r;
    if (!r) {
        EXPECT_EQ(count, 0xDEADu) << "a tag that is not there must not touch the caller's count";
        EXPECT_EQ(bytes, reinterpret_cast<void*>(0x1));
        return "<none>";
    }
    return bytes ? std::string(static_cast<const char*>(bytes), count) : "<null>";
}

TEST(PrivateTags, AbsentTagsReportNothing)
{
    OpenedFixture doc(tagged(false, false));
    EXPECT_EQ(valueOf(doc.tif(), TIFFTAG_QELHOTSPOT), "<none>");
    EXPECT_EQ(valueOf(doc.tif(), TIFFTAG_QELCLIPPATH), "<none>");
    EXPECT_EQ(doc.printed().find("QEL ClipPath"), std::string::npos);
}

TEST(PrivateTags, OnlyTheClipPath)
{
    OpenedFixture doc(tagged(false, true));
    EXPECT_EQ(valueOf(doc.tif(), TIFFTAG_QELHOTSPOT), "<none>");
    EXPECT_EQ(valueOf(doc.tif(), TIFFTAG_QELCLIPPATH), "clip!");
    EXPECT_NE(doc.printed().find("  QEL ClipPath encluded Length: 5 ! \n"), std::string::npos) << doc.printed();
}

TEST(PrivateTags, OnlyTheHotspotsPrintNoExtraLine)
{
    OpenedFixture doc(tagged(true, false));
    EXPECT_EQ(valueOf(doc.tif(), TIFFTAG_QELHOTSPOT), std::string("QELHTF\0hot", 10));
    EXPECT_EQ(valueOf(doc.tif(), TIFFTAG_QELCLIPPATH), "<none>");
    EXPECT_EQ(doc.printed().find("QEL ClipPath"), std::string::npos);
}

TEST(PrivateTags, BothTagsShareTheSlotThatHoldsTheHotspots)
{
    OpenedFixture doc(tagged(true, true));
    const std::string hotspots("QELHTF\0hot", 10);
    EXPECT_EQ(valueOf(doc.tif(), TIFFTAG_QELHOTSPOT), hotspots);
    EXPECT_EQ(valueOf(doc.tif(), TIFFTAG_QELCLIPPATH), hotspots);
    // The clip path line reports the slot's byte count.
    EXPECT_NE(doc.printed().find("  QEL ClipPath encluded Length: 10 ! \n"), std::string::npos);
}

TEST(PrivateTags, LargeValuesArriveWhole)
{
    TiffFixture f = tagged(true, false);
    f.hotspotBytes.assign(200000, 'x');   // more than a 16-bit count can carry
    OpenedFixture doc(f);
    EXPECT_EQ(valueOf(doc.tif(), TIFFTAG_QELHOTSPOT).size(), 200000u);
}

TEST(PrivateTags, StandardTagsStillWork)
{
    OpenedFixture doc(tagged(true, true));
    uint32_t width = 0;
    ASSERT_TRUE(TIFFGetField(doc.tif(), TIFFTAG_IMAGEWIDTH, &width));
    EXPECT_EQ(width, 2u);
    const TIFFField* field = TIFFFieldWithTag(doc.tif(), TIFFTAG_QELHOTSPOT);
    ASSERT_NE(field, nullptr);
    EXPECT_STREQ(TIFFFieldName(field), "QELHotspot");
    EXPECT_EQ(TIFFFieldDataType(field), TIFF_UNDEFINED);
    EXPECT_TRUE(TIFFFieldPassCount(field));
    EXPECT_STREQ(TIFFFieldName(TIFFFieldWithTag(doc.tif(), TIFFTAG_QELCLIPPATH)), "QELClipPath");
}

} // namespace
