// The control's window and in-place activation: IOleWindow,
// IOleInPlaceObject(Windowless) and IOleInPlaceActiveObject of the control
// base. The control is always windowed: at in-place activation it creates its
// window as a child of the site's window at the position the site gives.
#include "ControlBase.h"

#include "Module.h"

namespace {
constexpr char kWindowClass[] = "RozeradoControlWindow";
}

// The window procedure of control windows; the window's user data leads to
// the control.
class ControlWindowProcedure {
public:
    static LRESULT CALLBACK entry(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE) {
            auto create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto control = reinterpret_cast<ControlBase*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (!control)
            return DefWindowProcA(window, message, wParam, lParam);
        // The control holds itself while it handles a message: painting may
        // show the reader's error box, in which the page can release it.
        ControlBase::SelfReference self(control);
        return control->onWindowMessage(window, message, wParam, lParam);
    }

    static bool registerClass()
    {
        WNDCLASSA existing = {};
        if (GetClassInfoA(rozeradoModule(), kWindowClass, &existing))
            return true;
        WNDCLASSA windowClass = {};
        windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
        windowClass.lpfnWndProc = &entry;
        windowClass.hInstance = rozeradoModule();
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = kWindowClass;
        return RegisterClassA(&windowClass) != 0;
    }
};

HWND ControlBase::createControlWindow(HWND parent, const RECT& position)
{
    if (!ControlWindowProcedure::registerClass())
        return nullptr;
    return CreateWindowExA(0, kWindowClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                           position.left, position.top, position.right - position.left,
                           position.bottom - position.top, parent, nullptr, rozeradoModule(), this);
}

LRESULT ControlBase::onWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        onPaint();
        return 0;
    case WM_SETFOCUS:
    case WM_MOUSEACTIVATE:
        // Clicking into the control or focusing it makes it UI-active.
        if (inPlaceActive_ && !uiActive_ && inPlaceSite_) {
            AddRef();
            inPlaceActivate(OLEIVERB_UIACTIVATE);
            Release();
        }
        break;
    case WM_DESTROY:
        onWindowDestroy();
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        if (window_ == window)
            window_ = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void ControlBase::onPaint()
{
    // The paint may show the reader's error box; the window may be gone
    // when it returns (the page deactivated the control).
    HWND window = window_;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (!dc)
        return;
    ControlDrawInfo info;
    info.dc = dc;
    GetClientRect(window, &info.bounds);
    onDraw(info);
    if (IsWindow(window))
        EndPaint(window, &paint);
}

void ControlBase::releaseInPlaceSite()
{
    if (inPlaceSite_) {
        inPlaceSite_->Release();
        inPlaceSite_ = nullptr;
    }
}

HRESULT ControlBase::inPlaceActivate(LONG verb)
{
    if (!clientSite_)
        return S_OK;
    if (!inPlaceSite_) {
        clientSite_->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlaceSite_));
        if (!inPlaceSite_)
            return E_FAIL;
    }
    if (!inPlaceActive_) {
        const HRESULT hr = inPlaceSite_->CanInPlaceActivate();
        if (hr != S_OK)
            return FAILED(hr) ? hr : E_FAIL;
        inPlaceSite_->OnInPlaceActivate();
    }
    inPlaceActive_ = true;

    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* uiWindow = nullptr;
    HWND parent = nullptr;
    if (inPlaceSite_->GetWindow(&parent) == S_OK) {
        RECT position = {};
        RECT clip = {};
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof(frameInfo);
        inPlaceSite_->GetWindowContext(&frame, &uiWindow, &position, &clip, &frameInfo);
        if (window_)
            ShowWindow(window_, SW_SHOW);
        else
            window_ = createControlWindow(parent, position);
        SetObjectRects(&position, &clip);
    }

    HRESULT result = S_OK;
    if ((verb == OLEIVERB_PRIMARY || verb == OLEIVERB_UIACTIVATE) && !uiActive_) {
        uiActive_ = true;
        result = inPlaceSite_->OnUIActivate();
        if (FAILED(result)) {
            uiActive_ = false;
        } else {
            // The focus may already be in a window inside the control.
            const HWND focus = GetFocus();
            if (window_ && focus != window_ && !IsChild(window_, focus))
                SetFocus(window_);
            auto active = static_cast<IOleInPlaceActiveObject*>(this);
            if (frame) {
                frame->SetActiveObject(active, nullptr);
                frame->SetBorderSpace(nullptr);
            }
            if (uiWindow) {
                uiWindow->SetActiveObject(active, nullptr);
                uiWindow->SetBorderSpace(nullptr);
            }
        }
    }
    if (frame)
        frame->Release();
    if (uiWindow)
        uiWindow->Release();
    if (FAILED(result))
        return result;
    if (clientSite_)
        clientSite_->ShowObject();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetWindow(HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = window_;
    return window_ ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE ControlBase::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::InPlaceDeactivate()
{
    if (!inPlaceActive_)
        return S_OK;
    AddRef();   // the site may let go of the control from inside these calls
    if (uiActive_)
        UIDeactivate();
    inPlaceActive_ = false;
    if (window_ && IsWindow(window_))
        DestroyWindow(window_);
    window_ = nullptr;
    if (inPlaceSite_)
        inPlaceSite_->OnInPlaceDeactivate();
    Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::UIDeactivate()
{
    if (!uiActive_)
        return S_OK;
    uiActive_ = false;
    if (!inPlaceSite_)
        return S_OK;
    HWND parent = nullptr;
    if (inPlaceSite_->GetWindow(&parent) == S_OK) {
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* uiWindow = nullptr;
        RECT position;
        RECT clip;
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof(frameInfo);
        if (SUCCEEDED(inPlaceSite_->GetWindowContext(&frame, &uiWindow, &position, &clip, &frameInfo))) {
            if (uiWindow)
                uiWindow->SetActiveObject(nullptr, nullptr);
            if (frame)
                frame->SetActiveObject(nullptr, nullptr);
        }
        if (frame)
            frame->Release();
        if (uiWindow)
            uiWindow->Release();
    }
    inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetObjectRects(LPCRECT posRect, LPCRECT clipRect)
{
    if (!posRect || !clipRect)
        return E_POINTER;
    position_ = *posRect;
    if (window_) {
        // Clip the window to the part of its position inside the clip rect.
        RECT visible;
        HRGN region = nullptr;
        if (IntersectRect(&visible, posRect, clipRect) && !EqualRect(&visible, posRect)) {
            OffsetRect(&visible, -posRect->left, -posRect->top);
            region = CreateRectRgnIndirect(&visible);
        }
        SetWindowRgn(window_, region, TRUE);   // the window owns the region from here
        SetWindowPos(window_, nullptr, posRect->left, posRect->top, posRect->right - posRect->left,
                     posRect->bottom - posRect->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::ReactivateAndUndo()
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT*)
{
    return S_FALSE;   // never windowless: messages come through the window
}

HRESULT STDMETHODCALLTYPE ControlBase::GetDropTarget(IDropTarget** target)
{
    if (target)
        *target = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::TranslateAccelerator(LPMSG message)
{
    if (!message)
        return E_INVALIDARG;
    // Handling the key may call out (a hotspot followed, the print dialog):
    // the control stays whole until it returns.
    SelfReference self(this);
    return translateKey(*message) ? S_OK : S_FALSE;
}

void ControlBase::activateForKeyboard()
{
    if (inPlaceActive_ && !uiActive_ && inPlaceSite_) {
        SelfReference self(this);   // the site may let go of the control meanwhile
        inPlaceActivate(OLEIVERB_UIACTIVATE);
    }
}

HRESULT STDMETHODCALLTYPE ControlBase::OnFrameWindowActivate(BOOL)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::OnDocWindowActivate(BOOL activate)
{
    if (!activate)
        UIDeactivate();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::EnableModeless(BOOL)
{
    return S_OK;
}
