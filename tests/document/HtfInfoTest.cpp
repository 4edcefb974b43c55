// The document inspector runs from a terminal, where nobody can press OK:
// whatever the document, it must end, print what the reader would have shown
// in a message box, and say by its exit code whether an image was read.
#include "TempDir.h"
#include "TiffFixture.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <functional>
#include <string>

namespace {

struct ChildRun {
    bool ended = false;
    DWORD exitCode = 0;
    std::string out, err;
};

HANDLE inheritableFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string textOf(const std::string& path)
{
    auto bytes = readWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs htfinfo.exe (built beside this program) on a document, for at most
// 30 seconds.
ChildRun runInspector(const std::string& document)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string exe = self;
    exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "htfinfo.exe";
    ScopedFile outFile(uniqueTempPath(".out")), errFile(uniqueTempPath(".err"));
    HANDLE out = inheritableFile(outFile.path()), err = inheritableFile(errFile.path());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + exe + "\" \"" + document + "\"";
    const BOOL started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
    CloseHandle(out);
    CloseHandle(err);
    ChildRun run;
    if (!started) {
        ADD_FAILURE() << "cannot start " << exe;
        return run;
    }
    run.ended = WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
    if (!run.ended) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.out = textOf(outFile.path());
    run.err = textOf(errFile.path());
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
