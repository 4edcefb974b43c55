#include "ComModule.h"

#include <urlmon.h>

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

std::string unixPath(const std::string& path)
{
    using ToUnix = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    const std::wstring wide(path.begin(), path.end());
    char* name = toUnix ? toUnix(wide.c_str()) : nullptr;
    if (!name)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

namespace {
// The whole body behind a URL, or false when it cannot be opened.
bool fetch(const std::wstring& url, std::string& body)
{
    IStream* stream = nullptr;
    if (FAILED(URLOpenBlockingStreamW(nullptr, url.c_str(), &stream, 0, nullptr)) || !stream)
        return false;
    body.clear();
    char buffer[4096];
    ULONG got = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &got)) && got > 0)
        body.append(buffer, got);
    stream->Release();
    return true;
}
} // namespace

std::wstring startWebServer(const std::string& directory, int seconds)
{
    static int servers = 0;
    const int call = servers++;
    const std::string unixDirectory = unixPath(directory);
    if (unixDirectory.empty())
        return std::wstring();
    // A file only this server has: an answer without it is someone else's server.
    const std::string marker = "rzserved" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(call) + ".txt";
    const std::string token = marker + std::to_string(GetTickCount());
    const std::string markerPath = directory + "\\" + marker;
    if (!writeWholeFile(markerPath, token.data(), token.size()))
        return std::wstring();
    std::wstring found;
    for (int attempt = 0; attempt < 5 && found.empty(); ++attempt) {
        const int port = 20000 + int((GetCurrentProcessId() * 31 + DWORD(call) * 7919 + DWORD(attempt) * 104729) % 40000);
        const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(port) + L"/";
        // Detached from this program's standard handles, so that whoever
        // reads the test's output is not kept waiting for the server.
        const std::string server = "exec /usr/bin/timeout " + std::to_string(seconds) +
                                   " /usr/bin/python3 -m http.server " + std::to_string(port) +
                                   " --bind 127.0.0.1 --directory '" + unixDirectory + "' </dev/null >/dev/null 2>&1";
        if (runProgram(L"start.exe /unix /bin/sh -c \"" + std::wstring(server.begin(), server.end()) + L"\"") != 0)
            break;
        for (int i = 0; i < 100; ++i) {
            std::string body;
            if (fetch(base + std::wstring(marker.begin(), marker.end()), body)) {
                if (body == token)
                    found = base;
                break;   // up, ours or not
            }
            Sleep(100);
        }
    }
    DeleteFileA(markerPath.c_str());
    return found;
}
