#include "ComModule.h"

#include "TempDir.h"
#include "rozerado_h.h"

ComModule::ComModule()
{
    module = LoadLibraryW(path().c_str());
    if (!module)
        return;
    getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    canUnloadNow = reinterpret_cast<NoArgumentFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    registerServer = reinterpret_cast<NoArgumentFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    unregisterServer =
        reinterpret_cast<NoArgumentFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
}

ComModule::~ComModule()
{
    if (module)
        FreeLibrary(module);
}

std::wstring ComModule::path()
{
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring dir = own;
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + L"ROZERADO.DLL";
}

IUnknown* createControl(ComModule& com)
{
    IClassFactory* factory = nullptr;
    if (!com.getClassObject ||
        FAILED(com.getClassObject(CLSID_RAVOVavIrezCtrl, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    IUnknown* control = nullptr;
    factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&control));
    factory->Release();
    return control;
}

bool classesKeyExists(const std::wstring& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

std::wstring classesValue(const std::wstring& key, const wchar_t* name)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return L"<missing>";
    wchar_t data[1024] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status = RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return L"<missing>";
    return data;
}

namespace {
int countOf(const std::wstring& key, bool values)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return -1;
    DWORD subkeys = 0;
    DWORD valueCount = 0;
    RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &valueCount, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(handle);
    return int(values ? valueCount : subkeys);
}
} // namespace

int classesValueCount(const std::wstring& key)
{
    return countOf(key, true);
}

int classesSubkeyCount(const std::wstring& key)
{
    return countOf(key, false);
}

int runProgram(const std::wstring& commandLine, std::string* output, DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (output && !CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return -1;
    if (readEnd)
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine;
    const BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, output != nullptr, 0, nullptr,
                                        nullptr, &startup, &process);
    if (writeEnd)
        CloseHandle(writeEnd);
    if (!started) {
        if (readEnd)
            CloseHandle(readEnd);
        return -1;
    }
    if (output) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got > 0)
            output->append(buffer, got);
        CloseHandle(readEnd);
    }
    DWORD exitCode = DWORD(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return int(exitCode);
}

size_t controlDownloads()
{
    size_t count = 0;
    for (const std::string& name : listTempFiles("*.htf")) {
        const std::string stem = name.substr(0, name.size() - 4);
        const size_t start = !stem.empty() && stem[0] == '-' ? 1 : 0;
        count += stem.size() > start && stem.find_first_not_of("0123456789", start) == std::string::npos;
    }
    return count;
}

std::wstring toFileUrl(const std::string& path)
{
    std::wstring url = L"file:///" + std::wstring(path.begin(), path.end());
    for (wchar_t& c : url)
        if (c == L'\\')
            c = L'/';
    return url;
}

TiffFixture twoColourFixture(uint32_t width, uint32_t height, unsigned left, unsigned right)
{
    TiffFixture fixture;
    fixture.width = width;
    fixture.height = height;
    fixture.photometric = 2;   // RGB
    fixture.samplesPerPixel = 3;
    fixture.pixels.resize(size_t(width) * height * 3, 0);
    for (size_t i = 0; i < fixture.pixels.size(); i += 3) {
        const unsigned colour = (i / 3) % width < width / 2 ? left : right;
        fixture.pixels[i] = uint8_t(colour >> 16);
        fixture.pixels[i + 1] = uint8_t(colour >> 8);
        fixture.pixels[i + 2] = uint8_t(colour);
    }
    return fixture;
}
