// Prints what the viewer would get from a hotspotted TIFF document: the image
// kind, size, resolution and palette size of its first image, and its hotspot
// list. With --directory also libtiff's listing of the first directory
// (including the private tags). With --make-sample PATH it first writes a
// small sample document there.
//
// Messages that the reader would show in a message box are printed to stderr
// as "caption: text", and the tool goes on. It exits with 1 when no image was
// read, 2 on a usage error.
#include "Dib.h"
#include "GlobalMemory.h"
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HtfDocument.h"
#include "PrivateTags.h"
#include "SampleDocument.h"
#include "UserMessage.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

// The tooltip text in UTF-8, which terminals show whole.
std::string utf8Text(const std::u16string& text)
{
    if (text.empty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, int(text.size()), &out[0], bytes, nullptr, nullptr);
    return out;
}

const char* kindOf(int bitCount, int colours)
{
    if (bitCount == 24)
        return "24-bit colour (decoded through RGBA)";
    if (bitCount == 1)
        return "bilevel (1-bit palette)";
    return colours ? "palette or grey (indexed)" : "indexed";
}

void printDirectory(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    TIFF* tif = HtfTIFFFdOpen(file, path, "ru");
    if (!tif) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return;
    }
    TIFFPrintDirectory(tif, stdout, 0);
    HtfTIFFClose(tif);
}

int inspect(const char* path, bool directory)
{
    HtfDocument document;
    DibHandle dib = document.open(path);
    std::unique_ptr<HotspotList> hotspots(document.takeHotspots());

    std::printf("document   %s\n", path);
    if (!dib) {
        std::printf("image      none (not a TIFF file, or an image kind that is not shown)\n");
    } else {
        GlobalLockGuard<unsigned char> data(dib);
        auto info = reinterpret_cast<const BITMAPINFOHEADER*>(data.get());
        const int colours = dibColorCount(data.get());
        std::printf("image      %s\n", kindOf(info->biBitCount, colours));
        std::printf("size       %ld x %ld pixels, %u bits per pixel, %d palette entries, %lu bytes\n",
                    long(info->biWidth), long(info->biHeight), unsigned(info->biBitCount), colours,
                    static_cast<unsigned long>(GlobalSize(dib)));
        std::printf("resolution %ld pixels per metre (%.1f dpi)\n", long(info->biXPelsPerMeter),
                    info->biXPelsPerMeter / 39.37008);
        data.unlock();
        GlobalFree(dib);
    }
    if (!hotspots) {
        std::printf("hotspots   none (no tag 33577)\n");
    } else {
        std::printf("hotspots   %u\n", unsigned(hotspots->count()));
        int n = 0;
        for (const auto& object : *hotspots) {
            auto* record = dynamic_cast<const HotspotRecord*>(object.get());
            if (!record) {
                std::printf("  %3d  (object of class %s)\n", n++, object->className());
                continue;
            }
            std::printf("  %3d  [%ld,%ld - %ld,%ld]  ref \"%s\"  text \"%s\"%s%s%s\n", n++, long(record->left),
                        long(record->top), long(record->right), long(record->bottom), record->reference.c_str(),
                        utf8Text(record->text).c_str(), record->info.empty() ? "" : "  info \"",
                        record->info.c_str(), record->info.empty() ? "" : "\"");
        }
    }
    if (directory) {
        std::printf("\n");
        printDirectory(path);
    }
    return dib ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    printUserMessagesToStderr();
    bool directory = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--directory") == 0) {
            directory = true;
        } else if (std::strcmp(argv[i], "--make-sample") == 0 && i + 1 < argc) {
            path = argv[++i];
            if (!writeSampleDocument(path)) {
                std::fprintf(stderr, "cannot write the sample document %s\n", path);
                return 2;
            }
        } else {
            path = argv[i];
        }
    }
    if (!path) {
        std::fprintf(stderr, "usage: htfinfo [--directory] [--make-sample] file.htf\n");
        return 2;
    }
    return inspect(path, directory);
}
