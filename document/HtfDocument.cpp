#include "HtfDocument.h"

#include "DibTarget.h"
#include "HotspotList.h"
#include "HotspotStream.h"
#include "PrivateTags.h"
#include "PrivateTempFile.h"
#include "TiffImageDecoder.h"
#include "UserMessage.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// Errors of the TIFF library as a message box "<module> Error".
void showTiffMessage(const char* module, const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    char caption[300];
    std::snprintf(caption, sizeof caption, "%s Error", module ? module : "TIFFLIB");
    showUserMessage(GetFocus(), text, caption, MB_ICONEXCLAMATION | MB_OK);
}

// The errors of one open: only the first is shown, since a damaged image
// reports every unreadable row and the user needs one message, not
// thousands. The state belongs to the open's own handle, so another document
// opened while the box is up (a second viewer painting, say) keeps its own
// and leaves this one's alone.
struct OpenErrors {
    bool shown = false;
};

int showFirstError(TIFF*, void* data, const char* module, const char* format, va_list args)
{
    auto* errors = static_cast<OpenErrors*>(data);
    if (!errors->shown) {
        errors->shown = true;
        showTiffMessage(module, format, args);
    }
    return 1;   // handled: nothing reaches the process-wide handler
}

// Errors that belong to no handle, and warnings, of the process.
void installProcessHandlers()
{
    static const bool installed = [] {
        TIFFSetErrorHandler(showTiffMessage);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)installed;
}

// Closes the TIFF handle (and its file) on every path.
class TiffHandle {
public:
    explicit TiffHandle(TIFF* tif) : tif_(tif) {}
    ~TiffHandle() { HtfTIFFClose(tif_); }
    TiffHandle(const TiffHandle&) = delete;
    TiffHandle& operator=(const TiffHandle&) = delete;
    TIFF* get() const { return tif_; }

private:
    TIFF* tif_;
};

} // namespace

HtfDocument::~HtfDocument()
{
    delete pendingHotspots;
}

HotspotList* HtfDocument::takeHotspots()
{
    HotspotList* list = pendingHotspots;
    pendingHotspots = nullptr;
    return list;
}

DibHandle HtfDocument::open(const char* fileName)
{
    delete pendingHotspots;
    pendingHotspots = nullptr;
    imageWidth_ = imageHeight_ = 0;
    imageTooLarge_ = false;

    installProcessHandlers();
    OpenErrors errors;
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    TIFF* opened = HtfTIFFFdOpen(file, fileName, "ru", showFirstError, &errors);
    if (!opened) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return nullptr;
    }
    TiffHandle tif(opened);

    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &imageWidth_);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &imageHeight_);
    // The core decodes the first image into a DIB; libtiff's errors reach
    // the message box through the handle's own handler.
    DibTarget target;
    const DecodeOutcome outcome = decodeTiffImage(tif.get(), target);
    DibHandle dib = outcome == DecodeOutcome::Decoded ? target.take() : nullptr;
    imageTooLarge_ = !dib && (outcome == DecodeOutcome::TooLarge || outcome == DecodeOutcome::NoMemory);

    uint32_t count = 0;
    void* bytes = nullptr;
    TIFFGetField(tif.get(), TIFFTAG_QELHOTSPOT, &count, &bytes);
    if (count != 0 && bytes)
        pendingHotspots = extractHotspots(bytes, count);
    return dib;
}

HotspotList* HtfDocument::extractHotspots(const void* bytes, uint32_t count)
{
    // The stream reader reads a file stream, so the bytes pass through a
    // temporary file of this loader's own (no file: no hotspots).
    PrivateTempFile temp;
    if (!temp.create(objectIdentity(this), ".tmp"))
        return nullptr;
    const bool written = temp.write(bytes, count);
    temp.close();
    if (!written)
        return nullptr;
    HotspotList* list = nullptr;
    try {
        list = new HotspotList;
        std::ifstream in(temp.path(), std::ios::in | std::ios::binary);
        readHotspotStream(in, *list);
    } catch (...) {
        delete list;
        list = nullptr;
    }
    return list;   // the temporary file goes with `temp`
}
