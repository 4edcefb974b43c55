// DllRegisterServer / DllUnregisterServer of the built module (called
// directly and through regsvr32) against the real registry of the Wine
// prefix, and the class object and lock count of the COM server.
#include "ComModule.h"
#include "ProductVersion.h"
#include "RegistrationPaths.h"
#include "TempDir.h"

#include "rozerado_h.h"

#include <gtest/gtest.h>

#include <oleauto.h>
#include <shlwapi.h>

namespace {

const std::wstring kClsid = L"{8856F900-1A5F-4629-8EA5-A5B0D2976004}";
const std::wstring kLibid = L"{FEBA1FD0-F452-43D0-A397-3E99FA6ED04C}";
const std::wstring kClsidKey = L"CLSID\\" + kClsid;
const std::wstring kMimeKey = L"MIME\\Database\\Content Type\\application/x-RAVO-VavIrez";

std::wstring shortPath(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(buffer) : path;
}

void deleteClassesTree(const std::wstring& key)
{
    SHDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
}

class ComRegistration : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        ASSERT_NE(com.module, nullptr);
        ASSERT_TRUE(com.registerServer && com.unregisterServer && com.getClassObject && com.canUnloadNow);
    }
    void TearDown() override
    {
        // Leave the build's module registered for the control tests.
        EXPECT_EQ(com.registerServer(), S_OK);
        CoUninitialize();
    }

    ComModule com;
};

TEST_F(ComRegistration, WritesEveryEntry)
{
    ASSERT_EQ(com.registerServer(), S_OK);
    const std::wstring module = shortPath(ComModule::path());
    struct Entry { std::wstring key; const wchar_t* name; std::wstring data; } entries[] = {
        {L"ROZERADO.RAVOVavIrezCtrl.1", nullptr, L"RAVOVavIrezCtrl Class"},
        {L"ROZERADO.RAVOVavIrezCtrl.1\\CLSID", nullptr, kClsid},
        {L"ROZERADO.RAVOVavIrezCtrl", nullptr, L"RAVOVavIrezCtrl Class"},
        {L"ROZERADO.RAVOVavIrezCtrl\\CLSID", nullptr, kClsid},
        {L"ROZERADO.RAVOVavIrezCtrl\\CurVer", nullptr, L"ROZERADO.RAVOVavIrezCtrl.1"},
        {kClsidKey, nullptr, L"RAVOVavIrezCtrl Class"},
        {kClsidKey + L"\\ProgID", nullptr, L"ROZERADO.RAVOVavIrezCtrl.1"},
        {kClsidKey + L"\\VersionIndependentProgID", nullptr, L"ROZERADO.RAVOVavIrezCtrl"},
        {kClsidKey + L"\\InprocServer32", nullptr, module},
        {kClsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {kClsidKey + L"\\ToolboxBitmap32", nullptr, module + L", 101"},
        {kClsidKey + L"\\MiscStatus", nullptr, L"0"},
        {kClsidKey + L"\\MiscStatus\\1", nullptr, L"131473"},
        {kClsidKey + L"\\TypeLib", nullptr, kLibid},
        {kClsidKey + L"\\Version", nullptr, L"1.0"},
        {kMimeKey, L"Extension", L".htf"},
        {kMimeKey, L"CLSID", kClsid},
        {L".htf", L"Content Type", L"application/x-RAVO-VavIrez"},
    };
    for (const Entry& e : entries)
        EXPECT_EQ(classesValue(e.key, e.name), e.data) << std::string(e.key.begin(), e.key.end());
    for (const wchar_t* empty : {L"\\Programmable", L"\\Control", L"\\Insertable", L"\\EnableFullPage\\.htf"})
        EXPECT_TRUE(classesKeyExists(kClsidKey + empty));

    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_ROZERADOLib, 1, 0, LOCALE_NEUTRAL, &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    // The type library describes the module's own pointer size and calling
    // convention, so each module registers its own kind.
    EXPECT_EQ(attributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    library->ReleaseTLibAttr(attributes);
    library->Release();
}

TEST_F(ComRegistration, UnregisterRemovesTheEntriesAndKeepsTheSharedParents)
{
    ASSERT_EQ(com.registerServer(), S_OK);
    EXPECT_EQ(com.unregisterServer(), S_OK);
    for (const std::wstring& gone : {std::wstring(L"ROZERADO.RAVOVavIrezCtrl.1"),
                                     std::wstring(L"ROZERADO.RAVOVavIrezCtrl"), kClsidKey, kMimeKey,
                                     std::wstring(L".htf")})
        EXPECT_FALSE(classesKeyExists(gone)) << std::string(gone.begin(), gone.end());
    for (const wchar_t* kept : {L"CLSID", L"MIME", L"MIME\\Database", L"MIME\\Database\\Content Type"})
        EXPECT_TRUE(classesKeyExists(kept));
    ITypeLib* library = nullptr;
    EXPECT_NE(LoadRegTypeLib(LIBID_ROZERADOLib, 1, 0, LOCALE_NEUTRAL, &library), S_OK);
    if (library)
        library->Release();
    // Unregistering what is not registered still succeeds.
    EXPECT_EQ(com.unregisterServer(), S_OK);
}

TEST_F(ComRegistration, RegisteringTwiceAndOverAForeignExtensionKeyLeavesOneSet)
{
    deleteClassesTree(L".htf");
    HKEY foreign = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, L".htf\\OpenWithProgids", &foreign), ERROR_SUCCESS);
    RegSetValueExW(foreign, L"Other.Viewer", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
    RegCloseKey(foreign);
    RegSetValueW(HKEY_CLASSES_ROOT, L".htf", REG_SZ, L"otherfile", 9 * sizeof(wchar_t));

    ASSERT_EQ(com.registerServer(), S_OK);
    ASSERT_EQ(com.registerServer(), S_OK);
    EXPECT_EQ(classesValueCount(L".htf"), 1);
    EXPECT_EQ(classesSubkeyCount(L".htf"), 0);
    EXPECT_EQ(classesValue(L".htf", L"Content Type"), L"application/x-RAVO-VavIrez");
    EXPECT_EQ(classesValueCount(kMimeKey), 2);
    EXPECT_EQ(classesValueCount(kClsidKey + L"\\InprocServer32"), 2);
    EXPECT_EQ(classesSubkeyCount(kClsidKey + L"\\EnableFullPage"), 1);
}

TEST_F(ComRegistration, RegsvrWritesAModulePathWithASingleQuote)
{
    const std::wstring directory = [] {
        const std::string temp = tempDirectory();
        return std::wstring(temp.begin(), temp.end()) + L"rz'quote" + std::to_wstring(GetCurrentProcessId());
    }();
    CreateDirectoryW(directory.c_str(), nullptr);
    const std::wstring copy = directory + L"\\ROZERADO.DLL";
    ASSERT_TRUE(CopyFileW(ComModule::path().c_str(), copy.c_str(), FALSE));
    const std::wstring expected = shortPath(copy);
    ASSERT_NE(expected.find(L'\''), std::wstring::npos) << "the short path lost the quote";

    EXPECT_EQ(runProgram(L"regsvr32.exe /s \"" + copy + L"\""), 0);
    EXPECT_EQ(classesValue(kClsidKey + L"\\InprocServer32"), expected);
    EXPECT_EQ(classesValue(kClsidKey + L"\\ToolboxBitmap32"), expected + L", 101");

    runProgram(L"regsvr32.exe /s /u \"" + copy + L"\"");
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(directory.c_str());
}

// The version number as ProductVersion.h gives it: {major, minor, patch, build}.
constexpr WORD kVersion[] = {ROZERADO_VERSION};
static_assert(sizeof(kVersion) == 4 * sizeof(WORD), "the version has four numbers");

TEST(VersionBlock, CarriesThePlugInTypeListAndTheSelfRegisteringMark)
{
    const std::wstring versionText = std::to_wstring(kVersion[0]) + L", " + std::to_wstring(kVersion[1]) + L", " +
                                     std::to_wstring(kVersion[2]) + L", " + std::to_wstring(kVersion[3]);
    const std::wstring module = ComModule::path();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(module.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(module.c_str(), 0, size, block.data()));
    struct Key { const wchar_t* name; const wchar_t* value; } keys[] = {
        {L"MIMEType", L"application/x-RAVO-VavIrez"}, {L"FileExtents", L"htf"},
        {L"FileOpenName", L"Hotspotted Tiff Files (*.htf)"}, {L"FileVersion", versionText.c_str()},
        {L"ProductVersion", versionText.c_str()}, {L"InternalName", L"ROZERADO"},
        {L"OriginalFilename", L"ROZERADO.DLL"}, {L"OLESelfRegister", L""}, {L"Comments", L""},
    };
    for (const Key& key : keys) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904e4\\") + key.name;
        ASSERT_TRUE(VerQueryValueW(block.data(), path.c_str(), &value, &length)) << std::string(path.begin(), path.end());
        EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), key.value);
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(kVersion[0]) << 16 | kVersion[1]);
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD(kVersion[2]) << 16 | kVersion[3]);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_DLL));
}

TEST(RegistrationPaths, DerivedFromTheModulePath)
{
    EXPECT_EQ(doubleSingleQuotes(L"C:\\it's\\a'b.dll"), L"C:\\it''s\\a''b.dll");
    EXPECT_EQ(doubleSingleQuotes(L"''"), L"''''");
    struct Case { const wchar_t* module; const wchar_t* typeLibrary; const wchar_t* directory; } cases[] = {
        {L"C:\\x\\ROZERADO.DLL", L"C:\\x\\ROZERADO.tlb", L"C:\\x\\"},
        {L"C:\\x.d\\ROZERADO", L"C:\\x.d\\ROZERADO.tlb", L"C:\\x.d\\"},
        {L"C:/a/b.c.dll", L"C:/a/b.c.tlb", L"C:/a/"},
        {L"C:ROZ.DLL", L"C:ROZ.tlb", L"C:"},
        {L"NOPATH", L"NOPATH.tlb", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(typeLibraryFileBeside(c.module), c.typeLibrary);
        EXPECT_EQ(moduleDirectoryOf(c.module), c.directory);
    }
}

TEST(ComServer, ClassObjectAndLockCount)
{
    ComModule com;
    ASSERT_TRUE(com.getClassObject && com.canUnloadNow);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(com.getClassObject(IID_IUnknown, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(com.getClassObject(CLSID_RAVOVavIrezCtrl, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(com.canUnloadNow(), S_OK);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(com.getClassObject(CLSID_RAVOVavIrezCtrl, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IClassFactory* again = nullptr;
    ASSERT_EQ(com.getClassObject(CLSID_RAVOVavIrezCtrl, IID_IClassFactory, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(factory, again);   // one class object
    EXPECT_EQ(com.canUnloadNow(), S_FALSE);
    again->Release();
    EXPECT_EQ(com.canUnloadNow(), S_FALSE);

    IUnknown* control = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&control)), S_OK);
    IUnknown* second = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(com.canUnloadNow(), S_FALSE);   // the two controls and the server lock

    control->Release();
    EXPECT_EQ(com.canUnloadNow(), S_FALSE);
    second->Release();
    EXPECT_EQ(com.canUnloadNow(), S_FALSE);   // still the server lock
    ASSERT_EQ(com.getClassObject(CLSID_RAVOVavIrezCtrl, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    IUnknown* aggregated = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(factory->CreateInstance(factory, IID_IUnknown, reinterpret_cast<void**>(&aggregated)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(aggregated, nullptr);
    factory->Release();
    EXPECT_EQ(com.canUnloadNow(), S_OK);
}

} // namespace
