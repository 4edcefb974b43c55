// The installer on the runtime: installs silently, registers the control
// (created by its ProgID through Windows Script Host) and the plug-in (loaded
// by the stand-in browser from where the registry says), adds its uninstaller,
// and the uninstaller takes back every change, also after a second install
// and after the modules were deleted by hand. In a 32-bit prefix it installs
// the 32-bit module; in a 64-bit prefix both, each under its side's Program
// Files folder and registered in its side's registry view, where that side's
// script host and stand-in browser find it. The example page names what the
// module registers. Everything is read from the registry and from the built
// module's version block, not from the installer's script.
#include "TempDir.h"
#include "WindowsSides.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string binDirectory()
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path = self;
    return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string textFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The text between the first `before` and the next `after`.
std::string between(const std::string& text, const std::string& before, const std::string& after)
{
    const size_t start = text.find(before);
    if (start == std::string::npos)
        return {};
    const size_t from = start + before.size(), end = text.find(after, from);
    return end == std::string::npos ? std::string() : text.substr(from, end - from);
}

bool sameText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// What the installer must write, from the built module's version block and
// its registration script.
struct Product {
    std::string company, description, productName, internalName, mimeType, extents, openName, version;
    std::string clsid, libid, progId = "ROZERADO.RAVOVavIrezCtrl";
    std::string pluginKey() const { return "Software\\MozillaPlugins\\@" + company + "/HotspotViewer"; }
    std::string uninstallKey() const
    {
        return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + internalName;
    }
};

Product readProduct(const std::string& module)
{
    Product p;
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(module.c_str(), &ignored));
    if (block.empty() || !GetFileVersionInfoA(module.c_str(), 0, DWORD(block.size()), block.data()))
        return p;
    auto text = [&](const char* key) {
        char* value = nullptr;
        UINT length = 0;
        const std::string path = std::string("\\StringFileInfo\\040904e4\\") + key;
        return VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) && value
                   ? std::string(value)
                   : std::string();
    };
    p.company = text("CompanyName"), p.description = text("FileDescription"), p.productName = text("ProductName");
    p.internalName = text("InternalName"), p.mimeType = text("MIMEType"), p.extents = text("FileExtents");
    p.openName = text("FileOpenName");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
        p.version = std::to_string(HIWORD(fixed->dwProductVersionMS)) + "." +
                    std::to_string(LOWORD(fixed->dwProductVersionMS)) + "." +
                    std::to_string(HIWORD(fixed->dwProductVersionLS)) + "." +
                    std::to_string(LOWORD(fixed->dwProductVersionLS));
    }
    const std::string rgs = textFile(ROZERADO_SOURCE_DIR "/host/rozerado.rgs");
    p.clsid = "{" + between(rgs, "CLSID = s '{", "}'") + "}";
    p.libid = "{" + between(rgs, "'TypeLib' = s '{", "}'") + "}";
    return p;
}

bool keyExists(HKEY root, const std::string& path, REGSAM view = 0)
{
    return registryKeyExists(root, path, view);
}

// A string value, or "<none>" when the key or value is missing.
std::string regText(HKEY root, const std::string& path, const char* name, REGSAM view = 0)
{
    return registryText(root, path, name, view);
}

struct ChildRun {
    bool ended = false;
    DWORD exitCode = 0;
    std::string output;
};

// Runs a command line, waits for it (at most 120 s) and collects its output.
ChildRun run(const std::string& commandLine)
{
    ScopedFile outFile(uniqueTempPath(".out"));
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = out;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    ChildRun result;
    const BOOL started =
        CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(out);
    if (!started) {
        ADD_FAILURE() << "cannot start " << commandLine;
        return result;
    }
    result.ended = WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0;
    if (!result.ended) {
        ADD_FAILURE() << "still running after 120 s: " << commandLine;
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    auto bytes = readWholeFile(outFile.path());
    result.output.assign(bytes.begin(), bytes.end());
    return result;
}

class Installer : public ::testing::Test {
protected:
    const std::string setup = binDirectory() + "..\\rozerado-setup.exe";
    const std::vector<WindowsSide> sides = windowsSides();
    Product product = readProduct(sides.front().module());
    // The uninstaller and its entry live with the 32-bit module.
    std::string installDir;

    std::string installDirOf(const WindowsSide& side) const { return side.programFiles + "\\" + product.internalName; }
    std::string installedModule(const WindowsSide& side) const { return installDirOf(side) + "\\ROZERADO.DLL"; }
    const WindowsSide& side32() const { return sides.front().is64 ? sides.back() : sides.front(); }

    void SetUp() override
    {
        ASSERT_TRUE(fileExists(setup)) << setup << " (scripts/package makes it)";
        ASSERT_FALSE(product.company.empty() || product.mimeType.empty() || product.internalName.empty() ||
                     product.clsid.size() != 38 || product.libid.size() != 38)
            << "cannot read the module's version block or registration script";
        for (const WindowsSide& side : sides) {
            ASSERT_FALSE(side.programFiles.empty()) << side.name;
            ASSERT_TRUE(fileExists(side.module())) << side.module() << " (scripts/build builds both)";
        }
        installDir = installDirOf(side32());
        // The control may be registered with a module elsewhere (the COM
        // tests leave the build's module registered): take that registration
        // away for the test and give it back afterwards, on each side.
        for (const WindowsSide& side : sides) {
            const std::string registered =
                regText(HKEY_CLASSES_ROOT, "CLSID\\" + product.clsid + "\\InprocServer32", nullptr, side.view);
            if (registered != "<none>" && fileExists(registered)) {
                ASSERT_EQ(run(side.program("regsvr32.exe") + " /s /u \"" + registered + "\"").exitCode, 0u)
                    << registered;
                previousModules.push_back({side, registered});
            }
        }
        ASSERT_TRUE(nothingLeft()) << "the prefix already holds the product's files or keys; "
                                      "uninstall or unregister them first";
    }
    void TearDown() override
    {
        if (fileExists(installDir + "\\uninstall.exe"))
            uninstall();
        for (const auto& previous : previousModules) {
            EXPECT_EQ(run(previous.first.program("regsvr32.exe") + " /s \"" + previous.second + "\"").exitCode, 0u)
                << previous.second;
        }
    }
    std::vector<std::pair<WindowsSide, std::string>> previousModules;

    void install()
    {
        const ChildRun r = run("\"" + setup + "\" /S");
        ASSERT_TRUE(r.ended);
        ASSERT_EQ(r.exitCode, 0u) << r.output;
    }

    // The uninstaller, as NSIS itself runs it: a copy outside the folder it
    // removes, told the folder with _?= (the last argument, unquoted), so
    // that this process can wait for it.
    void uninstall()
    {
        ScopedFile copy(uniqueTempPath(".exe"));
        ASSERT_TRUE(CopyFileA((installDir + "\\uninstall.exe").c_str(), copy.c_str(), FALSE));
        const ChildRun r = run("\"" + copy.path() + "\" /S _?=" + installDir);
        ASSERT_TRUE(r.ended);
        EXPECT_EQ(r.exitCode, 0u) << r.output;
    }

    void expectInstalled()
    {
        const std::string plugin = product.pluginKey(), mime = plugin + "\\MimeTypes\\" + product.mimeType;
        EXPECT_TRUE(fileExists(installDir + "\\uninstall.exe"));
        const std::string uninstallKey = product.uninstallKey();
        const struct {
            std::string key;
            const char* name;
            std::string expected;
        } entry[] = {
            {uninstallKey, "DisplayName", product.productName},
            {uninstallKey, "DisplayVersion", product.version},
            {uninstallKey, "Publisher", product.company},
            {uninstallKey, "UninstallString", "\"" + installDir + "\\uninstall.exe\""},
            {uninstallKey, "QuietUninstallString", "\"" + installDir + "\\uninstall.exe\" /S"},
        };
        for (const auto& v : entry)
            EXPECT_PRED2(sameText, regText(HKEY_LOCAL_MACHINE, v.key, v.name, side32().view), v.expected)
                << v.key << " " << v.name;
        // Class keys that both sides share: the ProgID and the extension.
        EXPECT_PRED2(sameText, regText(HKEY_CLASSES_ROOT, product.progId + "\\CLSID", nullptr), product.clsid);
        EXPECT_PRED2(sameText, regText(HKEY_CLASSES_ROOT, "." + product.extents, "Content Type"), product.mimeType);

        for (const WindowsSide& side : sides) {
            SCOPED_TRACE(side.name + " side");
            // The side's module, as built, in the side's Program Files folder.
            EXPECT_EQ(readWholeFile(installedModule(side)), readWholeFile(side.module()));
            const struct {
                HKEY root;
                std::string key;
                const char* name;
                std::string expected;
            } values[] = {
                {HKEY_LOCAL_MACHINE, plugin, "Path", installedModule(side)},
                {HKEY_LOCAL_MACHINE, plugin, "Description", product.description},
                {HKEY_LOCAL_MACHINE, plugin, "ProductName", product.productName},
                {HKEY_LOCAL_MACHINE, plugin, "Vendor", product.company},
                {HKEY_LOCAL_MACHINE, plugin, "Version", product.version},
                {HKEY_LOCAL_MACHINE, mime, "Description", product.openName},
                {HKEY_LOCAL_MACHINE, mime, "Suffixes", product.extents},
            };
            for (const auto& v : values)
                EXPECT_PRED2(sameText, regText(v.root, v.key, v.name, side.view), v.expected)
                    << v.key << " " << (v.name ? v.name : "");
            // The control is registered in this side's view with this side's
            // installed module (its short path).
            char longPath[MAX_PATH] = {};
            GetLongPathNameA(regText(HKEY_CLASSES_ROOT, "CLSID\\" + product.clsid + "\\InprocServer32", nullptr,
                                     side.view).c_str(),
                             longPath, MAX_PATH);
            EXPECT_PRED2(sameText, longPath, installedModule(side));
        }
    }

    // Every file and key the installation makes is gone, on every side; the
    // shared parents stay. The class id's key is each side's own; the other
    // class keys both sides share.
    bool nothingLeft() const
    {
        const std::string shared[] = {product.progId, product.progId + ".1", "TypeLib\\" + product.libid,
                                      "." + product.extents, "MIME\\Database\\Content Type\\" + product.mimeType};
        bool clean = !keyExists(HKEY_LOCAL_MACHINE, product.uninstallKey(), side32().view);
        for (const std::string& key : shared)
            clean = clean && !keyExists(HKEY_CLASSES_ROOT, key);
        for (const WindowsSide& side : sides) {
            clean = clean && !fileExists(installDirOf(side)) &&
                    !keyExists(HKEY_LOCAL_MACHINE, product.pluginKey(), side.view) &&
                    !keyExists(HKEY_CLASSES_ROOT, "CLSID\\" + product.clsid, side.view);
        }
        return clean;
    }
    void expectNothingLeft() const
    {
        EXPECT_TRUE(nothingLeft());
        for (const WindowsSide& side : sides) {
            SCOPED_TRACE(side.name + " side");
            EXPECT_FALSE(fileExists(installDirOf(side))) << installDirOf(side);
            EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, "CLSID", side.view));
            EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "Software\\MozillaPlugins", side.view));
        }
        EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, "MIME\\Database\\Content Type"));
        EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                              side32().view));
    }
};

TEST_F(Installer, InstallsBothRolesAndTheUninstallerTakesEverythingBack)
{
    install();
    expectInstalled();

    // The control, created by its ProgID as a page script would, by each
    // side's script host.
    ScopedFile script(uniqueTempPath(".js"));
    const std::string js = "var c = new ActiveXObject(\"" + product.progId + "\");\r\n"
                           "WScript.Echo(\"created \" + typeof c);\r\n";
    ASSERT_TRUE(writeWholeFile(script.path(), js.data(), js.size()));
    for (const WindowsSide& side : sides) {
        const ChildRun created = run(side.program("cscript.exe") + " //nologo \"" + script.path() + "\"");
        EXPECT_EQ(created.exitCode, 0u) << side.name << ": " << created.output;
        EXPECT_NE(created.output.find("created object"), std::string::npos) << side.name << ": " << created.output;
    }

    // The plug-in, loaded from the path browsers read from the registry, on
    // the example document: clicking the first hotspot asks for its URL.
    const std::string example = ROZERADO_SOURCE_DIR "/examples/floorplan.htf";
    const std::string csv = textFile(ROZERADO_SOURCE_DIR "/examples/floorplan.csv");
    int left = 0, top = 0, right = 0, bottom = 0;
    char reference[101] = {};
    ASSERT_EQ(std::sscanf(between(csv, "\n", "\n").c_str(), "%d,%d,%d,%d,%100[^,]", &left, &top, &right, &bottom,
                          reference), 5) << csv;
    // The window shows the picture at its actual size: below the 40-pixel
    // toolbar, inside the viewer's 1-pixel border.
    const std::string picture = textFile(ROZERADO_SOURCE_DIR "/examples/floorplan.bmp");
    ASSERT_GT(picture.size(), 26u);
    int32_t width = 0, height = 0;
    memcpy(&width, &picture[18], 4), memcpy(&height, &picture[22], 4);
    const std::string size = std::to_string(width + 2) + "x" + std::to_string(height + 42);
    const std::string click = std::to_string((left + right) / 2 + 1) + "," + std::to_string((top + bottom) / 2 + 41);
    // Each side's browser reads its own view: the 64-bit stand-in browser
    // loads the 64-bit module, the 32-bit one the 32-bit module.
    for (const WindowsSide& side : sides) {
        const std::string pluginPath = regText(HKEY_LOCAL_MACHINE, product.pluginKey(), "Path", side.view);
        const ChildRun browsed = run("\"" + side.binDirectory + "npbrowser.exe\" --plugin \"" + pluginPath +
                                     "\" --size " + size + " --click " + click + " --wait 200 --quit \"" + example + "\"");
        EXPECT_EQ(browsed.exitCode, 0u) << side.name << ": " << browsed.output;
        EXPECT_NE(browsed.output.find("NPN_GetURL:"), std::string::npos) << side.name << ": " << browsed.output;
        EXPECT_NE(browsed.output.find(std::string("=") + reference), std::string::npos)
            << side.name << ": " << browsed.output;
    }

    // The example page embeds the document with the MIME type, class id and
    // file extension that the installed module registered.
    const std::string page = textFile(ROZERADO_SOURCE_DIR "/examples/index.html");
    EXPECT_PRED2(sameText, between(page, "type=\"", "\""), regText(HKEY_CLASSES_ROOT, "." + product.extents,
                                                                    "Content Type"));
    EXPECT_PRED2(sameText, "{" + between(page, "classid=\"clsid:", "\"") + "}",
                 regText(HKEY_CLASSES_ROOT, product.progId + "\\CLSID", nullptr));
    const std::string embedded = between(page, "<embed src=\"", "\""), param = between(page, "name=\"src\" value=\"", "\"");
    EXPECT_EQ(embedded, "floorplan.htf");
    EXPECT_EQ(param, embedded);
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, embedded.substr(embedded.rfind('.'))));

    uninstall();
    expectNothingLeft();
}

TEST_F(Installer, InstallingTwiceThenUninstallingOnceLeavesNothing)
{
    install();
    install();
    expectInstalled();
    uninstall();
    expectNothingLeft();
}

TEST_F(Installer, UninstallAfterTheModulesWereDeletedByHandStillCleansTheRegistry)
{
    install();
    for (const WindowsSide& side : sides)
        ASSERT_TRUE(DeleteFileA(installedModule(side).c_str())) << installedModule(side);
    uninstall();
    expectNothingLeft();
}

}  // namespace
