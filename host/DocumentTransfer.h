#pragma once
// How a document arrives in both roles: the most a document may hold, and the
// copy of the control's download stream into its temporary file. A page could
// otherwise point either role at an endless stream and fill the disk.
#include <windows.h>
#include <objidl.h>

#include <cstdint>

// Streams and downloads of more bytes than this are stopped and dropped.
constexpr uint64_t kMaxDocumentBytes = uint64_t(1) << 30;   // 1 GiB

enum class DownloadCopy {
    Complete,     // to the end of the stream (a read error counts as the end)
    TooLarge,     // the stream states or delivers more than the limit
    WriteFailed,  // the file took less than it was given
};

// Copies `from` into `to` in pieces of at most 65535 bytes. A stream that
// states a size above `limit` is refused before anything is read; one that
// delivers more than `limit` bytes is stopped at the piece that crosses it.
DownloadCopy copyDownload(IStream* from, HANDLE to, uint64_t limit = kMaxDocumentBytes);
