#include "OleHost.h"

#include "StandInBrowser.h"   // Canvas

#include <commctrl.h>
#include <objsafe.h>
#include <shlguid.h>

namespace {

constexpr char kWindowClass[] = "RozeradoOleHost";

HWND createHostWindow(int width, int height, const std::string& title, WNDPROC procedure)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    if (!GetClassInfoA(instance, kWindowClass, &wc)) {
        wc.lpfnWndProc = procedure;
        wc.hInstance = instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = kWindowClass;
        RegisterClassA(&wc);
    }
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT frame = {0, 0, width, height};
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowExA(0, kWindowClass, title.c_str(), style, 0, 0, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (window) {
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
    }
    return window;
}

template <class Interface>
Interface* queryInterface(IUnknown* object, REFIID iid)
{
    Interface* result = nullptr;
    if (object)
        object->QueryInterface(iid, reinterpret_cast<void**>(&result));
    return result;
}

}  // namespace

OleHost::OleHost(int width, int height, const std::string& title)
    : window_(createHostWindow(width, height, title, &OleHost::windowProcedure)),
      topLevel_(SID_SWebBrowserApp, &browser_),
      site_(window_, &topLevel_, &bindHost_)
{
    // Set only now: the window's first messages must not reach a host that
    // is still being built.
    if (window_)
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    browser_.location = page_.c_str();
    setKeyboardFilter([this](MSG& message) { return translateAccelerator(message); });
}

OleHost::~OleHost()
{
    setKeyboardFilter(nullptr);
    close();
    if (window_) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    // A module that still has live objects stays loaded rather than pulled
    // from under them.
    if (module_) {
        using CanUnloadFn = HRESULT(WINAPI*)();
        auto canUnload = reinterpret_cast<CanUnloadFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
        if (!canUnload || canUnload() == S_OK)
            FreeLibrary(module_);
    }
}

void OleHost::setPage(const std::wstring& location, unsigned routes)
{
    page_ = routes & kPageByLocation ? location : std::wstring();
    browser_.location = page_.c_str();
    bindHost_.base = location;
    site_.offersBindHost = (routes & kPageByBindHost) && !location.empty();
    site_.containerPage = routes & kPageByContainerMoniker ? location : std::wstring();
}

HRESULT OleHost::createFromModule(const std::string& path, REFCLSID clsid)
{
    if (control_)
        return E_UNEXPECTED;
    if (!module_)
        module_ = LoadLibraryA(path.c_str());
    if (!module_)
        return HRESULT_FROM_WIN32(GetLastError());
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    if (!getClassObject)
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr) || !factory)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&control_));
    factory->Release();
    return FAILED(hr) ? hr : control_ ? S_OK : E_NOINTERFACE;
}

HRESULT OleHost::createRegistered(const std::wstring& name)
{
    if (control_)
        return E_UNEXPECTED;
    CLSID clsid = {};
    const HRESULT found = name.size() > 0 && name[0] == L'{' ? CLSIDFromString(name.c_str(), &clsid)
                                                             : CLSIDFromProgID(name.c_str(), &clsid);
    if (FAILED(found))
        return found;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&control_));
}

HRESULT OleHost::embed()
{
    IOleObject* object = queryInterface<IOleObject>(control_, IID_IOleObject);
    if (!object)
        return E_NOINTERFACE;
    DWORD status = 0;
    object->GetMiscStatus(DVASPECT_CONTENT, &status);
    const bool siteFirst = (status & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (siteFirst)
        object->SetClientSite(&site_);

    HRESULT hr = S_OK;
    if (untrustedData_) {
        // A browser asks before it hands over the page's parameters, and
        // does not load a control that will not take them as untrusted.
        IObjectSafety* safety = queryInterface<IObjectSafety>(control_, IID_IObjectSafety);
        hr = safety ? safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, INTERFACESAFE_FOR_UNTRUSTED_DATA,
                                                        INTERFACESAFE_FOR_UNTRUSTED_DATA)
                    : E_NOINTERFACE;
        if (safety)
            safety->Release();
        if (FAILED(hr)) {
            object->Release();
            return hr;
        }
    }
    if (IPersistPropertyBag* persist = queryInterface<IPersistPropertyBag>(control_, IID_IPersistPropertyBag)) {
        hr = persist->Load(&parameters_, nullptr);
        persist->Release();
    } else if (IPersistStreamInit* init = queryInterface<IPersistStreamInit>(control_, IID_IPersistStreamInit)) {
        hr = init->InitNew();
        init->Release();
    }
    if (!siteFirst)
        object->SetClientSite(&site_);
    if (SUCCEEDED(hr)) {
        RECT position = {};
        GetClientRect(window_, &position);
        hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, window_, &position);
    }
    object->Release();
    return hr;
}

void OleHost::close()
{
    if (!control_)
        return;
    if (IOleObject* object = queryInterface<IOleObject>(control_, IID_IOleObject)) {
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
        object->Release();
    }
    site_.SetActiveObject(nullptr, nullptr);   // in case the control did not say so
    control_->Release();
    control_ = nullptr;
}

void OleHost::release()
{
    if (control_)
        control_->Release();
    control_ = nullptr;
}

HWND OleHost::controlWindow() const
{
    HWND handle = nullptr;
    if (IOleWindow* window = queryInterface<IOleWindow>(control_, IID_IOleWindow)) {
        window->GetWindow(&handle);
        window->Release();
    }
    return handle;
}

HWND OleHost::viewerWindow() const
{
    HWND control = controlWindow();
    if (!control)
        return nullptr;
    for (HWND child = GetWindow(control, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char name[64] = {};
        GetClassNameA(child, name, sizeof(name));
        if (lstrcmpiA(name, TOOLBARCLASSNAMEA) != 0)
            return child;
    }
    return nullptr;
}

HRESULT OleHost::drawInto(Canvas& canvas) const
{
    IViewObject* view = queryInterface<IViewObject>(control_, IID_IViewObject);
    if (!view)
        return E_NOINTERFACE;
    RECTL bounds = {0, 0, canvas.width(), canvas.height()};
    const HRESULT hr = view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc(), &bounds, nullptr,
                                  nullptr, 0);
    view->Release();
    GdiFlush();
    return hr;
}

bool OleHost::translateAccelerator(MSG& message)
{
    IOleInPlaceActiveObject* active = site_.activeObject();
    if (!active)
        return false;
    // The control may let go of being active from inside the call.
    active->AddRef();
    const HRESULT used = active->TranslateAccelerator(&message);
    active->Release();
    if (used == S_OK)
        return true;
    // A Tab the control leaves to the page moves the focus on to the page's
    // next element, here the container's own window.
    if (message.message == WM_KEYDOWN && message.wParam == VK_TAB && window_) {
        SetFocus(window_);
        return true;
    }
    return false;
}

void OleHost::onSize()
{
    IOleInPlaceObject* inPlace = queryInterface<IOleInPlaceObject>(control_, IID_IOleInPlaceObject);
    if (!inPlace)
        return;
    RECT position = {};
    GetClientRect(window_, &position);
    inPlace->SetObjectRects(&position, &position);
    inPlace->Release();
}

LRESULT CALLBACK OleHost::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto host = reinterpret_cast<OleHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_SIZE:
        if (host)
            host->onSize();
        break;
    case WM_CLOSE:
        // A person closed the window: the program's loop ends and the host
        // takes the control back in order.
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        if (host)
            host->window_ = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
