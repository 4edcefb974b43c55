#pragma once
// One-page print jobs of a part of a DIB through the print dialog.
#include "Dib.h"

#include <windows.h>

#include <functional>

// printDib results.
enum PrintResult : int {
    PRINT_OK = 0,
    PRINT_ERR_LOCK = 3,        // the image's memory could not be locked
    PRINT_ERR_NO_DC = 6,       // no printer device context (dialog cancelled or failed)
    PRINT_ERR_STARTDOC = 11,
    PRINT_ERR_STARTPAGE = 14,
    PRINT_ERR_ENDPAGE = 16,
    PRINT_ERR_ENDDOC = 17,
    PRINT_ERR_NO_IMAGE = 20,
    PRINT_CANCELLED_GONE = 21, // the image or its viewer went while the dialog was open
};

// Prints the `source` rectangle (image space, rows counted from the top) of
// the image on one page, fitted to the printable width. The print dialog is
// modal to `owner`. The document name is cut to 30 characters. The dialog's
// message loop lets the page go on: `stillWanted` (when given) is asked after
// the dialog, and a false answer (the image or its viewer gone) prints
// nothing and touches the image no more.
int printDib(DibHandle image, const RECT& source, HWND owner, const char* documentName,
             const std::function<bool()>& stillWanted = {});

// The destination on the page for a source of sw x sh pixels: the full
// printable width and the height that keeps the proportions on the printer's
// pixels (not limited to the page).
RECT pageRect(HDC printer, int sw, int sh);
// Same computation from the printer's figures, for callers without a device.
RECT pageRectFor(int horzRes, int logPixelsX, int logPixelsY, int sw, int sh);

// The printer device context chosen in the print dialog, or null.
HDC getPrinterDC(HWND owner);

// Bytes of source rows per band when a device refuses to draw a whole source
// at once.
constexpr unsigned long long kPrintBandBytes = 4ull << 20;

// Draws the source rectangle (rows counted from the top) into the destination
// in horizontal bands of at most `bandBytes` bytes of source rows, each its
// own drawing call from a DIB of just those rows onto the destination rows
// that they map to. printDib falls back to it when the printer driver refuses
// the whole drawing. False when a band could not be drawn or the DIB is not an
// uncompressed bottom-up one.
bool paintDibInBands(HDC dc, const RECT& dest, DibHandle image, const RECT& source, unsigned long long bandBytes);
