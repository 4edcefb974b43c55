// The page tears the viewer down in the middle of a message box, the print
// dialog or a call to the browser, in both roles: the plug-in is destroyed or
// given another window or document, the control is removed, released,
// deactivated, loses its site or gets another document. Nothing may be used
// after it was freed (the program runs with the runtime's heap checking, which
// fills freed blocks, and a vectored handler sees faults that the runtime
// would swallow inside window procedures), nothing is printed or requested
// for a viewer that is gone, and everything is freed once the calls return.
#include "ComModule.h"
#include "CommandIds.h"
#include "ControlEvents.h"
#include "DialogWatcher.h"
#include "ImportWatch.h"
#include "OleHost.h"
#include "PluginFixture.h"
#include "PrintedPdf.h"
#include "TempDir.h"
#include "TiffFixture.h"
#include "WindowCapture.h"

#include "rozerado_h.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <atomic>
#include <functional>
#include <optional>
#include <set>

namespace {

constexpr unsigned kGreen = 0x00FF00;

// Faults inside a window procedure called back from a message loop are
// swallowed by the runtime ("ignoring exception") and the program carries
// on; this handler sees every one first.
std::atomic<int> faults{0};
std::atomic<uintptr_t> firstFaultAddress{0};

LONG CALLBACK countFault(EXCEPTION_POINTERS* info)
{
    switch (info->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case STATUS_HEAP_CORRUPTION:
        if (faults++ == 0)
            firstFaultAddress = reinterpret_cast<uintptr_t>(info->ExceptionRecord->ExceptionAddress);
        break;
    default:
        break;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// The module's print jobs, seen where it starts them.
StartDocWatch& printJobs()
{
    static StartDocWatch* watch = new StartDocWatch(GetModuleHandleA("ROZERADO.DLL"));
    return *watch;
}

// The settings file turns the navigation debug box on before the module
// loads (it reads the file when it is attached and at NP_Initialize), and is
// removed again at once.
//
// The program also works in a temporary directory of its own (the module
// asks the process's TMP), so that the files it finds there afterwards are
// the module's and no other test program's.
class LifetimeEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        AddVectoredExceptionHandler(1, countFault);
        char base[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, base);
        privateTemp_ = std::string(base) + "rzlife" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(privateTemp_.c_str(), nullptr);
        SetEnvironmentVariableA("TMP", privateTemp_.c_str());
        SetEnvironmentVariableA("TEMP", privateTemp_.c_str());
        char directory[MAX_PATH] = {};
        GetWindowsDirectoryA(directory, MAX_PATH);
        const std::string ini = std::string(directory) + "\\rozerado.ini";
        const char text[] = "[NAV]\r\nDEBUGNAV=1\r\n";
        writeWholeFile(ini, text, sizeof text - 1);
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, "rozerado.ini");   // drop a cached copy
        plugin();   // loads and starts the module: both reads happen now
        printJobs();
        DeleteFileA(ini.c_str());
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, "rozerado.ini");
    }
    void TearDown() override
    {
        for (const std::string& name : listTempFiles("*"))
            DeleteFileA((tempDirectory() + name).c_str());
        RemoveDirectoryA(privateTemp_.c_str());
    }

private:
    std::string privateTemp_;
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new LifetimeEnvironment);

// Runs an action from inside the next dialog box this thread shows (a
// message box or the print dialog), then answers the box, and any that
// follow while the scope lasts, with `button`. A thread timer does it: the
// box's own message loop dispatches the timer.
class InsideNextDialog {
public:
    explicit InsideNextDialog(std::function<void()> action, int button = IDOK)
        : action_(std::move(action)), button_(button), watcher_(DialogWatcher::Answer::Leave)
    {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, 10, &InsideNextDialog::tick);
    }
    ~InsideNextDialog()
    {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    InsideNextDialog(const InsideNextDialog&) = delete;
    InsideNextDialog& operator=(const InsideNextDialog&) = delete;

    bool ran() const { return ran_; }
    // The text of the message box the action ran in.
    const std::string& firstText() const { return firstText_; }

private:
    static BOOL CALLBACK findDialog(HWND window, LPARAM found)
    {
        char name[16] = {};
        GetClassNameA(window, name, sizeof name);
        if (std::string(name) == "#32770" && IsWindowVisible(window)) {
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        }
        return TRUE;
    }
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD)
    {
        InsideNextDialog* self = current_;
        if (!self)
            return;
        HWND dialog = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), findDialog, reinterpret_cast<LPARAM>(&dialog));
        if (!dialog || dialog == self->answered_)
            return;
        // The first box runs the action; it and every later one (a damaged
        // document can bring several) are then answered.
        if (!self->ran_) {
            self->ran_ = true;
            char text[256] = {};
            if (HWND message = GetDlgItem(dialog, 0xFFFF))   // a message box's text
                GetWindowTextA(message, text, sizeof text);
            self->firstText_ = text;
            self->action_();
        }
        self->answered_ = dialog;
        // The action may have taken the box's owner, and the box, with it.
        if (IsWindow(dialog))
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(self->button_, BN_CLICKED), 0);
    }

    static InsideNextDialog* current_;
    std::function<void()> action_;
    int button_;
    DialogWatcher watcher_;
    UINT_PTR timer_ = 0;
    bool ran_ = false;
    std::string firstText_;
    HWND answered_ = nullptr;
};
InsideNextDialog* InsideNextDialog::current_ = nullptr;

// The client point of a window's middle, as a user's click there.
void clickMiddleOf(HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    pointerClick(window, POINT{client.right / 4, client.bottom / 2});
}

// A solid green 120 x 80 document: the replacement the page sets.
std::vector<uint8_t> greenDocument()
{
    const std::string path = uniqueTempPath(".htf");
    ScopedFile file(path);
    writeTiffFixture(path, twoColourFixture(120, 80, kGreen, kGreen));
    return readWholeFile(path);
}

// The red and blue document cut in half: the reader shows its error box.
std::vector<uint8_t> damagedDocument()
{
    std::vector<uint8_t> bytes = redBlueDocument();
    bytes.resize(bytes.size() / 2);
    return bytes;
}

// A grey document whose strips all lie past the end of the file: the reader
// shows its error box and still yields an image (black).
std::vector<uint8_t> damagedDocumentWithImage()
{
    TiffFixture f;
    f.width = 160, f.height = 90, f.bitsPerSample = 8, f.rowsPerStrip = 10;
    f.pixels.assign(160u * 90u, 0x40);
    const std::string path = uniqueTempPath(".htf");
    ScopedFile file(path);
    writeTiffFixture(path, f);
    patchEveryValue(path, TIFFTAG_STRIPOFFSETS, 0x7FFFFF00);
    return readWholeFile(path);
}

// The files in the program's own temporary directory (not the folders the
// runtime's printing makes there).
std::set<std::string> moduleTempFiles()
{
    std::set<std::string> names;
    for (const std::string& name : listTempFiles("*")) {
        const DWORD attributes = GetFileAttributesA((tempDirectory() + name).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(name);
    }
    return names;
}

struct FaultCheck {
    FaultCheck() : before(faults.load()) {}
    ~FaultCheck()
    {
        EXPECT_EQ(faults.load(), before) << "fault at 0x" << std::hex << firstFaultAddress.load();
    }
    int before;
};

// Plug-in role ---------------------------------------------------------------

enum class PluginPoint { ReaderBoxAtStreamEnd, ReaderBoxWithImageAtStreamEnd, ReaderBoxAtSetWindow,
                         PaletteBoxAtStreamEnd, PrintDialogFromToolbar, PrintDialogFromBrowser, DebugBoxOnClick,
                         GetUrlOnClick };
enum class PluginAction { Destroy, WindowGone, NewWindow, NewDocument };

const char* name(PluginPoint p)
{
    static const char* names[] = {"reader box at stream end", "reader box of a document with an image at stream end",
                                  "reader box at NPP_SetWindow",
                                  "palette reduction's box at stream end (8-bit display, no temporary directory)",
                                  "print dialog from the toolbar", "print dialog from NPP_Print",
                                  "debug box on click", "NPN_GetURL on click"};
    return names[int(p)];
}
const char* name(PluginAction a)
{
    static const char* names[] = {"NPP_Destroy", "its window destroyed", "another window", "another document"};
    return names[int(a)];
}

bool printsAt(PluginPoint p)
{
    return p == PluginPoint::PrintDialogFromToolbar || p == PluginPoint::PrintDialogFromBrowser;
}

// The watch on print jobs sees a job that is really printed: the check
// below that nothing was printed can fail.
TEST(PluginTornDown, PrintJobsAreSeenWhenNothingIsTornDown)
{
    if (!printerAvailable())
        GTEST_SKIP() << "no printer";
    ASSERT_TRUE(printJobs().watching());
    Shown s;
    s.showDocument(redBlueDocument());
    const int before = printJobs().calls();
    {
        InsideNextDialog inside([] {});
        SendMessageA(s.host(), WM_COMMAND, ID_PRINT, 0);
        pumpMessages();
        EXPECT_TRUE(inside.ran());
    }
    EXPECT_EQ(printJobs().calls(), before + 1);
    const std::string pdf = findPrintedPdf("QEL Tiff Hotspot Viewer", FILETIME{}, 20000);
    if (!pdf.empty())
        DeleteFileA(pdf.c_str());
}

TEST(PluginTornDown, DuringEveryModalLoopAndCallOut)
{
    const std::vector<uint8_t> good = redBlueDocument();
    const std::vector<uint8_t> damaged = damagedDocument();
    const std::vector<uint8_t> damagedWithImage = damagedDocumentWithImage();
    const std::vector<uint8_t> green = greenDocument();
    const bool printer = printerAvailable();
    for (PluginPoint point : {PluginPoint::ReaderBoxAtStreamEnd, PluginPoint::ReaderBoxWithImageAtStreamEnd,
                              PluginPoint::ReaderBoxAtSetWindow, PluginPoint::PaletteBoxAtStreamEnd,
                              PluginPoint::PrintDialogFromToolbar, PluginPoint::PrintDialogFromBrowser,
                              PluginPoint::DebugBoxOnClick, PluginPoint::GetUrlOnClick}) {
        if (printsAt(point) && !printer)
            continue;
        for (PluginAction action :
             {PluginAction::Destroy, PluginAction::WindowGone, PluginAction::NewWindow, PluginAction::NewDocument}) {
            SCOPED_TRACE(std::string(name(point)) + ", " + name(action));
            const int allocationsBefore = PluginModule::liveAllocations();
            const std::set<std::string> filesBefore = moduleTempFiles();
            FaultCheck faultCheck;
            DialogWatcher later;   // boxes of a damaged document after the one the case is about
            // The palette reduction runs on a display of 8 bits or fewer;
            // the views made meanwhile see one.
            std::optional<DisplayDepthOverride> paletteDisplay;
            std::optional<TempDirectoryOverride> noTempDirectory;
            const bool palettePoint = point == PluginPoint::PaletteBoxAtStreamEnd;
            if (palettePoint) {
                paletteDisplay.emplace(GetModuleHandleA("ROZERADO.DLL"), 8);
                ASSERT_TRUE(paletteDisplay->active());
            }
            {
                Shown s;
                TestHostWindow other(300, 240);
                ASSERT_EQ(s.instance.create(), NPERR_NO_ERROR);
                const bool windowFirst = point != PluginPoint::ReaderBoxAtSetWindow;
                if (windowFirst) {
                    ASSERT_EQ(s.instance.setWindow(s.host()), NPERR_NO_ERROR);
                }
                if (point != PluginPoint::ReaderBoxAtStreamEnd && point != PluginPoint::ReaderBoxWithImageAtStreamEnd &&
                    point != PluginPoint::ReaderBoxAtSetWindow && !palettePoint) {
                    DialogWatcher quiet;
                    ASSERT_EQ(s.instance.stream(good), NPERR_NO_ERROR);
                    pumpMessages();
                }
                PluginModule::urlRequests().clear();

                auto tearDown = [&] {
                    noTempDirectory.reset();   // the page's next document has one again
                    switch (action) {
                    case PluginAction::Destroy: s.instance.destroy(); break;
                    case PluginAction::WindowGone: DestroyWindow(s.host()); break;
                    case PluginAction::NewWindow: s.instance.setWindow(other.hwnd()); break;
                    case PluginAction::NewDocument: {
                        DialogWatcher quiet;
                        s.instance.stream(green);
                        break;
                    }
                    }
                };
                const int jobsBefore = printJobs().calls();
                bool ran = false;
                if (point == PluginPoint::GetUrlOnClick) {
                    DialogWatcher debugBox;   // answered before the request goes out
                    PluginModule::setUrlListener([&](const UrlRequest&) {
                        if (!ran) {
                            ran = true;
                            tearDown();
                        }
                    });
                    clickMiddleOf(viewIn(s.host()));
                    pumpMessages();
                    PluginModule::setUrlListener(nullptr);
                    EXPECT_EQ(PluginModule::urlRequests().size(), 1u);
                } else {
                    InsideNextDialog inside(tearDown);
                    switch (point) {
                    case PluginPoint::ReaderBoxAtStreamEnd: s.instance.stream(damaged); break;
                    case PluginPoint::ReaderBoxWithImageAtStreamEnd: s.instance.stream(damagedWithImage); break;
                    case PluginPoint::ReaderBoxAtSetWindow:
                        s.instance.stream(damaged);
                        s.instance.setWindow(s.host());
                        break;
                    case PluginPoint::PaletteBoxAtStreamEnd:
                        // A 24-bit document whose stream is complete; its
                        // reduction finds no temporary directory.
                        ASSERT_EQ(s.instance.beginStream(), NPERR_NO_ERROR);
                        s.instance.write(good.data(), good.size());
                        noTempDirectory.emplace(unreportableTempDirectory());
                        s.instance.endStream();
                        noTempDirectory.reset();
                        break;
                    case PluginPoint::PrintDialogFromToolbar:
                        SendMessageA(s.host(), WM_COMMAND, ID_PRINT, 0);
                        break;
                    case PluginPoint::PrintDialogFromBrowser: plugin().plugin().print(s.instance.npp(), nullptr); break;
                    case PluginPoint::DebugBoxOnClick: clickMiddleOf(viewIn(s.host())); break;
                    default: break;
                    }
                    pumpMessages();
                    ran = inside.ran();
                    if (palettePoint) {
                        EXPECT_EQ(inside.firstText(), "File Not Found!");
                    }
                    // Nothing is asked of a browser whose plug-in is gone.
                    if (point == PluginPoint::DebugBoxOnClick) {
                        EXPECT_EQ(PluginModule::urlRequests().size(), action == PluginAction::NewDocument ? 1u : 0u);
                    }
                }
                EXPECT_TRUE(ran);
                if (printsAt(point)) {
                    EXPECT_EQ(printJobs().calls(), jobsBefore) << "printed for a viewer that was gone";
                }
                if (action == PluginAction::Destroy) {
                    EXPECT_EQ(PluginModule::liveAllocations(), allocationsBefore) << "instance not freed";
                    EXPECT_EQ(viewIn(s.host()), nullptr);
                } else if (action == PluginAction::WindowGone) {
                    s.instance.destroy();   // the browser's next step
                } else {
                    // The instance lives on and shows what the page gave it last.
                    HWND host = action == PluginAction::NewWindow ? other.hwnd() : s.host();
                    pumpMessages();
                    ASSERT_NE(viewIn(host), nullptr);
                    if (action == PluginAction::NewDocument) {
                        UpdateWindow(viewIn(host));
                        EXPECT_GT(countColour(captureClient(viewIn(host)), {0, 0, 1000, 1000}, kGreen), 1000);
                    }
                    s.instance.destroy();
                }
            }
            EXPECT_EQ(PluginModule::liveAllocations(), allocationsBefore);
            EXPECT_EQ(moduleTempFiles(), filesBefore) << "temporary files left behind";
        }
    }
}

// The browser hands over a file of its own (NPP_StreamAsFile) whose reading
// shows the reader's box; during the box the page starts another stream,
// which ends after the box. That stream's document is shown when it ends,
// and its temporary file goes; the browser's file stays.
TEST(PluginTornDown, AStreamStartedDuringTheBoxOfABrowsersFileIsShownWhenItEnds)
{
    const std::vector<uint8_t> damagedWithImage = damagedDocumentWithImage();
    const std::vector<uint8_t> green = greenDocument();
    const std::set<std::string> filesBefore = moduleTempFiles();
    FaultCheck faultCheck;
    ScopedFile browserFile(uniqueTempPath(".htf"));
    ASSERT_TRUE(writeWholeFile(browserFile.path(), damagedWithImage.data(), damagedWithImage.size()));
    {
        Shown s;
        ASSERT_EQ(s.instance.create(), NPERR_NO_ERROR);
        ASSERT_EQ(s.instance.setWindow(s.host()), NPERR_NO_ERROR);
        {
            InsideNextDialog inside([&] {
                ASSERT_EQ(s.instance.beginStream(), NPERR_NO_ERROR);
                s.instance.write(green.data(), green.size());
            });
            NPStream stream = {};
            plugin().plugin().asfile(s.instance.npp(), &stream, browserFile.c_str());
            pumpMessages();
            EXPECT_TRUE(inside.ran());
        }
        ASSERT_EQ(s.instance.endStream(), NPERR_NO_ERROR);
        pumpMessages();
        ASSERT_NE(viewIn(s.host()), nullptr);
        UpdateWindow(viewIn(s.host()));
        EXPECT_GT(countColour(captureClient(viewIn(s.host())), {0, 0, 1000, 1000}, kGreen), 1000)
            << "the stream that started during the box is shown";
        s.instance.destroy();
    }
    EXPECT_EQ(GetFileAttributesA(browserFile.c_str()) != INVALID_FILE_ATTRIBUTES, true) << "the browser's file stays";
    std::set<std::string> filesAfter = moduleTempFiles();
    filesAfter.erase(browserFile.path().substr(browserFile.path().find_last_of('\\') + 1));
    EXPECT_EQ(filesAfter, filesBefore) << "temporary files left behind";
}

// The page's listeners on the plug-in's element tear it down inside each
// event: the instance destroyed, its window gone, another window or another
// document. Nothing of the instance is used afterwards and nothing is
// requested for a hotspot whose instance, window or document is gone.
TEST(PluginTornDown, InsideEveryElementEvent)
{
    const std::vector<uint8_t> good = redBlueDocument();
    const std::vector<uint8_t> damaged = damagedDocument();
    const std::vector<uint8_t> green = greenDocument();
    for (const char* type : {"htf-load", "htf-error", "htf-hotspotenter", "htf-viewchange", "htf-navigate"}) {
        for (PluginAction action :
             {PluginAction::Destroy, PluginAction::WindowGone, PluginAction::NewWindow, PluginAction::NewDocument}) {
            SCOPED_TRACE(std::string(type) + ", " + name(action));
            const int allocationsBefore = PluginModule::liveAllocations();
            const int objectsBefore = PageScript::liveObjects();
            const std::set<std::string> filesBefore = moduleTempFiles();
            FaultCheck faultCheck;
            DialogWatcher boxes;   // the damaged document's box, the debug box
            {
                Shown s;
                TestHostWindow other(300, 240);
                ASSERT_EQ(s.instance.create(), NPERR_NO_ERROR);
                bool ran = false;
                PageScript::addEventListener(s.instance.npp(), type, [&](NPObject*) {
                    if (ran)
                        return;
                    ran = true;
                    switch (action) {
                    case PluginAction::Destroy: s.instance.destroy(); break;
                    case PluginAction::WindowGone: DestroyWindow(s.host()); break;
                    case PluginAction::NewWindow: s.instance.setWindow(other.hwnd()); break;
                    case PluginAction::NewDocument: s.instance.stream(green); break;
                    }
                });
                ASSERT_EQ(s.instance.setWindow(s.host()), NPERR_NO_ERROR);
                s.instance.stream(std::string(type) == "htf-error" ? damaged : good);
                pumpMessages();
                PluginModule::urlRequests().clear();
                if (s.instance.alive() && IsWindow(s.host()) && viewIn(s.host())) {
                    if (std::string(type) == "htf-viewchange")
                        SendMessageA(s.host(), WM_COMMAND, ID_ZOOM_IN, 0);
                    else
                        clickMiddleOf(viewIn(s.host()));
                    pumpMessages();
                }
                EXPECT_TRUE(ran);
                if (std::string(type) == "htf-navigate") {
                    EXPECT_EQ(PluginModule::urlRequests().size(), 0u) << "requested for a viewer that was gone";
                }
            }
            EXPECT_EQ(PluginModule::liveAllocations(), allocationsBefore);
            EXPECT_EQ(PageScript::liveObjects(), objectsBefore);
            EXPECT_EQ(moduleTempFiles(), filesBefore) << "temporary files left behind";
        }
    }
}

// Control role ---------------------------------------------------------------

enum class ControlPoint { ReaderBoxAtSrc, ReaderBoxAtSetTiffFile, ReaderBoxAtFirstPaint, ReaderBoxAtHostDraw,
                          PaletteBoxAtSetTiffFile, PrintDialogFromToolbar, DebugBoxOnClick, Navigate2OnClick };
enum class ControlAction { Remove, LastRelease, Deactivate, DropSite, NewDocument };

const char* name(ControlPoint p)
{
    static const char* names[] = {"reader box at src", "reader box at SetTIFFFile", "reader box at first paint",
                                  "reader box at host drawing",
                                  "palette reduction's box at SetTIFFFile (8-bit display, no temporary directory)",
                                  "print dialog from the toolbar",
                                  "debug box on click", "Navigate2 on click"};
    return names[int(p)];
}
const char* name(ControlAction a)
{
    static const char* names[] = {"page removes it", "last reference released", "InPlaceDeactivate",
                                  "SetClientSite(NULL)", "another document"};
    return names[int(a)];
}

template <typename Interface>
Interface* query(IUnknown* object, REFIID iid)
{
    void* result = nullptr;
    if (!object || FAILED(object->QueryInterface(iid, &result)))
        return nullptr;
    return static_cast<Interface*>(result);
}

class ControlTornDown : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        good = new ScopedFile(uniqueTempPath(".htf"));
        damaged = new ScopedFile(uniqueTempPath(".htf"));
        green = new ScopedFile(uniqueTempPath(".htf"));
        const std::vector<uint8_t> goodBytes = redBlueDocument();
        const std::vector<uint8_t> damagedBytes = damagedDocument();
        writeWholeFile(good->path(), goodBytes.data(), goodBytes.size());
        writeWholeFile(damaged->path(), damagedBytes.data(), damagedBytes.size());
        writeTiffFixture(green->path(), twoColourFixture(120, 80, kGreen, kGreen));
    }
    static void TearDownTestSuite()
    {
        delete good;
        delete damaged;
        delete green;
    }
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
    void TearDown() override { OleUninitialize(); }

public:
    static ScopedFile* good;
    static ScopedFile* damaged;
    static ScopedFile* green;
};
ScopedFile* ControlTornDown::good = nullptr;
ScopedFile* ControlTornDown::damaged = nullptr;
ScopedFile* ControlTornDown::green = nullptr;

// What the page does to the control in the middle of a call: `gone` when
// its last reference went, `shown` when the replacement document must show.
void tearDownControl(OleHost& host, ControlAction action, bool& gone, bool& shown)
{
    IUnknown* control = host.control();
    switch (action) {
    case ControlAction::Remove:
        host.close();
        gone = true;
        break;
    case ControlAction::LastRelease:
        host.site().SetActiveObject(nullptr, nullptr);
        host.release();
        gone = true;
        break;
    case ControlAction::Deactivate:
        if (auto inPlace = query<IOleInPlaceObject>(control, IID_IOleInPlaceObject)) {
            inPlace->InPlaceDeactivate();
            inPlace->Release();
        }
        break;
    case ControlAction::DropSite:
        if (auto object = query<IOleObject>(control, IID_IOleObject)) {
            object->SetClientSite(nullptr);
            object->Release();
        }
        break;
    case ControlAction::NewDocument:
        if (auto automation = query<IRAVOVavIrezCtrl>(control, IID_IRAVOVavIrezCtrl)) {
            DialogWatcher quiet;
            BSTR src = SysAllocString(toFileUrl(ControlTornDown::green->path()).c_str());
            automation->put_src(src);
            SysFreeString(src);
            automation->Release();
            shown = true;
        }
        break;
    }
}

TEST_F(ControlTornDown, DuringEveryModalLoopAndCallOut)
{
    const bool printer = printerAvailable();
    for (ControlPoint point : {ControlPoint::ReaderBoxAtSrc, ControlPoint::ReaderBoxAtSetTiffFile,
                               ControlPoint::ReaderBoxAtFirstPaint, ControlPoint::ReaderBoxAtHostDraw,
                               ControlPoint::PaletteBoxAtSetTiffFile, ControlPoint::PrintDialogFromToolbar, ControlPoint::DebugBoxOnClick,
                               ControlPoint::Navigate2OnClick}) {
        if (point == ControlPoint::PrintDialogFromToolbar && !printer)
            continue;
        for (ControlAction action : {ControlAction::Remove, ControlAction::LastRelease, ControlAction::Deactivate,
                                     ControlAction::DropSite, ControlAction::NewDocument}) {
            SCOPED_TRACE(std::string(name(point)) + ", " + name(action));
            const std::set<std::string> filesBefore = moduleTempFiles();
            FaultCheck faultCheck;
            DialogWatcher later;   // boxes of a damaged document after the one the case is about
            std::optional<DisplayDepthOverride> paletteDisplay;   // as in the plug-in's table
            std::optional<TempDirectoryOverride> noTempDirectory;
            const bool palettePoint = point == ControlPoint::PaletteBoxAtSetTiffFile;
            if (palettePoint) {
                paletteDisplay.emplace(GetModuleHandleA("ROZERADO.DLL"), 8);
                ASSERT_TRUE(paletteDisplay->active());
            }
            OleHost host(400, 340);
            host.setPage(L"http://www.example.com/plans/page.htm");
            const bool damagedAtEmbed =
                point == ControlPoint::ReaderBoxAtFirstPaint || point == ControlPoint::ReaderBoxAtHostDraw;
            host.parameters().set(L"src", toFileUrl(damagedAtEmbed ? damaged->path() : good->path()));
            ASSERT_EQ(host.createFromModule(pluginPathBesideProgram(), CLSID_RAVOVavIrezCtrl), S_OK);
            IUnknown* control = host.control();
            IRAVOVavIrezCtrl* automation = query<IRAVOVavIrezCtrl>(control, IID_IRAVOVavIrezCtrl);
            ASSERT_NE(automation, nullptr);
            automation->Release();   // the host's own reference keeps it; used only while that lives
            bool gone = false;       // the control's last reference is gone
            bool shown = false;      // the replacement must be on screen afterwards

            auto tearDown = [&] {
                noTempDirectory.reset();   // the page's next document has one again
                tearDownControl(host, action, gone, shown);
            };
            const int jobsBefore = printJobs().calls();
            bool ran = false;
            if (point == ControlPoint::ReaderBoxAtFirstPaint) {
                InsideNextDialog inside(tearDown);
                host.embed();
                pumpMessages();
                ran = inside.ran();
            } else {
                {
                    DialogWatcher quiet;   // a damaged document's first box is answered at once
                    ASSERT_EQ(host.embed(), S_OK);
                    pumpMessages();
                }
                host.browser().navigations.clear();
                if (point == ControlPoint::Navigate2OnClick) {
                    DialogWatcher debugBox;
                    host.browser().onNavigate = [&] {
                        if (!ran) {
                            ran = true;
                            tearDown();
                        }
                    };
                    clickMiddleOf(host.viewerWindow());
                    pumpMessages();
                    host.browser().onNavigate = nullptr;
                    EXPECT_EQ(host.browser().navigations.size(), 1u);
                } else {
                    InsideNextDialog inside(tearDown);
                    switch (point) {
                    case ControlPoint::ReaderBoxAtSrc: {
                        BSTR src = SysAllocString(toFileUrl(damaged->path()).c_str());
                        automation->put_src(src);
                        SysFreeString(src);
                        break;
                    }
                    case ControlPoint::ReaderBoxAtSetTiffFile: {
                        BSTR path = SysAllocString(std::wstring(damaged->path().begin(), damaged->path().end()).c_str());
                        automation->SetTIFFFile(path);
                        SysFreeString(path);
                        break;
                    }
                    case ControlPoint::PaletteBoxAtSetTiffFile: {
                        // The 24-bit document again; its reduction finds no
                        // temporary directory.
                        BSTR path = SysAllocString(std::wstring(good->path().begin(), good->path().end()).c_str());
                        noTempDirectory.emplace(unreportableTempDirectory());
                        automation->SetTIFFFile(path);
                        noTempDirectory.reset();
                        SysFreeString(path);
                        break;
                    }
                    case ControlPoint::ReaderBoxAtHostDraw: {
                        Canvas canvas(200, 150);
                        if (auto view = query<IViewObject>(control, IID_IViewObject)) {
                            RECTL bounds = {0, 0, 200, 150};
                            view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc(), &bounds, nullptr,
                                       nullptr, 0);
                            view->Release();
                        }
                        break;
                    }
                    case ControlPoint::PrintDialogFromToolbar:
                        SendMessageA(host.controlWindow(), WM_COMMAND, ID_PRINT, 0);
                        break;
                    case ControlPoint::DebugBoxOnClick: clickMiddleOf(host.viewerWindow()); break;
                    default: break;
                    }
                    pumpMessages();
                    ran = inside.ran();
                    if (palettePoint) {
                        EXPECT_EQ(inside.firstText(), "File Not Found!");
                    }
                    if (point == ControlPoint::DebugBoxOnClick) {
                        EXPECT_EQ(host.browser().navigations.size(), action == ControlAction::NewDocument ? 1u : 0u)
                            << "navigated for a control that was gone";
                    }
                }
            }
            EXPECT_TRUE(ran);
            if (point == ControlPoint::PrintDialogFromToolbar) {
                EXPECT_EQ(printJobs().calls(), jobsBefore) << "printed for a viewer that was gone";
            }
            if (shown && !gone && host.viewerWindow()) {
                UpdateWindow(host.viewerWindow());
                EXPECT_GT(countColour(captureClient(host.viewerWindow()), {0, 0, 1000, 1000}, kGreen), 1000);
            }
            // A browser forgets the active object of an element it removed.
            host.site().SetActiveObject(nullptr, nullptr);
            host.close();
            // Every reference the control took from the container is back.
            EXPECT_EQ(host.site().references(), 1);
            EXPECT_EQ(host.browser().references(), 1);
            EXPECT_EQ(moduleTempFiles(), filesBefore) << "temporary files left behind";
        }
    }
}

// The page's event handlers tear the control down: inside each event the
// control fires, it is removed, released (its sink let go too, as a page's
// script drops everything), deactivated, loses its site or gets another
// document. The control stays whole until the event returns, fires nothing
// more and navigates nowhere for a hotspot whose document or page is gone.
enum class ControlEventPoint { Load, Error, HotspotEnter, ViewChange, Navigate };

const char* name(ControlEventPoint p)
{
    static const char* names[] = {"Load", "Error", "HotspotEnter", "ViewChange", "Navigate"};
    return names[int(p)];
}

TEST_F(ControlTornDown, InsideEveryEventHandler)
{
    for (ControlEventPoint point : {ControlEventPoint::Load, ControlEventPoint::Error, ControlEventPoint::HotspotEnter,
                                    ControlEventPoint::ViewChange, ControlEventPoint::Navigate}) {
        for (ControlAction action : {ControlAction::Remove, ControlAction::LastRelease, ControlAction::Deactivate,
                                     ControlAction::DropSite, ControlAction::NewDocument}) {
            SCOPED_TRACE(std::string(name(point)) + ", " + name(action));
            const std::set<std::string> filesBefore = moduleTempFiles();
            FaultCheck faultCheck;
            DialogWatcher boxes;   // the reader's box of the damaged document, the debug box
            ControlEvents events;
            {
                OleHost host(400, 340);
                host.setPage(L"http://www.example.com/plans/page.htm");
                host.parameters().set(L"src", toFileUrl(good->path()));
                ASSERT_EQ(host.createFromModule(pluginPathBesideProgram(), CLSID_RAVOVavIrezCtrl), S_OK);
                ASSERT_EQ(events.connect(host.control()), S_OK);
                bool ran = false, gone = false, shown = false;
                const std::string eventName = name(point);
                events.handler = [&](const ControlEvent& event) {
                    if (ran || event.name != std::wstring(eventName.begin(), eventName.end()))
                        return;
                    ran = true;
                    if (action == ControlAction::LastRelease)
                        events.disconnect();
                    tearDownControl(host, action, gone, shown);
                };
                if (point == ControlEventPoint::Load) {
                    host.embed();
                    pumpMessages();
                } else {
                    ASSERT_EQ(host.embed(), S_OK);
                    pumpMessages();
                    host.browser().navigations.clear();
                    switch (point) {
                    case ControlEventPoint::Error:
                        if (auto automation = query<IRAVOVavIrezCtrl>(host.control(), IID_IRAVOVavIrezCtrl)) {
                            const std::wstring path(damaged->path().begin(), damaged->path().end());
                            BSTR text = SysAllocString(path.c_str());
                            automation->SetTIFFFile(text);
                            SysFreeString(text);
                            automation->Release();
                        }
                        break;
                    case ControlEventPoint::ViewChange:
                        SendMessageA(host.controlWindow(), WM_COMMAND, ID_ZOOM_IN, 0);
                        break;
                    default:
                        clickMiddleOf(host.viewerWindow());
                        break;
                    }
                    pumpMessages();
                }
                EXPECT_TRUE(ran);
                if (point == ControlEventPoint::Navigate) {
                    EXPECT_EQ(host.browser().navigations.size(), 0u) << "navigated for a page that was gone";
                }
                if (shown && !gone && host.viewerWindow()) {
                    UpdateWindow(host.viewerWindow());
                    EXPECT_GT(countColour(captureClient(host.viewerWindow()), {0, 0, 1000, 1000}, kGreen), 1000);
                }
                host.site().SetActiveObject(nullptr, nullptr);
                events.disconnect();
                host.close();
                EXPECT_EQ(host.site().references(), 1);
                EXPECT_EQ(host.browser().references(), 1);
            }
            EXPECT_EQ(events.references(), 1) << "the control kept the sink";
            EXPECT_EQ(moduleTempFiles(), filesBefore) << "temporary files left behind";
        }
    }
}

} // namespace
