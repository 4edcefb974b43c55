// What `src` may make RAVOVavIrezCtrl load, and where its download goes: a
// host that declared the page's data untrusted gets documents from the web
// only, device paths are refused for every host, text is never narrowed
// into another address, the download file is a new file of the control's own
// in the temporary directory, and a download beyond 1 GiB is dropped.
#include "ComModule.h"
#include "DialogWatcher.h"
#include "DocumentTransfer.h"
#include "ImportHook.h"
#include "SampleDocument.h"
#include "TempDir.h"

#include "rozerado_h.h"

#include <gtest/gtest.h>

#include <objsafe.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace {

class ControlSource : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        control = createControl(com);
        ASSERT_NE(control, nullptr);
        ASSERT_EQ(control->QueryInterface(IID_IRAVOVavIrezCtrl, reinterpret_cast<void**>(&ctrl)), S_OK);
        ASSERT_TRUE(writeSampleDocument(document.path()));
        downloadsBefore = controlDownloads();
    }
    void TearDown() override
    {
        release();
        CoUninitialize();
    }
    void release()
    {
        if (ctrl)
            ctrl->Release();
        if (control)
            control->Release();
        ctrl = nullptr;
        control = nullptr;
    }
    // As a browser does before it loads the page's parameters.
    void declareUntrusted()
    {
        IObjectSafety* safety = nullptr;
        ASSERT_EQ(control->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)), S_OK);
        EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, INTERFACESAFE_FOR_UNTRUSTED_DATA,
                                                    INTERFACESAFE_FOR_UNTRUSTED_DATA),
                  S_OK);
        safety->Release();
    }
    void putSrc(const std::wstring& text)
    {
        BSTR value = SysAllocStringLen(text.data(), UINT(text.size()));
        EXPECT_EQ(ctrl->put_src(value), S_OK);
        SysFreeString(value);
    }
    // "<temp><address><counter>.htf"
    std::string downloadFile(unsigned counter) const
    {
        return tempDirectory() + std::to_string(reinterpret_cast<intptr_t>(ctrl)) + std::to_string(counter) + ".htf";
    }
    std::wstring localPath() const { return std::wstring(document.path().begin(), document.path().end()); }

    ComModule com;
    IUnknown* control = nullptr;
    IRAVOVavIrezCtrl* ctrl = nullptr;
    ScopedFile document{uniqueTempPath(".htf")};
    size_t downloadsBefore = 0;
};

// Every way of naming a local file, a share, a device or another scheme is
// refused for an untrusted page that is not itself a local file: nothing is
// downloaded and nothing is shown. (The web is allowed: OleHostTest.)
TEST_F(ControlSource, UntrustedPageLoadsNothingButTheWeb)
{
    declareUntrusted();
    const std::wstring local = localPath();
    const std::wstring cases[] = {
        toFileUrl(document.path()),
        L"file://localhost/" + local,
        local,
        L"\\\\?\\" + local,
        L"\\\\192.0.2.1\\share\\doc.htf",
        L"\\\\.\\pipe\\rozerado-none",
        L"\\\\.\\COM1",
        L"ftp://127.0.0.1/doc.htf",
        L"javascript:alert(1)",
        L"doc.htf",   // relative, and no page to resolve it against
    };
    DialogWatcher dialogs;
    for (const std::wstring& src : cases) {
        SCOPED_TRACE(std::string(src.begin(), src.end()));
        putSrc(src);
        EXPECT_EQ(controlDownloads(), downloadsBefore);
        EXPECT_FALSE(fileExists(downloadFile(0)));
    }
    EXPECT_TRUE(dialogs.seen().empty());
}

// A host that never asked for safety (a desktop program, a script host)
// keeps local paths and file: URLs; device paths are refused for it too.
TEST_F(ControlSource, TrustedHostLoadsLocalFilesButNoDevicePaths)
{
    const std::wstring local = localPath();
    struct Case {
        std::wstring src;
        bool loaded;
    } cases[] = {
        {toFileUrl(document.path()), true},
        {local, true},
        {L"\\\\?\\" + local, false},
        {L"\\\\.\\" + local, false},
        {local.substr(0, local.rfind(L'\\') + 1) + L"COM1.htf", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.src.begin(), c.src.end()));
        putSrc(c.src);
        EXPECT_EQ(fileExists(downloadFile(0)), c.loaded);
        if (c.loaded) {
            EXPECT_EQ(readWholeFile(downloadFile(0)), readWholeFile(document.path()));
        }
    }
}

// A named pipe is a device: the control must not even connect to it (the
// server end here would see the connection).
TEST_F(ControlSource, NamedPipeIsNeverOpened)
{
    const std::string name = "\\\\.\\pipe\\rozerado-test-" + std::to_string(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                     nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    std::atomic<bool> connected{false};
    std::atomic<bool> byTest{false};
    std::thread listener([&] {
        if (ConnectNamedPipe(server, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            if (!byTest)
                connected = true;
            // Cut off at once, so that a reader is not kept waiting.
            DisconnectNamedPipe(server);
        }
    });
    putSrc(std::wstring(name.begin(), name.end()));
    Sleep(200);
    EXPECT_FALSE(connected);
    EXPECT_EQ(controlDownloads(), downloadsBefore);
    // Nobody came: the test connects itself so that the listener ends.
    byTest = !connected;
    HANDLE client = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    listener.join();
    if (client != INVALID_HANDLE_VALUE)
        CloseHandle(client);
    CloseHandle(server);
}

// A NUL inside src would end the address early for some readers of it; a
// character that the ANSI code page lacks must not become its look-alike.
TEST_F(ControlSource, TextIsNeverCutOrNarrowedIntoAnotherAddress)
{
    const std::wstring url = toFileUrl(document.path());
    std::wstring fullwidth = localPath();
    for (wchar_t& c : fullwidth)
        if (c == L'\\')
            c = L'\xFF3C';   // fullwidth reverse solidus, "\" at best fit
    const std::wstring cases[] = {
        url + std::wstring(1, L'\0') + L".txt",
        std::wstring(1, L'\0') + url,
        fullwidth,
    };
    DialogWatcher dialogs;
    for (const std::wstring& src : cases) {
        SCOPED_TRACE(std::string(src.begin(), src.end()));
        putSrc(src);
        EXPECT_EQ(controlDownloads(), downloadsBefore);
    }
    // The source keeps what was set, NUL and all.
    BSTR value = nullptr;
    ctrl->get_src(&value);
    EXPECT_EQ(std::wstring(value, SysStringLen(value)), fullwidth);
    SysFreeString(value);
}

// Someone else's files under the control's names are left as they are; the
// control's own file goes with it.
TEST_F(ControlSource, DownloadNeverOverwritesAnotherFile)
{
    const std::string before = tempDirectory() + std::to_string(reinterpret_cast<intptr_t>(ctrl)) + ".htf";
    ScopedFile oldName(before), firstName(downloadFile(0));
    ASSERT_TRUE(writeWholeFile(oldName.path(), "theirs", 6));
    ASSERT_TRUE(writeWholeFile(firstName.path(), "theirs", 6));
    putSrc(toFileUrl(document.path()));
    EXPECT_EQ(readWholeFile(downloadFile(1)), readWholeFile(document.path()));
    const std::string download = downloadFile(1);
    release();
    EXPECT_FALSE(fileExists(download));
    EXPECT_EQ(readWholeFile(oldName.path()).size(), 6u);
    EXPECT_EQ(readWholeFile(firstName.path()).size(), 6u);
}

TEST_F(ControlSource, WithoutATemporaryDirectoryNothingIsWritten)
{
    ScratchCurrentDirectory current;
    {
        TempDirectoryOverride none(unreportableTempDirectory());
        CreateFileSpy spy(GetModuleHandleA("ROZERADO.DLL"));
        ASSERT_TRUE(spy.installed());
        putSrc(toFileUrl(document.path()));
        EXPECT_EQ(spy.creations(), 0u);
    }
    EXPECT_TRUE(listDirectory(current.path()).empty());
}

// A document of 1 GiB and one byte, as a file the platform reads without
// disk traffic (its bytes are a hole): nothing of it is kept.
TEST_F(ControlSource, DownloadBeyondOneGibibyteIsDropped)
{
    ScopedFile huge(uniqueTempPath(".htf"));
    {
        HANDLE file = CreateFileA(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        LARGE_INTEGER size;
        size.QuadPart = LONGLONG(kMaxDocumentBytes) + 1;
        EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file));
        CloseHandle(file);
    }
    DialogWatcher dialogs;
    putSrc(toFileUrl(huge.path()));
    EXPECT_EQ(controlDownloads(), downloadsBefore);
    EXPECT_TRUE(dialogs.seen().empty());
}

// The download's copy, on streams that are not there: a stream that states
// or delivers more than the limit is cut off, without writing 1 GiB anywhere
// (the copies go to the NUL device).
class ClaimingStream final : public IStream {
public:
    ClaimingStream(uint64_t delivers, uint64_t states, bool failsAfterHalf = false)
        : delivers_(delivers), states_(states), failsAfterHalf_(failsAfterHalf) {}
    uint64_t delivered = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IStream) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* got) override
    {
        if (failsAfterHalf_ && delivered >= delivers_ / 2)
            return E_FAIL;
        const ULONG n = ULONG(std::min<uint64_t>(size, delivers_ - delivered));
        std::memset(buffer, 'x', n);
        delivered += n;
        *got = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override
    {
        if (states_ == 0)
            return E_NOTIMPL;
        *stat = {};
        stat->cbSize.QuadPart = states_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    uint64_t delivers_, states_;
    bool failsAfterHalf_;
};

TEST(DownloadCopy, StopsAtTheDocumentLimit)
{
    constexpr uint64_t kLimit = kMaxDocumentBytes;
    struct Case {
        const char* what;
        uint64_t delivers, states;
        bool failsAfterHalf;
        DownloadCopy result;
        uint64_t read;   // bytes taken from the stream
    } cases[] = {
        {"exactly the limit", kLimit, 0, false, DownloadCopy::Complete, kLimit},
        {"stated exactly", kLimit, kLimit, false, DownloadCopy::Complete, kLimit},
        {"one byte more", kLimit + 1, 0, false, DownloadCopy::TooLarge, kLimit + 1},
        {"stated one byte more", kLimit + 1, kLimit + 1, false, DownloadCopy::TooLarge, 0},
        {"stated small, delivers more", kLimit + 1, 10, false, DownloadCopy::TooLarge, kLimit + 1},
        {"read error halfway", 1000000, 0, true, DownloadCopy::Complete, 500000 + 65535 - 500000 % 65535},
    };
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(nul, INVALID_HANDLE_VALUE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClaimingStream stream(c.delivers, c.states, c.failsAfterHalf);
        EXPECT_EQ(copyDownload(&stream, nul), c.result);
        // The piece that crosses the limit is read but never written.
        if (c.result == DownloadCopy::TooLarge && c.read > 0) {
            EXPECT_GT(stream.delivered, kLimit);
        } else {
            EXPECT_EQ(stream.delivered, c.read);
        }
    }
    CloseHandle(nul);
    // A file that takes less than it is given.
    ClaimingStream small(100, 0);
    HANDLE readOnly = CreateFileA("NUL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(copyDownload(&small, readOnly), DownloadCopy::WriteFailed);
    CloseHandle(readOnly);
}

} // namespace
