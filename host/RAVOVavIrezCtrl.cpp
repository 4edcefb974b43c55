#include "RAVOVavIrezCtrl.h"

#include "AddressPolicy.h"
#include "ComServer.h"
#include "DocumentTransfer.h"
#include "PageAddress.h"
#include "PrivateTempFile.h"
#include "ViewInput.h"

#include <urlmon.h>

#include <new>
#include <string>

namespace {

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

// A document's name as the page gave its address or path, for screen readers.
std::wstring documentNameOf(const wchar_t* address)
{
    if (!address)
        return std::wstring();
    const std::u16string name = documentNameFromAddress(reinterpret_cast<const char16_t*>(address));
    return std::wstring(name.begin(), name.end());
}

} // namespace

RAVOVavIrezCtrl::RAVOVavIrezCtrl() : ControlBase(CLSID_RAVOVavIrezCtrl, IID_IRAVOVavIrezCtrl, DIID__IRAVOVavIrezCtrlEvents)
{
    ComServer::lock();
    container_.setHostAnchor(this);
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
    deleteDownload();
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
    SelfReference self(this);   // the reader's error box lets the page go on
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
    // The download and the reader's error box let the page go on: it may
    // release the control or set another src meanwhile. The control stays
    // whole until this returns, and a newer src wins.
    SelfReference self(this);
    const uint32_t generation = ++sourceGeneration_;
    SysFreeString(source_);
    source_ = value ? SysAllocStringLen(value, SysStringLen(value)) : SysAllocString(L"");

    awaitingSite_ = false;
    std::wstring address;
    const Source source = sourceAddress(address);
    if (generation != sourceGeneration_)
        return S_OK;   // resolving asked the page, and the page set another src meanwhile
    // The previous document goes whether or not the new one arrives.
    deleteDownload();
    if (source == Source::AwaitSite) {
        // Hosts that hand over the page's parameters before the client site
        // (one that loads the module without its registration, whose status
        // bits ask for the site first): the download waits for the page.
        awaitingSite_ = true;
        downloadPath_.clear();
        return S_OK;
    }
    Download outcome = Download::Refused;
    if (source == Source::Load) {
        // The wide address as it was checked: nothing is narrowed on the way.
        IStream* stream = nullptr;
        const HRESULT opened = URLOpenBlockingStreamW(static_cast<IRAVOVavIrezCtrl*>(this), address.c_str(),
                                                      &stream, 0, nullptr);
        if (generation != sourceGeneration_) {
            if (stream)
                stream->Release();
            return S_OK;
        }
        outcome = Download::NotOpened;
        if (SUCCEEDED(opened) && stream) {
            outcome = saveDownload(stream);
            stream->Release();
        }
    }
    if (outcome == Download::Refused) {
        // Nothing is shown of a source that may not be loaded, or that was
        // too large: an empty viewer, no message.
        downloadPath_.clear();
        if (container_.hwnd())
            container_.view().setImageFile(nullptr);
        return S_OK;
    }
    if (generation == sourceGeneration_ && container_.hwnd())
        openDownloadedFile();
    return S_OK;
}

RAVOVavIrezCtrl::Source RAVOVavIrezCtrl::sourceAddress(std::wstring& address)
{
    address.assign(source_ ? source_ : L"", SysStringLen(source_));
    const std::u16string text(reinterpret_cast<const char16_t*>(address.data()), address.size());
    // A NUL would end the address early for some readers of it and not for
    // others.
    if (hasNulCharacter(text))
        return Source::Refuse;
    const bool untrusted = untrustedData();
    AddressKind kind = classifyAddress(text);
    // What the page is decides: a relative src is resolved against it, and
    // an untrusted page may load local files only when it is one itself.
    const bool needsPage = (kind == AddressKind::Relative && !address.empty()) ||
                           (untrusted && kind == AddressKind::LocalFile);
    if (needsPage && !clientSite())
        return Source::AwaitSite;
    if (kind == AddressKind::Relative && !address.empty()) {
        std::wstring resolved;
        if (resolveAgainstPage(clientSite(), address, resolved)) {
            const std::u16string resolvedText(reinterpret_cast<const char16_t*>(resolved.data()), resolved.size());
            if (hasNulCharacter(resolvedText))
                return Source::Refuse;
            address = resolved;
            kind = classifyAddress(resolvedText);
        }
    }
    bool pageIsLocalFile = false;
    if (untrusted && kind == AddressKind::LocalFile) {
        const std::wstring page = pageUrl(clientSite());
        pageIsLocalFile = classifyAddress(std::u16string(reinterpret_cast<const char16_t*>(page.data()),
                                                         page.size())) == AddressKind::LocalFile;
    }
    return maySourceLoad(kind, untrusted, pageIsLocalFile) ? Source::Load : Source::Refuse;
}

RAVOVavIrezCtrl::Download RAVOVavIrezCtrl::saveDownload(IStream* stream)
{
    PrivateTempFile file;
    if (!file.create(objectIdentity(this), ".htf")) {
        // No file of our own to write: nothing is written, and the viewer
        // finds no document.
        downloadPath_.clear();
        return Download::Saved;
    }
    if (copyDownload(stream, file.handle()) == DownloadCopy::TooLarge)
        return Download::Refused;   // the partial file goes with `file`
    // Anything short of that keeps what arrived; the reader judges it.
    downloadPath_ = file.keep();
    ownsDownload_ = true;
    return Download::Saved;
}

void RAVOVavIrezCtrl::deleteDownload()
{
    // Only a file this control made and still holds: once deleted, its name
    // is free for anyone, and a later delete would hit their file.
    if (ownsDownload_ && !downloadPath_.empty())
        DeleteFileA(downloadPath_.c_str());
    ownsDownload_ = false;
}

void RAVOVavIrezCtrl::openDownloadedFile(bool keepView)
{
    const std::string shown = downloadPath_;
    const uint32_t generation = sourceGeneration_;
    container_.view().setDocumentName(documentNameOf(source_));
    if (keepView)
        container_.view().reloadImageFile(widen(shown).c_str());
    else
        container_.view().setImageFile(widen(shown).c_str());
    // A src set while the reader's error box was open brought a new
    // download, or the window went (and the download with it): either could
    // not delete this file, which the reader still had open. It goes now.
    const bool replaced = generation != sourceGeneration_ && shown != downloadPath_;
    const bool dropped = shown == downloadPath_ && !ownsDownload_;
    if (!shown.empty() && (replaced || dropped))
        DeleteFileA(shown.c_str());
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
                // The reader's error box may have let the page deactivate
                // the control: its window is gone then.
                if (window() != own || !IsWindow(own)) {
                    renderRequest_ = false;
                    return S_OK;
                }
                ShowWindow(own, SW_SHOW);
            }
        } else {
            if (!downloadPath_.empty())
                openDownloadedFile();
            render = true;
        }
    } else if (renderRequest_) {
        // The document is read again from the file; the user's zoom and
        // scroll positions stay, so the host gets what the viewer shows.
        if (!downloadPath_.empty())
            openDownloadedFile(true);
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

void RAVOVavIrezCtrl::onClientSiteChanged(IOleClientSite* site)
{
    // The container navigates through the control's site: without one (the
    // page let go of the control) it holds none either.
    if (!site) {
        container_.setClientSite(nullptr);
        return;
    }
    if (awaitingSite_) {
        // A relative src that came before the site: now there is a page.
        BSTR source = SysAllocStringLen(source_, SysStringLen(source_));
        if (source) {
            put_src(source);
            SysFreeString(source);
        }
    }
}

bool RAVOVavIrezCtrl::translateKey(const MSG& message)
{
    return container_.translateKey(message);
}

void RAVOVavIrezCtrl::onWindowDestroy()
{
    // The download stays until the control itself goes: a host that
    // deactivates the control and activates it again shows it once more.
    container_.destroyWindows();
}
