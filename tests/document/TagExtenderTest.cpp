// Runs in a process of its own: the extender must be installed by the first
// open of this process, on top of an extender that was there before it.
#include "PrivateTags.h"
#include "TempDir.h"
#include "TiffFixture.h"

#include <gtest/gtest.h>

namespace {

TIFFExtendProc previousExtender = nullptr;
int calls = 0;
bool privateTagsKnownWhenCalled = true;

void countingExtender(TIFF* tif)
{
    ++calls;
    // The private-tag set-up has already run when the older extender is called.
    if (!TIFFFindField(tif, TIFFTAG_QELHOTSPOT, TIFF_ANY))
        privateTagsKnownWhenCalled = false;
    if (previousExtender)
        previousExtender(tif);
}

std::string hotspotBytesOf(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    TIFF* tif = HtfTIFFFdOpen(h, path.c_str(), "ru");
    if (!tif)
        return "<not opened>";
    uint32_t count = 0;
    void* bytes = nullptr;
    std::string value = TIFFGetField(tif, TIFFTAG_QELHOTSPOT, &count, &bytes) && bytes
                            ? std::string(static_cast<char*>(bytes), count) : "<none>";
    HtfTIFFClose(tif);
    return value;
}

TEST(TagExtender, InstalledOnceAndTheOlderExtenderStillRuns)
{
    ScopedFile first(uniqueTempPath(".tif")), second(uniqueTempPath(".tif"));
    TiffFixture f;
    f.width = 1, f.height = 1, f.pixels = {0};
    f.withHotspotTag = true;
    f.hotspotBytes = "one";
    ASSERT_TRUE(writeTiffFixture(first.path(), f));
    f.hotspotBytes = "two";
    ASSERT_TRUE(writeTiffFixture(second.path(), f));

    previousExtender = TIFFSetTagExtender(countingExtender);

    calls = 0;
    EXPECT_EQ(hotspotBytesOf(first.path()), "one");
    const int callsPerOpen = calls;
    EXPECT_GT(callsPerOpen, 0);
    EXPECT_TRUE(privateTagsKnownWhenCalled);

    // A second install would chain the extension to itself and change the count.
    for (int i = 0; i < 3; ++i) {
        calls = 0;
        EXPECT_EQ(hotspotBytesOf(second.path()), "two");
        EXPECT_EQ(calls, callsPerOpen);
    }
}

} // namespace
