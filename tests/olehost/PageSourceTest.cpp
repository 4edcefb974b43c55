// The control's src as a page gives it, in the stand-in container: a
// relative src is resolved against the page (through the page's bind host,
// else the container's moniker, else the top-level browser's location), a
// page whose data the container declared untrusted loads documents from the
// web only (and local files when it is a local file itself), and the example
// page served from 127.0.0.1 shows its document in olehost.
#include "ComModule.h"
#include "DialogWatcher.h"
#include "OleHost.h"
#include "StandInBrowser.h"
#include "TempDir.h"
#include "TiffFixture.h"
#include "WindowCapture.h"

#include "rozerado_h.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <regex>
#include <sstream>

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 340;
constexpr unsigned kBlue = 0x0000FF;
constexpr unsigned kRed = 0xFF0000;
constexpr unsigned kGreen = 0x00FF00;

std::string besideProgram(const std::string& name)
{
    char own[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, own, MAX_PATH);
    std::string dir = own;
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

int count(const std::vector<unsigned>& pixels, unsigned colour)
{
    int n = 0;
    for (unsigned pixel : pixels)
        n += pixel == colour;
    return n;
}

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A served directory: dir1/plan.htf blue, dir2/plan.htf red, dir3/plan.htf
// green, each page's document under the same relative name.
class PageSource : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        root = new std::string(uniqueTempPath(".web"));
        CreateDirectoryA(root->c_str(), nullptr);
        const unsigned colours[] = {kBlue, kRed, kGreen};
        for (int i = 0; i < 3; ++i) {
            const std::string dir = *root + "\\dir" + std::to_string(i + 1);
            CreateDirectoryA(dir.c_str(), nullptr);
            writeTiffFixture(dir + "\\plan.htf", twoColourFixture(64, 48, colours[i], colours[i]));
        }
        base = new std::wstring(startWebServer(*root, 60));
    }
    static void TearDownTestSuite()
    {
        for (int i = 1; i <= 3; ++i) {
            const std::string dir = *root + "\\dir" + std::to_string(i);
            DeleteFileA((dir + "\\plan.htf").c_str());
            RemoveDirectoryA(dir.c_str());
        }
        RemoveDirectoryA(root->c_str());
        delete root;
        delete base;
    }
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_FALSE(base->empty()) << "no web server";
        downloadsBefore = controlDownloads();
    }
    void TearDown() override { OleUninitialize(); }

    static std::wstring page(int dir) { return *base + L"dir" + std::to_wstring(dir) + L"/page.htm"; }
    static std::string localDir(int dir) { return *root + "\\dir" + std::to_string(dir); }

    // The control from the module in `host` (page already set), src as the
    // page's parameter; what the viewer shows. Without the registration the
    // container hands over the site after the parameters; `siteFirst` gives
    // it before, as browsers do for the registered control.
    Capture embed(OleHost& host, const std::wstring& src, bool siteFirst = false)
    {
        host.parameters().set(L"src", src);
        EXPECT_EQ(host.createFromModule(besideProgram("ROZERADO.DLL"), CLSID_RAVOVavIrezCtrl), S_OK);
        if (siteFirst) {
            IOleObject* object = nullptr;
            if (SUCCEEDED(host.control()->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)))) {
                object->SetClientSite(&host.site());
                object->Release();
            }
        }
        EXPECT_EQ(host.embed(), S_OK);
        pumpMessages();
        return captureClient(host.viewerWindow());
    }

    static std::string* root;
    static std::wstring* base;
    size_t downloadsBefore = 0;
};

std::string* PageSource::root = nullptr;
std::wstring* PageSource::base = nullptr;

// Each way of learning the page's URL alone resolves "plan.htf", and the
// bind host comes first, then the container's moniker, then the browser.
TEST_F(PageSource, RelativeSrcIsResolvedAgainstThePage)
{
    struct Case {
        const char* what;
        int bindHost, moniker, location;   // the dir each route names; 0: not offered
        unsigned shown;
    } cases[] = {
        {"bind host only", 1, 0, 0, kBlue},
        {"container moniker only", 0, 2, 0, kRed},
        {"browser location only", 0, 0, 3, kGreen},
        {"all three", 1, 2, 3, kBlue},
        {"moniker and location", 0, 2, 3, kRed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const int variant : {0, 1, 2}) {
            const bool untrusted = variant > 0, siteFirst = variant == 2;
            OleHost host(kWidth, kHeight);
            host.setPage(c.location ? page(c.location) : L"", OleHost::kPageByLocation);
            if (c.bindHost) {
                host.bindHost().base = page(c.bindHost);
                host.site().offersBindHost = true;
            }
            if (c.moniker)
                host.site().containerPage = page(c.moniker);
            host.setUntrustedData(untrusted);
            const Capture shown = embed(host, L"plan.htf", siteFirst);
            EXPECT_GT(count(shown.pixels, c.shown), 10000) << (untrusted ? "untrusted" : "trusted")
                                                            << (siteFirst ? ", site first" : "");
            host.close();
            EXPECT_EQ(host.bindHost().references(), 1);
            EXPECT_EQ(host.site().references(), 1);
        }
    }
}

// A page whose data is untrusted gets documents from the web only: absolute
// or relative http URLs, nothing local, no share, no device, no other
// scheme, and for what is refused: an empty viewer and no message.
TEST_F(PageSource, UntrustedWebPageLoadsOnlyFromTheWeb)
{
    const std::string localPlan = localDir(2) + "\\plan.htf";
    struct Case {
        std::wstring src;
        bool loaded;
    } cases[] = {
        {*base + L"dir2/plan.htf", true},
        {L"../dir2/plan.htf", true},
        {L"plan.htf", true},
        {toFileUrl(localPlan), false},
        {wide(localPlan), false},
        {L"\\\\?\\" + wide(localPlan), false},
        {L"\\\\192.0.2.1\\share\\plan.htf", false},
        {L"\\\\.\\pipe\\rozerado-none", false},
        {L"mk:@MSITStore:" + wide(localPlan), false},
        {L" file:///" + wide(localPlan), false},   // resolves to a file: URL
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.src.begin(), c.src.end()));
        DialogWatcher dialogs;
        OleHost host(kWidth, kHeight);
        host.setPage(page(1));
        host.setUntrustedData(true);
        const Capture shown = embed(host, c.src);
        EXPECT_EQ(controlDownloads(), downloadsBefore + (c.loaded ? 1 : 0));
        if (c.loaded) {
            EXPECT_GT(count(shown.pixels, kRed) + count(shown.pixels, kBlue), 10000);
        } else {
            EXPECT_EQ(count(shown.pixels, kRed) + count(shown.pixels, kBlue), 0);
        }
        host.close();
        EXPECT_TRUE(dialogs.seen().empty());
    }
}

// A page that is itself a file on a local drive may load the files beside
// it, but still no share and no device.
TEST_F(PageSource, LocalPageMayLoadLocalFilesOnly)
{
    const std::wstring localPage = toFileUrl(localDir(3) + "\\page.htm");
    struct Case {
        std::wstring src;
        unsigned shown;   // 0: nothing loaded
    } cases[] = {
        {L"plan.htf", kGreen},
        {L"../dir2/plan.htf", kRed},
        {wide(localDir(1) + "\\plan.htf"), kBlue},
        {toFileUrl(localDir(1) + "\\plan.htf"), kBlue},
        {*base + L"dir2/plan.htf", kRed},
        {L"\\\\192.0.2.1\\share\\plan.htf", 0},
        {L"file://192.0.2.1/share/plan.htf", 0},
        {L"\\\\?\\" + wide(localDir(1) + "\\plan.htf"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.src.begin(), c.src.end()));
        DialogWatcher dialogs;
        OleHost host(kWidth, kHeight);
        host.setPage(localPage);
        host.setUntrustedData(true);
        const Capture shown = embed(host, c.src);
        EXPECT_EQ(controlDownloads(), downloadsBefore + (c.shown ? 1 : 0));
        if (c.shown) {
            EXPECT_GT(count(shown.pixels, c.shown), 10000);
        }
        host.close();
        EXPECT_TRUE(dialogs.seen().empty());
    }
}

// examples/index.html from a web server on 127.0.0.1, hosted by the olehost
// program with the page's URL as its base, the src of its <param> as the
// page gives it: the control shows the same picture as from the local file.
TEST(ExamplePage, ServedFromLocalhostShowsItsRelativeSource)
{
    std::string examples = "Z:" ROZERADO_SOURCE_DIR "/examples";
    for (char& c : examples)
        if (c == '/')
            c = '\\';
    std::ifstream pageFile(examples + "\\index.html");
    ASSERT_TRUE(pageFile.good());
    std::stringstream html;
    html << pageFile.rdbuf();
    std::smatch param;
    const std::string text = html.str();
    ASSERT_TRUE(std::regex_search(text, param, std::regex("<param name=\"src\" value=\"([^\"]+)\">")));
    const std::string src = param[1];
    ASSERT_EQ(src.find(':'), std::string::npos) << "a relative src: " << src;

    const std::wstring base = startWebServer(examples);
    ASSERT_FALSE(base.empty()) << "no web server";
    const std::string program = "\"" + besideProgram("olehost.exe") + "\" --module \"" + besideProgram("ROZERADO.DLL") +
                                "\" --size 362x282 --quit";
    ScopedFile served(uniqueTempPath(".bmp")), local(uniqueTempPath(".bmp"));
    const std::string page = std::string(base.begin(), base.end()) + "index.html";
    std::string output;
    ASSERT_EQ(runProgram(wide(program + " --untrusted --page " + page + " --src " + src + " --draw-bmp \"" +
                              served.path() + "\""),
                         &output),
              0)
        << output;
    EXPECT_NE(output.find("draw: 0x00000000"), std::string::npos) << output;
    const std::wstring file = toFileUrl(examples + "\\" + src);
    ASSERT_EQ(runProgram(wide(program + " --src " + std::string(file.begin(), file.end()) + " --draw-bmp \"" +
                              local.path() + "\""),
                         &output),
              0)
        << output;

    const std::vector<unsigned char> fromPage = readWholeFile(served.path());
    const std::vector<unsigned char> fromFile = readWholeFile(local.path());
    ASSERT_GT(fromFile.size(), 54u + 362 * 282 * 3 - 1);
    EXPECT_TRUE(fromPage == fromFile) << "the served document is drawn as the local one";
    // And that drawing is a document, not an empty viewer: many colours.
    std::set<unsigned> colours;
    for (size_t i = 54; i + 2 < fromFile.size(); i += 3)
        colours.insert(fromFile[i] | fromFile[i + 1] << 8 | fromFile[i + 2] << 16);
    EXPECT_GT(colours.size(), 4u);
}

} // namespace
