#include "PrivateTags.h"

namespace {

struct FileOpen {
    int fd;
    const char* name;
    const char* mode;
};

TIFF* openFile(void* context, TIFFOpenOptions* options)
{
    const auto* a = static_cast<const FileOpen*>(context);
    return TIFFFdOpenExt(a->fd, a->name, a->mode, options);
}

} // namespace

TIFF* HtfTIFFFdOpen(HANDLE fileHandle, const char* name, const char* mode, TIFFErrorHandlerExtR errors,
                    void* errorsData)
{
    // libtiff's Windows file layer takes the handle as an int. Kernel handles
    // fit in 32 bits on 64-bit Windows too (sign-extended); one that does
    // not come back whole is refused rather than truncated.
    const int fd = int(reinterpret_cast<intptr_t>(fileHandle));
    if (reinterpret_cast<HANDLE>(intptr_t(fd)) != fileHandle)
        return nullptr;
    FileOpen a{fd, name, mode};
    return htfTIFFOpen(openFile, &a, errors, errorsData);
}

void HtfTIFFClose(TIFF* tif)
{
    htfTIFFClose(tif);
}
