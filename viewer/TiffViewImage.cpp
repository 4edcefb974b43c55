// TiffView: putting a document on screen.
#include "TiffView.h"

#include "AnsiText.h"
#include "BmpFileQuantizer.h"
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HtfDocument.h"
#include "PrivateTempFile.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr int kMaxPaletteColours = 224;

// UTF-16 text in the ANSI code page, "_" for characters it lacks.
std::string toAnsi(const std::u16string& text)
{
    if (text.empty())
        return {};
    auto wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = int(text.size());
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, "_", nullptr);
    if (bytes <= 0)
        return {};
    std::string out(size_t(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, length, &out[0], bytes, "_", nullptr);
    return out;
}

// Replaces a 24-bit image by its reduction to an 8-bit palette of at most
// 224 colours, through BMP files of the view's own in the temporary
// directory. Without them the reduced image is missing as when the quantizer
// fails: the user is told and the full-colour image stays.
void reduceToPalette(DibHandle& image, const void* owner)
{
    PrivateTempFile fullColour, reduced;
    if (!fullColour.create(objectIdentity(owner), ".tif") || !reduced.create(objectIdentity(owner), ".tif1")) {
        showDibError(DIB_ERR_FILENOTFOUND);
        return;
    }
    // Both names are ours; the writers below open them again by name.
    fullColour.close();
    reduced.close();

    saveDibFile(image, fullColour.path().c_str());
    {
        BmpFileQuantizer quantizer;
        quantizer.maxColors = kMaxPaletteColours;
        quantizer.quantizeFile(fullColour.path().c_str(), reduced.path().c_str());
    }
    DibHandle result = loadDibFile(reduced.path().c_str());
    if (result) {
        GlobalFree(image);
        image = result;
    }
}   // both files are deleted here

} // namespace

void TiffView::releaseImage()
{
    if (palette_)
        DeleteObject(palette_);
    palette_ = nullptr;
    if (image_)
        GlobalFree(image_);
    image_ = nullptr;
    renderer_.reset();
    hideTip();
    currentHotspot_ = nullptr;
    hideKeyTip();
    keyFocus_ = -1;
    keyOutline_ = false;
    reportedOutline_ = nullptr;
    highlighted_.clear();
    model_.clearHotspots();
    hotspotList_.reset();
    notice_.clear();
}

void TiffView::showNewDocument()
{
    if (!window_)
        return;
    applyScrollBars();
    if (image_)
        redrawNow();
    else
        InvalidateRect(window_, nullptr, FALSE);   // an empty view repaints grey (with its notice)
}

void TiffView::setImageFile(const wchar_t* fileName)
{
    releaseImage();
    ++documentGeneration_;
    // A new document is fitted afresh at the next paint; until then nothing
    // of the earlier one's geometry counts (the limits are those of a new view).
    model_.setImage(0, 0);
    if (window_)
        applyScrollBars();
    if (!loadDocument(fileName))
        return;
    showNewDocument();
    if (fileName)
        queueDocumentReport();
}

void TiffView::reloadImageFile(const wchar_t* fileName)
{
    const int32_t keyFocus = keyFocus_;
    const bool keyOutline = keyOutline_;
    if (!image_ || !model_.fitted()) {
        setImageFile(fileName);
        return;
    }
    // The model keeps its scale, limits and positions while the image has
    // the same size (loadDocument gives it a new one otherwise).
    releaseImage();
    ++documentGeneration_;   // the image is a new one, whatever shows on it
    if (!loadDocument(fileName))
        return;
    if (!image_ || !model_.fitted()) {
        // Another image after all: a new document.
        showNewDocument();
        return;
    }
    // The keyboard focus stays on its hotspot too.
    if (keyFocus < int32_t(model_.hotspotCount())) {
        keyFocus_ = keyFocus;
        keyOutline_ = keyOutline;
    }
    // The bars keep their ranges and positions, set again in case the
    // reading changed them.
    updateScrollBars();
    redrawNow();
    showKeyTip();
}

void TiffView::makeViewHotspots()
{
    for (const auto& element : *hotspotList_) {
        if (std::strcmp(element->className(), HotspotRecord::kClassName) != 0)
            continue;
        auto record = static_cast<const HotspotRecord*>(element.get());
        if (record->reference.empty())
            continue;
        ViewHotspot* shown = model_.addHotspot(record->left, record->top, record->right, record->bottom);
        if (!shown)
            return;
        shown->hotspot = record;
        shown->tipText = toAnsi(record->text);
    }
}

bool TiffView::loadDocument(const wchar_t* fileName)
{
    // The reader may show its error box and the palette reduction its
    // "File Not Found!" box: the page can remove the viewer or set another
    // document meanwhile. The image stays ours until it is known to be
    // wanted, and is dropped otherwise.
    const CallOutMark mark = markCallOut();
    DibHandle loaded = nullptr;
    HtfDocument document;
    if (fileName) {
        try {
            // A name that the code page cannot spell exactly is not opened:
            // its look-alike would be another file, or another machine's.
            std::string path;
            if (toAnsiExactly(fileName, wcslen(fileName), path))
                loaded = document.open(path.c_str());
        } catch (...) {
            loaded = nullptr;
        }
    }
    if (!unchangedSince(mark)) {
        if (loaded)
            GlobalFree(loaded);
        return false;
    }
    if (!loaded) {
        model_.setImage(0, 0);
        if (document.imageTooLarge())
            notice_ = L"This image is too large to show: " + std::to_wstring(document.imageWidth()) + L" \u00D7 " +
                      std::to_wstring(document.imageHeight()) + L" pixels";
        return true;
    }

    if (displayBitsPerPixel_ <= 8) {
        uint16_t bits = 0;
        {
            auto header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(loaded));
            bits = header->biBitCount;
            GlobalUnlock(loaded);
        }
        if (bits >= 9)
            reduceToPalette(loaded, this);
        if (!unchangedSince(mark)) {
            GlobalFree(loaded);
            return false;
        }
        palette_ = makeDibPalette(loaded);
    }
    image_ = loaded;

    hotspotList_.reset(document.takeHotspots());
    int32_t width = 0, height = 0;
    {
        auto data = static_cast<const unsigned char*>(GlobalLock(image_));
        width = dibWidth(data);
        height = dibHeight(data);
        GlobalUnlock(image_);
    }
    // An image of the size shown keeps the view's geometry (a document read
    // again); any other is a new one, fitted afresh.
    if (width != model_.imageWidth() || height != model_.imageHeight())
        model_.setImage(width, height);

    // Without memory for the hotspots the image still shows, without them.
    try {
        if (hotspotList_)
            makeViewHotspots();
        model_.indexHotspots();
    } catch (const std::bad_alloc&) {
        model_.clearHotspots();
    }

    renderer_.prepare(image_);
    return true;
}
