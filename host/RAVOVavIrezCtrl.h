#pragma once
// The ActiveX control RAVOVavIrezCtrl: the viewer in a windowed control. The
// host sets `src` (usually from the embedding page's parameters); the control
// resolves it against the page, checks what it may load, downloads the
// document at once and synchronously into a temporary file of its own
// ("<temp>\<identity><counter>.htf") and shows it in a ViewerContainer that
// takes over the control's window at its first paint. `SetTIFFFile` opens a
// local file in the viewer directly.
#include "ControlBase.h"
#include "ViewerContainer.h"
#include "rozerado_h.h"

#include <string>

class RAVOVavIrezCtrl final : public IRAVOVavIrezCtrl, public ControlBase, private HostAnchor {
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

    const std::string& downloadPath() const { return downloadPath_; }

protected:
    void* queryControlInterface(REFIID iid) override;
    IDispatch* dispatchInterface() override { return static_cast<IRAVOVavIrezCtrl*>(this); }
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
    std::string downloadPath_;     // empty until the first successful download
    bool ownsDownload_ = false;    // the file at downloadPath_ is this control's and not yet deleted
    bool awaitingSite_ = false;    // src is relative and came before the client site
    bool renderRequest_ = false;   // a host asked to draw into its own device context
    uint32_t sourceGeneration_ = 0; // counts the src values set, to notice one set during a download
};
