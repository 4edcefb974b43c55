// Replays every document that ever made the reader fail (crash, hang, heap
// damage, inconsistent DIB, leak or temporary file left behind) in a mutation
// campaign or by report. Each must now open to any outcome with a sound heap,
// a DIB that fits its block and no temporary file left.
#include "DialogWatcher.h"
#include "Dib.h"
#include "GlobalMemory.h"
#include "HotspotList.h"
#include "HtfDocument.h"
#include "TempDir.h"
#include "UserMessage.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

int ignoreMessage(HWND, const char*, const char*, UINT) { return IDOK; }

bool heapsValid()
{
    HANDLE heaps[256];
    const DWORD n = GetProcessHeaps(256, heaps);
    for (DWORD i = 0; i < n && i < 256; ++i)
        if (!HeapValidate(heaps[i], 0, nullptr))
            return false;
    return true;
}

std::vector<std::string> regressionDocuments()
{
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(ROZERADO_REGRESSION_DIR "\\*.htf", &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do
        files.push_back(std::string(ROZERADO_REGRESSION_DIR "\\") + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

TEST(RegressionReplay, EveryDocumentThatOnceFailedOpensSoundly)
{
    const std::vector<std::string> documents = regressionDocuments();
    ASSERT_FALSE(documents.empty()) << "no documents in " ROZERADO_REGRESSION_DIR;
    DialogWatcher dialogs;
    // Other test programs open documents at the same time: count only this
    // program's temporary files.
    PrivateTempDirectory temporaryFiles;
    ASSERT_TRUE(temporaryFiles.made());
    setUserMessageSink(ignoreMessage);   // the messages are not what is replayed here
    for (const std::string& path : documents) {
        const size_t tempFilesBefore = listTempFiles("*.tmp").size();
        {
            HtfDocument document;
            GlobalBlock dib(document.open(path.c_str()));
            std::unique_ptr<HotspotList> hotspots(document.takeHotspots());
            if (dib) {
                GlobalLockGuard<unsigned char> data(dib.get());
                ASSERT_TRUE(data) << path;
                const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(data.get());
                const uint64_t rows = dibRowBytes(header->biBitCount, header->biWidth) * uint64_t(header->biHeight);
                EXPECT_EQ(header->biSizeImage, rows) << path;
                EXPECT_LE(40 + dibPaletteBytes(data.get()) + rows, GlobalSize(dib.get())) << path;
            }
        }
        ASSERT_TRUE(heapsValid()) << path;
        EXPECT_EQ(listTempFiles("*.tmp").size(), tempFilesBefore) << path;
    }
    setUserMessageSink(nullptr);
    EXPECT_TRUE(dialogs.seen().empty());
}

} // namespace
