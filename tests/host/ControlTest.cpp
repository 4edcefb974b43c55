// RAVOVavIrezCtrl without a host window: automation through the type
// library, persistence of "_cx", "_cy" and "src", the download of `src` into
// "<temp>\<address><counter>.htf", object safety and the drawing request's checks; and the
// control driven by Windows Script Host.
#include "ComModule.h"
#include "SampleDocument.h"
#include "TempDir.h"

#include "rozerado_h.h"

#include <gtest/gtest.h>

#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>

#include <iostream>
#include <map>

namespace {

// Counted interface pointer for the tests.
template <class T> class Ptr {
public:
    Ptr() = default;
    ~Ptr() { reset(); }
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    T* operator->() const { return p; }
    T** out() { reset(); return &p; }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    void reset() { if (p) p->Release(); p = nullptr; }
    T* p = nullptr;
};

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring fileUrl(const std::string& path)
{
    std::wstring url = L"file:///" + wide(path);
    for (wchar_t& c : url)
        if (c == L'\\')
            c = L'/';
    return url;
}

// A property bag over a map, as a page's embedding parameters give it.
class MapBag final : public IPropertyBag {
public:
    std::map<std::wstring, VARIANT> values;
    ~MapBag()
    {
        for (auto& v : values)
            VariantClear(&v.second);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyBag)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override
    {
        auto it = values.find(name);
        if (it == values.end())
            return E_INVALIDARG;
        return VariantCopy(value, &it->second);
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override
    {
        VARIANT copy;
        VariantInit(&copy);
        VariantCopy(&copy, value);
        VariantClear(&values[name]);
        values[name] = copy;
        return S_OK;
    }
    void setString(const wchar_t* name, const wchar_t* text)
    {
        VARIANT v;
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
        Write(name, &v);
        VariantClear(&v);
    }
};

class Control : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        unknown = createControl(com);
        ASSERT_NE(unknown, nullptr);
        ASSERT_EQ(unknown->QueryInterface(IID_IRAVOVavIrezCtrl, ctrl.outVoid()), S_OK);
    }
    void TearDown() override
    {
        ctrl.reset();
        if (unknown)
            unknown->Release();
        CoUninitialize();
    }

    std::wstring src()
    {
        BSTR value = nullptr;
        EXPECT_EQ(ctrl->get_src(&value), S_OK);
        std::wstring text = value ? value : L"<null>";
        SysFreeString(value);
        return text;
    }
    void putSrc(const std::wstring& text)
    {
        BSTR value = SysAllocString(text.c_str());
        EXPECT_EQ(ctrl->put_src(value), S_OK);
        SysFreeString(value);
    }
    // The control's download file: its address (the automation interface is
    // the object's first base) and the first counter, "<address>0.htf", in
    // the temporary directory.
    std::string downloadFile() const
    {
        return tempDirectory() + std::to_string(reinterpret_cast<intptr_t>(ctrl.p)) + "0.htf";
    }

    ComModule com;
    IUnknown* unknown = nullptr;
    Ptr<IRAVOVavIrezCtrl> ctrl;
};

TEST_F(Control, AnswersTheStandardControlInterfaces)
{
    const IID* iids[] = {
        &IID_IRAVOVavIrezCtrl, &IID_IDispatch, &IID_IViewObjectEx, &IID_IViewObject2, &IID_IViewObject,
        &IID_IOleInPlaceObjectWindowless, &IID_IOleInPlaceObject, &IID_IOleWindow, &IID_IOleInPlaceActiveObject,
        &IID_IOleControl, &IID_IOleObject, &IID_IPersistStreamInit, &IID_IPersist, &IID_IConnectionPointContainer,
        &IID_ISpecifyPropertyPages, &IID_IQuickActivate, &IID_IPersistStorage, &IID_IDataObject,
        &IID_IProvideClassInfo, &IID_IProvideClassInfo2, &IID_IObjectSafety, &IID_IPersistPropertyBag,
    };
    for (const IID* iid : iids) {
        Ptr<IUnknown> answer;
        EXPECT_EQ(unknown->QueryInterface(*iid, answer.outVoid()), S_OK);
        // Every interface leads back to one identity.
        Ptr<IUnknown> identity;
        ASSERT_EQ(answer->QueryInterface(IID_IUnknown, identity.outVoid()), S_OK);
        EXPECT_EQ(identity.p, unknown);
    }
    Ptr<IUnknown> none;
    EXPECT_EQ(unknown->QueryInterface(IID_IOleLink, none.outVoid()), E_NOINTERFACE);

    Ptr<IProvideClassInfo2> info;
    ASSERT_EQ(unknown->QueryInterface(IID_IProvideClassInfo2, info.outVoid()), S_OK);
    GUID events = GUID_NULL;
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    EXPECT_TRUE(IsEqualGUID(events, DIID__IRAVOVavIrezCtrlEvents));
    Ptr<ITypeInfo> classInfo;
    ASSERT_EQ(info->GetClassInfo(classInfo.out()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(classInfo->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, CLSID_RAVOVavIrezCtrl));
    classInfo->ReleaseTypeAttr(attributes);

    Ptr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(unknown->QueryInterface(IID_ISpecifyPropertyPages, pages.outVoid()), S_OK);
    CAUUID list = {5, reinterpret_cast<GUID*>(1)};
    EXPECT_EQ(pages->GetPages(&list), S_OK);
    EXPECT_EQ(list.cElems, 0u);
    EXPECT_EQ(list.pElems, nullptr);

    Ptr<IConnectionPointContainer> points;
    ASSERT_EQ(unknown->QueryInterface(IID_IConnectionPointContainer, points.outVoid()), S_OK);
    Ptr<IConnectionPoint> point;
    EXPECT_EQ(points->FindConnectionPoint(DIID__IRAVOVavIrezCtrlEvents, point.out()), S_OK);
    Ptr<IConnectionPoint> other;
    EXPECT_EQ(points->FindConnectionPoint(IID_IPropertyNotifySink, other.out()), CONNECT_E_NOCONNECTION);
}

TEST_F(Control, DispatchFollowsTheTypeLibrary)
{
    struct Name { const wchar_t* name; DISPID id; } names[] = {{L"SetTIFFFile", 1}, {L"src", 2}, {L"SRC", 2}};
    for (const Name& n : names) {
        LPOLESTR name = const_cast<LPOLESTR>(n.name);
        DISPID id = -1;
        EXPECT_EQ(ctrl->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, n.id);
    }
    EXPECT_EQ(src(), L"<null>");   // never set

    // src put and get through IDispatch::Invoke.
    VARIANT value;
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"");
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {&value, &named, 1, 1};
    EXPECT_EQ(ctrl->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    VariantClear(&value);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(ctrl->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_NE(result.bstrVal, nullptr);
    VariantClear(&result);
    EXPECT_EQ(ctrl->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);

    // A null value is stored as an empty string; a null output is ignored.
    EXPECT_EQ(ctrl->put_src(nullptr), S_OK);
    EXPECT_EQ(src(), L"");
    EXPECT_EQ(ctrl->get_src(nullptr), S_OK);
}

TEST_F(Control, ObjectSafetyIsForInitialisationOnly)
{
    Ptr<IObjectSafety> safety;
    ASSERT_EQ(unknown->QueryInterface(IID_IObjectSafety, safety.outVoid()), S_OK);
    const DWORD data = INTERFACESAFE_FOR_UNTRUSTED_DATA;
    const DWORD caller = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    struct Case { const IID* iid; DWORD mask; DWORD enabled; HRESULT result; } cases[] = {
        {&IID_IPersistPropertyBag, data, data, S_OK},
        {&IID_IPersistStreamInit, data, data, S_OK},
        {&IID_IDispatch, caller, caller, E_FAIL},
        {&IID_IDispatch, caller | data, caller | data, E_FAIL},
        {&IID_IRAVOVavIrezCtrl, caller, 0, E_FAIL},
        {&IID_IOleLink, data, data, E_NOINTERFACE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(safety->SetInterfaceSafetyOptions(*c.iid, c.mask, c.enabled), c.result) << c.mask;

    DWORD supported = 99, enabled = 99;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistPropertyBag, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, data);
    EXPECT_EQ(enabled, data);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IOleLink, &supported, &enabled), E_NOINTERFACE);
    EXPECT_EQ(supported, 0u);
    EXPECT_EQ(enabled, 0u);
}

TEST_F(Control, HostDrawingChecksBoundsAndAspect)
{
    Ptr<IViewObject> view;
    ASSERT_EQ(unknown->QueryInterface(IID_IViewObject, view.outVoid()), S_OK);
    HDC dc = CreateCompatibleDC(nullptr);
    RECTL bounds = {0, 0, 40, 30};
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, nullptr, nullptr, nullptr, 0),
              E_INVALIDARG);
    for (DWORD aspect : {DWORD(DVASPECT_ICON), DWORD(DVASPECT_THUMBNAIL), DWORD(DVASPECT_DOCPRINT)})
        EXPECT_EQ(view->Draw(aspect, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), DV_E_DVASPECT);
    for (DWORD aspect : {DWORD(DVASPECT_CONTENT), DWORD(DVASPECT_OPAQUE), DWORD(DVASPECT_TRANSPARENT)})
        EXPECT_EQ(view->Draw(aspect, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK);
    DeleteDC(dc);
}

TEST_F(Control, PersistsExtentAndSourceThroughStreamAndPropertyBag)
{
    Ptr<IOleObject> ole;
    ASSERT_EQ(unknown->QueryInterface(IID_IOleObject, ole.outVoid()), S_OK);
    SIZEL extent = {};
    EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 5080);
    EXPECT_EQ(extent.cy, 5080);

    // Property bag in: strings as a page gives them; missing ones keep their value.
    MapBag in;
    in.setString(L"_cx", L"1234");
    in.setString(L"src", L"nowhere:x");
    Ptr<IPersistPropertyBag> bag;
    ASSERT_EQ(unknown->QueryInterface(IID_IPersistPropertyBag, bag.outVoid()), S_OK);
    EXPECT_EQ(bag->Load(&in, nullptr), S_OK);
    EXPECT_EQ(src(), L"nowhere:x");
    EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 1234);
    EXPECT_EQ(extent.cy, 5080);

    MapBag out;
    EXPECT_EQ(bag->Save(&out, TRUE, TRUE), S_OK);
    ASSERT_EQ(out.values.size(), 5u);
    EXPECT_EQ(out.values[L"_cx"].vt, VT_UI4);
    EXPECT_EQ(out.values[L"_cx"].ulVal, 1234u);
    EXPECT_EQ(out.values[L"_cy"].ulVal, 5080u);
    EXPECT_STREQ(out.values[L"src"].bstrVal, L"nowhere:x");
    // This control's template and frame: none of its own.
    EXPECT_STREQ(out.values[L"Template"].bstrVal, L"");
    EXPECT_STREQ(out.values[L"Frame"].bstrVal, L"");

    // Stream out, and into a second control.
    Ptr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.out()), S_OK);
    Ptr<IPersistStreamInit> persist;
    ASSERT_EQ(unknown->QueryInterface(IID_IPersistStreamInit, persist.outVoid()), S_OK);
    ULARGE_INTEGER size = {};
    EXPECT_EQ(persist->GetSizeMax(&size), S_OK);
    EXPECT_EQ(persist->Save(stream.p, TRUE), S_OK);
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER written = {};
    stream->Seek(zero, STREAM_SEEK_CUR, &written);
    EXPECT_EQ(written.QuadPart, size.QuadPart);
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);

    IUnknown* second = createControl(com);
    ASSERT_NE(second, nullptr);
    Ptr<IPersistStreamInit> secondPersist;
    ASSERT_EQ(second->QueryInterface(IID_IPersistStreamInit, secondPersist.outVoid()), S_OK);
    EXPECT_EQ(secondPersist->Load(stream.p), S_OK);
    Ptr<IRAVOVavIrezCtrl> secondCtrl;
    ASSERT_EQ(second->QueryInterface(IID_IRAVOVavIrezCtrl, secondCtrl.outVoid()), S_OK);
    BSTR value = nullptr;
    secondCtrl->get_src(&value);
    EXPECT_STREQ(value, L"nowhere:x");
    SysFreeString(value);
    Ptr<IOleObject> secondOle;
    ASSERT_EQ(second->QueryInterface(IID_IOleObject, secondOle.outVoid()), S_OK);
    secondOle->GetExtent(DVASPECT_CONTENT, &extent);
    EXPECT_EQ(extent.cx, 1234);

    // A cut stream fails to load instead of reading past its end.
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    ULARGE_INTEGER cut;
    cut.QuadPart = stat.cbSize.QuadPart - 3;
    stream->SetSize(cut);
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_TRUE(FAILED(secondPersist->Load(stream.p)));
    secondCtrl.reset();
    secondOle.reset();
    secondPersist.reset();
    second->Release();
}

// The stream a container stores for the control holds fixed-width values
// only, no pointers or handles: the 32-bit and the 64-bit module write the
// same bytes and each reads what the other wrote. These are the bytes for
// extent 1234 x 5080 and src "nowhere:x": as pages stored them before the
// control had a template and a frame of its own (format 0x0300, which still
// loads), and as it stores them now (0x0301, empty template and frame after src).
TEST_F(Control, PersistedStreamHasTheSameBytesOnBothArchitectures)
{
    const wchar_t text[] = L"nowhere:x";
    std::vector<uint8_t> older, expected;
    auto put32 = [](std::vector<uint8_t>& bytes, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(uint8_t(v >> (8 * i)));
    };
    auto putString = [&](std::vector<uint8_t>& bytes, const wchar_t* string, uint32_t size) {
        bytes.push_back(VT_BSTR), bytes.push_back(0);   // a string
        put32(bytes, size);                            // its bytes with the terminating null
        for (uint32_t i = 0; i < size / 2; ++i)
            bytes.push_back(uint8_t(string[i])), bytes.push_back(uint8_t(string[i] >> 8));
    };
    for (auto* bytes : {&older, &expected}) {
        put32(*bytes, bytes == &older ? 0x0300 : 0x0301);   // format version
        put32(*bytes, 1234);                                // _cx
        put32(*bytes, 5080);                                // _cy
        putString(*bytes, text, sizeof text);               // src
    }
    putString(expected, L"", 2);   // Template
    putString(expected, L"", 2);   // Frame

    Ptr<IStream> stream;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, older.size());
    ASSERT_NE(block, nullptr);
    memcpy(GlobalLock(block), older.data(), older.size());
    GlobalUnlock(block);
    ASSERT_EQ(CreateStreamOnHGlobal(block, TRUE, stream.out()), S_OK);
    Ptr<IPersistStreamInit> persist;
    ASSERT_EQ(unknown->QueryInterface(IID_IPersistStreamInit, persist.outVoid()), S_OK);
    ASSERT_EQ(persist->Load(stream.p), S_OK);
    EXPECT_EQ(src(), text);
    Ptr<IOleObject> ole;
    ASSERT_EQ(unknown->QueryInterface(IID_IOleObject, ole.outVoid()), S_OK);
    SIZEL extent = {};
    EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 1234);
    EXPECT_EQ(extent.cy, 5080);

    Ptr<IStream> saved;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, saved.out()), S_OK);
    ASSERT_EQ(persist->Save(saved.p, TRUE), S_OK);
    HGLOBAL savedBlock = nullptr;
    ASSERT_EQ(GetHGlobalFromStream(saved.p, &savedBlock), S_OK);
    STATSTG stat = {};
    saved->Stat(&stat, STATFLAG_NONAME);
    ASSERT_EQ(stat.cbSize.QuadPart, expected.size());
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(savedBlock));
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + expected.size()), expected);
    GlobalUnlock(savedBlock);
}

TEST_F(Control, SourceIsDownloadedIntoOneTemporaryFile)
{
    ScopedFile document(uniqueTempPath(".htf"));
    ASSERT_TRUE(writeSampleDocument(document.path()));
    // More than one 64 KiB piece, not a TIFF file.
    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char((i * 7919) >> 3);
    ScopedFile other(uniqueTempPath(".bin"));
    ASSERT_TRUE(writeWholeFile(other.path(), big.data(), big.size()));

    putSrc(fileUrl(document.path()));
    EXPECT_EQ(src(), fileUrl(document.path()));
    ASSERT_TRUE(fileExists(downloadFile()));
    EXPECT_EQ(readWholeFile(downloadFile()), readWholeFile(document.path()));

    putSrc(fileUrl(other.path()));
    EXPECT_EQ(readWholeFile(downloadFile()), readWholeFile(other.path()));

    // SetTIFFFile leaves src and the download alone.
    BSTR local = SysAllocString(wide(document.path()).c_str());
    EXPECT_EQ(ctrl->SetTIFFFile(local), S_OK);
    SysFreeString(local);
    EXPECT_EQ(src(), fileUrl(other.path()));
    EXPECT_TRUE(fileExists(downloadFile()));

    // A source that cannot be opened deletes the previous download.
    putSrc(L"");
    EXPECT_EQ(src(), L"");
    EXPECT_FALSE(fileExists(downloadFile()));
}

// Registers the module for the script hosts, which create it by its ProgID.
HRESULT registerModule()
{
    ComModule com;
    CoInitialize(nullptr);
    const HRESULT hr = com.registerServer();
    CoUninitialize();
    return hr;
}

TEST(ControlScripting, WindowsScriptHostCreatesAndDrivesTheControl)
{
    ASSERT_EQ(registerModule(), S_OK);
    ScopedFile document(uniqueTempPath(".htf"));
    ASSERT_TRUE(writeSampleDocument(document.path()));
    std::string url = "file:///" + document.path();
    for (char& c : url)
        if (c == '\\')
            c = '/';
    std::string local;
    for (char c : document.path()) {
        local += c;
        if (c == '\\')
            local += c;
    }
    const std::string script =
        "var c = new ActiveXObject(\"ROZERADO.RAVOVavIrezCtrl\");\r\n"
        "WScript.Echo(\"before=[\" + c.src + \"]\");\r\n"
        "c.src = \"" + url + "\";\r\n"
        "WScript.Echo(\"src=\" + c.src);\r\n"
        "c.SetTIFFFile(\"" + local + "\");\r\n"
        "WScript.Echo(\"after=\" + c.src);\r\n"
        "var v = new ActiveXObject(\"ROZERADO.RAVOVavIrezCtrl.1\");\r\n"
        "WScript.Echo(\"versioned=[\" + v.src + \"]\");\r\n";
    ScopedFile js(uniqueTempPath(".js"));
    ASSERT_TRUE(writeWholeFile(js.path(), script.data(), script.size()));

    const size_t downloads = controlDownloads();
    std::string output;
    EXPECT_EQ(runProgram(L"cscript.exe //nologo \"" + wide(js.path()) + L"\"", &output), 0) << output;
    const std::string expected = "before=[]\r\nsrc=" + url + "\r\nafter=" + url + "\r\nversioned=[]\r\n";
    EXPECT_EQ(output, expected);
    EXPECT_EQ(controlDownloads(), downloads);   // the script's control took its download along
}

// A VBScript walks the hotspots with For Each (the collection's _NewEnum) and
// reads a refused command's error as a page's script would. It creates the
// control with an event prefix, as a script that handles the events does;
// where the runtime's Windows Script Host refuses the prefix (Wine's answers
// E_NOTIMPL, which VBScript reports as error 445, "Object doesn't support
// this action") it says so on its first line and goes on without it.
TEST(ControlScripting, VBScriptWalksTheHotspotsWithForEach)
{
    ASSERT_EQ(registerModule(), S_OK);
    ScopedFile document(uniqueTempPath(".htf"));
    ASSERT_TRUE(writePageApiDocument(document.path()));
    const std::string script =
        "Option Explicit\r\n"
        "Dim c, h, n\r\n"
        "On Error Resume Next\r\n"
        "Set c = WScript.CreateObject(\"ROZERADO.RAVOVavIrezCtrl\", \"page_\")\r\n"
        "If Err.Number <> 0 Then\r\n"
        "  WScript.Echo \"prefix refused: \" & Hex(Err.Number) & \" \" & Err.Description\r\n"
        "  Err.Clear\r\n"
        "  Set c = WScript.CreateObject(\"ROZERADO.RAVOVavIrezCtrl\")\r\n"
        "End If\r\n"
        "On Error GoTo 0\r\n"
        "c.SetTIFFFile \"" + document.path() + "\"\r\n"
        "WScript.Echo \"count=\" & c.Hotspots.Count\r\n"
        "n = 0\r\n"
        "For Each h In c.Hotspots\r\n"
        "  WScript.Echo n & \": \" & h.Ref & \"|\" & h.Text & \"|\" & h.X & \",\" & h.Y & \",\" & h.Width & \",\" & h.Height\r\n"
        "  n = n + 1\r\n"
        "Next\r\n"
        "WScript.Echo \"item=\" & c.Hotspots(2).Text\r\n"
        "On Error Resume Next\r\n"
        "c.Command \"zoom-sideways\"\r\n"
        "WScript.Echo \"error=\" & Hex(Err.Number) & \" \" & (InStr(Err.Description, \"zoom-sideways\") > 0)\r\n"
        "Sub page_Load()\r\n"
        "  WScript.Echo \"loaded\"\r\n"
        "End Sub\r\n";
    ScopedFile vbs(uniqueTempPath(".vbs"));
    ASSERT_TRUE(writeWholeFile(vbs.path(), script.data(), script.size()));
    std::string output;
    ASSERT_EQ(runProgram(L"cscript.exe //nologo \"" + wide(vbs.path()) + L"\"", &output), 0) << output;
    const std::string refused = "prefix refused: ";
    if (output.compare(0, refused.size(), refused) == 0) {
        const size_t end = output.find("\r\n");
        std::cout << "[ NOTE     ] WScript.CreateObject with an event prefix: " << output.substr(0, end) << "\n";
        output.erase(0, end == std::string::npos ? output.size() : end + 2);
    }
    const std::string expected = "count=3\r\n"
                                 "0: 815|Town hall|20,20,100,60\r\n"
                                 "1: 816|Library|250,150,50,100\r\n"
                                 "2: 816|Library annexe|200,220,40,40\r\n"
                                 "item=Library annexe\r\n"
                                 "error=80070057 True\r\n";
    EXPECT_EQ(output, expected);
}

} // namespace
