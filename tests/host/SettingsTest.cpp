#include "SettingsFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

TEST(SettingsParse, FrameWidthIsClampedTo0Through10)
{
    struct Case { const char* text; int32_t width; } cases[] = {
        {"1", 1}, {"0", 0}, {"-5", 0}, {"-3", 0}, {"wide", 0}, {"", 0}, {"10", 10}, {"11", 10},
        {"25", 10}, {"1000", 10}, {"  7", 7}, {"+4", 4}, {"3px", 3}, {"99999999999999", 10},
        {"-99999999999999", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseFrameWidth(c.text), c.width) << "'" << c.text << "'";
}

TEST(SettingsParse, FrameColorScansThreeIntegers)
{
    struct Case { const char* text; uint32_t color; } cases[] = {
        {"0,128,128", 0x808000}, {"255,0,0", 255}, {"0,0,255", 16711680}, {"12", 12},
        {"256,257,-1", 0xFF0100}, {"1 ,2,3", 1}, {"1, 2, 3", 0x030201}, {"300,0,0", 44},
        {"", 0}, {"red", 0}, {"10,20", 0x140A},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseFrameColor(c.text), c.color) << "'" << c.text << "'";
}

TEST(SettingsParse, DebugNavOnlyWhenTheFirstCharacterIs1)
{
    EXPECT_TRUE(parseDebugNav("1"));
    EXPECT_TRUE(parseDebugNav("12"));
    EXPECT_TRUE(parseDebugNav("10"));
    EXPECT_TRUE(parseDebugNav("1abc"));
    EXPECT_FALSE(parseDebugNav("0"));
    EXPECT_FALSE(parseDebugNav(""));
    EXPECT_FALSE(parseDebugNav("true"));
    EXPECT_FALSE(parseDebugNav(" 1"));
}

// Writes rozerado.ini into the Windows directory for one test and removes it.
class SettingsFileTest : public ::testing::Test {
protected:
    static std::string windowsIni()
    {
        char dir[MAX_PATH] = {};
        GetWindowsDirectoryA(dir, MAX_PATH);
        return std::string(dir) + "\\rozerado.ini";
    }
    void write(const std::string& text)
    {
        ASSERT_TRUE(writeWholeFile(windowsIni(), text.data(), text.size()));
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, "rozerado.ini");   // drop any cached copy
    }
    void SetUp() override { DeleteFileA(windowsIni().c_str()); }
    void TearDown() override
    {
        DeleteFileA(windowsIni().c_str());
        loadSettings();   // back to the defaults for whatever runs next
    }
};

TEST_F(SettingsFileTest, NoFileGivesTheDefaults)
{
    loadSettings();
    const Settings& s = settings();
    EXPECT_EQ(s.frameWidth, 1);
    EXPECT_EQ(s.frameColor, 0x00808000u);   // red 0, green 128, blue 128
    EXPECT_EQ(s.relUrl, "/servlets/ZevuRedor?ShtmlFile=#HSREF#");
    EXPECT_EQ(s.frame, "_self");
    EXPECT_FALSE(s.debugNav);
}

TEST_F(SettingsFileTest, EveryKeyIsRead)
{
    write("[Appearance]\r\nFRAMEWIDTH=25\r\nFRAMECOLOR=255,0,0\r\n"
          "[NAV]\r\nRELURL=  /show?id=#HSREF#&x=#HSREF#  \r\nFRAME=details\r\nDEBUGNAV=12\r\n");
    loadSettings();
    const Settings& s = settings();
    EXPECT_EQ(s.frameWidth, 10);
    EXPECT_EQ(s.frameColor, 255u);
    EXPECT_EQ(s.relUrl, "/show?id=#HSREF#&x=#HSREF#");   // the reader trims white space
    EXPECT_EQ(s.frame, "details");
    EXPECT_TRUE(s.debugNav);
}

TEST_F(SettingsFileTest, LowerCaseSectionsAndKeysAreFound)
{
    write("[appearance]\nframewidth=0\nframecolor=0,0,255\n[nav]\nrelurl=/x\nframe=top\ndebugnav=1\n");
    loadSettings();
    const Settings& s = settings();
    EXPECT_EQ(s.frameWidth, 0);
    EXPECT_EQ(s.frameColor, 16711680u);
    EXPECT_EQ(s.relUrl, "/x");
    EXPECT_EQ(s.frame, "top");
    EXPECT_TRUE(s.debugNav);
}

TEST_F(SettingsFileTest, EmptyValuesAreKept)
{
    write("[NAV]\nRELURL=\nFRAME=\nDEBUGNAV=\n[Appearance]\nFRAMEWIDTH=\nFRAMECOLOR=\n");
    loadSettings();
    const Settings& s = settings();
    EXPECT_EQ(s.relUrl, "");
    EXPECT_EQ(s.frame, "");
    EXPECT_FALSE(s.debugNav);
    EXPECT_EQ(s.frameWidth, 0);
    EXPECT_EQ(s.frameColor, 0u);
}

TEST_F(SettingsFileTest, LongValuesAreCutTo1023Characters)
{
    const std::string exact(1023, 'a'), longer(1500, 'b');
    write("[NAV]\nRELURL=" + exact + "\nFRAME=" + longer + "\n");
    loadSettings();
    EXPECT_EQ(settings().relUrl, exact);
    EXPECT_EQ(settings().frame, std::string(1023, 'b'));
}

TEST_F(SettingsFileTest, AFileBesideTheProgramIsNotRead)
{
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string beside = exe;
    beside = beside.substr(0, beside.find_last_of("\\/") + 1) + "rozerado.ini";
    const std::string text = "[Appearance]\nFRAMEWIDTH=7\n[NAV]\nFRAME=beside\n";
    ASSERT_TRUE(writeWholeFile(beside, text.data(), text.size()));
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, cwd);
    SetCurrentDirectoryA(beside.substr(0, beside.size() - 12).c_str());
    loadSettings();
    SetCurrentDirectoryA(cwd);
    DeleteFileA(beside.c_str());
    EXPECT_EQ(settings().frameWidth, 1);
    EXPECT_EQ(settings().frame, "_self");
}

TEST_F(SettingsFileTest, EachTriggerLoadsOnce)
{
    write("[Appearance]\nFRAMEWIDTH=3\n");
    loadSettingsOnce(SettingsTrigger::ModuleAttach);
    EXPECT_EQ(settings().frameWidth, 3);
    write("[Appearance]\nFRAMEWIDTH=4\n");
    loadSettingsOnce(SettingsTrigger::ModuleAttach);   // already ran: no new read
    EXPECT_EQ(settings().frameWidth, 3);
    loadSettingsOnce(SettingsTrigger::PluginInitialize);   // its own flag: reads the file again
    EXPECT_EQ(settings().frameWidth, 4);
    write("[Appearance]\nFRAMEWIDTH=5\n");
    loadSettingsOnce(SettingsTrigger::PluginInitialize);
    EXPECT_EQ(settings().frameWidth, 4);
}

} // namespace
