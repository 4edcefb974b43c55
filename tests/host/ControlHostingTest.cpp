// RAVOVavIrezCtrl in place in a real window, hosted by the runtime's own
// control host (atl.dll's AtlAxAttachControl): the viewer appears in the
// control's window, `src` replaces the document at once, host drawing reads
// the download again, and windows, GDI objects, temporary files and module
// locks all go away with the controls.
#include "ComModule.h"
#include "DialogWatcher.h"
#include "ResourceCounters.h"
#include "SampleDocument.h"
#include "TempDir.h"
#include "TiffFixture.h"
#include "WindowCapture.h"

#include "rozerado_h.h"

#include <gtest/gtest.h>

#include <urlmon.h>

#include <set>

namespace {

using AttachControlFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
using WinInitFn = BOOL(WINAPI*)();

int distinctColours(const Capture& capture)
{
    std::set<unsigned> colours(capture.pixels.begin(), capture.pixels.end());
    return int(colours.size());
}

int redPixels(const Capture& capture)
{
    int count = 0;
    for (unsigned pixel : capture.pixels)
        count += pixel == 0xFF0000;
    return count;
}

class ControlHosting : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        atl = LoadLibraryA("atl.dll");
        auto init = reinterpret_cast<WinInitFn>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
        attachControl =
            reinterpret_cast<AttachControlFn>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxAttachControl")));
        if (init)
            init();
        document = new ScopedFile(uniqueTempPath(".htf"));
        red = new ScopedFile(uniqueTempPath(".htf"));
        writeSampleDocument(document->path());
        writeTiffFixture(red->path(), twoColourFixture(64, 48, 0xFF0000, 0xFF0000));   // solid red
    }
    static void TearDownTestSuite()
    {
        delete document;
        delete red;
    }

    void SetUp() override
    {
        CoInitialize(nullptr);
        ASSERT_NE(attachControl, nullptr);
        ASSERT_TRUE(fileExists(document->path()) && fileExists(red->path()));
    }
    void TearDown() override { CoUninitialize(); }

    // One control in a child window of the host window.
    struct Hosted {
        IUnknown* control = nullptr;
        IRAVOVavIrezCtrl* ctrl = nullptr;
        HWND site = nullptr;
        IUnknown* container = nullptr;

        HWND controlWindow() const
        {
            IOleWindow* window = nullptr;
            HWND handle = nullptr;
            if (SUCCEEDED(control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window)))) {
                window->GetWindow(&handle);
                window->Release();
            }
            return handle;
        }
        std::string downloadFile() const
        {
            return tempDirectory() + std::to_string(reinterpret_cast<intptr_t>(ctrl)) + "0.htf";
        }
        void putSrc(const std::wstring& text)
        {
            BSTR value = SysAllocString(text.c_str());
            ctrl->put_src(value);
            SysFreeString(value);
            pumpMessages();
        }
    };

    Hosted create()
    {
        Hosted hosted;
        hosted.control = createControl(com);
        if (hosted.control)
            hosted.control->QueryInterface(IID_IRAVOVavIrezCtrl, reinterpret_cast<void**>(&hosted.ctrl));
        return hosted;
    }
    void activate(Hosted& hosted)
    {
        hosted.site = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 400, 300, host.hwnd(), nullptr,
                                      nullptr, nullptr);
        EXPECT_EQ(attachControl(hosted.control, hosted.site, &hosted.container), S_OK);
        pumpMessages();
    }
    void destroy(Hosted& hosted)
    {
        if (hosted.site)
            DestroyWindow(hosted.site);
        pumpMessages();
        if (hosted.container)
            hosted.container->Release();
        if (hosted.ctrl)
            hosted.ctrl->Release();
        if (hosted.control)
            hosted.control->Release();
        hosted = Hosted();
    }
    Capture capture(const Hosted& hosted)
    {
        HWND window = hosted.controlWindow();
        if (window) {
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            pumpMessages();
        }
        // The viewer: the control window's child below the toolbar band.
        POINT below = {200, 170};
        HWND view = window ? ChildWindowFromPoint(window, below) : nullptr;
        return captureClient(view && view != window ? view : window);
    }

    static HMODULE atl;
    static AttachControlFn attachControl;
    static ScopedFile* document;
    static ScopedFile* red;
    ComModule com;
    TestHostWindow host{400, 300};
};

HMODULE ControlHosting::atl = nullptr;
AttachControlFn ControlHosting::attachControl = nullptr;
ScopedFile* ControlHosting::document = nullptr;
ScopedFile* ControlHosting::red = nullptr;

TEST_F(ControlHosting, SourceSetBeforeActivationIsShownAtTheFirstPaint)
{
    Hosted hosted = create();
    ASSERT_NE(hosted.ctrl, nullptr);
    hosted.putSrc(toFileUrl(red->path()));
    EXPECT_TRUE(fileExists(hosted.downloadFile()));   // downloaded at once
    EXPECT_EQ(hosted.controlWindow(), nullptr);

    activate(hosted);
    HWND window = hosted.controlWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetParent(window), hosted.site);
    EXPECT_NE(FindWindowExA(window, nullptr, "ToolbarWindow32", nullptr), nullptr);
    EXPECT_GT(redPixels(capture(hosted)), 1000);
    destroy(hosted);
}

TEST_F(ControlHosting, SourceAndLocalFileReplaceTheDocumentWhileActive)
{
    Hosted hosted = create();
    activate(hosted);
    hosted.putSrc(toFileUrl(document->path()));
    const std::string download = hosted.downloadFile();
    EXPECT_EQ(readWholeFile(download), readWholeFile(document->path()));
    const Capture plan = capture(hosted);
    EXPECT_EQ(redPixels(plan), 0);
    EXPECT_GT(distinctColours(plan), 3);

    hosted.putSrc(toFileUrl(red->path()));
    EXPECT_EQ(readWholeFile(download), readWholeFile(red->path()));   // same file name
    EXPECT_GT(redPixels(capture(hosted)), 1000);

    BSTR local = SysAllocString(std::wstring(document->path().begin(), document->path().end()).c_str());
    hosted.ctrl->SetTIFFFile(local);
    SysFreeString(local);
    EXPECT_EQ(redPixels(capture(hosted)), 0);
    BSTR src = nullptr;
    hosted.ctrl->get_src(&src);
    EXPECT_EQ(std::wstring(src), toFileUrl(red->path()));
    SysFreeString(src);
    destroy(hosted);
}

TEST_F(ControlHosting, EmptySourceWhileActiveDeletesTheDownloadAndEmptiesTheViewer)
{
    Hosted hosted = create();
    activate(hosted);
    hosted.putSrc(toFileUrl(red->path()));
    ASSERT_GT(redPixels(capture(hosted)), 1000);
    {
        DialogWatcher watcher;
        hosted.putSrc(L"");
        Sleep(300);
        EXPECT_EQ(watcher.seen().size(), 1u);   // the reader reports the missing file
    }
    EXPECT_FALSE(fileExists(hosted.downloadFile()));
    const Capture empty = capture(hosted);
    EXPECT_EQ(redPixels(empty), 0);
    EXPECT_LE(distinctColours(empty), 2);
    destroy(hosted);
}

TEST_F(ControlHosting, HostDrawingReadsTheDownloadedFileAgain)
{
    Hosted hosted = create();
    activate(hosted);
    hosted.putSrc(toFileUrl(document->path()));
    // The download is replaced behind the control's back: a host drawing
    // shows what the file holds now.
    std::vector<unsigned char> redBytes = readWholeFile(red->path());
    ASSERT_TRUE(writeWholeFile(hosted.downloadFile(), redBytes.data(), redBytes.size()));

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 160;
    info.bmiHeader.biHeight = -120;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    PatBlt(dc, 0, 0, 160, 120, WHITENESS);
    IViewObject* view = nullptr;
    ASSERT_EQ(hosted.control->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&view)), S_OK);
    RECTL bounds = {0, 0, 160, 120};
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK);
    view->Release();
    GdiFlush();
    EXPECT_EQ(static_cast<const unsigned*>(bits)[60 * 160 + 80] & 0xFFFFFF, 0xFF0000u);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    destroy(hosted);
}

TEST_F(ControlHosting, FiftyControlsLeaveNothingBehind)
{
    auto cycle = [this](int count) {
        for (int i = 0; i < count; ++i) {
            Hosted hosted = create();
            hosted.putSrc(toFileUrl(document->path()));
            activate(hosted);
            capture(hosted);
            const std::string download = hosted.downloadFile();
            destroy(hosted);
            EXPECT_FALSE(fileExists(download)) << i;
        }
    };
    cycle(1);   // first-use caches of the runtime
    const size_t files = controlDownloads();
    const DWORD gdi = gdiObjects();
    const DWORD windows = userWindows();
    cycle(50);
    EXPECT_EQ(controlDownloads(), files);
    EXPECT_LE(gdiObjects(), gdi);
    EXPECT_EQ(userWindows(), windows);
    EXPECT_EQ(com.canUnloadNow(), S_OK);
}

TEST_F(ControlHosting, DownloadsOverHttpAndAnErrorPageEmptiesTheViewer)
{
    // A local web server for 20 seconds, serving a fresh directory.
    const std::string directory = tempDirectory() + "rzhttp" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(directory.c_str(), nullptr);
    const std::string served = directory + "\\plan.htf";
    ASSERT_TRUE(CopyFileA(red->path().c_str(), served.c_str(), FALSE));
    const std::wstring base = startWebServer(directory);
    ASSERT_FALSE(base.empty()) << "no web server";

    Hosted hosted = create();
    hosted.putSrc(base + L"plan.htf");
    EXPECT_EQ(readWholeFile(hosted.downloadFile()), readWholeFile(red->path()));
    activate(hosted);
    EXPECT_GT(redPixels(capture(hosted)), 1000);
    {
        // A missing document opens with the server's error page, which the
        // reader refuses like any file that is not TIFF.
        DialogWatcher watcher;
        hosted.putSrc(base + L"missing.htf");
        Sleep(300);
        EXPECT_EQ(watcher.seen().size(), 1u);
    }
    EXPECT_EQ(redPixels(capture(hosted)), 0);
    destroy(hosted);
    DeleteFileA(served.c_str());
    RemoveDirectoryA(directory.c_str());
}

} // namespace
