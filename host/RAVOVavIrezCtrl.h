#pragma once
// The ActiveX control RAVOVavIrezCtrl: the viewer in a windowed control. The
// host sets `src` (usually from the embedding page's parameters); the control
// downloads the document at once and synchronously into "<temp>\%ld.htf" and
// shows it in a ViewerContainer that takes over the control's window at its
// first paint. `SetTIFFFile` opens a local file in the viewer directly.
#include "ControlBase.h"
#include "ViewerContainer.h"
#include "rozerado_h.h"

#include <string>

class RAVOVavIrezCtrl final : public IRAVOVavIrezCtrl, public ControlBase {
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

    // The download file of this control: "<temp>\%ld.htf".
    std::string downloadFileName() const;
    const std::string& downloadPath() const { return downloadPath_; }

protected:
    void* queryControlInterface(REFIID iid) override;
    IDispatch* dispatchInterface() override { return static_cast<IRAVOVavIrezCtrl*>(this); }
    const PersistedProperty* persistedProperties(size_t& count) const override;
    HRESULT onDraw(ControlDrawInfo& info) override;
    HRESULT onHostDraw(ControlDrawInfo& info) override;
    void onWindowDestroy() override;
    bool translateKey(const MSG& message) override;

private:
    RAVOVavIrezCtrl();
    ~RAVOVavIrezCtrl() override;

    // Copies the opened download stream into the download file.
    void saveDownload(IStream* stream);
    void openDownloadedFile();

    ViewerContainer container_;
    BSTR source_ = nullptr;        // null until src is first set
    std::string downloadPath_;     // empty until the first successful download
    bool renderRequest_ = false;   // a host asked to draw into its own device context
};
