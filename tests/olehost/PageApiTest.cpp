// The control's page API in the stand-in container, as a page's script uses
// it: the members of its default interface by name through IDispatch, the
// hotspot collection and its enumerator, the view, ZoomToHotspot, Highlight
// and Command, each event with its arguments through the connection point
// (Navigate cancelled and not), and Template and Frame from the page's
// parameters, persisted and read back. Also a VBScript through Windows Script
// Host that walks the hotspots with For Each and handles the events.
#include "ComModule.h"
#include "ControlEvents.h"
#include "DialogWatcher.h"
#include "OleHost.h"
#include "SampleDocument.h"
#include "StandInBrowser.h"
#include "TempDir.h"
#include "TiffFixture.h"
#include "WindowCapture.h"

#include "rozerado_h.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int kWidth = 500;
constexpr int kHeight = 440;   // the toolbar band takes the top 40 pixels
constexpr unsigned kOutline = 0x008080;   // the default outline colour (0, 128, 128)

std::string besideProgram(const std::string& name)
{
    char own[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, own, MAX_PATH);
    std::string dir = own;
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

// IDispatch by name, as scripts call.
DISPID idOf(IDispatch* object, const wchar_t* name)
{
    LPOLESTR names = const_cast<LPOLESTR>(name);
    DISPID id = DISPID_UNKNOWN;
    return SUCCEEDED(object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id)) ? id : DISPID_UNKNOWN;
}

struct Call {
    HRESULT hr = E_FAIL;
    VARIANT result;
    EXCEPINFO exception = {};
    Call() { VariantInit(&result); }
    ~Call()
    {
        VariantClear(&result);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);
    }
    std::wstring text() const { return result.vt == VT_BSTR && result.bstrVal ? result.bstrVal : L""; }
    double number() const
    {
        VARIANT copy;
        VariantInit(&copy);
        double value = NAN;
        if (SUCCEEDED(VariantChangeType(&copy, const_cast<VARIANT*>(&result), 0, VT_R8)))
            value = copy.dblVal;
        VariantClear(&copy);
        return value;
    }
    IDispatch* object() const { return result.vt == VT_DISPATCH ? result.pdispVal : nullptr; }
};

// Invokes `name` with string arguments (a property get without any).
void invoke(Call& call, IDispatch* object, const wchar_t* name, WORD flags,
            std::initializer_list<const wchar_t*> arguments = {})
{
    std::vector<VARIANT> values;
    for (const wchar_t* argument : arguments) {
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocString(argument);
        values.insert(values.begin(), value);   // last first
    }
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {values.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr, UINT(values.size()),
                         flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    call.hr = object->Invoke(idOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &call.result,
                             &call.exception, nullptr);
    for (VARIANT& value : values)
        VariantClear(&value);
}

std::wstring property(IDispatch* object, const wchar_t* name)
{
    Call call;
    invoke(call, object, name, DISPATCH_PROPERTYGET);
    if (FAILED(call.hr))
        return L"<failed>";
    if (call.result.vt == VT_BSTR)
        return call.text();
    return std::to_wstring(std::lround(call.number()));
}

// Moves the pointer to a client point of the viewer as a user does.
void pointAt(HWND viewer, POINT p)
{
    POINT screen = p;
    ClientToScreen(viewer, &screen);
    SetCursorPos(screen.x, screen.y);
    SendMessageA(viewer, WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
    pumpMessages();
}

void clickAt(HWND viewer, POINT p)
{
    pointAt(viewer, p);
    SendMessageA(viewer, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    SendMessageA(viewer, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    pumpMessages();
}

class PageApi : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        document = new ScopedFile(uniqueTempPath(".htf"));
        writePageApiDocument(document->path());
    }
    static void TearDownTestSuite() { delete document; }
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_TRUE(fileExists(document->path()));
    }
    void TearDown() override
    {
        events.disconnect();
        if (page)
            page->Release();
        page = nullptr;
        OleUninitialize();
    }

    // The control in place with the document, its events connected before
    // the page's parameters load (as a browser connects them), shown at 1:1.
    void embed(OleHost& host, bool actualSize = true)
    {
        host.setPage(L"http://www.example.com/plans/page.htm");
        host.parameters().set(L"src", toFileUrl(document->path()));
        ASSERT_EQ(host.createFromModule(besideProgram("ROZERADO.DLL"), CLSID_RAVOVavIrezCtrl), S_OK);
        ASSERT_EQ(events.connect(host.control()), S_OK);
        ASSERT_EQ(host.control()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&page)), S_OK);
        ASSERT_EQ(host.embed(), S_OK);
        pumpMessages();
        viewer = host.viewerWindow();
        ASSERT_NE(viewer, nullptr);
        if (actualSize) {
            Call call;
            invoke(call, page, L"Command", DISPATCH_METHOD, {L"actual-size"});
            ASSERT_EQ(call.hr, S_OK);
            pumpMessages();
        }
    }

    // A point of the image in the viewer's client area at 1:1 (centred).
    POINT imagePoint(int x, int y) const
    {
        RECT client = {};
        GetClientRect(viewer, &client);
        return {(client.right - 400) / 2 + x, (client.bottom - 300) / 2 + y};
    }

    static ScopedFile* document;
    ControlEvents events;
    IDispatch* page = nullptr;
    HWND viewer = nullptr;
};

ScopedFile* PageApi::document = nullptr;

TEST_F(PageApi, MembersBindByNameAndTheFirstInterfaceKeepsItsIds)
{
    OleHost host(kWidth, kHeight);
    embed(host);
    struct Name {
        const wchar_t* name;
        DISPID id;
    } names[] = {{L"SetTIFFFile", 1}, {L"src", 2},       {L"Hotspots", 3},  {L"View", 4},  {L"ZoomToHotspot", 5},
                 {L"Highlight", 6},   {L"Command", 7},   {L"Template", 8},  {L"Frame", 9}, {L"hotspots", 3}};
    for (const Name& n : names) {
        SCOPED_TRACE(std::string(n.name, n.name + wcslen(n.name)));
        EXPECT_EQ(idOf(page, n.name), n.id);
    }
    // The default interface of the class in the type library is the new one.
    IProvideClassInfo* info = nullptr;
    ASSERT_EQ(host.control()->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&info)), S_OK);
    ITypeInfo* classInfo = nullptr;
    ASSERT_EQ(info->GetClassInfo(&classInfo), S_OK);
    info->Release();
    bool defaultFound = false;
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(classInfo->GetTypeAttr(&attributes), S_OK);
    for (UINT i = 0; i < attributes->cImplTypes; ++i) {
        INT flags = 0;
        HREFTYPE reference = 0;
        ITypeInfo* implemented = nullptr;
        if (FAILED(classInfo->GetImplTypeFlags(i, &flags)) || (flags & IMPLTYPEFLAG_FSOURCE) ||
            !(flags & IMPLTYPEFLAG_FDEFAULT) || FAILED(classInfo->GetRefTypeOfImplType(i, &reference)) ||
            FAILED(classInfo->GetRefTypeInfo(reference, &implemented)))
            continue;
        TYPEATTR* implementedAttributes = nullptr;
        if (SUCCEEDED(implemented->GetTypeAttr(&implementedAttributes))) {
            defaultFound = IsEqualGUID(implementedAttributes->guid, IID_IRAVOVavIrezCtrl2);
            implemented->ReleaseTypeAttr(implementedAttributes);
        }
        implemented->Release();
    }
    classInfo->ReleaseTypeAttr(attributes);
    classInfo->Release();
    EXPECT_TRUE(defaultFound);
    // Compiled callers of the first interface still find it.
    IRAVOVavIrezCtrl* first = nullptr;
    ASSERT_EQ(host.control()->QueryInterface(IID_IRAVOVavIrezCtrl, reinterpret_cast<void**>(&first)), S_OK);
    BSTR source = nullptr;
    EXPECT_EQ(first->get_src(&source), S_OK);
    EXPECT_EQ(std::wstring(source ? source : L""), toFileUrl(document->path()));
    SysFreeString(source);
    first->Release();
}

TEST_F(PageApi, HotspotsAreCountedIndexedAndEnumeratedInDocumentOrder)
{
    OleHost host(kWidth, kHeight);
    embed(host);
    const std::vector<std::vector<std::wstring>> expected = {
        {L"815", L"Town hall", L"20", L"20", L"100", L"60"},
        {L"816", L"Library", L"250", L"150", L"50", L"100"},
        {L"816", L"Library annexe", L"200", L"220", L"40", L"40"},
    };
    const wchar_t* fields[] = {L"Ref", L"Text", L"X", L"Y", L"Width", L"Height"};
    Call hotspots;
    invoke(hotspots, page, L"Hotspots", DISPATCH_PROPERTYGET);
    ASSERT_EQ(hotspots.hr, S_OK);
    ASSERT_NE(hotspots.object(), nullptr);
    EXPECT_EQ(property(hotspots.object(), L"Count"), L"3");

    auto fieldsOf = [&](IDispatch* item) {
        std::vector<std::wstring> values;
        for (const wchar_t* field : fields)
            values.push_back(property(item, field));
        return values;
    };
    // Item(i), the default member.
    for (size_t i = 0; i < expected.size(); ++i) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = LONG(i);
        DISPPARAMS params = {&index, nullptr, 1, 0};
        Call item;
        item.hr = hotspots.object()->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD,
                                            &params, &item.result, &item.exception, nullptr);
        ASSERT_EQ(item.hr, S_OK) << i;
        ASSERT_NE(item.object(), nullptr);
        EXPECT_EQ(fieldsOf(item.object()), expected[i]) << i;
    }
    // An index past the end is an error the script sees.
    for (LONG bad : {-1L, 3L}) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = bad;
        DISPPARAMS params = {&index, nullptr, 1, 0};
        Call item;
        item.hr = hotspots.object()->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, &item.result,
                                            &item.exception, nullptr);
        EXPECT_TRUE(FAILED(item.hr)) << bad;
    }
    // For Each: _NewEnum's enumerator hands out the same items, one call at a
    // time and several at once, and its clone goes on from where it was.
    Call newEnum;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    newEnum.hr = hotspots.object()->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &newEnum.result,
                                           nullptr, nullptr);
    ASSERT_EQ(newEnum.hr, S_OK);
    ASSERT_EQ(newEnum.result.vt, VT_UNKNOWN);
    IEnumVARIANT* enumerator = nullptr;
    ASSERT_EQ(newEnum.result.punkVal->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&enumerator)), S_OK);
    VARIANT first;
    VariantInit(&first);
    ULONG fetched = 0;
    ASSERT_EQ(enumerator->Next(1, &first, &fetched), S_OK);
    ASSERT_EQ(first.vt, VT_DISPATCH);
    EXPECT_EQ(fieldsOf(first.pdispVal), expected[0]);
    VariantClear(&first);
    IEnumVARIANT* clone = nullptr;
    ASSERT_EQ(enumerator->Clone(&clone), S_OK);
    VARIANT rest[3];
    for (VARIANT& v : rest)
        VariantInit(&v);
    EXPECT_EQ(clone->Next(3, rest, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(fieldsOf(rest[0].pdispVal), expected[1]);
    EXPECT_EQ(fieldsOf(rest[1].pdispVal), expected[2]);
    for (VARIANT& v : rest)
        VariantClear(&v);
    EXPECT_EQ(clone->Skip(1), S_FALSE);
    clone->Release();
    EXPECT_EQ(enumerator->Skip(2), S_OK);
    EXPECT_EQ(enumerator->Next(1, &first, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(enumerator->Reset(), S_OK);
    EXPECT_EQ(enumerator->Next(1, &first, &fetched), S_OK);
    VariantClear(&first);
    enumerator->Release();

    // The collection is the page's copy: it outlives the control.
    host.close();
    EXPECT_EQ(property(hotspots.object(), L"Count"), L"3");
}

TEST_F(PageApi, ViewZoomToHotspotHighlightAndCommand)
{
    OleHost host(kWidth, kHeight);
    embed(host);
    Call view;
    invoke(view, page, L"View", DISPATCH_PROPERTYGET);
    ASSERT_NE(view.object(), nullptr);
    // At 1:1 the whole image shows.
    EXPECT_EQ(property(view.object(), L"Scale"), L"1");
    EXPECT_EQ(property(view.object(), L"X"), L"0");
    EXPECT_EQ(property(view.object(), L"Width"), L"400");
    EXPECT_EQ(property(view.object(), L"Height"), L"300");

    // ZoomToHotspot: the hotspot fills most of the view, centred in it.
    struct Zoom {
        const wchar_t* ref;
        bool found;
    } zooms[] = {{L"815", true}, {L"816", true}, {L"none", false}, {L"", false}};
    for (const Zoom& z : zooms) {
        SCOPED_TRACE(std::string(z.ref, z.ref + wcslen(z.ref)));
        Call call;
        invoke(call, page, L"ZoomToHotspot", DISPATCH_METHOD, {z.ref});
        ASSERT_EQ(call.hr, S_OK);
        ASSERT_EQ(call.result.vt, VT_BOOL);
        EXPECT_EQ(call.result.boolVal != VARIANT_FALSE, z.found);
    }
    // The last found one is "816" (250, 150, 50 x 100): zoomed in, its middle
    // in the middle of the view.
    Call zoomed;
    invoke(zoomed, page, L"View", DISPATCH_PROPERTYGET);
    ASSERT_NE(zoomed.object(), nullptr);
    auto value = [&](const wchar_t* name) {
        Call c;
        invoke(c, zoomed.object(), name, DISPATCH_PROPERTYGET);
        return c.number();
    };
    EXPECT_GT(value(L"Scale"), 1.5);
    EXPECT_LE(100 * value(L"Scale"), 0.8 * value(L"Height") * value(L"Scale") + 1);
    EXPECT_NEAR(value(L"X") + value(L"Width") / 2, 275, 2);
    EXPECT_NEAR(value(L"Y") + value(L"Height") / 2, 200, 2);

    // Highlight outlines both hotspots of "816", an empty reference clears.
    Call actual;
    invoke(actual, page, L"Command", DISPATCH_METHOD, {L"actual-size"});
    pumpMessages();
    auto outlineAt = [&](int x, int y) {
        const Capture shown = captureClient(viewer);
        const POINT p = imagePoint(x, y);
        return shown.pixels[size_t(p.y) * size_t(shown.width) + size_t(p.x)] == kOutline;
    };
    EXPECT_FALSE(outlineAt(250, 175));
    Call highlight;
    invoke(highlight, page, L"Highlight", DISPATCH_METHOD, {L"816"});
    ASSERT_EQ(highlight.hr, S_OK);
    pumpMessages();
    EXPECT_TRUE(outlineAt(250, 175));   // the left edge of the first
    EXPECT_TRUE(outlineAt(200, 240));   // and of the second
    EXPECT_FALSE(outlineAt(20, 50));    // not "815"
    Call clear;
    invoke(clear, page, L"Highlight", DISPATCH_METHOD, {L""});
    pumpMessages();
    EXPECT_FALSE(outlineAt(250, 175));
    EXPECT_FALSE(outlineAt(200, 240));

    // Commands by the element's names (the zoom steps are the toolbar's:
    // 0.05 up to 1:1, 0.1 above it); an unknown one is an error with a description.
    auto scale = [&] {
        Call now;
        invoke(now, page, L"View", DISPATCH_PROPERTYGET);
        Call value;
        if (now.object())
            invoke(value, now.object(), L"Scale", DISPATCH_PROPERTYGET);
        return value.number();
    };
    struct Command {
        const wchar_t* name;
        double scale;   // after it (0: not checked)
    } commands[] = {{L"zoom-in", 1.05}, {L"zoom-out", 0.95}, {L"actual-size", 1}, {L"fit-window", 0},
                    {L"pan", 0},        {L"pointer", 0},     {L"lens", 0},        {L"magnifier", 0}};
    for (const Command& c : commands) {
        SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
        Call call;
        invoke(call, page, L"Command", DISPATCH_METHOD, {c.name});
        EXPECT_EQ(call.hr, S_OK);
        if (c.scale > 0) {
            EXPECT_NEAR(scale(), c.scale, 0.001);
        }
    }
    Call unknown;
    invoke(unknown, page, L"Command", DISPATCH_METHOD, {L"zoom-sideways"});
    EXPECT_EQ(unknown.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(unknown.exception.scode, E_INVALIDARG);
    ASSERT_NE(unknown.exception.bstrDescription, nullptr);
    const std::wstring description = unknown.exception.bstrDescription;
    EXPECT_NE(description.find(L"zoom-sideways"), std::wstring::npos) << std::string(description.begin(), description.end());
    EXPECT_NE(description.find(L"fit-window"), std::wstring::npos);
    // Through the interface itself: the error code.
    IRAVOVavIrezCtrl2* control = nullptr;
    ASSERT_EQ(host.control()->QueryInterface(IID_IRAVOVavIrezCtrl2, reinterpret_cast<void**>(&control)), S_OK);
    BSTR bad = SysAllocString(L"ZOOM-IN");
    EXPECT_EQ(control->Command(bad), E_INVALIDARG);
    SysFreeString(bad);
    control->Release();
}

TEST_F(PageApi, EventsCarryTheirArguments)
{
    OleHost host(kWidth, kHeight);
    embed(host);
    EXPECT_EQ(events.count(L"Load"), 1);
    EXPECT_EQ(events.count(L"Error"), 0);

    // The outline moves onto "815" and off it.
    events.events.clear();
    pointAt(viewer, imagePoint(70, 50));
    pointAt(viewer, imagePoint(5, 5));
    struct Expected {
        const wchar_t* name;
        std::vector<std::wstring> arguments;
    };
    const std::vector<Expected> hover = {{L"HotspotEnter", {L"815", L"Town hall"}}, {L"HotspotLeave", {L"815"}}};
    ASSERT_EQ(events.events.size(), hover.size());
    for (size_t i = 0; i < hover.size(); ++i) {
        EXPECT_EQ(events.events[i].name, hover[i].name) << i;
        EXPECT_EQ(events.events[i].arguments, hover[i].arguments) << i;
    }

    // View changes come once a message-loop turn, however many steps it took.
    events.events.clear();
    for (const wchar_t* command : {L"zoom-in", L"zoom-in", L"zoom-in"}) {
        Call call;
        invoke(call, page, L"Command", DISPATCH_METHOD, {command});
    }
    pumpMessages();
    pumpMessages();
    EXPECT_EQ(events.count(L"ViewChange"), 1);
    Call zoom;
    invoke(zoom, page, L"ZoomToHotspot", DISPATCH_METHOD, {L"815"});
    pumpMessages();
    EXPECT_EQ(events.count(L"ViewChange"), 2);
    SendMessageA(viewer, WM_HSCROLL, MAKEWPARAM(SB_LINERIGHT, 0), 0);
    pumpMessages();
    EXPECT_EQ(events.count(L"ViewChange"), 3);
    RedrawWindow(viewer, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    pumpMessages();
    EXPECT_EQ(events.count(L"ViewChange"), 3) << "a repaint without a change is no view change";
    // A window made anew (the host deactivates and activates the control
    // with a report still queued) reports again.
    invoke(zoom, page, L"Command", DISPATCH_METHOD, {L"zoom-out"});
    IOleInPlaceObject* inPlace = nullptr;
    ASSERT_EQ(host.control()->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)), S_OK);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    inPlace->Release();
    IOleObject* object = nullptr;
    ASSERT_EQ(host.control()->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)), S_OK);
    RECT position = {};
    GetClientRect(host.hwnd(), &position);
    EXPECT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &host.site(), 0, host.hwnd(), &position), S_OK);
    object->Release();
    pumpMessages();
    viewer = host.viewerWindow();
    ASSERT_NE(viewer, nullptr);
    const int before = events.count(L"ViewChange");
    Call zoomIn;
    invoke(zoomIn, page, L"Command", DISPATCH_METHOD, {L"zoom-in"});
    pumpMessages();
    EXPECT_EQ(events.count(L"ViewChange"), before + 1);

    // Navigate before the browser gets the URL; cancelled, nothing navigates.
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "not cancelled");
        Call actual;
        invoke(actual, page, L"Command", DISPATCH_METHOD, {L"actual-size"});
        pumpMessages();
        events.events.clear();
        host.browser().navigations.clear();
        events.handler = [&](const ControlEvent& event) {
            if (event.name == L"Navigate")
                events.setCancel(cancel);
        };
        clickAt(viewer, imagePoint(70, 50));
        events.handler = nullptr;
        ASSERT_EQ(events.count(L"Navigate"), 1);
        for (const ControlEvent& event : events.events) {
            if (event.name != L"Navigate")
                continue;
            const std::vector<std::wstring> expected = {
                L"http://www.example.com:80/servlets/ZevuRedor?ShtmlFile=815", L"_self", L"815", L"Town hall", L"cancel"};
            EXPECT_EQ(event.arguments, expected);
        }
        EXPECT_EQ(host.browser().navigations.size(), cancel ? 0u : 1u);
    }

    // A document that cannot be read: Error with the reason, no Load.
    ScopedFile damaged(uniqueTempPath(".htf"));
    const char text[] = "not a TIFF file";
    ASSERT_TRUE(writeWholeFile(damaged.path(), text, sizeof text));
    events.events.clear();
    {
        DialogWatcher readerBox;
        IRAVOVavIrezCtrl2* control = nullptr;
        ASSERT_EQ(host.control()->QueryInterface(IID_IRAVOVavIrezCtrl2, reinterpret_cast<void**>(&control)), S_OK);
        BSTR path = SysAllocString(std::wstring(damaged.path().begin(), damaged.path().end()).c_str());
        EXPECT_EQ(control->SetTIFFFile(path), S_OK);
        SysFreeString(path);
        control->Release();
        pumpMessages();
    }
    EXPECT_EQ(events.count(L"Load"), 0);
    ASSERT_EQ(events.count(L"Error"), 1);
    for (const ControlEvent& event : events.events)
        if (event.name == L"Error") {
            ASSERT_EQ(event.arguments.size(), 1u);
            EXPECT_EQ(event.arguments[0], L"The document could not be read");
        }
    // A page disconnects its sink when it goes; the control keeps no reference.
    events.disconnect();
    host.close();
    EXPECT_EQ(events.references(), 1) << "the control kept the sink";
}

// The page's parameters set this control's template and frame; they are
// saved after src and read back by another control.
TEST_F(PageApi, TemplateAndFrameComeFromTheParametersAndArePersisted)
{
    OleHost host(kWidth, kHeight);
    host.parameters().set(L"Template", L"/plans/show?room=#HSREF#");
    host.parameters().set(L"Frame", L"details");
    embed(host);
    EXPECT_EQ(property(page, L"Template"), L"/plans/show?room=#HSREF#");
    EXPECT_EQ(property(page, L"Frame"), L"details");
    clickAt(viewer, imagePoint(70, 50));
    ASSERT_EQ(host.browser().navigations.size(), 1u);
    EXPECT_EQ(host.browser().navigations[0].url, L"http://www.example.com:80/plans/show?room=815");
    EXPECT_EQ(host.browser().navigations[0].frame, L"details");

    // A frame set by script; a text the code page cannot spell is refused.
    Call put;
    invoke(put, page, L"Frame", DISPATCH_PROPERTYPUT, {L"_blank"});
    EXPECT_EQ(put.hr, S_OK);
    Call refused;
    invoke(refused, page, L"Template", DISPATCH_PROPERTYPUT, {L"/\u4E2D?r=#HSREF#"});
    EXPECT_TRUE(FAILED(refused.hr));
    EXPECT_EQ(property(page, L"Template"), L"/plans/show?room=#HSREF#");

    // Saved into a stream and a property bag, and loaded by another control.
    IPersistStreamInit* persist = nullptr;
    ASSERT_EQ(host.control()->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)), S_OK);
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ASSERT_EQ(persist->Save(stream, TRUE), S_OK);
    persist->Release();
    PropertyBag bag;
    IPersistPropertyBag* persistBag = nullptr;
    ASSERT_EQ(host.control()->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&persistBag)), S_OK);
    ASSERT_EQ(persistBag->Save(&bag, TRUE, TRUE), S_OK);
    persistBag->Release();
    EXPECT_EQ(bag.value(L"Template"), L"/plans/show?room=#HSREF#");
    EXPECT_EQ(bag.value(L"Frame"), L"_blank");
    EXPECT_EQ(bag.value(L"src"), toFileUrl(document->path()));

    OleHost other(kWidth, kHeight);
    ASSERT_EQ(other.createFromModule(besideProgram("ROZERADO.DLL"), CLSID_RAVOVavIrezCtrl), S_OK);
    IPersistStreamInit* load = nullptr;
    ASSERT_EQ(other.control()->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&load)), S_OK);
    const LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(load->Load(stream), S_OK);
    load->Release();
    stream->Release();
    IDispatch* loaded = nullptr;
    ASSERT_EQ(other.control()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&loaded)), S_OK);
    EXPECT_EQ(property(loaded, L"Template"), L"/plans/show?room=#HSREF#");
    EXPECT_EQ(property(loaded, L"Frame"), L"_blank");
    EXPECT_EQ(property(loaded, L"src"), toFileUrl(document->path()));
    loaded->Release();
}

} // namespace
