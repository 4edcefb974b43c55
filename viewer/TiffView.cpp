// TiffView: life cycle, message table and commands.
#include "TiffView.h"

#include "CommandIds.h"
#include "HotspotList.h"
#include "ResourceIds.h"
#include "ResourceModule.h"

#include <commctrl.h>

namespace {
constexpr char kClassName[] = "TiffViewClass";
constexpr UINT kTipDelayMs = 500;
constexpr UINT_PTR kTipToolId = 1;

TOOLINFOA tipTool(HWND view)
{
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;   // up to and including lParam: 44 bytes on 32-bit, 64 on 64-bit Windows
    tool.uFlags = 0;    // identified by id; the view relays the mouse messages itself
    tool.hwnd = view;
    tool.uId = kTipToolId;
    return tool;
}

void registerViewClass(HINSTANCE instance)
{
    WNDCLASSA existing;
    if (GetClassInfoA(instance, kClassName, &existing))
        return;
    WNDCLASSA wc = {};
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = &WindowWrapper::entry;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);
}
} // namespace

HINSTANCE viewerResourceModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&viewerResourceModule), &module);
    return module;
}

TiffView::TiffView(NavigationCallback* navigation, Outline outline)
    : model_(GetSystemMetrics(SM_CXVSCROLL), GetSystemMetrics(SM_CYHSCROLL)), outline_(outline),
      navigation_(navigation)
{
    HDC screen = GetDC(nullptr);
    displayBitsPerPixel_ = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
}

TiffView::~TiffView()
{
    releaseAccessible();
    // The container destroys the window first; a view destroyed on its own
    // takes its window with it rather than leave it pointing at nothing.
    if (window_ && IsWindow(window_))
        DestroyWindow(window_);
    if (tooltip_ && IsWindow(tooltip_))
        DestroyWindow(tooltip_);
    tooltip_ = nullptr;
    releaseImage();
    if (tipFont_)
        DeleteObject(tipFont_);
    tipFont_ = nullptr;
    if (framePen_)
        DeleteObject(framePen_);
    framePen_ = nullptr;
    releaseOffscreen();
    lens_.release();
    while (cursorHidden_ > 0) {
        ShowCursor(TRUE);
        --cursorHidden_;
    }
    // Module cursors are shared resources and need no destruction.
}

void TiffView::create(HWND parent, const RECT& rect)
{
    HINSTANCE module = viewerResourceModule();
    registerViewClass(module);
    createWindow(0, kClassName, nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, rect.left, rect.top,
                 rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, module);
    // A report queued to an earlier window went with it.
    viewReportQueued_ = false;

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    tooltip_ = CreateWindowExA(WS_EX_TOOLWINDOW, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, module, nullptr);
    SendMessageA(tooltip_, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(kTipDelayMs, 0));

    // A view created again (the control's window can be made anew) keeps
    // its font, pen and lens surfaces.
    if (!tipFont_) {
        LOGFONTA font = {};
        font.lfHeight = 16;
        font.lfWeight = FW_NORMAL;
        lstrcpynA(font.lfFaceName, "Arial", LF_FACESIZE);
        tipFont_ = CreateFontIndirectA(&font);
    }
    SendMessageA(tooltip_, WM_SETFONT, reinterpret_cast<WPARAM>(tipFont_), FALSE);
    addTipTool();

    lens_.setUp(module);

    cursors_.arrow = LoadCursor(nullptr, IDC_ARROW);
    cursors_.magnifier = LoadCursorA(module, MAKEINTRESOURCEA(IDC_MAGNIFIER));
    cursors_.openHand = LoadCursorA(module, MAKEINTRESOURCEA(IDC_OPEN_HAND));
    cursors_.pointingHand = LoadCursorA(module, MAKEINTRESOURCEA(IDC_POINTING_HAND));
    cursors_.globeHand = LoadCursorA(module, MAKEINTRESOURCEA(IDC_GLOBE_HAND));

    if (!framePen_ && outline_.width != 0)
        framePen_ = CreatePen(PS_SOLID, outline_.width, outline_.colour);

    // A document shown before the window was made anew gets its tooltip
    // tools in the new tooltip control.
    if (image_ && model_.fitted())
        updateScrollBars();
}

LRESULT TiffView::handleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled)
{
    // Input may move the outline; the page hears of it after the message,
    // unless the message changed the view (a navigation the page answered
    // by removing the viewer, say).
    const CallOutMark mark = markCallOut();
    const LRESULT result = handleViewMessage(message, wParam, lParam, handled);
    switch (message) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_KEYDOWN:
    case WM_CHAR:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (pageEvents_ && unchangedSince(mark))
            reportOutline();
        break;
    default:
        break;
    }
    return result;
}

LRESULT TiffView::handleViewMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled)
{
    switch (message) {
    case kPageReportMessage: onPageReport(wParam, lParam); return 0;
    case WM_PAINT: onPaint(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SIZE: onSize(); return 0;
    case WM_HSCROLL: onScroll(SB_HORZ, wParam); return 0;
    case WM_VSCROLL: onScroll(SB_VERT, wParam); return 0;
    case WM_MOUSEMOVE: onMouseMove(wParam); return 0;
    case WM_LBUTTONDOWN:
        if (takeFocus())
            onButtonDown();
        return 0;
    case WM_LBUTTONUP: onButtonUp(); return 0;
    case WM_LBUTTONDBLCLK: onDoubleClick(); return 0;
    case WM_CAPTURECHANGED: onCaptureLost(); return 0;
    case WM_SETCURSOR: return 0;
    case WM_DESTROY:
        releaseAccessible();
        // The tooltip control belongs to the top-level window, not to this
        // child window, so it goes with the view's window explicitly.
        if (tooltip_ && IsWindow(tooltip_))
            DestroyWindow(tooltip_);
        tooltip_ = nullptr;
        tipHotspot_ = nullptr;
        tipRect_ = RECT{};
        handled = false;
        return 0;
    case WM_NCMOUSEMOVE: SetCursor(cursors_.arrow); return 0;
    // Keyboard, wheel and screen readers (TiffViewKeys.cpp, TiffViewWheel.cpp).
    case WM_SETFOCUS: onFocusChange(true); return 0;
    case WM_KILLFOCUS: onFocusChange(false); return 0;
    case WM_GETDLGCODE: return dialogCode(lParam);
    case WM_KEYDOWN: handled = onKeyDown(wParam, lParam); return 0;
    case WM_CHAR: handled = onCharacter(wParam); return 0;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: handled = onWheel(message, wParam, lParam); return 0;
    case WM_GETOBJECT: return onGetObject(wParam, lParam, handled);
    default: handled = false; return 0;
    }
}

bool TiffView::unchangedSince(const CallOutMark& mark) const
{
    if (mark.document != documentGeneration_)
        return false;
    // A view without a window may get one meanwhile (its host activated);
    // a view that had one must still have the same.
    if (mark.window && (mark.window != window_ || !IsWindow(mark.window)))
        return false;
    const HostAnchor* anchor = hostAnchor();
    return !(anchor && anchor->hostClosing());
}

void TiffView::onCommand(int commandId)
{
    if (!image_)
        return;
    // A command that arrives before the first paint works from this
    // document's fit, never from what an earlier document left.
    ensureFitted();
    const CallOutMark mark = markCallOut();
    SendMessageA(tooltip_, TTM_ACTIVATE, FALSE, 0);
    switch (commandId) {
    case ID_ZOOM_IN:
    case ID_ZOOM_OUT:
    case ID_FIT_WINDOW:
    case ID_FIT_WIDTH:
    case ID_FIT_HEIGHT:
    case ID_ACTUAL_SIZE: runGeometryCommand(commandId); break;
    case ID_MAGNIFIER: toggleMode(MagnifierMode); break;
    case ID_PAN: toggleMode(PanMode); break;
    case ID_PRINT: {
        RECT none = {0, 0, 0, 0};
        drawVisible(nullptr, none);
        break;
    }
    case ID_POINTER: pointerMode(); break;
    default: break;
    }
    // Printing runs the print dialog: the view may be gone by now.
    if (unchangedSince(mark))
        SendMessageA(tooltip_, TTM_ACTIVATE, TRUE, 0);
}

void TiffView::redrawNow()
{
    if (window_)
        RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void TiffView::addTipTool()
{
    tipHotspot_ = nullptr;
    tipRect_ = RECT{};
    if (!tooltip_)
        return;
    TOOLINFOA tool = tipTool(window_);
    tool.lpszText = const_cast<char*>("");
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void TiffView::showTip(const ViewHotspot& hotspot, const RECT& rect)
{
    if (!tooltip_ || !window_)
        return;
    if (hotspot.tipText.empty()) {
        hideTip();
        return;
    }
    TOOLINFOA tool = tipTool(window_);
    if (tipHotspot_ != &hotspot) {
        // Another hotspot's tip must not stay up with this one's text.
        SendMessageA(tooltip_, TTM_POP, 0, 0);
        tool.lpszText = const_cast<char*>(hotspot.tipText.c_str());
        SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
        tipHotspot_ = &hotspot;
    }
    if (!EqualRect(&rect, &tipRect_)) {
        tool.rect = rect;
        SendMessageA(tooltip_, TTM_NEWTOOLRECTA, 0, reinterpret_cast<LPARAM>(&tool));
        tipRect_ = rect;
    }
}

void TiffView::hideTip()
{
    if (!tooltip_ || !window_ || (!tipHotspot_ && IsRectEmpty(&tipRect_)))
        return;
    SendMessageA(tooltip_, TTM_POP, 0, 0);
    TOOLINFOA tool = tipTool(window_);
    tool.rect = RECT{};
    SendMessageA(tooltip_, TTM_NEWTOOLRECTA, 0, reinterpret_cast<LPARAM>(&tool));
    tipHotspot_ = nullptr;
    tipRect_ = RECT{};
}
