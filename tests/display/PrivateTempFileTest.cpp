// The module's temporary files: names from the maker's identity and a
// counter, taken only when free (also against a name that turns up between
// look and create), never outside the temporary directory, and one try only
// where the directory refuses new files. Also the exact narrowing of paths.
#include "AnsiText.h"
#include "ImportHook.h"
#include "PrivateTempFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(PrivateTempFileName, IdentityAndCounterAsThe32BitFormHasThem)
{
    struct Case {
        uintptr_t identity;
        unsigned counter;
        const char* extension;
        const char* name;
    } cases[] = {
        {48, 0, ".tif", "480.tif"},
        {48, 7, ".tif", "487.tif"},
        {20232296, 12, ".htf", "2023229612.htf"},
        {1, 0, "", "10"},
        // Addresses above 2 GiB are negative, as "%ld" writes them.
        {uintptr_t(intptr_t(-2)), 3, ".tmp", "-23.tmp"},
        {uintptr_t(INTPTR_MIN), 0, ".tif1", (sizeof(void*) == 4 ? "-21474836480.tif1" : "-92233720368547758080.tif1")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(privateTempFileName(c.identity, c.counter, c.extension), c.name);
}

// A directory of its own for each test: the shared temporary directory
// holds other programs' files.
class PrivateTempFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = uniqueTempPath(".dir");
        ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
        directory += "\\";
    }
    void TearDown() override
    {
        for (const std::string& name : listDirectory(directory)) {
            RemoveDirectoryA((directory + name).c_str());
            DeleteFileA((directory + name).c_str());
        }
        RemoveDirectoryA(directory.c_str());
    }
    std::string nameAt(unsigned counter) const { return directory + privateTempFileName(kIdentity, counter, ".tif"); }

    static constexpr uintptr_t kIdentity = 4711;
    std::string directory;
};

TEST_F(PrivateTempFileTest, TakesTheFirstFreeNameAndLeavesTakenOnesAlone)
{
    // Counter 0 is someone's file, counter 1 a directory: both move the
    // counter on and stay as they were.
    ASSERT_TRUE(writeWholeFile(nameAt(0), "keep", 4));
    ASSERT_TRUE(CreateDirectoryA(nameAt(1).c_str(), nullptr));
    {
        PrivateTempFile file;
        ASSERT_TRUE(file.createIn(directory, kIdentity, ".tif"));
        EXPECT_EQ(file.path(), nameAt(2));
        EXPECT_TRUE(file.write("abc", 3));
        file.close();
        EXPECT_EQ(readWholeFile(file.path()).size(), 3u);
        EXPECT_FALSE(file.write("d", 1)) << "closed";
    }
    EXPECT_FALSE(fileExists(nameAt(2))) << "the file goes with its holder";
    EXPECT_EQ(readWholeFile(nameAt(0)), std::vector<unsigned char>({'k', 'e', 'e', 'p'}));
    EXPECT_EQ(GetFileAttributesA(nameAt(1).c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(PrivateTempFileTest, KeptAndDetachedFilesBelongToTheCaller)
{
    std::string kept, detached;
    HANDLE handle = INVALID_HANDLE_VALUE;
    {
        PrivateTempFile first, second;
        ASSERT_TRUE(first.createIn(directory, kIdentity, ".tif"));
        ASSERT_TRUE(second.createIn(directory, kIdentity, ".tif"));
        EXPECT_NE(first.path(), second.path());
        kept = first.keep();
        handle = second.detach(detached);
        EXPECT_FALSE(first.created());
        EXPECT_FALSE(second.created());
    }
    EXPECT_EQ(kept, nameAt(0));
    EXPECT_EQ(detached, nameAt(1));
    EXPECT_TRUE(fileExists(kept));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(handle, "xy", 2, &written, nullptr));
    CloseHandle(handle);
    EXPECT_EQ(readWholeFile(detached).size(), 2u);
}

// Another process takes the first name after it was found free and before
// the file is created: the file made then is a new one under the next name.
std::string racedPath;
void takeNameFirst(const char* path, DWORD)
{
    if (racedPath == path && !fileExists(racedPath))
        writeWholeFile(racedPath, "theirs", 6);
}

TEST_F(PrivateTempFileTest, NameTakenMeanwhileIsNotOverwritten)
{
    racedPath = nameAt(0);
    CreateFileSpy spy(GetModuleHandleA(nullptr), &takeNameFirst);
    ASSERT_TRUE(spy.installed());
    PrivateTempFile file;
    ASSERT_TRUE(file.createIn(directory, kIdentity, ".tif"));
    EXPECT_EQ(file.path(), nameAt(1));
    EXPECT_EQ(readWholeFile(nameAt(0)).size(), 6u);
}

TEST_F(PrivateTempFileTest, RefusingOrMissingDirectoryIsTriedOnce)
{
    const std::string missing = directory + "missing\\";
    for (const std::string& place : {std::string(kUnwritableDirectory), missing}) {
        SCOPED_TRACE(place);
        CreateFileSpy spy(GetModuleHandleA(nullptr));
        ASSERT_TRUE(spy.installed());
        PrivateTempFile file;
        EXPECT_FALSE(file.createIn(place, kIdentity, ".tif"));
        EXPECT_FALSE(file.created());
        EXPECT_EQ(spy.creations(), 1u);
    }
}

TEST_F(PrivateTempFileTest, WithoutATemporaryDirectoryNothingIsWritten)
{
    ScratchCurrentDirectory current;
    TempDirectoryOverride none(unreportableTempDirectory());
    ASSERT_EQ(userTempDirectory(), "");
    CreateFileSpy spy(GetModuleHandleA(nullptr));
    PrivateTempFile file;
    EXPECT_FALSE(file.create(kIdentity, ".tif"));
    EXPECT_EQ(spy.creations(), 0u);
    EXPECT_TRUE(listDirectory(current.path()).empty());
}

TEST(AnsiText, LookAlikesFailInsteadOfBecomingOtherCharacters)
{
    struct Case {
        const wchar_t* text;
        bool exact;
        const char* ansi;
    } cases[] = {
        {L"", true, ""},
        {L"C:\\docs\\plan.htf", true, "C:\\docs\\plan.htf"},
        {L"Caf\x00E9 \x00E4", true, "Caf\xE9 \xE4"},   // in the Western code page
        {L"\xFF3C\xFF3Chost\xFF3Cshare\xFF3Cx.htf", false, ""},   // fullwidth reverse solidus
        {L"http://\xFF45xample.com/", false, ""},                 // fullwidth e
        {L"a\x0101", false, ""},                                   // a with macron: "a" at best
        {L"\x4E2D", false, ""},
    };
    ASSERT_EQ(GetACP(), 1252u) << "the cases are written for the Western code page";
    for (const Case& c : cases) {
        std::string ansi = "unchanged";
        EXPECT_EQ(toAnsiExactly(c.text, wcslen(c.text), ansi), c.exact) << c.ansi;
        EXPECT_EQ(ansi, c.ansi);
    }
}

} // namespace
