// Drawing on request of the host (IViewObject, IViewObject2, IViewObjectEx)
// and data transfer (IDataObject: a metafile picture of the control) of the
// control base.
#include "ControlBase.h"

HRESULT STDMETHODCALLTYPE ControlBase::Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* targetDevice,
                                            HDC targetInformation, HDC dc, LPCRECTL bounds, LPCRECTL windowBounds,
                                            BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR)
{
    // Never windowless, so there is no stored position to draw at instead.
    // Without a device context the viewer would print through its dialog.
    if (!bounds || !dc)
        return E_INVALIDARG;
    if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_OPAQUE && aspect != DVASPECT_TRANSPARENT)
        return DV_E_DVASPECT;
    SelfReference self(this);   // drawing may read the document again, and show its error box
    ControlDrawInfo info;
    info.aspect = aspect;
    info.index = index;
    info.targetDevice = targetDevice;
    info.targetInformation = targetInformation;
    info.dc = dc;
    info.bounds = RECT{bounds->left, bounds->top, bounds->right, bounds->bottom};
    info.windowBounds = windowBounds;
    auto extra = static_cast<const DVASPECTINFO*>(aspectInfo);
    if (extra && extra->cb >= 8)
        info.optimize = (extra->dwFlags & DVASPECTINFOFLAG_CANOPTIMIZE) != 0;
    return onHostDraw(info);
}

HRESULT STDMETHODCALLTYPE ControlBase::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors)
{
    if (colors)
        *colors = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::Freeze(DWORD, LONG, void*, DWORD*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::Unfreeze(DWORD)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink)
{
    if (sink)
        sink->AddRef();
    if (viewAdviseSink_)
        viewAdviseSink_->Release();
    viewAdviseSink_ = sink;
    viewAdviseAspects_ = aspects;
    viewAdviseFlags_ = flags;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink)
{
    if (aspects)
        *aspects = viewAdviseAspects_;
    if (flags)
        *flags = viewAdviseFlags_;
    if (sink) {
        *sink = viewAdviseSink_;
        if (viewAdviseSink_)
            viewAdviseSink_->AddRef();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetExtent(DWORD, LONG, DVTARGETDEVICE*, LPSIZEL size)
{
    if (!size)
        return E_POINTER;
    *size = extent_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetRect(DWORD aspect, LPRECTL rect)
{
    if (!rect)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    *rect = RECTL{position_.left, position_.top, position_.right, position_.bottom};
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetViewStatus(DWORD* status)
{
    if (!status)
        return E_POINTER;
    *status = VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG,
                                                     DWORD* result)
{
    if (!bounds || !result)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return E_FAIL;
    *result = PtInRect(bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG,
                                                    DWORD* result)
{
    if (!bounds || !location || !result)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return E_FAIL;
    RECT common;
    *result = IntersectRect(&common, bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC,
                                                        DVEXTENTINFO* info, LPSIZEL size)
{
    if (!info || !size)
        return E_POINTER;
    if (aspect == DVASPECT_CONTENT && info->dwExtentMode == DVEXTENT_CONTENT) {
        *size = naturalExtent_;
        return S_OK;
    }
    return E_NOTIMPL;
}

// IDataObject: the control as a metafile picture of its extent.

HRESULT STDMETHODCALLTYPE ControlBase::GetData(FORMATETC* format, STGMEDIUM* medium)
{
    if (!format || !medium)
        return E_POINTER;
    ZeroMemory(medium, sizeof(*medium));
    if (!(format->tymed & TYMED_MFPICT))
        return DATA_E_FORMATETC;
    SelfReference self(this);

    // Device pixels of the extent on the screen, as a metafile of that size.
    HDC screen = GetDC(nullptr);
    const SIZE pixels = {MulDiv(extent_.cx, GetDeviceCaps(screen, LOGPIXELSX), 2540),
                         MulDiv(extent_.cy, GetDeviceCaps(screen, LOGPIXELSY), 2540)};
    ReleaseDC(nullptr, screen);

    HDC metafileDc = CreateMetaFileA(nullptr);
    if (!metafileDc)
        return E_OUTOFMEMORY;
    SetWindowOrgEx(metafileDc, 0, 0, nullptr);
    SetWindowExtEx(metafileDc, pixels.cx, pixels.cy, nullptr);
    RECTL bounds = {0, 0, pixels.cx, pixels.cy};
    const HRESULT hr = Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, metafileDc, &bounds, nullptr, nullptr, 0);
    HMETAFILE metafile = CloseMetaFile(metafileDc);
    if (FAILED(hr)) {
        if (metafile)
            DeleteMetaFile(metafile);
        return hr;
    }
    if (!metafile)
        return E_UNEXPECTED;

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, sizeof(METAFILEPICT));
    auto picture = block ? static_cast<METAFILEPICT*>(GlobalLock(block)) : nullptr;
    if (!picture) {
        if (block)
            GlobalFree(block);
        DeleteMetaFile(metafile);
        return E_OUTOFMEMORY;
    }
    picture->mm = MM_ANISOTROPIC;
    picture->hMF = metafile;
    picture->xExt = extent_.cx;
    picture->yExt = extent_.cy;
    GlobalUnlock(block);
    medium->tymed = TYMED_MFPICT;
    medium->hMetaFilePict = block;
    medium->pUnkForRelease = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetDataHere(FORMATETC*, STGMEDIUM*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::QueryGetData(FORMATETC*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out)
{
    if (out)
        out->ptd = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetData(FORMATETC*, STGMEDIUM*, BOOL)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::EnumFormatEtc(DWORD, IEnumFORMATETC** formats)
{
    if (formats)
        *formats = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection)
{
    if (!connection)
        return E_POINTER;
    *connection = 0;
    if (!dataAdviseHolder_) {
        const HRESULT hr = CreateDataAdviseHolder(&dataAdviseHolder_);
        if (FAILED(hr))
            return hr;
    }
    return dataAdviseHolder_->Advise(static_cast<IDataObject*>(this), format, flags, sink, connection);
}

HRESULT STDMETHODCALLTYPE ControlBase::DUnadvise(DWORD connection)
{
    return unadviseFrom(dataAdviseHolder_, connection);
}

HRESULT STDMETHODCALLTYPE ControlBase::EnumDAdvise(IEnumSTATDATA** advise)
{
    return enumAdviseOf(dataAdviseHolder_, advise);
}
