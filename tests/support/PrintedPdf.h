#pragma once
// What the test printer printed. The tests print to the CUPS queue "PDF"
// (scripts/printer-setup): cups-pdf writes each job to ~/PDF/ on the Linux
// side, named after the job's title with spaces as '_' and a job suffix, e.g.
// "QEL_Tiff_Hotspot_Viewer__12__enable-job_7.pdf". The folder is reached
// through Wine's Z: drive (WINEHOMEDIR names the Linux home).
//
// Rendering runs the Linux program pdftoppm from inside the Wine test:
// CreateProcess of "Z:\bin\sh" starts a native process, but Wine gives no
// waitable handle for it, so the shell renders to a temporary name and then
// renames it, and the caller polls for the final file (the rename is atomic).
// pdftoppm writes PPM, which needs no image library to read.
//
// Typical use, after GTEST_SKIP when !printerAvailable():
//     const FILETIME since = nowFileTime();
//     ... print through the dialog inside a DialogWatcher scope ...
//     RenderedPage page;
//     std::string error;
//     ASSERT_TRUE(takePrintedPage("QEL Tiff Hotspot Viewer", since, 72, page, error)) << error;
//     page.inkBounds() is the printed area; probeMismatches(page, {{0.25, 0.5, 0xFF0000}}, 16)
//     checks colours at fractions of it.
// Test programs that print find their PDF by document name, so CTest must run
// them one at a time: set_tests_properties(<test> PROPERTIES RESOURCE_LOCK printer).
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Any printer known to the system (EnumPrintersA); tests skip without one.
bool printerAvailable();

// The folder where printed PDFs land, as a Windows path; empty outside Wine.
std::string printedPdfFolder();

// The current time, to pass as `since` before printing.
FILETIME nowFileTime();

// The newest complete PDF in printedPdfFolder() whose name contains
// `documentName` (spaces as '_') and that was written at or after `since`;
// waits up to `timeoutMs` for it. Empty when none came.
std::string findPrintedPdf(const std::string& documentName, FILETIME since, DWORD timeoutMs = 60000);

// One rendered page; rows top first.
struct RenderedPage {
    std::string fileName;   // of the PDF, without the folder (set by takePrintedPage)
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;   // red, green, blue per pixel

    // 0xRRGGBB of a pixel.
    unsigned rgbAt(int x, int y) const
    {
        const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
        return unsigned(p[0]) << 16 | unsigned(p[1]) << 8 | p[2];
    }
    // The smallest rectangle holding every pixel that is not near white
    // (some channel below 224); empty when the page is blank.
    RECT inkBounds() const;
};

// Renders the first page of a PDF (a Windows path) at `dpi` with pdftoppm.
// False when pdftoppm is missing, fails or times out.
bool renderPdfPage(const std::string& pdfPath, int dpi, RenderedPage& page, DWORD timeoutMs = 60000);

// Colours within `tolerance` on every channel.
bool closeColour(unsigned a, unsigned b, int tolerance);

// The newest PDF for the document (as findPrintedPdf), rendered at `dpi`;
// the PDF is deleted afterwards. On failure `error` says what was missing.
bool takePrintedPage(const std::string& documentName, FILETIME since, int dpi, RenderedPage& page,
                     std::string& error);

// A colour expected at a point given as fractions of a page's inkBounds().
struct InkProbe {
    double fx, fy;
    unsigned rgb;
};
// One line for each probe whose colour differs by more than `tolerance`.
std::vector<std::string> probeMismatches(const RenderedPage& page, const std::vector<InkProbe>& probes,
                                         int tolerance);
