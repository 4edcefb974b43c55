// Registration on each side of Windows: a side's regsvr32 registers that
// side's module in that side's registry view only (the class id's key, where
// the module is named; ProgIDs, extensions and MIME types are keys both sides
// share, as on Windows 7 and later), and that side's script host then
// creates the control by its ProgID. On 64-bit Windows the other
// side neither sees nor can create it until its own module is registered
// there too; with both registered each side creates its own. On 32-bit
// Windows there is one side. The modules are the build's (build/bin and
// build/bin64).
#include "ComModule.h"
#include "TempDir.h"
#include "WindowsSides.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kClsidKey = "CLSID\\{8856F900-1A5F-4629-8EA5-A5B0D2976004}";
const std::string kProgId = "ROZERADO.RAVOVavIrezCtrl";

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string longPath(const std::string& path)
{
    char buffer[MAX_PATH] = {};
    const DWORD length = GetLongPathNameA(path.c_str(), buffer, MAX_PATH);
    return length && length < MAX_PATH ? std::string(buffer) : path;
}

bool samePath(const std::string& a, const std::string& b)
{
    return lstrcmpiA(longPath(a).c_str(), longPath(b).c_str()) == 0;
}

class RegistrationViews : public ::testing::Test {
protected:
    void SetUp() override
    {
        sides = windowsSides();
        for (const WindowsSide& side : sides)
            ASSERT_TRUE(fileExists(side.module())) << side.name << " module missing: " << side.module()
                                                   << " (scripts/build builds both)";
        for (const WindowsSide& side : sides)
            unregister(side);
        for (const WindowsSide& side : sides)
            ASSERT_FALSE(registryKeyExists(HKEY_CLASSES_ROOT, kClsidKey, side.view)) << side.name;
    }
    void TearDown() override
    {
        for (const WindowsSide& side : sides)
            unregister(side);
        // Leave the build's module registered for the control tests, as the
        // other registration tests do.
        EXPECT_EQ(regsvr32(sides.front(), "/s"), 0);
    }

    int regsvr32(const WindowsSide& side, const std::string& options)
    {
        return runProgram(wide(side.program("regsvr32.exe") + " " + options + " \"" + side.module() + "\""));
    }
    void unregister(const WindowsSide& side) { regsvr32(side, "/s /u"); }

    // Whether the side's script host creates the control by its ProgID.
    bool scriptCreates(const WindowsSide& side, std::string& output)
    {
        ScopedFile script(uniqueTempPath(".js"));
        const std::string js = "var c = new ActiveXObject(\"" + kProgId + "\");\r\n"
                               "WScript.Echo(\"created \" + typeof c);\r\n";
        if (!writeWholeFile(script.path(), js.data(), js.size()))
            return false;
        output.clear();
        const int exitCode =
            runProgram(wide(side.program("cscript.exe") + " //nologo \"" + script.path() + "\""), &output);
        return exitCode == 0 && output.find("created object") != std::string::npos;
    }

    std::string registeredModule(const WindowsSide& side)
    {
        return registryText(HKEY_CLASSES_ROOT, kClsidKey + "\\InprocServer32", nullptr, side.view);
    }

    std::vector<WindowsSide> sides;
};

TEST_F(RegistrationViews, EachSidesRegsvr32WritesItsOwnViewAndItsScriptHostCreatesTheControl)
{
    for (const WindowsSide& side : sides) {
        SCOPED_TRACE(side.name + " side");
        ASSERT_EQ(regsvr32(side, "/s"), 0);
        EXPECT_PRED2(samePath, registeredModule(side), side.module());
        // The ProgID is one of the class keys that both sides share.
        EXPECT_EQ(registryText(HKEY_CLASSES_ROOT, kProgId + "\\CLSID", nullptr, 0), kClsidKey.substr(6));
        std::string output;
        EXPECT_TRUE(scriptCreates(side, output)) << output;

        for (const WindowsSide& other : sides) {
            if (&other == &side)
                continue;
            EXPECT_FALSE(registryKeyExists(HKEY_CLASSES_ROOT, kClsidKey, other.view)) << other.name << " view";
            EXPECT_FALSE(scriptCreates(other, output)) << other.name << " script host: " << output;
        }

        unregister(side);
        EXPECT_FALSE(registryKeyExists(HKEY_CLASSES_ROOT, kClsidKey, side.view));
    }
}

TEST_F(RegistrationViews, BothSidesRegisteredEachCreatesItsOwn)
{
    for (const WindowsSide& side : sides)
        ASSERT_EQ(regsvr32(side, "/s"), 0) << side.name;
    for (const WindowsSide& side : sides) {
        SCOPED_TRACE(side.name + " side");
        EXPECT_PRED2(samePath, registeredModule(side), side.module());
        std::string output;
        EXPECT_TRUE(scriptCreates(side, output)) << output;
    }
}

}  // namespace
