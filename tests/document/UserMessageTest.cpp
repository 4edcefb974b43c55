#include "DialogWatcher.h"
#include "Dib.h"
#include "HtfDocument.h"
#include "TempDir.h"
#include "TiffFixture.h"
#include "UserMessage.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <string>
#include <vector>

namespace {

struct Message {
    HWND owner;
    std::string text;
    bool captioned;
    std::string caption;
    UINT type;
};
std::vector<Message> captured;

int capture(HWND owner, const char* text, const char* caption, UINT type)
{
    captured.push_back({owner, text ? text : "", caption != nullptr, caption ? caption : "", type});
    return IDOK;
}

// Restores the message box even when an assertion ends the test early.
struct SinkScope {
    explicit SinkScope(UserMessageSink sink) { captured.clear(), setUserMessageSink(sink); }
    ~SinkScope() { setUserMessageSink(nullptr); }
};

// A grey document of one-row strips that all lie past the end of the file:
// every row fails.
std::string unreadableRowsDocument(uint32_t rows)
{
    TiffFixture f;
    f.width = 16, f.height = rows, f.bitsPerSample = 8, f.rowsPerStrip = 1;
    f.pixels.assign(16u * rows, 0x80);
    const std::string path = uniqueTempPath(".htf");
    EXPECT_TRUE(writeTiffFixture(path, f));
    EXPECT_TRUE(patchEveryValue(path, TIFFTAG_STRIPOFFSETS, 0x7FFFFF00));
    return path;
}

// Another document opened while the first one's message is up (a second
// viewer painting) has errors of its own: each document still shows one
// message, not one for every row read after the other one ended.
ScopedFile* nestedDocument = nullptr;
int openNestedOnce(HWND owner, const char* text, const char* caption, UINT type)
{
    capture(owner, text, caption, type);
    if (ScopedFile* nested = nestedDocument) {
        nestedDocument = nullptr;
        HtfDocument document;
        EXPECT_NE(document.open(nested->c_str()), nullptr);
    }
    return IDOK;
}

TEST(UserMessage, EachOpenShowsItsFirstErrorAloneEvenWhenOpensNest)
{
    DialogWatcher dialogs;
    ScopedFile outer(unreadableRowsDocument(300)), inner(unreadableRowsDocument(40));
    {
        SinkScope scope(openNestedOnce);
        nestedDocument = &inner;
        HtfDocument document;
        EXPECT_NE(document.open(outer.c_str()), nullptr);
        EXPECT_EQ(nestedDocument, nullptr) << "the nested open ran";
        EXPECT_EQ(captured.size(), 2u) << "the first document's message and the nested one's";
        // Each open again on its own: one message each.
        captured.clear();
        HtfDocument again;
        EXPECT_NE(again.open(outer.c_str()), nullptr);
        EXPECT_EQ(captured.size(), 1u);
    }
    EXPECT_TRUE(dialogs.seen().empty());
}

TEST(UserMessage, ReaderAndDibMessagesGoThroughTheSinkUnchanged)
{
    DialogWatcher dialogs;
    {
        SinkScope scope(capture);
        ScopedFile text(uniqueTempPath(".htf"));
        ASSERT_TRUE(writeWholeFile(text.path(), "plain words, no TIFF header", 27));
        HtfDocument document;
        EXPECT_EQ(document.open(text.c_str()), nullptr);
        const std::string missing = tempDirectory() + "no-such-bitmap.bmp";
        EXPECT_EQ(loadDibFile(missing.c_str()), nullptr);

        ASSERT_EQ(captured.size(), 2u);
        EXPECT_EQ(captured[0].owner, GetFocus());
        EXPECT_EQ(captured[0].caption, text.path() + " Error");
        EXPECT_NE(captured[0].text.find("magic"), std::string::npos) << captured[0].text;
        EXPECT_EQ(captured[0].type, UINT(MB_ICONEXCLAMATION | MB_OK));
        EXPECT_EQ(captured[1].owner, nullptr);
        EXPECT_FALSE(captured[1].captioned);
        EXPECT_EQ(captured[1].text, "File Not Found!");
        EXPECT_EQ(captured[1].type, UINT(MB_ICONSTOP | MB_OK));
    }
    EXPECT_TRUE(dialogs.seen().empty());

    showDibError(DIB_ERR_INVALIDHANDLE);   // the sink is reset: a real box again
    auto seen = dialogs.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Invalid Handle");
}

} // namespace
