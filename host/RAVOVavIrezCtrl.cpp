#include "RAVOVavIrezCtrl.h"

#include "AddressPolicy.h"
#include "AnsiText.h"
#include "ComServer.h"
#include "DocumentTransfer.h"
#include "HotspotCollection.h"
#include "HotspotObject.h"
#include "PageAddress.h"
#include "PrivateTempFile.h"
#include "ViewInput.h"
#include "VisiblePart.h"

#include <urlmon.h>

#include <memory>
#include <new>
#include <string>

namespace {

const PersistedProperty kProperties[] = {
    {L"_cx", PersistedProperty::Kind::ExtentWidth, 0},
    {L"_cy", PersistedProperty::Kind::ExtentHeight, 0},
    {L"src", PersistedProperty::Kind::Dispatch, 2},
    // After src: the URL template and frame a document's hotspots use.
    {L"Template", PersistedProperty::Kind::Dispatch, 8, 0x0301},
    {L"Frame", PersistedProperty::Kind::Dispatch, 9, 0x0301},
};

// The events of _IRAVOVavIrezCtrlEvents.
enum EventId : DISPID {
    kLoadEvent = 1,
    kErrorEvent = 2,
    kHotspotEnterEvent = 3,
    kHotspotLeaveEvent = 4,
    kViewChangeEvent = 5,
    kNavigateEvent = 6,
};

VARIANT stringArgument(const std::u16string& text)
{
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = allocString(text);
    return value;
}

std::u16string textOf(BSTR text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text ? text : L""), SysStringLen(text));
}

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

RAVOVavIrezCtrl::RAVOVavIrezCtrl()
    : ControlBase(CLSID_RAVOVavIrezCtrl, IID_IRAVOVavIrezCtrl2, DIID__IRAVOVavIrezCtrlEvents)
{
    ComServer::lock();
    container_.setHostAnchor(this);
    container_.setPageEvents(this);
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
    if (IsEqualIID(iid, IID_IRAVOVavIrezCtrl2) || IsEqualIID(iid, IID_IRAVOVavIrezCtrl) ||
        IsEqualIID(iid, IID_IDispatch))
        return static_cast<IRAVOVavIrezCtrl2*>(this);
    if (IsEqualIID(iid, IID_ISupportErrorInfo))
        return static_cast<ISupportErrorInfo*>(this);
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
        const HRESULT opened = URLOpenBlockingStreamW(static_cast<IRAVOVavIrezCtrl2*>(this), address.c_str(),
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

// The page API

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::get_Hotspots(IRAVOVavIrezHotspots** hotspots)
{
    if (!hotspots)
        return E_POINTER;
    *hotspots = nullptr;
    try {
        *hotspots = HotspotCollection::create(
            std::make_shared<const std::vector<PageHotspot>>(container_.page().hotspots()));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return *hotspots ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::get_View(IRAVOVavIrezView** view)
{
    if (!view)
        return E_POINTER;
    *view = VisiblePart::create(container_.page().view());
    return *view ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::ZoomToHotspot(BSTR ref, VARIANT_BOOL* found)
{
    SelfReference self(this);
    const bool zoomed = container_.page().zoomToHotspot(textOf(ref));
    if (found)
        *found = zoomed ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::Highlight(BSTR ref)
{
    SelfReference self(this);
    container_.page().highlight(textOf(ref));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::Command(BSTR name)
{
    // Printing runs the print dialog, inside which the page may release
    // the control.
    SelfReference self(this);
    const std::u16string wide = textOf(name);
    std::string narrow;
    for (char16_t c : wide)
        narrow += c < 0x80 ? char(c) : '?';
    if (container_.page().command(narrow))
        return S_OK;
    const std::u16string text = ViewerPage::unknownCommandText(wide);
    return failWithDescription(E_INVALIDARG, IID_IRAVOVavIrezCtrl2, reinterpret_cast<const wchar_t*>(text.c_str()));
}

HRESULT RAVOVavIrezCtrl::getText(const std::wstring& text, BSTR* value)
{
    if (!value)
        return E_POINTER;
    *value = SysAllocStringLen(text.data(), UINT(text.size()));
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT RAVOVavIrezCtrl::putOverride(BSTR value, std::wstring& stored)
{
    const std::wstring text(value ? value : L"", SysStringLen(value));
    // The browser gets the URL in the ANSI code page: a character it lacks
    // would become a look-alike, another address.
    std::string narrow;
    if (!text.empty() && !toAnsiExactly(text.data(), text.size(), narrow))
        return failWithDescription(E_INVALIDARG, IID_IRAVOVavIrezCtrl2,
                                   L"The text holds characters the system's code page cannot spell");
    stored = text;
    std::string urlTemplate, frame;
    toAnsiExactly(template_.data(), template_.size(), urlTemplate);
    toAnsiExactly(frame_.data(), frame_.size(), frame);
    container_.setNavigationOverrides(urlTemplate, frame);
    setDirty(true);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::get_Template(BSTR* value)
{
    return getText(template_, value);
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::put_Template(BSTR value)
{
    return putOverride(value, template_);
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::get_Frame(BSTR* value)
{
    return getText(frame_, value);
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::put_Frame(BSTR value)
{
    return putOverride(value, frame_);
}

HRESULT STDMETHODCALLTYPE RAVOVavIrezCtrl::InterfaceSupportsErrorInfo(REFIID iid)
{
    return IsEqualIID(iid, IID_IRAVOVavIrezCtrl2) ? S_OK : S_FALSE;
}

// Events: each may run the page's script, which may release or close the
// control; the viewer holds the control while it reports.

void RAVOVavIrezCtrl::pageLoaded()
{
    fireEvent(kLoadEvent, nullptr, 0);
}

void RAVOVavIrezCtrl::pageError(const std::u16string& message)
{
    VARIANT argument = stringArgument(message);
    fireEvent(kErrorEvent, &argument, 1);
    VariantClear(&argument);
}

void RAVOVavIrezCtrl::hotspotEntered(const PageHotspot& hotspot)
{
    VARIANT arguments[] = {stringArgument(hotspot.text), stringArgument(ViewerPage::fromAnsi(hotspot.ref))};
    fireEvent(kHotspotEnterEvent, arguments, 2);
    for (VARIANT& argument : arguments)
        VariantClear(&argument);
}

void RAVOVavIrezCtrl::hotspotLeft(const PageHotspot& hotspot)
{
    VARIANT argument = stringArgument(ViewerPage::fromAnsi(hotspot.ref));
    fireEvent(kHotspotLeaveEvent, &argument, 1);
    VariantClear(&argument);
}

void RAVOVavIrezCtrl::viewChanged()
{
    fireEvent(kViewChangeEvent, nullptr, 0);
}

bool RAVOVavIrezCtrl::navigating(const PageNavigation& navigation)
{
    // As the browser's own BeforeNavigate2: a handler sets *cancel to true.
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT arguments[5];
    VariantInit(&arguments[0]);
    arguments[0].vt = VT_BOOL | VT_BYREF;
    arguments[0].pboolVal = &cancel;
    arguments[1] = stringArgument(navigation.text);
    arguments[2] = stringArgument(ViewerPage::fromAnsi(navigation.ref));
    arguments[3] = stringArgument(ViewerPage::fromAnsi(navigation.frame));
    arguments[4] = stringArgument(ViewerPage::fromAnsi(navigation.url));
    fireEvent(kNavigateEvent, arguments, 5);
    for (int i = 1; i < 5; ++i)
        VariantClear(&arguments[i]);
    return cancel == VARIANT_FALSE;
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
