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
    removeTipTools();
    currentHotspot_ = nullptr;
    hotspots_.clear();
    hotspotList_.reset();
    W_ = H_ = 0;
}

void TiffView::setImageFile(const wchar_t* fileName)
{
    releaseImage();
    ++documentGeneration_;
    // A new document is fitted afresh at the next paint.
    scaledWidth_ = scaledHeight_ = 0;
    if (window_) {
        ShowScrollBar(window_, SB_BOTH, FALSE);
        SetScrollPos(window_, SB_HORZ, 0, FALSE);
        SetScrollPos(window_, SB_VERT, 0, FALSE);
    }

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
        return;
    }
    if (!loaded) {
        // Nothing to show; an empty view repaints grey.
        if (window_)
            InvalidateRect(window_, nullptr, FALSE);
        return;
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
            return;
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

    if (hotspotList_) {
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

    renderer_.prepare(image_);
    redrawNow();
}
