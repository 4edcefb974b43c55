// The plug-in role through the real module's exports: entry points, instance
// lifecycle, streams and temporary files, printing and navigation.
#include "CommandIds.h"
#include "DialogWatcher.h"
#include "ImportHook.h"
#include "PluginFixture.h"
#include "ResourceCounters.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>

namespace {

// A pointer-sized entry whose every byte is 0x5A, as memset leaves it: four
// bytes on 32-bit, eight on 64-bit Windows.
void* const kUntouched = reinterpret_cast<void*>(uintptr_t(0x5A5A5A5A5A5A5A5Aull));

// A w x h bilevel G4 document, black in its top-left and bottom-right
// quarters, white elsewhere; written row by row, so that no buffer of the
// image's size is needed.
std::vector<uint8_t> quartersBilevelDocument(uint32_t w, uint32_t h)
{
    const std::string path = uniqueTempPath(".htf");
    ScopedFile file(path);
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return {};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, h);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    std::vector<uint8_t> top((w + 7) / 8, 0), bottom((w + 7) / 8, 0);
    for (uint32_t x = 0; x < w; ++x)
        (x < w / 2 ? top : bottom)[x / 8] |= uint8_t(0x80 >> (x % 8));   // 1 is black
    bool ok = true;
    for (uint32_t y = 0; y < h && ok; ++y)
        ok = TIFFWriteScanline(tif, (y < h / 2 ? top : bottom).data(), y, 0) == 1;
    TIFFClose(tif);
    return ok ? readWholeFile(path) : std::vector<uint8_t>();
}

// After tests that hand the module tables of their own, the program's module
// gets its own tables back.
class EntryPointTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(plugin().loaded()); }
    void TearDown() override { ASSERT_EQ(plugin().start(), NPERR_NO_ERROR); }
};

TEST_F(EntryPointTest, NullTablesAreRefused)
{
    EXPECT_EQ(plugin().getEntryPoints(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
    EXPECT_EQ(plugin().initialize(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
}

TEST_F(EntryPointTest, GetEntryPointsFillsTheCallbacksAndLeavesTheRest)
{
    NPPluginFuncs table;
    memset(&table, 0x5A, sizeof(table));
    table.size = sizeof(table);
    ASSERT_EQ(plugin().getEntryPoints(&table), NPERR_NO_ERROR);
    EXPECT_EQ(table.size, sizeof(table));
    EXPECT_EQ(table.version, 11);
    for (void* entry : {(void*)table.newp, (void*)table.destroy, (void*)table.setwindow, (void*)table.newstream,
                        (void*)table.destroystream, (void*)table.asfile, (void*)table.writeready,
                        (void*)table.write, (void*)table.print}) {
        EXPECT_NE(entry, nullptr);
        EXPECT_NE(entry, kUntouched);
    }
    EXPECT_EQ((void*)table.event, nullptr);
    EXPECT_EQ((void*)table.urlnotify, kUntouched);
    EXPECT_EQ(table.javaClass, kUntouched);
    // The scriptable object is asked for through getvalue.
    EXPECT_NE((void*)table.getvalue, nullptr);
    EXPECT_NE((void*)table.getvalue, kUntouched);
    EXPECT_EQ((void*)table.setvalue, kUntouched);

    // A browser whose table ends before getvalue keeps its memory past the end.
    memset(&table, 0x5A, sizeof(table));
    table.size = uint16_t(offsetof(NPPluginFuncs, getvalue));
    ASSERT_EQ(plugin().getEntryPoints(&table), NPERR_NO_ERROR);
    EXPECT_EQ((void*)table.getvalue, kUntouched);
}

TEST_F(EntryPointTest, BrowserVersionDecidesNotifyAndJavaEntries)
{
    struct Case {
        uint16_t version;
        NPError result;
        bool notifyEntries;
    } cases[] = {
        {0x0008, NPERR_NO_ERROR, false},
        {0x0009, NPERR_NO_ERROR, true},
        {0x0011, NPERR_NO_ERROR, true},
        {0x0100, NPERR_INCOMPATIBLE_VERSION_ERROR, false},
        {0x010B, NPERR_INCOMPATIBLE_VERSION_ERROR, false},
    };
    for (const Case& c : cases) {
        NPPluginFuncs table;
        memset(&table, 0x5A, sizeof(table));
        table.size = sizeof(table);
        ASSERT_EQ(plugin().getEntryPoints(&table), NPERR_NO_ERROR);
        NPNetscapeFuncs browser = PluginModule::browserTable(c.version);
        EXPECT_EQ(plugin().initialize(&browser), c.result) << std::hex << c.version;
        EXPECT_EQ((void*)table.urlnotify != kUntouched, c.notifyEntries) << std::hex << c.version;
        EXPECT_EQ(table.javaClass, c.notifyEntries ? nullptr : kUntouched) << std::hex << c.version;
    }
}

TEST_F(EntryPointTest, TablesTooSmallForTheEntriesAreRefused)
{
    NPPluginFuncs table = {};
    table.size = offsetof(NPPluginFuncs, print);   // ends before print
    EXPECT_EQ(plugin().getEntryPoints(&table), NPERR_INVALID_FUNCTABLE_ERROR);
    EXPECT_EQ((void*)table.newp, nullptr);

    // An old table that ends before urlnotify gets nothing written past it.
    NPPluginFuncs old;
    memset(&old, 0x5A, sizeof(old));
    old.size = offsetof(NPPluginFuncs, urlnotify);
    ASSERT_EQ(plugin().getEntryPoints(&old), NPERR_NO_ERROR);
    NPNetscapeFuncs browser = PluginModule::browserTable(0x0011);
    ASSERT_EQ(plugin().initialize(&browser), NPERR_NO_ERROR);
    EXPECT_EQ((void*)old.urlnotify, kUntouched);

    browser.size = offsetof(NPNetscapeFuncs, memalloc);
    EXPECT_EQ(plugin().initialize(&browser), NPERR_INVALID_FUNCTABLE_ERROR);
}

TEST_F(EntryPointTest, AfterShutdownNewInstancesFailCleanly)
{
    ASSERT_EQ(plugin().shutdown(), NPERR_NO_ERROR);
    InstanceDriver instance(plugin());
    EXPECT_EQ(instance.create(), NPERR_OUT_OF_MEMORY_ERROR);
}

TEST(PluginCallbacks, NullInstancesAreAnsweredWithoutTouchingAnything)
{
    NPPluginFuncs& f = plugin().plugin();
    NPStream stream = {};
    NPWindow window = {};
    uint16_t type = 0;
    char data[10] = {};
    NPPrint print = {};
    EXPECT_EQ(f.newp(nullptr, nullptr, NP_EMBED, 0, nullptr, nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(f.destroy(nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(f.setwindow(nullptr, &window), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(f.newstream(nullptr, nullptr, &stream, 0, &type), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(f.writeready(nullptr, &stream), 268435455);
    EXPECT_EQ(f.write(nullptr, &stream, 0, 10, data), 10);
    EXPECT_EQ(f.destroystream(nullptr, &stream, NPRES_DONE), NPERR_INVALID_INSTANCE_ERROR);
    f.asfile(nullptr, &stream, "x.htf");
    f.print(nullptr, &print);
    f.print(nullptr, nullptr);
}

TEST(PluginCallbacks, WriteBeforeTheStreamTakesNothing)
{
    InstanceDriver instance(plugin());
    ASSERT_EQ(instance.create(), NPERR_NO_ERROR);
    NPStream stream = {};
    char data[16] = {};
    EXPECT_EQ(plugin().plugin().writeready(instance.npp(), &stream), 268435455);
    EXPECT_EQ(plugin().plugin().write(instance.npp(), &stream, 0, 16, data), 0);
    uint16_t type = 0;
    ASSERT_EQ(instance.beginStream(&type), NPERR_NO_ERROR);
    EXPECT_EQ(type, NP_NORMAL);
    EXPECT_EQ(plugin().plugin().write(instance.npp(), &stream, 0, 16, data), 16);
    EXPECT_EQ(instance.endStream(), NPERR_NO_ERROR);
}

// When the temporary file exists and when the document shows, for both orders
// in which the browser may deliver window and stream.
TEST(PluginLifecycle, TemporaryFileLivesUntilDocumentAndWindowMeet)
{
    const std::vector<uint8_t> bytes = redBlueDocument();
    ASSERT_FALSE(bytes.empty());
    for (const bool windowFirst : {true, false}) {
        SCOPED_TRACE(windowFirst ? "window first" : "stream first");
        Shown s;
        ASSERT_EQ(s.instance.create(), NPERR_NO_ERROR);
        const std::string temp = tempPathFor(s.instance.npp(), 0);
        if (windowFirst) {
            ASSERT_EQ(s.instance.setWindow(s.host()), NPERR_NO_ERROR);
        }
        ASSERT_EQ(s.instance.beginStream(), NPERR_NO_ERROR);
        EXPECT_TRUE(fileExists(temp));
        s.instance.write(bytes.data(), bytes.size(), 1000);
        ASSERT_EQ(s.instance.endStream(), NPERR_NO_ERROR);
        EXPECT_EQ(fileExists(temp), !windowFirst) << "shown and deleted once both exist";
        if (!windowFirst) {
            ASSERT_EQ(s.instance.setWindow(s.host()), NPERR_NO_ERROR);
            EXPECT_FALSE(fileExists(temp));
        }
        pumpMessages();
        const Capture c = captureClient(s.host());
        EXPECT_GT(countColour(c, {0, 40, 400, 340}, kRed), 10000);
        EXPECT_GT(countColour(c, {0, 40, 400, 340}, kBlue), 10000);
        EXPECT_EQ(s.instance.destroy(), NPERR_NO_ERROR);
        EXPECT_EQ(s.instance.npp()->pdata, nullptr);
    }
    EXPECT_EQ(PluginModule::liveAllocations(), 0);
}

TEST(PluginLifecycle, SameWindowKeepsTheContainerNewWindowGetsAnEmptyOne)
{
    Shown s;
    const LONG_PTR hostProcedure = GetWindowLongPtrA(s.host(), GWLP_WNDPROC);
    s.showDocument(redBlueDocument());
    const HWND toolbar = toolbarIn(s.host());
    ASSERT_NE(toolbar, nullptr);

    // A resize: same handle, same container, still showing the document.
    SetWindowPos(s.host(), nullptr, 0, 0, 500, 300, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_EQ(s.instance.setWindow(s.host()), NPERR_NO_ERROR);
    pumpMessages();
    EXPECT_EQ(toolbarIn(s.host()), toolbar);
    EXPECT_GT(countColour(captureClient(s.host()), {0, 40, 500, 300}, kRed), 1000);

    // Another window: the old one is given back untouched, the new one has an
    // empty viewer.
    TestHostWindow other(400, 340);
    const LONG_PTR otherProcedure = GetWindowLongPtrA(other.hwnd(), GWLP_WNDPROC);
    ASSERT_EQ(s.instance.setWindow(other.hwnd()), NPERR_NO_ERROR);
    pumpMessages();
    EXPECT_EQ(toolbarIn(s.host()), nullptr);
    EXPECT_EQ(viewIn(s.host()), nullptr);
    EXPECT_EQ(GetWindowLongPtrA(s.host(), GWLP_WNDPROC), hostProcedure);
    ASSERT_NE(toolbarIn(other.hwnd()), nullptr);
    EXPECT_EQ(countColour(captureClient(other.hwnd()), {0, 40, 400, 340}, kRed), 0);

    // The null window gives the new one back too.
    ASSERT_EQ(s.instance.setNullWindow(), NPERR_NO_ERROR);
    EXPECT_EQ(toolbarIn(other.hwnd()), nullptr);
    EXPECT_EQ(GetWindowLongPtrA(other.hwnd(), GWLP_WNDPROC), otherProcedure);
}

TEST(PluginLifecycle, BrowserWindowDestroyedUnderTheContainer)
{
    auto window = std::make_unique<TestHostWindow>(400, 340);
    InstanceDriver instance(plugin());
    ASSERT_EQ(instance.create(), NPERR_NO_ERROR);
    ASSERT_EQ(instance.setWindow(window->hwnd()), NPERR_NO_ERROR);
    ASSERT_EQ(instance.stream(redBlueDocument()), NPERR_NO_ERROR);
    window.reset();   // the browser destroys its window first
    EXPECT_EQ(instance.destroy(), NPERR_NO_ERROR);
    // A new window with a new instance works as usual.
    Shown s;
    s.showDocument(redBlueDocument());
    EXPECT_GT(countColour(captureClient(s.host()), {0, 40, 400, 340}, kRed), 10000);
}

TEST(PluginLifecycle, NullWindowKeepsTheDocumentForTheNextWindow)
{
    Shown s;
    ASSERT_EQ(s.instance.create(), NPERR_NO_ERROR);
    ASSERT_EQ(s.instance.setNullWindow(), NPERR_NO_ERROR);
    ASSERT_EQ(s.instance.stream(redBlueDocument()), NPERR_NO_ERROR);
    const std::string temp = tempPathFor(s.instance.npp(), 0);
    EXPECT_TRUE(fileExists(temp));
    ASSERT_EQ(s.instance.setWindow(s.host()), NPERR_NO_ERROR);
    pumpMessages();
    EXPECT_FALSE(fileExists(temp));
    EXPECT_GT(countColour(captureClient(s.host()), {0, 40, 400, 340}, kRed), 10000);
}

TEST(PluginLifecycle, ConcurrentStreamsUseDistinctNamesAndNeverOverwrite)
{
    InstanceDriver a(plugin()), b(plugin());
    ASSERT_EQ(a.create(), NPERR_NO_ERROR);
    ASSERT_EQ(b.create(), NPERR_NO_ERROR);
    // Someone else's file holds b's first name: b moves on to counter 1 and
    // leaves that file alone.
    ScopedFile foreign(tempPathFor(b.npp(), 0));
    ASSERT_TRUE(writeWholeFile(foreign.path(), "keep", 4));
    ASSERT_EQ(a.beginStream(), NPERR_NO_ERROR);
    ASSERT_EQ(b.beginStream(), NPERR_NO_ERROR);
    const uint8_t bytesA[] = "aaaa", bytesB[] = "bbbbbb";
    a.write(bytesA, 4);
    b.write(bytesB, 6);
    EXPECT_NE(tempNameFor(a.npp(), 0), tempNameFor(b.npp(), 1));
    EXPECT_TRUE(fileExists(tempPathFor(a.npp(), 0)));
    EXPECT_TRUE(fileExists(tempPathFor(b.npp(), 1)));
    ASSERT_EQ(a.endStream(), NPERR_NO_ERROR);
    ASSERT_EQ(b.endStream(), NPERR_NO_ERROR);
    EXPECT_EQ(readWholeFile(tempPathFor(a.npp(), 0)).size(), 4u);
    EXPECT_EQ(readWholeFile(tempPathFor(b.npp(), 1)).size(), 6u);
    EXPECT_EQ(readWholeFile(foreign.path()), std::vector<unsigned char>({'k', 'e', 'e', 'p'}));

    // Unshown documents are the instance's own files: they go with it.
    const std::string leftA = tempPathFor(a.npp(), 0), leftB = tempPathFor(b.npp(), 1);
    a.destroy();
    b.destroy();
    EXPECT_FALSE(fileExists(leftA));
    EXPECT_FALSE(fileExists(leftB));
    EXPECT_TRUE(fileExists(foreign.path()));
}

TEST(PluginLifecycle, SecondStreamReplacesAnUnshownDocument)
{
    InstanceDriver instance(plugin());
    ASSERT_EQ(instance.create(), NPERR_NO_ERROR);
    ASSERT_EQ(instance.stream(redBlueDocument()), NPERR_NO_ERROR);
    const std::string first = tempPathFor(instance.npp(), 0);
    ASSERT_TRUE(fileExists(first));
    ASSERT_EQ(instance.beginStream(), NPERR_NO_ERROR);
    // The first copy is gone; the new stream took the freed name.
    EXPECT_EQ(readWholeFile(first).size(), 0u);
    ASSERT_EQ(instance.endStream(), NPERR_NO_ERROR);
    instance.destroy();
    EXPECT_FALSE(fileExists(first));
}

// A stream that ends with an error shows what arrived: all of it shows the
// document, a cut one is a damaged document (the reader's message box, then
// an empty viewer). Either way the temporary file goes.
TEST(PluginLifecycle, StreamEndingWithAnErrorShowsWhatArrived)
{
    const std::vector<uint8_t> bytes = redBlueDocument();
    struct Case {
        size_t length;
        bool shown;
    } cases[] = {{bytes.size(), true}, {bytes.size() / 2, false}, {100, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        Shown s;
        ASSERT_EQ(s.instance.create(), NPERR_NO_ERROR);
        ASSERT_EQ(s.instance.setWindow(s.host()), NPERR_NO_ERROR);
        DialogWatcher watcher;
        ASSERT_EQ(s.instance.beginStream(), NPERR_NO_ERROR);
        s.instance.write(bytes.data(), c.length);
        const std::string temp = tempPathFor(s.instance.npp(), 0);
        ASSERT_EQ(s.instance.endStream(NPRES_NETWORK_ERR), NPERR_NO_ERROR);
        pumpMessages();
        Sleep(300);   // let the watcher see a box that was already answered
        EXPECT_FALSE(fileExists(temp));
        const Capture capture = captureClient(s.host());
        EXPECT_EQ(countColour(capture, {0, 40, 400, 340}, kRed) > 10000, c.shown);
        const auto seen = watcher.seen();
        if (c.shown) {
            EXPECT_TRUE(seen.empty());
        } else {
            ASSERT_FALSE(seen.empty());
            EXPECT_NE(seen[0].caption.find("Error"), std::string::npos) << seen[0].caption;
        }
    }
}

// Browsers often lay a plug-in out at 0 x 0 first and give it its size
// later: the viewer shows the document as soon as the window has grown,
// without waiting for a toolbar command.
TEST(PluginLifecycle, WindowGrownFromNothingShowsTheDocumentAtOnce)
{
    for (const bool streamFirst : {true, false}) {
        SCOPED_TRACE(streamFirst ? "document before the growth" : "document after the growth");
        TestHostWindow window(0, 0);
        InstanceDriver instance(plugin());
        ASSERT_EQ(instance.create(), NPERR_NO_ERROR);
        ASSERT_EQ(instance.setWindow(window.hwnd()), NPERR_NO_ERROR);
        if (streamFirst) {
            ASSERT_EQ(instance.stream(redBlueDocument()), NPERR_NO_ERROR);
        }
        pumpMessages();
        SetWindowPos(window.hwnd(), nullptr, 0, 0, 600, 440, SWP_NOMOVE | SWP_NOZORDER);
        ASSERT_EQ(instance.setWindow(window.hwnd()), NPERR_NO_ERROR);
        if (!streamFirst) {
            ASSERT_EQ(instance.stream(redBlueDocument()), NPERR_NO_ERROR);
        }
        pumpMessages();
        const Capture c = captureClient(window.hwnd());
        ASSERT_EQ(c.width, 600);
        // 200 x 100 fitted into the 598 x 398 client area: 598 x 299.
        EXPECT_GT(countColour(c, {0, 40, 600, 440}, kRed), 80000);
        EXPECT_GT(countColour(c, {0, 40, 600, 440}, kBlue), 80000);
        EXPECT_GT(countColour(c, {0, 40, 600, 80}, kLightGrey), 10000) << "the margin above the image";
        EXPECT_GT(countColour(c, {0, 0, 600, 40}, kLightGrey), 10000) << "the toolbar band";
    }
}

// A second document streamed into an instance whose view is zoomed in,
// scrolled and in magnifier mode is fitted afresh, whether or not the view
// could paint before the next command; the mode stays.
TEST(PluginLifecycle, SecondDocumentIntoAZoomedScrolledViewIsFittedAfresh)
{
    for (const bool hiddenWhileStreamed : {false, true}) {
        SCOPED_TRACE(hiddenWhileStreamed ? "window hidden while the document arrives" : "window shown");
        Shown s;
        s.showDocument(redBlueDocument(2000, 1000));
        HWND view = viewIn(s.host());
        ASSERT_NE(view, nullptr);
        for (int i = 0; i < 60; ++i)   // up to the largest zoom, 3.0
            SendMessageA(s.host(), WM_COMMAND, ID_ZOOM_IN, 0);
        SendMessageA(view, WM_HSCROLL, SB_PAGEDOWN, 0);
        SendMessageA(view, WM_VSCROLL, SB_PAGEDOWN, 0);
        SendMessageA(s.host(), WM_COMMAND, ID_MAGNIFIER, 0);
        pumpMessages();
        ASSERT_GT(GetScrollPos(view, SB_HORZ), 0);

        if (hiddenWhileStreamed)
            ShowWindow(s.host(), SW_HIDE);
        // 100 x 300: fitted into the 398 x 298 client area it is 99 x 298
        // at client columns 149 to 247, the whole height.
        ASSERT_EQ(s.instance.stream(redBlueDocument(100, 300)), NPERR_NO_ERROR);
        if (hiddenWhileStreamed) {
            ShowWindow(s.host(), SW_SHOWNOACTIVATE);
            // The user's next click reaches the viewer before its first paint.
            SendMessageA(s.host(), WM_COMMAND, ID_ZOOM_OUT, 0);
        }
        pumpMessages();
        EXPECT_EQ(GetScrollPos(view, SB_HORZ), 0);
        EXPECT_EQ(GetScrollPos(view, SB_VERT), 0);
        const Capture c = captureClient(s.host());
        // Client (x, y) of the view is host (x + 1, y + 41).
        if (!hiddenWhileStreamed) {
            EXPECT_EQ(countColour(c, {1, 41, 150, 339}, kLightGrey), 149 * 298) << "grey left of the image";
            EXPECT_EQ(countColour(c, {249, 41, 399, 339}, kLightGrey), 150 * 298) << "grey right of the image";
            EXPECT_EQ(c.at(160, 41), kRed) << "the image's top row shows";
            EXPECT_EQ(c.at(160, 338), kRed) << "the image's bottom row shows";
            EXPECT_EQ(c.at(240, 338), kBlue);
        } else {
            // Zoom out from that fit does nothing (the limit is 100 pixels of
            // width); from the first document's scale 3.0 it would give an
            // image 290 pixels wide.
            EXPECT_GT(countColour(c, {1, 41, 140, 339}, kLightGrey), 130 * 298);
            EXPECT_GT(countColour(c, {260, 41, 399, 339}, kLightGrey), 130 * 298);
        }
        // The view is still in magnifier mode: the button stays checked.
        EXPECT_TRUE(SendMessageA(toolbarIn(s.host()), TB_ISBUTTONCHECKED, ID_MAGNIFIER, 0));
    }
}

TEST(PluginPrinting, FullPageEmbeddedAndWithoutDeviceContext)
{
    Shown s;
    s.showDocument(redBlueDocument());

    Canvas page(850, 1100);
    EXPECT_TRUE(s.instance.printFullPage(page.dc()));
    // A 2:1 document fitted to the page width, centred vertically.
    EXPECT_EQ(page.pixel(100, 550), kRed);
    EXPECT_EQ(page.pixel(750, 550), kBlue);
    EXPECT_EQ(page.pixel(425, 50), 0xFFFFFFu);

    Canvas embedded(400, 300);
    s.instance.printEmbedded(embedded.dc(), {100, 100, 300, 200});
    EXPECT_EQ(embedded.pixel(150, 150), kRed);
    EXPECT_EQ(embedded.pixel(250, 150), kBlue);
    EXPECT_EQ(embedded.pixel(50, 150), 0xFFFFFFu);
    EXPECT_EQ(embedded.pixel(350, 150), 0xFFFFFFu);

    // No device context: nothing printed, and the browser is told so rather
    // than being stalled by a print dialog.
    EXPECT_FALSE(s.instance.printFullPage(nullptr));
}

// Embedded printing of an image too large for one drawing call of the
// runtime (a 40000 x 40000 drawing at fit) still puts the image on the page.
TEST(PluginPrinting, EmbeddedPrintOfAHugeBilevelImageShowsIt)
{
    const std::vector<uint8_t> bytes = quartersBilevelDocument(40000, 40000);
    ASSERT_FALSE(bytes.empty());
    Shown s;
    s.showDocument(bytes);
    Canvas page(400, 400);
    s.instance.printEmbedded(page.dc(), {0, 0, 400, 400});
    struct Probe { int x, y; unsigned colour; } probes[] = {
        {100, 100, 0x000000}, {300, 100, 0xFFFFFF}, {100, 300, 0xFFFFFF}, {300, 300, 0x000000},
        {20, 20, 0x000000}, {380, 380, 0x000000},
    };
    for (const Probe& p : probes)
        EXPECT_EQ(page.pixel(p.x, p.y), p.colour) << p.x << "," << p.y;
}

// The drawings of pixels that a metafile recorded, and the largest source
// one of them was handed.
struct MetafileDrawings {
    int drawings = 0;
    unsigned long long largestSource = 0;
};

int CALLBACK countMetafileDrawing(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data)
{
    auto& seen = *reinterpret_cast<MetafileDrawings*>(data);
    unsigned long long source = 0;
    if (record->iType == EMR_STRETCHDIBITS)
        source = reinterpret_cast<const EMRSTRETCHDIBITS*>(record)->cbBitsSrc;
    else if (record->iType == EMR_SETDIBITSTODEVICE)
        source = reinterpret_cast<const EMRSETDIBITSTODEVICE*>(record)->cbBitsSrc;
    else
        return 1;
    ++seen.drawings;
    seen.largestSource = std::max(seen.largestSource, source);
    return 1;
}

// The same print into a metafile, which records every drawing with the
// source bytes it was handed: the device never gets the whole 200 MB source
// in one drawing (at most 64 MiB of rows at once), yet the page is drawn.
TEST(PluginPrinting, EmbeddedPrintOfAHugeImageNeverHandsTheDeviceTheWholeSource)
{
    const std::vector<uint8_t> bytes = quartersBilevelDocument(40000, 40000);
    ASSERT_FALSE(bytes.empty());
    Shown s;
    s.showDocument(bytes);
    HDC metafile = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(metafile, nullptr);
    s.instance.printEmbedded(metafile, {0, 0, 400, 400});
    HENHMETAFILE recorded = CloseEnhMetaFile(metafile);
    ASSERT_NE(recorded, nullptr);

    MetafileDrawings seen;
    EnumEnhMetaFile(nullptr, recorded, countMetafileDrawing, &seen, nullptr);
    DeleteEnhMetaFile(recorded);
    EXPECT_GT(seen.drawings, 0);
    EXPECT_LE(seen.largestSource, 64ull << 20);
}

TEST(PluginNavigation, HotspotClickAsksTheBrowserToLoadItsUrl)
{
    Shown s;
    s.showDocument(redBlueDocument());
    PluginModule::urlRequests().clear();
    // The left half of the image (red) is hotspot 815.
    const Capture c = captureClient(s.host());
    POINT red = {-1, -1};
    for (int x = 0; x < c.width && red.x < 0; ++x)
        if (c.at(x, 190) == kRed)
            red = {x + 20, 190};
    ASSERT_GE(red.x, 0);
    // Pointing at it outlines it in the default frame colour (0, 128, 128).
    const RECT viewArea = {0, 40, c.width, c.height};
    EXPECT_EQ(countColour(c, viewArea, 0x008080), 0);
    pointerMove(s.host(), red);
    pumpMessagesFor(50);
    EXPECT_GT(countColour(captureClient(s.host()), viewArea, 0x008080), 100);
    pointerClick(s.host(), red);
    pumpMessagesFor(50);
    ASSERT_EQ(PluginModule::urlRequests().size(), 1u);
    EXPECT_EQ(PluginModule::urlRequests()[0].url, "/servlets/ZevuRedor?ShtmlFile=815");
    EXPECT_EQ(PluginModule::urlRequests()[0].target, "_self");
    EXPECT_EQ(PluginModule::urlRequests()[0].instance, s.instance.npp());

    // The blue half has no hotspot.
    pointerClick(s.host(), {c.width - 60, 190});
    pumpMessagesFor(50);
    EXPECT_EQ(PluginModule::urlRequests().size(), 1u);
}

// What a document's reference may not smuggle into the browser's request:
// line breaks (a header of its own) and other control characters. Query
// parameters keep working.
TEST(PluginNavigation, ReferenceWithControlCharactersIsNotRequested)
{
    struct Case {
        const char* reference;
        const char* requested;   // null: nothing
    } cases[] = {
        {"815&view=2", "/servlets/ZevuRedor?ShtmlFile=815&view=2"},
        {"815\r\nSet-Cookie: a=b", nullptr},
        {"815\t", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reference);
        Shown s;
        s.showDocument(redBlueDocument(200, 100, c.reference));
        PluginModule::urlRequests().clear();
        const Capture capture = captureClient(s.host());
        POINT red = {-1, -1};
        for (int x = 0; x < capture.width && red.x < 0; ++x)
            if (capture.at(x, 190) == kRed)
                red = {x + 20, 190};
        ASSERT_GE(red.x, 0);
        pointerMove(s.host(), red);
        pumpMessagesFor(50);
        pointerClick(s.host(), red);
        pumpMessagesFor(50);
        ASSERT_EQ(PluginModule::urlRequests().size(), c.requested ? 1u : 0u);
        if (c.requested) {
            EXPECT_EQ(PluginModule::urlRequests()[0].url, c.requested);
        }
    }
}

TEST(PluginResources, ObjectCountersSeeOneObject)
{
    TestHostWindow first(10, 10);   // the thread's first window brings a helper window of its own
    const DWORD gdi = gdiObjects(), windows = userWindows();
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_EQ(gdiObjects(), gdi + 1);
    DeleteObject(brush);
    EXPECT_EQ(gdiObjects(), gdi);
    {
        TestHostWindow window(10, 10);
        EXPECT_EQ(userWindows(), windows + 1);
    }
    EXPECT_EQ(userWindows(), windows);
    const DWORD handles = processHandles();
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(processHandles(), handles + 1);
    CloseHandle(event);
    EXPECT_EQ(processHandles(), handles);
}

// 1000 documents in one instance and 200 instances leave nothing behind: no GDI or USER
// objects, no temporary files, no windows, no browser memory.
TEST(PluginResources, ThousandDocumentsAndTwoHundredInstancesLeaveNothingBehind)
{
    const std::vector<uint8_t> bytes = redBlueDocument();
    TestHostWindow host(400, 340);
    auto children = [&] {
        int n = 0;
        for (HWND w = GetWindow(host.hwnd(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
            ++n;
        return n;
    };
    auto tempFiles = [] { return listTempFiles("*.tif").size(); };
    // Warm up once: classes, cursors and the common controls are created on
    // first use and live for the process.
    {
        InstanceDriver warm(plugin());
        ASSERT_EQ(warm.create(), NPERR_NO_ERROR);
        ASSERT_EQ(warm.setWindow(host.hwnd()), NPERR_NO_ERROR);
        ASSERT_EQ(warm.stream(bytes), NPERR_NO_ERROR);
        pumpMessages();
    }
    pumpMessages();
    const DWORD gdi = gdiObjects();
    const DWORD user = userWindows();
    const DWORD handles = processHandles();
    const size_t workingSet = workingSetBytes();
    const size_t files = tempFiles();
    ASSERT_EQ(children(), 0);

    {
        InstanceDriver instance(plugin());
        ASSERT_EQ(instance.create(), NPERR_NO_ERROR);
        ASSERT_EQ(instance.setWindow(host.hwnd()), NPERR_NO_ERROR);
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(instance.stream(bytes), NPERR_NO_ERROR);
            if (i % 20 == 0)
                pumpMessages();
        }
        EXPECT_EQ(tempFiles(), files);
    }
    for (int i = 0; i < 200; ++i) {
        InstanceDriver instance(plugin());
        ASSERT_EQ(instance.create(), NPERR_NO_ERROR);
        if (i % 2) {
            ASSERT_EQ(instance.stream(bytes), NPERR_NO_ERROR);
        }
        ASSERT_EQ(instance.setWindow(host.hwnd()), NPERR_NO_ERROR);
        pumpMessages();
    }
    pumpMessages();
    std::printf("soak: GDI objects %lu -> %lu, windows %lu -> %lu, handles %lu -> %lu, working set %zu -> %zu KiB\n",
                gdi, gdiObjects(), user, userWindows(), handles, processHandles(), workingSet >> 10,
                workingSetBytes() >> 10);
    EXPECT_EQ(gdiObjects(), gdi);
    EXPECT_EQ(userWindows(), user);
    EXPECT_LE(processHandles(), handles);
    // The heap may keep some pages; a leak of one image per document or
    // instance (20 KB and more) would add tens of megabytes.
    EXPECT_LT(workingSetBytes(), workingSet + (4u << 20)) << workingSet;
    EXPECT_EQ(tempFiles(), files);
    EXPECT_EQ(children(), 0);
    EXPECT_EQ(PluginModule::liveAllocations(), 0);
}

// A temporary directory that refuses new files costs one try, not a search
// through every possible name, and the stream then brings no document.
TEST(PluginTemporaryFiles, RefusingDirectoryIsTriedOnce)
{
    InstanceDriver instance(plugin());
    ASSERT_EQ(instance.create(), NPERR_NO_ERROR);
    {
        TempDirectoryOverride refusing(kUnwritableDirectory);
        CreateFileSpy spy(GetModuleHandleA("ROZERADO.DLL"));
        ASSERT_TRUE(spy.installed());
        ASSERT_EQ(instance.beginStream(), NPERR_NO_ERROR);
        EXPECT_EQ(spy.creations(), 1u);
    }
    NPStream stream = {};
    char data[16] = {};
    EXPECT_EQ(plugin().plugin().write(instance.npp(), &stream, 0, 16, data), 0);
    EXPECT_EQ(instance.endStream(), NPERR_NO_ERROR);
}

// A stream may bring 1 GiB; the byte after that stops it: the browser is
// told (-1, also for every later write), the copy is deleted and the viewer
// is left empty, without a message.
TEST(PluginStreams, StreamBeyondOneGibibyteIsStoppedAndDropped)
{
    Shown s;
    s.showDocument(redBlueDocument());
    ASSERT_GT(countColour(captureClient(s.host()), {0, 40, 400, 340}, kRed), 10000);

    DialogWatcher dialogs;
    ASSERT_EQ(s.instance.beginStream(), NPERR_NO_ERROR);
    const std::string temp = tempPathFor(s.instance.npp(), 0);
    ASSERT_TRUE(fileExists(temp));
    NPStream stream = {};
    constexpr int32_t kPiece = 16 << 20;
    std::vector<char> piece(size_t(kPiece), 'x');
    NPPluginFuncs& f = plugin().plugin();
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(f.write(s.instance.npp(), &stream, i * kPiece, kPiece, piece.data()), kPiece) << i;
    EXPECT_EQ(fileSize(temp), uint64_t(1) << 30);
    EXPECT_EQ(f.write(s.instance.npp(), &stream, 0, 1, piece.data()), -1);
    EXPECT_FALSE(fileExists(temp));
    EXPECT_EQ(f.write(s.instance.npp(), &stream, 0, 1, piece.data()), -1);
    ASSERT_EQ(s.instance.endStream(NPRES_NETWORK_ERR), NPERR_NO_ERROR);
    pumpMessages();
    EXPECT_EQ(countColour(captureClient(s.host()), {0, 40, 400, 340}, kRed), 0);
    EXPECT_TRUE(dialogs.seen().empty());

    // The next stream starts from nothing.
    ASSERT_EQ(s.instance.stream(redBlueDocument()), NPERR_NO_ERROR);
    pumpMessages();
    EXPECT_GT(countColour(captureClient(s.host()), {0, 40, 400, 340}, kRed), 10000);
}

}  // namespace
