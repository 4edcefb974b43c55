// Many viewers in one process, as on a catalogue page with twenty embedded
// documents: the tile caches of all views share one budget, so the process
// holds the images and one budget of tiles, not a cache per view.
#include "CommandIds.h"
#include "ImageRenderer.h"
#include "ResourceCounters.h"
#include "SyntheticImages.h"
#include "ViewerTestSupport.h"

#include <gtest/gtest.h>

#include <psapi.h>
#include <tiffio.h>

#include <cstdio>

namespace {

constexpr int kViews = 20;
constexpr size_t kBudget = 96u << 20;   // for the tiles of all views together
constexpr int kPhotoWidth = 1600, kPhotoHeight = 1200;

size_t peakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

TEST(ViewerSoak, TwentyViewsOfAPhotoStayWithinOneTileBudget)
{
    ScopedFile photo(uniqueTempPath(".htf"));
    {
        TiffFixture f;
        f.width = kPhotoWidth, f.height = kPhotoHeight, f.photometric = PHOTOMETRIC_RGB, f.samplesPerPixel = 3;
        f.compression = COMPRESSION_LZW;
        f.pixels = photoLikeRgb(kPhotoWidth, kPhotoHeight);
        ASSERT_TRUE(writeTiffFixture(photo.path(), f));
    }
    {
        ViewInWindow warm(800, 600);   // classes, cursors and fonts live for the process
        warm.show(photo.path());
    }
    pumpMessages();
    const size_t before = workingSetBytes();
    ASSERT_EQ(ImageRenderer::processBudgetBytes(), kBudget);
    const size_t budget = kBudget;

    std::vector<std::unique_ptr<ViewInWindow>> views;
    for (int i = 0; i < kViews; ++i) {
        views.push_back(std::make_unique<ViewInWindow>(800, 600));
        ViewInWindow& v = *views.back();
        v.show(photo.path());
        // The user looks all over the photo at the largest zoom: 4800 x 3600
        // view pixels, a tile cache of its own of 66 MB.
        ShowWindow(v.host->hwnd(), SW_HIDE);   // no paints on the way there
        for (int step = 0; step < 40 && v.view->scale() < v.view->maxScale(); ++step)
            v.command(ID_ZOOM_IN);
        ShowWindow(v.host->hwnd(), SW_SHOWNOACTIVATE);
        ASSERT_DOUBLE_EQ(v.view->scale(), 3.0);
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 4; ++column) {
                SendMessageA(v.view->hwnd(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, column * 1000), 0);
                SendMessageA(v.view->hwnd(), WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, row * 750), 0);
                v.capture();
            }
        }
        ASSERT_LE(ImageRenderer::processCachedBytes(), budget) << "view " << i;
    }
    // The most recently used view still draws (its tiles, or new ones).
    const Capture last = views.back()->capture();
    EXPECT_NE(last.at(400, 300), kLightGrey);

    const size_t images = size_t(kViews) * (size_t(kPhotoWidth) * 3 * kPhotoHeight);
    // Each view and its host window have a window surface of their own.
    const size_t surfaces = size_t(kViews) * 2 * (804 * 604 * 4);
    const size_t grown = workingSetBytes() > before ? workingSetBytes() - before : 0;
    std::printf("soak: %d views of a %dx%d photo at 3.0: tiles at most %zu KiB together (budget %zu KiB), "
                "working set grew %zu KiB (images %zu KiB), peak working set %zu KiB\n",
                kViews, kPhotoWidth, kPhotoHeight, ImageRenderer::processPeakBytes() >> 10, budget >> 10,
                grown >> 10, images >> 10, peakWorkingSet() >> 10);
    EXPECT_LE(ImageRenderer::processPeakBytes(), budget);
    EXPECT_GT(ImageRenderer::processPeakBytes(), budget / 2) << "the views used the cache";
    // The images, one budget of tiles and the windows' surfaces, not twenty
    // caches (those would add 900 MB).
    EXPECT_LT(grown, images + budget + surfaces + (32u << 20));

    views.clear();
    EXPECT_EQ(ImageRenderer::processCachedBytes(), 0u) << "the tiles go with their views";
}

} // namespace
