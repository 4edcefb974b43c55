#include "DocumentTransfer.h"

#include <memory>
#include <new>

namespace {

constexpr size_t kDownloadBuffer = 65536;
constexpr ULONG kDownloadPiece = 65535;

} // namespace

DownloadCopy copyDownload(IStream* from, HANDLE to, uint64_t limit)
{
    STATSTG stat = {};
    if (SUCCEEDED(from->Stat(&stat, STATFLAG_NONAME)) && stat.cbSize.QuadPart > limit)
        return DownloadCopy::TooLarge;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kDownloadBuffer]);
    if (!buffer)
        return DownloadCopy::WriteFailed;
    uint64_t total = 0;
    for (;;) {
        ULONG got = 0;
        const HRESULT hr = from->Read(buffer.get(), kDownloadPiece, &got);
        if (FAILED(hr) || got == 0)
            return DownloadCopy::Complete;   // a read error ends the download like the end of the data
        if (got > kDownloadPiece)
            return DownloadCopy::Complete;   // a stream that claims more than it was asked for is not believed
        if (got > limit - total)
            return DownloadCopy::TooLarge;
        total += got;
        DWORD written = 0;
        if (!WriteFile(to, buffer.get(), got, &written, nullptr) || written != got)
            return DownloadCopy::WriteFailed;
    }
}
