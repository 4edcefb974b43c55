// Reading and writing DIBs as BMP files.
#include "Dib.h"

#include "GlobalMemory.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr uint32_t kChunk = 0x7FFF;
constexpr WORD kBmpType = 'B' | ('M' << 8);

// Closes a file handle when the scope ends.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : handle_(h) {}
    ~FileHandle() { close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    void close()
    {
        if (valid())
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

bool readExactly(HANDLE file, void* buffer, DWORD length)
{
    DWORD got = 0;
    return ReadFile(file, buffer, length, &got, nullptr) && got == length;
}

// Pixel bytes of an uncompressed DIB: ((bitCount * width + 31) / 32) * 4 * |height|.
uint64_t uncompressedImageBytes(const BITMAPINFOHEADER& h)
{
    return dibRowBytes(h.biBitCount, h.biWidth < 0 ? 0 : h.biWidth) * uint64_t(std::llabs(h.biHeight));
}
}

int readInChunks(HANDLE file, void* buffer, uint32_t length)
{
    auto bytes = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const uint32_t piece = length < kChunk ? length : kChunk;
        if (!readExactly(file, bytes, piece))
            return 0;
        bytes += piece;
        length -= piece;
    }
    return 1;
}

uint32_t writeInChunks(HANDLE file, const void* buffer, uint32_t length)
{
    auto bytes = static_cast<const unsigned char*>(buffer);
    for (uint32_t done = 0; done < length;) {
        const uint32_t piece = length - done < kChunk ? length - done : kChunk;
        DWORD written = 0;
        if (!WriteFile(file, bytes + done, piece, &written, nullptr) || written != piece)
            return 0;
        done += piece;
    }
    return length;
}

DibHandle readDib(HANDLE file)
{
    GlobalBlock block(GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD)));
    if (!block)
        return nullptr;

    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER info;
    if (!readExactly(file, &fileHeader, sizeof fileHeader) || fileHeader.bfType != kBmpType)
        return nullptr;
    if (!readExactly(file, &info, sizeof info) || info.biSize == sizeof(BITMAPCOREHEADER))
        return nullptr;
    // Headers shorter than the Windows information header are not Windows
    // DIBs; longer ones (V4, V5) keep their first 40 bytes, which is all the
    // block holds, and the pixels are found through the file's pixel offset.
    if (info.biSize < sizeof(BITMAPINFOHEADER) || info.biBitCount == 0 || info.biBitCount > 32)
        return nullptr;
    info.biSize = sizeof(BITMAPINFOHEADER);

    uint64_t colours = info.biClrUsed;
    if (colours == 0) {
        colours = info.biBitCount <= 8 ? (uint64_t(1) << info.biBitCount) : 0;
        info.biClrUsed = DWORD(colours);
    }
    if (colours > 0xFFFF)   // more than the 16-bit colour count measures
        return nullptr;

    // The image-size field is trusted only where it cannot make the block
    // shorter than the rows that painting will read.
    const uint64_t rowsBytes = uncompressedImageBytes(info);
    uint64_t imageBytes = info.biSizeImage;
    if (imageBytes == 0 || (info.biCompression == BI_RGB && imageBytes < rowsBytes))
        imageBytes = rowsBytes;
    const uint64_t total = sizeof info + colours * sizeof(RGBQUAD) + imageBytes;
    if (total > kMaxDibBlockBytes)
        return nullptr;
    info.biSizeImage = DWORD(imageBytes);

    HGLOBAL resized = GlobalReAlloc(block.get(), SIZE_T(total), GMEM_MOVEABLE);
    if (!resized)
        return nullptr;
    block.release();
    block.reset(resized);

    GlobalLockGuard<unsigned char> data(block.get());
    if (!data)
        return nullptr;
    std::memcpy(data.get(), &info, sizeof info);
    unsigned char* table = data.get() + sizeof info;
    DWORD got = 0;
    ReadFile(file, table, DWORD(colours * sizeof(RGBQUAD)), &got, nullptr);   // a short table is tolerated
    if (fileHeader.bfOffBits != 0)
        SetFilePointer(file, LONG(fileHeader.bfOffBits), nullptr, FILE_BEGIN);
    if (!readInChunks(file, table + colours * sizeof(RGBQUAD), uint32_t(imageBytes)))
        return nullptr;
    data.unlock();
    return block.release();
}

DibHandle loadDibFile(const char* path)
{
    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));   // IDC_WAIT
    DibHandle dib = nullptr;
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        showDibError(DIB_ERR_FILENOTFOUND);
    else
        dib = readDib(file.get());
    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));   // IDC_ARROW
    return dib;
}

uint16_t saveDibFile(DibHandle dib, const char* path)
{
    if (!dib)
        return DIB_ERR_INVALIDHANDLE;
    FileHandle file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return DIB_ERR_OPEN;
    GlobalLockGuard<unsigned char> data(dib);
    if (!data)
        return DIB_ERR_LOCK;
    auto info = reinterpret_cast<BITMAPINFOHEADER*>(data.get());

    uint64_t imageBytes = info->biSizeImage;
    if (info->biCompression != BI_RLE8 && info->biCompression != BI_RLE4)
        imageBytes = uncompressedImageBytes(*info);
    const uint64_t dibBytes = uint64_t(info->biSize) + dibPaletteBytes(info) + imageBytes;
    // Only a Windows information header is written, and never more bytes
    // than the block holds; anything else is refused rather than reported
    // as written.
    if (info->biSize != sizeof(BITMAPINFOHEADER) || dibBytes > GlobalSize(dib)) {
        data.unlock();
        file.close();
        DeleteFileA(path);
        return DIB_ERR_DIBFUNCTION;
    }
    if (info->biCompression != BI_RLE8 && info->biCompression != BI_RLE4)
        info->biSizeImage = DWORD(imageBytes);

    BITMAPFILEHEADER header = {};
    header.bfType = kBmpType;
    header.bfSize = DWORD(dibBytes + sizeof header);
    header.bfOffBits = DWORD(sizeof header + info->biSize + dibPaletteBytes(info));
    DWORD written = 0;
    const bool ok = WriteFile(file.get(), &header, sizeof header, &written, nullptr) && written == sizeof header &&
                    writeInChunks(file.get(), data.get(), uint32_t(dibBytes)) == dibBytes;
    return ok ? 0 : DIB_ERR_OPEN;
}
