#pragma once
// The standard interfaces of a windowed ActiveX control, written out by hand
// because MinGW has no ATL: embedding (IOleObject), in-place activation
// (IOleInPlaceObjectWindowless, IOleInPlaceActiveObject, IOleWindow),
// IOleControl, view-object drawing (IViewObjectEx), persistence of a
// property list through streams, storages and property bags, IDataObject
// (metafile rendering), IQuickActivate, one connection point for the event
// interface, IProvideClassInfo2, ISpecifyPropertyPages (no pages),
// IObjectSafety (safe for initialisation only) and IDispatch driven by the
// type library. Each answers as the usual ATL control framework does.
//
// A derived control supplies its automation interface, its persisted
// properties and its drawing. The members are spread over files by concern:
// ControlBase.cpp (identity, IOleObject, IOleControl), ControlBaseInPlace.cpp
// (window and in-place activation), ControlBaseView.cpp (drawing,
// IViewObjectEx, IDataObject), ControlBasePersist.cpp (the three persistence
// interfaces and IQuickActivate) and ControlBaseInfo.cpp (type information,
// IDispatch, class info, property pages, object safety).
#include "ConnectionPoint.h"

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>
#include <ole2.h>

// One request to draw the control: the window's own paint or a host's
// IViewObject::Draw (bounds in the host's device context).
struct ControlDrawInfo {
    DWORD aspect = DVASPECT_CONTENT;
    LONG index = -1;
    DVTARGETDEVICE* targetDevice = nullptr;
    HDC targetInformation = nullptr;
    HDC dc = nullptr;
    RECT bounds = {};
    const RECTL* windowBounds = nullptr;
    bool optimize = false;
};

// One property saved and loaded by the persistence interfaces, in list order.
struct PersistedProperty {
    enum class Kind { ExtentWidth, ExtentHeight, Dispatch };
    const wchar_t* name;
    Kind kind;
    DISPID dispid;   // Dispatch: read and written through IDispatch
    // The stream format version that first stored it (such properties come
    // after all older ones): a stream of an older version ends before it,
    // and loading keeps its value.
    DWORD since = 0;
};

class ControlBase : public IViewObjectEx,
                    public IOleInPlaceObjectWindowless,
                    public IOleInPlaceActiveObject,
                    public IOleControl,
                    public IOleObject,
                    public IPersistStreamInit,
                    public IConnectionPointContainer,
                    public ISpecifyPropertyPages,
                    public IQuickActivate,
                    public IPersistStorage,
                    public IDataObject,
                    public IProvideClassInfo2,
                    public IObjectSafety,
                    public IPersistPropertyBag {
public:
    static constexpr LONG kDefaultExtent = 5080;   // 0.01 mm: two inches

    ControlBase(const CLSID& clsid, const IID& dispatchIid, const IID& eventsIid);
    virtual ~ControlBase();
    ControlBase(const ControlBase&) = delete;
    ControlBase& operator=(const ControlBase&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override;
    HRESULT STDMETHODCALLTYPE Close(DWORD saveOption) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override;
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT posRect) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
    HRESULT STDMETHODCALLTYPE Update() override;
    HRESULT STDMETHODCALLTYPE IsUpToDate() override;
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* userType) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override;

    // IOleControl
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO*) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG*) override;
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID) override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL) override;

    // IOleWindow, IOleInPlaceObject(Windowless), IOleInPlaceActiveObject
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override;
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT posRect, LPCRECT clipRect) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;
    HRESULT STDMETHODCALLTYPE OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) override;
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget**) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override;

    // IViewObject, IViewObject2, IViewObjectEx
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* targetDevice,
                                   HDC targetInformation, HDC dc, LPCRECTL bounds, LPCRECTL windowBounds,
                                   BOOL(STDMETHODCALLTYPE* proceed)(ULONG_PTR), ULONG_PTR) override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override;
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override;
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE*, LPSIZEL size) override;
    HRESULT STDMETHODCALLTYPE GetRect(DWORD aspect, LPRECTL rect) override;
    HRESULT STDMETHODCALLTYPE GetViewStatus(DWORD* status) override;
    HRESULT STDMETHODCALLTYPE QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG,
                                            DWORD* result) override;
    HRESULT STDMETHODCALLTYPE QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG,
                                           DWORD* result) override;
    HRESULT STDMETHODCALLTYPE GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO* info,
                                               LPSIZEL size) override;

    // IDataObject
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override;
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC*) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override;
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** advise) override;

    // IPersist, IPersistStreamInit, IPersistStorage, IPersistPropertyBag
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE InitNew(IStorage* storage) override;
    HRESULT STDMETHODCALLTYPE Load(IStorage* storage) override;
    HRESULT STDMETHODCALLTYPE Save(IStorage* storage, BOOL sameAsLoad) override;
    HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage*) override;
    HRESULT STDMETHODCALLTYPE HandsOffStorage() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // IQuickActivate
    HRESULT STDMETHODCALLTYPE QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    HRESULT STDMETHODCALLTYPE SetContentExtent(LPSIZEL size) override;
    HRESULT STDMETHODCALLTYPE GetContentExtent(LPSIZEL size) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // IObjectSafety
    HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
    HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;

    HWND window() const { return window_; }
    IOleClientSite* clientSite() const { return clientSite_; }
    // True from SetClientSite(NULL) or Close until a site is set again: the
    // page has let go of the control.
    bool detached() const { return detached_; }
    SIZEL extent() const { return extent_; }
    bool inPlaceActive() const { return inPlaceActive_; }
    // The host declared the data it gives (the page's parameters) untrusted
    // through IObjectSafety, as browsers do for every page.
    bool untrustedData() const { return (safety_ & INTERFACESAFE_FOR_UNTRUSTED_DATA) != 0; }

protected:
    // A reference the control holds on itself for one call that may run a
    // message loop or call out to its site or the browser: whatever the page
    // releases meanwhile, the object stays whole until the call returns.
    class SelfReference {
    public:
        explicit SelfReference(ControlBase* control) : control_(control) { control_->holdSelf(); }
        ~SelfReference() { control_->releaseSelf(); }
        SelfReference(const SelfReference&) = delete;
        SelfReference& operator=(const SelfReference&) = delete;

    private:
        ControlBase* control_;
    };

    // Takes and drops a reference for a running call; the control is
    // abandoned while only such references keep it.
    void holdSelf()
    {
        ++selfHolds_;
        AddRef();
    }
    void releaseSelf()
    {
        --selfHolds_;
        Release();
    }
    // No reference from outside is left (the page dropped its last one while
    // a call into the control was still running): it is going.
    bool abandoned() const { return references_ <= selfHolds_; }

    // The host set another client site (null: the page let go of the control).
    virtual void onClientSiteChanged(IOleClientSite*) {}

    // The derived control's own interfaces (its automation interface and
    // IDispatch), asked first in QueryInterface; null for others.
    virtual void* queryControlInterface(REFIID iid) = 0;
    // The derived control's IDispatch (its dual automation interface).
    virtual IDispatch* dispatchInterface() = 0;
    virtual const PersistedProperty* persistedProperties(size_t& count) const = 0;

    // Paint of the control's window: the framework's drawing step.
    virtual HRESULT onDraw(ControlDrawInfo& info) = 0;
    // A host's request to draw into its own device context, validated.
    virtual HRESULT onHostDraw(ControlDrawInfo& info) { return onDraw(info); }
    // The control's window receives WM_DESTROY.
    virtual void onWindowDestroy() {}
    // A keyboard message that the container offers before it dispatches it
    // (IOleInPlaceActiveObject::TranslateAccelerator): true when the control
    // used it; false hands it back to the container.
    virtual bool translateKey(const MSG&) { return false; }

    // A window inside the control took the keyboard focus: the control
    // becomes UI-active, as when its own window takes it. Calls the site.
    void activateForKeyboard();

    // IDispatch for the derived control, from the type library.
    HRESULT dispatchGetTypeInfoCount(UINT* count);
    HRESULT dispatchGetTypeInfo(UINT index, LCID, ITypeInfo** info);
    HRESULT dispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids);
    HRESULT dispatchInvoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* exception, UINT* argumentError);

    void setDirty(bool dirty) { dirty_ = dirty; }

    // Calls method `id` of every connected event sink, the arguments in
    // DISPPARAMS order (last first). The control is held meanwhile; once a
    // handler lets go of the control or closes it, the remaining sinks are
    // not called. Whatever a sink returns is ignored.
    void fireEvent(DISPID id, VARIANT* arguments, UINT count);

private:
    friend class ControlWindowProcedure;

    // In-place activation (ControlBaseInPlace.cpp).
    HRESULT inPlaceActivate(LONG verb);
    HWND createControlWindow(HWND parent, const RECT& position);
    LRESULT onWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void onPaint();
    void releaseInPlaceSite();

    // Type information (ControlBaseInfo.cpp).
    HRESULT typeInfoOf(const GUID& guid, ITypeInfo** info);
    // Runs `call` with the dispatch interface's type information; only
    // IID_NULL names it.
    template <typename Call>
    HRESULT withDispatchTypeInfo(REFIID iid, LCID locale, Call call);

    // Property transfer through IDispatch (ControlBasePersist.cpp).
    HRESULT getDispatchProperty(DISPID id, VARIANT* value);
    HRESULT putDispatchProperty(DISPID id, VARIANT* value);
    // Calls `each(property, value)` for every persisted property with an
    // empty VARIANT, cleared afterwards; stops at the first failure.
    template <typename Each>
    HRESULT eachPersistedProperty(Each each);

    // The OLE and data advise holders answer alike once they exist.
    template <typename Holder>
    static HRESULT unadviseFrom(Holder* holder, DWORD connection)
    {
        return holder ? holder->Unadvise(connection) : OLE_E_NOCONNECTION;
    }
    template <typename Holder>
    static HRESULT enumAdviseOf(Holder* holder, IEnumSTATDATA** advise)
    {
        if (!advise)
            return E_POINTER;
        *advise = nullptr;
        return holder ? holder->EnumAdvise(advise) : E_FAIL;
    }

    LONG references_ = 1;
    const CLSID clsid_;
    const IID dispatchIid_;
    ConnectionPoint events_;

    IOleClientSite* clientSite_ = nullptr;
    IOleInPlaceSite* inPlaceSite_ = nullptr;
    IAdviseSink* viewAdviseSink_ = nullptr;
    DWORD viewAdviseAspects_ = 0;
    DWORD viewAdviseFlags_ = 0;
    IOleAdviseHolder* oleAdviseHolder_ = nullptr;
    IDataAdviseHolder* dataAdviseHolder_ = nullptr;
    ITypeLib* typeLibrary_ = nullptr;
    ITypeInfo* dispatchTypeInfo_ = nullptr;

    HWND window_ = nullptr;
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    RECT position_ = {};
    SIZEL extent_ = {kDefaultExtent, kDefaultExtent};
    SIZEL naturalExtent_ = {kDefaultExtent, kDefaultExtent};
    bool dirty_ = false;
    DWORD safety_ = 0;
    bool detached_ = false;
    LONG selfHolds_ = 0;
};
