#pragma once
// What a screen reader finds in the viewer window (Microsoft Active
// Accessibility): the view's client area as a graphic named after the
// document, whose children are the hotspots in Tab order as links with their
// tooltip text as name and their URL as value. The view makes one at a
// reader's first WM_GETOBJECT and disconnects it when it goes; a reader may
// keep the object longer, and every method then answers
// CO_E_OBJNOTCONNECTED. The object never keeps the view alive.
#include <windows.h>
#include <oleacc.h>

class TiffView;

class ViewAccessible final : public IAccessible {
public:
    explicit ViewAccessible(TiffView* view);
    ViewAccessible(const ViewAccessible&) = delete;
    ViewAccessible& operator=(const ViewAccessible&) = delete;

    // The view is going: from now on every method answers CO_E_OBJNOTCONNECTED.
    void disconnect() { view_ = nullptr; }
    // Objects of this kind still alive in the process (a reader may hold
    // them after their view is gone); the module must stay loaded for them.
    static LONG liveObjects();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch: no type information; readers use the IAccessible methods.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override;
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override;
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override;
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override;
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override;
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override;
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override;
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override;

private:
    ~ViewAccessible();

    // The properties a reader asks of the view and of its links, answered
    // from one table (ViewAccessible.cpp) after the checks they share.
    enum class Property { Name, Value, Description, Role, State, DefaultAction, Help, KeyboardShortcut };
    struct PropertyRow;
    static const PropertyRow kProperties[];
    HRESULT property(Property which, const VARIANT& child, VARIANT* out) const;
    HRESULT textProperty(Property which, const VARIANT& child, BSTR* text) const;
    HRESULT variantProperty(Property which, const VARIANT& child, VARIANT* out) const;
    // The answers of the table's rows, for the view and for link `index`.
    HRESULT nothing(VARIANT* out) const;
    HRESULT nothingOfLink(size_t index, VARIANT* out) const;
    HRESULT notFound(VARIANT* out) const;
    HRESULT documentName(VARIANT* out) const;
    HRESULT linkName(size_t index, VARIANT* out) const;
    HRESULT linkUrl(size_t index, VARIANT* out) const;
    HRESULT documentDescription(VARIANT* out) const;
    HRESULT documentRole(VARIANT* out) const;
    HRESULT linkRole(size_t index, VARIANT* out) const;
    HRESULT documentState(VARIANT* out) const;
    HRESULT linkState(size_t index, VARIANT* out) const;
    HRESULT linkAction(size_t index, VARIANT* out) const;

    // The child a VARIANT names: 0 for the view itself, 1..count for the
    // hotspots; -1 when it names nothing of this object.
    LONG childOf(const VARIANT& child) const;
    // S_OK with the child's id, CO_E_OBJNOTCONNECTED once the view is gone,
    // or E_INVALIDARG for a child that names nothing of this object.
    HRESULT checkChild(const VARIANT& child, LONG& id) const;
    LONG linkCount() const;
    RECT screenRect(LONG child) const;

    LONG references_ = 1;
    TiffView* view_;
};
