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
    hotspotIndex_.clear();
    hotspots_.clear();
    hotspotList_.reset();
    W_ = H_ = 0;
    notice_.clear();
}

void TiffView::setImageFile(const wchar_t* fileName)
{
    releaseImage();
    ++documentGeneration_;
    // A new document is fitted afresh at the next paint; until then nothing
    // of the earlier one's geometry counts (the limits are those of a new view).
    scaledWidth_ = scaledHeight_ = 0;
    scale_ = minScale_ = maxScale_ = 1.0;
    if (window_) {
        ShowScrollBar(window_, SB_BOTH, FALSE);
        SetScrollPos(window_, SB_HORZ, 0, FALSE);
        SetScrollPos(window_, SB_VERT, 0, FALSE);
    }
    if (!loadDocument(fileName))
        return;
    if (!image_) {
        // Nothing to show; an empty view repaints grey (with its notice).
        if (window_)
            InvalidateRect(window_, nullptr, FALSE);
        return;
    }
    redrawNow();
}

void TiffView::reloadImageFile(const wchar_t* fileName)
{
    const int32_t oldW = W_, oldH = H_, oldWidth = scaledWidth_, oldHeight = scaledHeight_;
    const double oldScale = scale_, oldMin = minScale_, oldMax = maxScale_;
    const int hpos = scrollPos(SB_HORZ), vpos = scrollPos(SB_VERT);
    const int32_t keyFocus = keyFocus_;
    const bool keyOutline = keyOutline_;
    if (!image_ || oldWidth == 0) {
        setImageFile(fileName);
        return;
    }
    releaseImage();
    ++documentGeneration_;   // the image is a new one, whatever shows on it
    if (!loadDocument(fileName))
        return;
    if (!image_ || W_ != oldW || H_ != oldH) {
        // Another image after all: a new document.
        scaledWidth_ = scaledHeight_ = 0;
        scale_ = minScale_ = maxScale_ = 1.0;
        if (window_) {
            ShowScrollBar(window_, SB_BOTH, FALSE);
            SetScrollPos(window_, SB_HORZ, 0, FALSE);
            SetScrollPos(window_, SB_VERT, 0, FALSE);
            if (image_)
                redrawNow();
            else
                InvalidateRect(window_, nullptr, FALSE);
        }
        return;
    }
    scale_ = oldScale;
    minScale_ = oldMin;
    maxScale_ = oldMax;
    scaledWidth_ = oldWidth;
    scaledHeight_ = oldHeight;
    // The keyboard focus stays on its hotspot too.
    if (keyFocus < int32_t(hotspots_.size())) {
        keyFocus_ = keyFocus;
        keyOutline_ = keyOutline;
    }
    if (window_) {
        // The bars keep their ranges; the positions are set again in case
        // the reading changed them.
        updateScrollBars();
        SetScrollPos(window_, SB_HORZ, hpos, TRUE);
        SetScrollPos(window_, SB_VERT, vpos, TRUE);
        updateTipRects();
    } else {
        updateHotspotRects();
    }
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
        auto shown = std::make_unique<ViewHotspot>();
        shown->hotspot = record;
        shown->leftFraction = double(record->left) / W_;
        shown->topFraction = double(record->top) / H_;
        shown->rightFraction = double(record->right) / W_;
        shown->bottomFraction = double(record->bottom) / H_;
        shown->tipText = toAnsi(record->text);
        hotspots_.push_back(std::move(shown));
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
    {
        auto data = static_cast<const unsigned char*>(GlobalLock(image_));
        W_ = dibWidth(data);
        H_ = dibHeight(data);
        GlobalUnlock(image_);
    }

    // Without memory for the hotspots the image still shows, without them.
    try {
        if (hotspotList_)
            makeViewHotspots();
        hotspotIndex_.build(hotspots_);
    } catch (const std::bad_alloc&) {
        hotspotIndex_.clear();
        hotspots_.clear();
    }

    renderer_.prepare(image_);
    return true;
}
