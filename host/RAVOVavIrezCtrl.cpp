#include "RAVOVavIrezCtrl.h"

#include "ComServer.h"
#include "ViewInput.h"

#include <urlmon.h>

#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr DWORD kTempPathLength = 1024;
constexpr size_t kDownloadBuffer = 65536;
constexpr ULONG kDownloadPiece = 65535;

const PersistedProperty kProperties[] = {
    {L"_cx", PersistedProperty::Kind::ExtentWidth, 0},
    {L"_cy", PersistedProperty::Kind::ExtentHeight, 0},
    {L"src", PersistedProperty::Kind::Dispatch, 2},
};

std::wstring widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

// The wide text in the ANSI code page (a buffer of two bytes per character
// plus two, as double-byte code pages may need).
std::string narrow(const wchar_t* text)
{
    const size_t length = text ? wcslen(text) : 0;
    std::vector<char> buffer(2 * length + 2, '\0');
    if (length)
        WideCharToMultiByte(CP_ACP, 0, text, int(length) + 1, buffer.data(), int(buffer.size()), nullptr, nullptr);
    buffer.back() = '\0';
    return std::string(buffer.data());
}

// A document's name as the page gave its address or path, for screen readers.
std::wstring documentNameOf(const wchar_t* address)
{
    if (!address)
        return std::wstring();
    const std::u16string name = documentNameFromAddress(reinterpret_cast<const char16_t*>(address));
    return std::wstring(name.begin(), name.end());
}

// A file handle closed when the scope ends.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle()
    {
        if (valid())
            CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

} // namespace

RAVOVavIrezCtrl::RAVOVavIrezCtrl() : ControlBase(CLSID_RAVOVavIrezCtrl, IID_IRAVOVavIrezCtrl, DIID__IRAVOVavIrezCtrlEvents)
{
    ComServer::lock();
    // A click or Tab into the viewer makes the control UI-active, so that
    // its container routes keys to it.
    container_.setViewFocusHandler([this] { activateForKeyboard(); });
}

RAVOVavIrezCtrl::~RAVOVavIrezCtrl()
{
    // A window still there is destroyed now, while this object is whole, so
    // that its destruction takes down the viewer and deletes the download.
    if (HWND own = window(); own && IsWindow(own))
        DestroyWindow(own);
    // A control that never had a window (a script's, say) leaves no download
    // behind either: nobody can open a file named after a gone object.
    if (!downloadPath_.empty())
        DeleteFileA(downloadPath_.c_str());
    SysFreeString(source_);
    ComServer::unlock();
}

HRESULT RAVOVavIrezCtrl::create(REFIID iid, void** result)
{
    auto control = new (std::nothrow) RAVOVavIrezCtrl;
    if (!control)
        return E_OUTOFMEMORY;
    const HRESULT hr = control->QueryInterface(iid, result);
    control->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::QueryInterface(REFIID iid, void** result)
{
    return ControlBase::QueryInterface(iid, result);
}

void* RAVOVavIrezCtrl::queryControlInterface(REFIID iid)
{
    if (IsEqualIID(iid, IID_IRAVOVavIrezCtrl) || IsEqualIID(iid, IID_IDispatch))
        return static_cast<IRAVOVavIrezCtrl*>(this);
    return nullptr;
}

const PersistedProperty* RAVOVavIrezCtrl::persistedProperties(size_t& count) const
{
    count = sizeof(kProperties) / sizeof(kProperties[0]);
    return kProperties;
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::GetTypeInfoCount(UINT* count)
{
    return dispatchGetTypeInfoCount(count);
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info)
{
    return dispatchGetTypeInfo(index, locale, info);
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                                         DISPID* ids)
{
    return dispatchGetIDsOfNames(iid, names, count, locale, ids);
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                                  DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                                  UINT* argumentError)
{
    return dispatchInvoke(id, iid, locale, flags, params, result, exception, argumentError);
}

// Automation

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::SetTIFFFile(BSTR fileName)
{
    container_.view().setDocumentName(documentNameOf(fileName));
    container_.view().setImageFile(fileName);   // null empties the viewer
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::get_src(BSTR* value)
{
    if (value)
        *value = source_ ? SysAllocStringLen(source_, SysStringLen(source_)) : nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::put_src(BSTR value)
{
    SysFreeString(source_);
    source_ = value ? SysAllocStringLen(value, SysStringLen(value)) : SysAllocString(L"");
    const std::string address = narrow(source_);

    IStream* stream = nullptr;
    const HRESULT opened = URLOpenBlockingStreamA(static_cast<IRAVOVavIrezCtrl*>(this), address.c_str(), &stream,
                                                  0, nullptr);
    // The previous document goes whether or not the new one arrives.
    if (!downloadPath_.empty())
        DeleteFileA(downloadPath_.c_str());
    if (SUCCEEDED(opened) && stream) {
        saveDownload(stream);
        stream->Release();
    }
    if (container_.hwnd())
        openDownloadedFile();
    return S_OK;
}

std::string RAVOVavIrezCtrl::downloadFileName() const
{
    char directory[kTempPathLength + 1] = {};
    const DWORD length = GetTempPathA(kTempPathLength, directory);
    if (length == 0 || length > kTempPathLength)
        directory[0] = '\0';
    char name[32];
    std::snprintf(name, sizeof(name), "%ld.htf", long(reinterpret_cast<intptr_t>(this)));
    return std::string(directory) + name;
}

void RAVOVavIrezCtrl::saveDownload(IStream* stream)
{
    const std::string path = downloadFileName();
    FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    // A file that cannot be created still becomes the download path: opening
    // it later shows no document.
    downloadPath_ = path;
    if (!file.valid())
        return;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kDownloadBuffer]);
    if (!buffer)
        return;
    for (;;) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(buffer.get(), kDownloadPiece, &got);
        if (FAILED(hr) || got == 0)
            break;   // a read error ends the download like the end of the data
        if (got > kDownloadPiece)
            break;
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.get(), got, &written, nullptr) || written != got)
            break;
    }
}

void RAVOVavIrezCtrl::openDownloadedFile()
{
    container_.view().setDocumentName(documentNameOf(source_));
    container_.view().setImageFile(widen(downloadPath_).c_str());
}

// Drawing

HRESULT RAVOVavIrezCtrl::onHostDraw(ControlDrawInfo& info)
{
    renderRequest_ = true;
    return onDraw(info);
}

HRESULT RAVOVavIrezCtrl::onDraw(ControlDrawInfo& info)
{
    bool render = false;
    if (!container_.hwnd()) {
        if (!renderRequest_) {
            if (HWND own = window()) {
                container_.create(own);
                if (!downloadPath_.empty())
                    openDownloadedFile();
                ShowWindow(own, SW_SHOW);
            }
        } else {
            if (!downloadPath_.empty())
                openDownloadedFile();
            render = true;
        }
    } else if (renderRequest_) {
        if (!downloadPath_.empty())
            openDownloadedFile();   // the document is read again from the file
        render = true;
    }
    if (render)
        container_.view().drawVisible(info.dc, info.bounds);
    if (HWND own = container_.hwnd()) {
        UpdateWindow(own);
        container_.setClientSite(clientSite());
    }
    renderRequest_ = false;
    return S_OK;
}

bool RAVOVavIrezCtrl::translateKey(const MSG& message)
{
    return container_.translateKey(message);
}

void RAVOVavIrezCtrl::onWindowDestroy()
{
    container_.destroyWindows();
    if (!downloadPath_.empty())
        DeleteFileA(downloadPath_.c_str());
}
