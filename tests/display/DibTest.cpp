#include "DialogWatcher.h"
#include "Dib.h"
#include "DibView.h"
#include "GlobalMemory.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace {

// A DIB with every byte of its colour table and pixels set from a pattern.
DibHandle patternedDib(int w, int h, uint16_t bits)
{
    DibHandle dib = createEmptyDib(w, h, uint32_t(dibRowBytes(bits, w)), bits, 2835);
    GlobalLockGuard<unsigned char> data(dib);
    const size_t total = GlobalSize(dib);
    for (size_t i = sizeof(BITMAPINFOHEADER); i < total; ++i)
        data.get()[i] = uint8_t(i * 31 + 7);
    return dib;
}

TEST(DibCreate, SizesAndHeader)
{
    struct Case { int w, h; uint32_t rowBytes; uint16_t bits; size_t expectedBytes; } cases[] = {
        {5, 2, 15, 24, 40 + 16 * 2},
        {10, 3, 2, 1, 40 + 2 * 4 + 4 * 3},
        {3, 3, 2, 4, 40 + 16 * 4 + 4 * 3},
        {7, 1, 7, 8, 40 + 256 * 4 + 8},
        {2, 2, 4, 16, 40 + 4 * 2},   // above 8 bits: no colour table
        {0, 0, 0, 8, 40 + 1024},
    };
    for (const Case& c : cases) {
        DibOwner dib(createEmptyDib(c.w, c.h, c.rowBytes, c.bits, 394));
        ASSERT_NE(dib.dib, nullptr);
        EXPECT_EQ(GlobalSize(dib.dib), c.expectedBytes) << c.w << "x" << c.h << "x" << c.bits;
        EXPECT_TRUE(GlobalFlags(dib.dib) == 0) << "movable and unlocked";
        GlobalLockGuard<BITMAPINFOHEADER> h(dib.dib);
        EXPECT_EQ(h->biSize, 40u);
        EXPECT_EQ(h->biWidth, c.w);
        EXPECT_EQ(h->biHeight, c.h);
        EXPECT_EQ(h->biPlanes, 1);
        EXPECT_EQ(h->biBitCount, c.bits);
        EXPECT_EQ(h->biCompression, DWORD(BI_RGB));
        EXPECT_EQ(h->biSizeImage, (c.rowBytes + 3) / 4 * 4 * uint32_t(c.h));
        EXPECT_EQ(h->biXPelsPerMeter, 394);
        EXPECT_EQ(h->biYPelsPerMeter, 394);
        EXPECT_EQ(h->biClrUsed, 0u);
        const unsigned char* bytes = reinterpret_cast<unsigned char*>(h.get());
        for (size_t i = 40; i < c.expectedBytes; ++i)
            ASSERT_EQ(bytes[i], 0) << "zero-initialised";
    }
}

TEST(DibCreate, SizesThatCannotBeAllocatedGiveNull)
{
    EXPECT_EQ(createEmptyDib(100000, 100000, 300000, 24, 0), nullptr);     // 30 GB
    EXPECT_EQ(createEmptyDib(0x7FFFFFFF, 2, 0xFFFFFFFF, 24, 0), nullptr);  // stride wraps in 32 bits
    EXPECT_EQ(createEmptyDib(65536, 65536, 65536, 8, 0), nullptr);         // exactly 4 GiB of pixels
    EXPECT_EQ(createEmptyDib(-1, 2, 4, 8, 0), nullptr);
    EXPECT_EQ(createEmptyDib(2, -1, 4, 8, 0), nullptr);
}

TEST(DibMeasure, InfoAndCoreHeaders)
{
    DibOwner rgb(createEmptyDib(5, 2, 15, 24, 0));
    {
        GlobalLockGuard<unsigned char> d(rgb.dib);
        EXPECT_EQ(dibColorCount(d.get()), 0);
        EXPECT_EQ(dibPaletteBytes(d.get()), 0u);
        EXPECT_EQ(dibPixels(d.get()), d.get() + 40);
        EXPECT_EQ(dibWidth(d.get()), 5);
        EXPECT_EQ(dibHeight(d.get()), 2);
        reinterpret_cast<BITMAPINFOHEADER*>(d.get())->biClrUsed = 5;   // an optimal palette
        EXPECT_EQ(dibColorCount(d.get()), 5);
        EXPECT_EQ(dibPixels(d.get()), d.get() + 60);
    }
    EXPECT_EQ(makeDibPalette(nullptr), nullptr);

    unsigned char core[12 + 768 + 8] = {};
    auto* h = reinterpret_cast<BITMAPCOREHEADER*>(core);
    h->bcSize = 12, h->bcWidth = 300, h->bcHeight = 2, h->bcPlanes = 1, h->bcBitCount = 8;
    EXPECT_EQ(dibWidth(core), 300);
    EXPECT_EQ(dibHeight(core), 2);
    EXPECT_EQ(dibColorCount(core), 256);
    EXPECT_EQ(dibPaletteBytes(core), 768u);
    EXPECT_EQ(dibPixels(core), core + 12 + 768);
    h->bcBitCount = 4;
    EXPECT_EQ(dibColorCount(core), 16);
    h->bcBitCount = 24;
    EXPECT_EQ(dibColorCount(core), 0);
}

TEST(DibPalette, FromDibAndFromResourceInfo)
{
    DibOwner dib(createEmptyDib(2, 2, 2, 8, 0));
    {
        GlobalLockGuard<unsigned char> d(dib.dib);
        auto table = reinterpret_cast<RGBQUAD*>(d.get() + 40);
        for (int i = 0; i < 256; ++i)
            table[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i / 2), 0};
    }
    HPALETTE palette = makeDibPalette(dib.dib);
    ASSERT_NE(palette, nullptr);
    PALETTEENTRY entries[256];
    ASSERT_EQ(GetPaletteEntries(palette, 0, 256, entries), 256u);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(entries[i].peRed, BYTE(i / 2));
        ASSERT_EQ(entries[i].peGreen, BYTE(255 - i));
        ASSERT_EQ(entries[i].peBlue, BYTE(i));
    }
    DeleteObject(palette);
    EXPECT_EQ(GlobalFlags(dib.dib) & GMEM_LOCKCOUNT, 0u) << "unlocked again";

    DibOwner rgb(createEmptyDib(2, 2, 6, 24, 0));
    EXPECT_EQ(makeDibPalette(rgb.dib), nullptr);

    GlobalLockGuard<BITMAPINFOHEADER> info(dib.dib);
    int count = -1;
    info->biBitCount = 4;
    info->biClrUsed = 3;   // not consulted for resources
    HPALETTE fromInfo = makePaletteFromInfo(info.get(), count);
    EXPECT_EQ(count, 16);
    ASSERT_NE(fromInfo, nullptr);
    EXPECT_EQ(GetPaletteEntries(fromInfo, 0, 0, nullptr), 16u);
    DeleteObject(fromInfo);
    info->biBitCount = 24;
    EXPECT_EQ(makePaletteFromInfo(info.get(), count), nullptr);
    EXPECT_EQ(count, 0);
}

// --- BMP files --------------------------------------------------------------

TEST(DibFile, FiveByTwoRgbIs86Bytes)
{
    ScopedFile file(uniqueTempPath(".bmp"));
    DibOwner dib(patternedDib(5, 2, 24));
    ASSERT_EQ(saveDibFile(dib.dib, file.c_str()), 0);
    auto bytes = readWholeFile(file.path());
    ASSERT_EQ(bytes.size(), 86u);
    BITMAPFILEHEADER header;
    std::memcpy(&header, bytes.data(), sizeof header);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(header.bfSize, 86u);
    EXPECT_EQ(header.bfOffBits, 54u);
    EXPECT_EQ(header.bfReserved1, 0);
    GlobalLockGuard<unsigned char> d(dib.dib);
    EXPECT_EQ(std::memcmp(bytes.data() + 14, d.get(), 72), 0);
}

TEST(DibFile, RoundTripOfEveryDepth)
{
    DialogWatcher dialogs;
    for (uint16_t bits : {1, 4, 8, 24}) {
        ScopedFile file(uniqueTempPath(".bmp"));
        DibOwner original(patternedDib(13, 7, bits));
        ASSERT_EQ(saveDibFile(original.dib, file.c_str()), 0);
        DibOwner loaded(loadDibFile(file.c_str()));
        ASSERT_NE(loaded.dib, nullptr) << bits;
        DibView a(original.dib), b(loaded.dib);
        EXPECT_EQ(b.header.biBitCount, bits);
        EXPECT_EQ(b.header.biWidth, 13);
        EXPECT_EQ(b.header.biHeight, 7);
        EXPECT_EQ(b.header.biXPelsPerMeter, 2835);
        EXPECT_EQ(b.header.biClrUsed, bits == 24 ? 0u : (1u << bits));   // filled in on reading
        EXPECT_EQ(b.palette.size(), a.palette.size());
        EXPECT_EQ(std::memcmp(b.palette.data(), a.palette.data(), a.palette.size() * 4), 0);
        EXPECT_EQ(b.pixels, a.pixels);
    }
    EXPECT_TRUE(dialogs.seen().empty());
}

TEST(DibFile, SaveRefusals)
{
    EXPECT_EQ(saveDibFile(nullptr, "x.bmp"), DIB_ERR_INVALIDHANDLE);
    DibOwner dib(patternedDib(3, 3, 8));
    EXPECT_EQ(saveDibFile(dib.dib, (tempDirectory() + "no-such-dir\\x.bmp").c_str()), DIB_ERR_OPEN);

    // A header that claims more rows than the block holds is not written.
    ScopedFile file(uniqueTempPath(".bmp"));
    {
        GlobalLockGuard<BITMAPINFOHEADER> h(dib.dib);
        h->biHeight = 1000;
    }
    EXPECT_NE(saveDibFile(dib.dib, file.c_str()), 0);
    EXPECT_FALSE(fileExists(file.path()));
}

std::vector<unsigned char> bmpBytes(int w, int h, uint16_t bits, DWORD clrUsed, DWORD sizeImage, DWORD offBits,
                                    size_t gap, size_t pixelBytes, DWORD headerSize = 40)
{
    BITMAPFILEHEADER fh = {};
    fh.bfType = 'B' | 'M' << 8;
    fh.bfOffBits = offBits;
    BITMAPINFOHEADER ih = {};
    ih.biSize = headerSize, ih.biWidth = w, ih.biHeight = h, ih.biPlanes = 1, ih.biBitCount = bits;
    ih.biClrUsed = clrUsed, ih.biSizeImage = sizeImage;
    std::vector<unsigned char> out(sizeof fh + sizeof ih);
    std::memcpy(out.data(), &fh, sizeof fh);
    std::memcpy(out.data() + sizeof fh, &ih, sizeof ih);
    const size_t colours = std::min<size_t>(clrUsed ? clrUsed : (bits <= 8 ? 1u << bits : 0), 256);
    for (size_t i = 0; i < colours * 4 + gap; ++i)
        out.push_back(uint8_t(i));
    for (size_t i = 0; i < pixelBytes; ++i)
        out.push_back(uint8_t(0xA0 + i));
    return out;
}

DibHandle readBytes(const std::vector<unsigned char>& bytes)
{
    ScopedFile file(uniqueTempPath(".bmp"));
    writeWholeFile(file.path(), bytes.data(), bytes.size());
    return loadDibFile(file.c_str());
}

TEST(DibFile, PixelsAreReadFromTheFileOffset)
{
    // 2 x 1 24-bit, 40 unrelated bytes between the headers and the pixels.
    DibOwner dib(readBytes(bmpBytes(2, 1, 24, 0, 0, 54 + 40, 40, 8)));
    ASSERT_NE(dib.dib, nullptr);
    DibView v(dib.dib);
    EXPECT_EQ(v.header.biSizeImage, 8u);   // computed when the field is 0
    ASSERT_EQ(v.pixels.size(), 8u);
    EXPECT_EQ(v.pixels[0], 0xA0);
    EXPECT_EQ(v.pixels[7], 0xA7);
}

TEST(DibFile, MalformedFilesReadAsNullWithoutAMessage)
{
    DialogWatcher dialogs;
    auto notBm = bmpBytes(2, 2, 8, 0, 0, 0, 0, 8);
    notBm[0] = 'X';
    EXPECT_EQ(readBytes(notBm), nullptr);
    EXPECT_EQ(readBytes(bmpBytes(2, 2, 8, 0, 0, 0, 0, 8, 12)), nullptr);       // core header
    EXPECT_EQ(readBytes(bmpBytes(2, 2, 8, 0, 0, 0, 0, 7)), nullptr);           // pixels cut short
    EXPECT_EQ(readBytes(std::vector<unsigned char>(20, 'B')), nullptr);        // header cut short
    EXPECT_EQ(readBytes(bmpBytes(2, 2, 8, 0xFFFFFFFF, 0, 0, 0, 8)), nullptr);  // hostile colour count
    EXPECT_EQ(readBytes(bmpBytes(100000, 100000, 24, 0, 0, 0, 0, 8)), nullptr);
    EXPECT_EQ(readBytes(bmpBytes(0x7FFFFFFF, 3, 32, 0, 0, 0, 0, 8)), nullptr); // row bytes past 32 bits
    EXPECT_TRUE(dialogs.seen().empty());

    // An image-size field smaller than the rows cannot shorten the block.
    EXPECT_EQ(readBytes(bmpBytes(64, 64, 8, 0, 16, 0, 0, 16)), nullptr);
    DibOwner full(readBytes(bmpBytes(4, 4, 8, 0, 4, 0, 0, 16)));
    ASSERT_NE(full.dib, nullptr);
    EXPECT_GE(GlobalSize(full.dib), 40u + 1024u + 16u);
}

TEST(DibFile, MissingFileShowsFileNotFound)
{
    DialogWatcher dialogs;
    EXPECT_EQ(loadDibFile((tempDirectory() + "missing.bmp").c_str()), nullptr);
    auto seen = dialogs.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "File Not Found!");
    EXPECT_EQ(seen[0].caption, "Error");   // the platform's default caption
}

TEST(DibFile, ChunkedTransferSplitsAt32767)
{
    // Each write to a message-mode pipe is one message, so the reader sees
    // the pieces that writeInChunks made.
    for (uint32_t length : {32767u, 32768u, 70000u}) {
        const std::string name = "\\\\.\\pipe\\rozerado-chunks-" + std::to_string(GetCurrentProcessId());
        HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                         1, 0, 1 << 20, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        HANDLE client = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(client, INVALID_HANDLE_VALUE);
        std::vector<uint32_t> pieces;
        std::thread reader([&] {
            std::vector<char> buffer(1 << 17);
            uint32_t total = 0;
            while (total < length) {
                DWORD got = 0;
                if (!ReadFile(server, buffer.data(), DWORD(buffer.size()), &got, nullptr))
                    break;
                pieces.push_back(got);
                total += got;
            }
        });
        std::vector<char> data(length, 'z');
        EXPECT_EQ(writeInChunks(client, data.data(), length), length);
        reader.join();
        CloseHandle(client);
        CloseHandle(server);
        std::vector<uint32_t> expected;
        for (uint32_t left = length; left; left -= std::min(left, 32767u))
            expected.push_back(std::min(left, 32767u));
        EXPECT_EQ(pieces, expected) << length;
    }

    ScopedFile file(uniqueTempPath(".bin"));
    std::vector<char> bytes(32768, 'q');
    ASSERT_TRUE(writeWholeFile(file.path(), bytes.data(), 32767));
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(readInChunks(h, bytes.data(), 32767), 1);
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    EXPECT_EQ(readInChunks(h, bytes.data(), 32768), 0);   // the second piece comes up short
    CloseHandle(h);
}

TEST(DibError, MessagesWordForWord)
{
    EXPECT_STREQ(dibErrorMessage(0), "Not a Windows DIB file!");
    EXPECT_STREQ(dibErrorMessage(7), "Error creating Device Dependent Bitmap");
    EXPECT_STREQ(dibErrorMessage(12), "Printing: GetModuleHandle() couldn't find GDI!");
    EXPECT_STREQ(dibErrorMessage(21), "General Error on call to DIB function");
    EXPECT_STREQ(dibErrorMessage(22), "Undefined Error!");
    EXPECT_STREQ(dibErrorMessage(-1), "Undefined Error!");

    DialogWatcher dialogs;
    showDibError(11);
    showDibError(99);
    auto seen = dialogs.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "Printer: StartDoc failed!");
    EXPECT_EQ(seen[1].text, "Undefined Error!");
}

} // namespace
