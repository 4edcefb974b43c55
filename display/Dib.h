#pragma once
// DIB utilities. A DibHandle is a movable global memory block holding a packed
// device-independent bitmap: a 40-byte information header (or, when only
// measured, a 12-byte core header), the colour table and the pixel rows,
// bottom row first, each padded to a multiple of 4 bytes. Its holder owns it
// and releases it with GlobalFree.
#include <windows.h>

#include <cstdint>

using DibHandle = HGLOBAL;

// The largest DIB block: what a 32-bit process can address at most. The
// 64-bit module keeps the same limit, so that a document that one module
// shows the other shows too, and so that the BMP file's 32-bit size fields
// and the int offsets of the drawing calls stay in range. Larger sizes from
// file headers are refused rather than allocated short.
constexpr uint64_t kMaxDibBlockBytes = 0x7FFFFFFF;

// Bytes of one pixel row: ((bitCount * width + 31) / 32) * 4, in 64 bits so
// that header values from a file cannot wrap.
uint64_t dibRowBytes(uint32_t bitCount, int64_t width);

// A zero-initialised DIB of 40 + 4 * c + stride * height bytes, where stride is
// rowBytes rounded up to a multiple of 4 and c = 2^bitCount when that is at
// most 256, else 0. Null when the size is negative, does not fit a 32-bit
// process, or cannot be allocated.
DibHandle createEmptyDib(int32_t width, int32_t height, uint32_t rowBytes, uint16_t bitCount,
                         int32_t pelsPerMeter);

// Measuring, on a locked block.
int32_t dibWidth(const void* dib);
int32_t dibHeight(const void* dib);
uint16_t dibColorCount(const void* dib);
uint32_t dibPaletteBytes(const void* dib);
unsigned char* dibPixels(void* dib);
const unsigned char* dibPixels(const void* dib);

// Logical palettes from a DIB's colour table; null for true-colour DIBs.
HPALETTE makeDibPalette(DibHandle dib);
HPALETTE makePaletteFromInfo(const BITMAPINFOHEADER* info, int& colourCount);

// Draws the source rectangle of the DIB into the destination rectangle:
// unscaled (SetDIBitsToDevice, source rows counted from the image top) when the
// sizes are equal, else stretched (StretchDIBits, source rows as the bottom-up
// DIB counts them). Returns the drawing call's scan-line count, 0 without a DIB.
int paintDibRect(HDC dc, const RECT& destRect, DibHandle dib, const RECT& srcRect, HPALETTE palette);

// Draws a device-dependent bitmap so that its white pixels leave the
// destination unchanged. A mask (1 where the bitmap is not white) is made when
// none is given.
void blitWithWhiteTransparent(HDC dc, HBITMAP bitmap, HBITMAP mask, const RECT& destRect);

// A bitmap resource as a device-dependent bitmap of the screen, with the
// palette made from its colour table (stored in `palette`, null included).
HBITMAP loadBitmapResourceWithPalette(HINSTANCE instance, UINT resourceId, HPALETTE& palette);

// BMP files.
DibHandle loadDibFile(const char* path);
DibHandle readDib(HANDLE file);
uint16_t saveDibFile(DibHandle dib, const char* path);
// Transfers in pieces of at most 32767 bytes; each piece must go whole.
int readInChunks(HANDLE file, void* buffer, uint32_t length);
uint32_t writeInChunks(HANDLE file, const void* buffer, uint32_t length);

// Error codes of the DIB functions and their message box.
enum DibError : uint16_t {
    DIB_ERR_NOT_DIB = 0,
    DIB_ERR_MEMORY = 1,
    DIB_ERR_READ = 2,
    DIB_ERR_LOCK = 3,
    DIB_ERR_OPEN = 4,
    DIB_ERR_CREATE_PALETTE = 5,
    DIB_ERR_GET_DC = 6,
    DIB_ERR_CREATE_DDB = 7,
    DIB_ERR_STRETCHBLT = 8,
    DIB_ERR_STRETCHDIBITS = 9,
    DIB_ERR_SETDIBITSTODEVICE = 10,
    DIB_ERR_STARTDOC = 11,
    DIB_ERR_NOGDIMODULE = 12,
    DIB_ERR_SETABORTPROC = 13,
    DIB_ERR_STARTPAGE = 14,
    DIB_ERR_NEWFRAME = 15,
    DIB_ERR_ENDPAGE = 16,
    DIB_ERR_ENDDOC = 17,
    DIB_ERR_SETDIBITS = 18,
    DIB_ERR_FILENOTFOUND = 19,
    DIB_ERR_INVALIDHANDLE = 20,
    DIB_ERR_DIBFUNCTION = 21,
};
const char* dibErrorMessage(int code);
void showDibError(int code);
