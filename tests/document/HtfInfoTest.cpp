// The document inspector runs from a terminal, where nobody can press OK:
// whatever the document, it must end, print what the reader would have shown
// in a message box, and say by its exit code whether an image was read.
#include "ChildProcess.h"
#include "TempDir.h"
#include "TiffFixture.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <functional>
#include <string>

namespace {

// Runs htfinfo.exe (built beside this program) on a document, for at most
// 30 seconds.
ChildRun runInspector(const std::string& document)
{
    ChildRun run = runBesideThis("htfinfo.exe", "\"" + document + "\"", 30000);
    if (!run.started)
        ADD_FAILURE() << "cannot start " << programBesideThis("htfinfo.exe");
    return run;
}

TiffFixture greyImage()
{
    TiffFixture f;
    f.width = 4, f.height = 3, f.bitsPerSample = 8, f.photometric = PHOTOMETRIC_MINISBLACK;
    f.pixels.assign(12, 7);
    return f;
}

TEST(HtfInfo, EndsOnDocumentsThatShowMessagesAndPrintsThem)
{
    struct Case {
        const char* name;
        std::function<bool(const std::string&)> make;
        DWORD exitCode;
        const char* caption;   // caption of the line "caption: text" on stderr; "": the file's "<path> Error"
        const char* message;   // part of its text; null: nothing on stderr
        const char* output;    // part of stdout
    };
    const Case cases[] = {
        {"not a TIFF file",
         [](const std::string& p) { return writeWholeFile(p, "GIF89a, not a TIFF file at all", 30); }, 1, "",
         "Not a TIFF", "image      none"},
        {"64-bit floating point samples",
         [](const std::string& p) {
             return writeTiffFixture(p, greyImage()) && patchDirectoryEntry(p, TIFFTAG_BITSPERSAMPLE, 64) &&
                    insertDirectoryEntry(p, TIFFTAG_SAMPLEFORMAT, TIFF_SHORT, 1, SAMPLEFORMAT_IEEEFP);
         },
         0, "", "can not handle images with 64-bit samples", "4 x 3 pixels"},
        {"two empty directory entries of tag 0: an error, then the image",
         [](const std::string& p) {
             return writeTiffFixture(p, greyImage()) && insertDirectoryEntry(p, 0, TIFF_BYTE, 0, 0) &&
                    insertDirectoryEntry(p, 0, TIFF_BYTE, 0, 0);
         },
         0, "_TIFFVSetField Error", "Null count", "4 x 3 pixels"},
        {"a sound document", [](const std::string& p) { return writeTiffFixture(p, greyImage()); }, 0, "", nullptr,
         "4 x 3 pixels, 8 bits per pixel"},
    };
    for (const Case& c : cases) {
        ScopedFile document(uniqueTempPath(".htf"));
        ASSERT_TRUE(c.make(document.path())) << c.name;
        const ChildRun run = runInspector(document.path());
        ASSERT_TRUE(run.ended) << c.name << ": still running after 30 s";
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name << "\n" << run.err;
        EXPECT_NE(run.out.find(c.output), std::string::npos) << c.name << "\n" << run.out;
        if (c.message) {
            const std::string line = (*c.caption ? std::string(c.caption) : document.path() + " Error") + ": ";
            EXPECT_EQ(run.err.find(line), 0u) << c.name << "\n" << run.err;
            EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << "\n" << run.err;
            EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << c.name << ": one message only\n" << run.err;
        } else {
            EXPECT_EQ(run.err, "") << c.name;
        }
    }
}

} // namespace
