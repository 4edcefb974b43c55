#include "PrintJob.h"

#include "GlobalMemory.h"

#include <commdlg.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

// The print dialog's structure as the 32-bit common dialogs expect it (byte
// packed); its size is what lStructSize announces.
static_assert(sizeof(PRINTDLGA) == 66, "PRINTDLGA must be the packed 66-byte structure");

namespace {

constexpr size_t kMaxDocumentName = 30;

// Deletes the printer device context on every path.
class PrinterDC {
public:
    explicit PrinterDC(HDC dc) : dc_(dc) {}
    ~PrinterDC() { if (dc_) DeleteDC(dc_); }
    PrinterDC(const PrinterDC&) = delete;
    PrinterDC& operator=(const PrinterDC&) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HDC dc_;
};

bool drawFailed(int lines) { return lines == 0 || lines == int(GDI_ERROR); }

// The source rectangle (rows counted from the image's top) in the row
// convention that paintDibRect uses for this destination: unchanged when the
// sizes match (unscaled drawing), rows counted from the bottom when it stretches.
RECT sourceFor(const RECT& dest, const RECT& source, int imageHeight)
{
    RECT s = source;
    if (dest.right - dest.left != source.right - source.left || dest.bottom - dest.top != source.bottom - source.top) {
        s.top = imageHeight - source.bottom;
        s.bottom = imageHeight - source.top;
    }
    return s;
}

// The destination row at which source row `row` (from the top) starts.
LONG destRowFor(const RECT& dest, const RECT& source, LONG row)
{
    const int64_t sh = source.bottom - source.top, dh = dest.bottom - dest.top;
    return LONG(dest.top + (int64_t(row) - source.top) * dh / sh);
}

} // namespace

bool paintDibInBands(HDC dc, const RECT& dest, DibHandle image, const RECT& source, unsigned long long bandBytes)
{
    const LONG sw = source.right - source.left, sh = source.bottom - source.top;
    if (!image || sw <= 0 || sh <= 0 || dest.right <= dest.left || dest.bottom <= dest.top)
        return false;
    GlobalLockGuard<unsigned char> data(image);
    if (!data)
        return false;
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(data.get());
    if (header->biSize != sizeof(BITMAPINFOHEADER) || header->biCompression != BI_RGB || header->biHeight <= 0)
        return false;   // only uncompressed bottom-up DIBs can be cut into rows
    const LONG height = header->biHeight;
    const LONG top = std::max<LONG>(0, source.top), bottom = std::min<LONG>(height, source.bottom);
    const uint64_t stride = dibRowBytes(header->biBitCount, header->biWidth);

    // A private copy of the header and colour table describes one band.
    std::vector<unsigned char> bandInfo(data.get(), data.get() + sizeof(BITMAPINFOHEADER) + dibPaletteBytes(data.get()));
    auto* bandHeader = reinterpret_cast<BITMAPINFOHEADER*>(bandInfo.data());
    const unsigned char* pixels = dibPixels(data.get());

    const LONG bandRows = LONG(std::max<uint64_t>(1, std::min<uint64_t>(sh, bandBytes / std::max<uint64_t>(stride, 1))));
    bool ok = true;
    for (LONG first = top; first < bottom; first += bandRows) {
        const LONG last = std::min(bottom, first + bandRows);   // image rows [first, last) from the top
        const LONG destTop = destRowFor(dest, source, first), destBottom = destRowFor(dest, source, last);
        if (destBottom <= destTop)
            continue;   // a band that shrinks to no device row
        // Stored rows run bottom-up: the band starts at stored row height - last.
        bandHeader->biHeight = last - first;
        bandHeader->biSizeImage = DWORD(stride * uint64_t(last - first));
        const unsigned char* bandPixels = pixels + stride * uint64_t(height - last);
        const int lines = StretchDIBits(dc, dest.left, destTop, dest.right - dest.left, destBottom - destTop,
                                        source.left, 0, sw, last - first, bandPixels,
                                        reinterpret_cast<const BITMAPINFO*>(bandInfo.data()), DIB_RGB_COLORS, SRCCOPY);
        if (drawFailed(lines))
            ok = false;
    }
    return ok;
}

RECT pageRectFor(int horzRes, int logPixelsX, int logPixelsY, int sw, int sh)
{
    RECT page = {0, 0, horzRes, 0};
    if (sw <= 0 || sh <= 0 || logPixelsX <= 0 || logPixelsY <= 0 || horzRes <= 0)
        return page;
    const double height = double(logPixelsY) * horzRes * sh / (double(logPixelsX) * sw);
    page.bottom = height >= double(INT_MAX) ? INT_MAX : LONG(height);
    return page;
}

RECT pageRect(HDC printer, int sw, int sh)
{
    return pageRectFor(GetDeviceCaps(printer, HORZRES), GetDeviceCaps(printer, LOGPIXELSX),
                       GetDeviceCaps(printer, LOGPIXELSY), sw, sh);
}

HDC getPrinterDC(HWND owner)
{
    PRINTDLGA dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = 66;
    dialog.hwndOwner = owner;
    dialog.Flags = PD_RETURNDC;
    const BOOL chosen = PrintDlgA(&dialog);
    // The dialog allocates the device mode and names blocks for the caller.
    if (dialog.hDevMode)
        GlobalFree(dialog.hDevMode);
    if (dialog.hDevNames)
        GlobalFree(dialog.hDevNames);
    return chosen ? dialog.hDC : nullptr;
}

int printDib(DibHandle image, const RECT& source, HWND owner, const char* documentName,
             const std::function<bool()>& stillWanted)
{
    if (!image)
        return PRINT_ERR_NO_IMAGE;
    PrinterDC printer(getPrinterDC(owner));
    if (stillWanted && !stillWanted())
        return PRINT_CANCELLED_GONE;
    if (!printer)
        return PRINT_ERR_NO_DC;
    // Locked only now: the image may have been freed while the dialog was open.
    GlobalLockGuard<unsigned char> data(image);
    if (!data)
        return PRINT_ERR_LOCK;
    const int imageHeight = dibHeight(data.get());
    SetStretchBltMode(printer.get(), COLORONCOLOR);

    const int sw = source.right - source.left, sh = source.bottom - source.top;
    const RECT page = pageRect(printer.get(), sw, sh);

    char name[kMaxDocumentName + 1] = {};
    if (documentName)
        std::strncpy(name, documentName, kMaxDocumentName);
    DOCINFOA doc;
    std::memset(&doc, 0, sizeof doc);
    doc.cbSize = 20;
    doc.lpszDocName = name;

    if (StartDocA(printer.get(), &doc) <= 0)
        return PRINT_ERR_STARTDOC;
    if (StartPage(printer.get()) <= 0) {
        AbortDoc(printer.get());
        return PRINT_ERR_STARTPAGE;
    }
    if (page.bottom > page.top && sw > 0 && sh > 0) {
        const int lines = paintDibRect(printer.get(), page, image, sourceFor(page, source, imageHeight), nullptr);
        if (drawFailed(lines))
            paintDibInBands(printer.get(), page, image, source, kPrintBandBytes);
    }
    if (EndPage(printer.get()) <= 0) {
        AbortDoc(printer.get());
        return PRINT_ERR_ENDPAGE;
    }
    return EndDoc(printer.get()) <= 0 ? PRINT_ERR_ENDDOC : PRINT_OK;
}
