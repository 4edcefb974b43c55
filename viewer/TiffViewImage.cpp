// TiffView: putting a document on screen.
#include "TiffView.h"

#include "BmpFileQuantizer.h"
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HtfDocument.h"

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
// 224 colours, through BMP files in the temporary directory.
void reduceToPalette(DibHandle& image, const void* owner)
{
    char directory[1024] = {};
    GetTempPathA(sizeof directory, directory);
    char name[64];
    std::snprintf(name, sizeof name, "%ld%d.tif", long(reinterpret_cast<uintptr_t>(owner)), 0);
    const std::string fullColour = std::string(directory) + name;
    const std::string reduced = fullColour + "1";
    DeleteFileA(fullColour.c_str());
    DeleteFileA(reduced.c_str());

    saveDibFile(image, fullColour.c_str());
    {
        BmpFileQuantizer quantizer;
        quantizer.maxColors = kMaxPaletteColours;
        quantizer.quantizeFile(fullColour.c_str(), reduced.c_str());
    }
    DibHandle result = loadDibFile(reduced.c_str());
    DeleteFileA(fullColour.c_str());
    DeleteFileA(reduced.c_str());
    if (result) {
        GlobalFree(image);
        image = result;
    }
}

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
    hideKeyTip();
    keyFocus_ = -1;
    keyOutline_ = false;
    hotspots_.clear();
    hotspotList_.reset();
    W_ = H_ = 0;
}

void TiffView::setImageFile(const wchar_t* fileName)
{
    releaseImage();
    // A new document is fitted afresh at the next paint.
    scaledWidth_ = scaledHeight_ = 0;
    if (window_) {
        ShowScrollBar(window_, SB_BOTH, FALSE);
        SetScrollPos(window_, SB_HORZ, 0, FALSE);
        SetScrollPos(window_, SB_VERT, 0, FALSE);
    }

    HtfDocument document;
    if (fileName) {
        try {
            const size_t length = wcslen(fileName);
            std::vector<char> path(2 * length + 2, '\0');
            WideCharToMultiByte(CP_ACP, 0, fileName, int(length), path.data(), int(path.size() - 1), nullptr,
                                nullptr);
            image_ = document.open(path.data());
        } catch (...) {
            image_ = nullptr;
        }
    }
    if (!image_) {
        // Nothing to show; an empty view repaints grey.
        if (window_)
            InvalidateRect(window_, nullptr, FALSE);
        return;
    }

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

    if (displayBitsPerPixel_ <= 8) {
        uint16_t bits = 0;
        {
            auto header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(image_));
            bits = header->biBitCount;
            GlobalUnlock(image_);
        }
        if (bits >= 9)
            reduceToPalette(image_, this);
        palette_ = makeDibPalette(image_);
    }

    renderer_.prepare(image_);
    redrawNow();
}
