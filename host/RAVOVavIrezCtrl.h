#pragma once
// The ActiveX control RAVOVavIrezCtrl: the viewer in a windowed control. The
// host sets `src` (usually from the embedding page's parameters); the control
// resolves it against the page, checks what it may load, downloads the
// document at once and synchronously into a temporary file of its own
// ("<temp>\<identity><counter>.htf") and shows it in a ViewerContainer that
// takes over the control's window at its first paint. `SetTIFFFile` opens a
// local file in the viewer directly.
//
// IRAVOVavIrezCtrl2 is the page API (the viewer's ViewerPage in automation's
// conventions): the hotspots, the view, ZoomToHotspot, Highlight, Command and
// this control's Template and Frame. The viewer's page events go out through
// the connection point as the events of _IRAVOVavIrezCtrlEvents.
#include "ControlBase.h"
#include "ViewerContainer.h"
#include "rozerado_h.h"

#include <string>

class RAVOVavIrezCtrl final : public IRAVOVavIrezCtrl2,
                              public ControlBase,
                              public ISupportErrorInfo,
                              private HostAnchor,
                              private PageEvents {
public:
    // The class object's CreateInstance: a new control asked for `iid`.
    static HRESULT create(REFIID iid, void** result);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ControlBase::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return ControlBase::Release(); }

    // IDispatch, from the type library
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // IRAVOVavIrezCtrl: every member returns S_OK.
    HRESULT STDMETHODCALLTYPE SetTIFFFile(BSTR fileName) override;
    HRESULT STDMETHODCALLTYPE get_src(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_src(BSTR value) override;

    // IRAVOVavIrezCtrl2. Command fails with E_INVALIDARG and a description
    // for a name it does not know; Template and Frame with E_INVALIDARG for
    // text the ANSI code page cannot spell exactly.
    HRESULT STDMETHODCALLTYPE get_Hotspots(IRAVOVavIrezHotspots** hotspots) override;
    HRESULT STDMETHODCALLTYPE get_View(IRAVOVavIrezView** view) override;
    HRESULT STDMETHODCALLTYPE ZoomToHotspot(BSTR ref, VARIANT_BOOL* found) override;
    HRESULT STDMETHODCALLTYPE Highlight(BSTR ref) override;
    HRESULT STDMETHODCALLTYPE Command(BSTR name) override;
    HRESULT STDMETHODCALLTYPE get_Template(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Template(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_Frame(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Frame(BSTR value) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

    const std::string& downloadPath() const { return downloadPath_; }

protected:
    void* queryControlInterface(REFIID iid) override;
    IDispatch* dispatchInterface() override { return static_cast<IRAVOVavIrezCtrl2*>(this); }
    const PersistedProperty* persistedProperties(size_t& count) const override;
    HRESULT onDraw(ControlDrawInfo& info) override;
    HRESULT onHostDraw(ControlDrawInfo& info) override;
    void onWindowDestroy() override;
    void onClientSiteChanged(IOleClientSite* site) override;
    bool translateKey(const MSG& message) override;

private:
    // The viewer's windows hold the control while they handle a message.
    void holdHost() override { holdSelf(); }
    void releaseHost() override { releaseSelf(); }
    bool hostClosing() const override { return detached() || abandoned(); }

    // The viewer's page events as the control's events.
    void pageLoaded() override;
    void pageError(const std::u16string& message) override;
    void hotspotEntered(const PageHotspot& hotspot) override;
    void hotspotLeft(const PageHotspot& hotspot) override;
    void viewChanged() override;
    bool navigating(const PageNavigation& navigation) override;
    // Template and Frame: the text, narrowed for the viewer.
    HRESULT putOverride(BSTR value, std::wstring& stored);
    static HRESULT getText(const std::wstring& text, BSTR* value);

    RAVOVavIrezCtrl();
    ~RAVOVavIrezCtrl() override;

    enum class Download { Saved, NotOpened, Refused };
    enum class Source { Load, Refuse, AwaitSite };
    // The address that `src` leads to, resolved against the page, and
    // whether this control may load it there. A relative src before the
    // client site waits for the site.
    Source sourceAddress(std::wstring& address);
    // Copies the opened download stream into a new download file.
    Download saveDownload(IStream* stream);
    // Shows the download (keepView: read again, keeping zoom and scroll).
    void openDownloadedFile(bool keepView = false);
    // Deletes the download file if this control still holds it.
    void deleteDownload();

    ViewerContainer container_;
    BSTR source_ = nullptr;        // null until src is first set
    std::wstring template_;        // this control's URL template (empty: the settings file's)
    std::wstring frame_;           // this control's target frame (empty: the settings file's)
    std::string downloadPath_;     // empty until the first successful download
    bool ownsDownload_ = false;    // the file at downloadPath_ is this control's and not yet deleted
    bool awaitingSite_ = false;    // src is relative and came before the client site
    bool renderRequest_ = false;   // a host asked to draw into its own device context
    uint32_t sourceGeneration_ = 0; // counts the src values set, to notice one set during a download
};
