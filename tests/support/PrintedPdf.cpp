#include "PrintedPdf.h"

#include "TempDir.h"
#include <winspool.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kPollMs = 250;

uint64_t ticks(FILETIME t) { return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime; }

// A Windows path as the Linux side names it (Wine's own conversion).
std::string unixPath(const std::string& windowsPath)
{
    using Convert = char*(CDECL*)(LPCWSTR);
    auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert)
        return {};
    std::wstring wide(windowsPath.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, &wide[0], int(wide.size()));
    char* converted = convert(wide.c_str());
    if (!converted)
        return {};
    std::string result = converted;
    HeapFree(GetProcessHeap(), 0, converted);
    return result;
}

// The whole file has been written: cups-pdf's PDF ends with its trailer.
bool pdfComplete(const std::string& path)
{
    std::vector<unsigned char> bytes = readWholeFile(path);
    const size_t tail = std::min<size_t>(bytes.size(), 1024);
    const std::string end(bytes.end() - tail, bytes.end());
    return end.find("%%EOF") != std::string::npos;
}

bool parsePpm(const std::vector<unsigned char>& bytes, RenderedPage& page)
{
    size_t at = 0;
    auto token = [&]() {
        std::string t;
        while (at < bytes.size()) {
            const char c = char(bytes[at]);
            if (c == '#') {
                while (at < bytes.size() && bytes[at] != '\n')
                    ++at;
            } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
                ++at;
                if (!t.empty())
                    return t;
            } else {
                t += c;
                ++at;
            }
        }
        return t;
    };
    if (token() != "P6")
        return false;
    const int width = std::atoi(token().c_str()), height = std::atoi(token().c_str());
    const int maxValue = std::atoi(token().c_str());
    const size_t size = size_t(width) * size_t(height) * 3;
    if (width <= 0 || height <= 0 || maxValue != 255 || bytes.size() - at < size)
        return false;
    page.width = width;
    page.height = height;
    page.rgb.assign(bytes.begin() + at, bytes.begin() + at + size);
    return true;
}

} // namespace

bool printerAvailable()
{
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, nullptr, 0, &needed, &count);
    if (needed == 0)
        return false;
    std::vector<BYTE> buffer(needed);
    return EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, buffer.data(), needed, &needed,
                         &count) &&
           count > 0;
}

std::string printedPdfFolder()
{
    char home[MAX_PATH] = {};   // "\??\Z:\root"
    const DWORD n = GetEnvironmentVariableA("WINEHOMEDIR", home, sizeof home);
    if (n == 0 || n >= sizeof home)
        return {};
    std::string folder = home;
    if (folder.rfind("\\??\\", 0) == 0)
        folder.erase(0, 4);
    return folder + "\\PDF";
}

FILETIME nowFileTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return now;
}

std::string findPrintedPdf(const std::string& documentName, FILETIME since, DWORD timeoutMs)
{
    const std::string folder = printedPdfFolder();
    if (folder.empty())
        return {};
    std::string part = documentName;
    std::replace(part.begin(), part.end(), ' ', '_');

    std::string candidate;
    uint64_t candidateSize = 0;
    const DWORD start = GetTickCount();
    for (;;) {
        std::string newest;
        uint64_t newestTime = 0, newestSize = 0;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*.pdf").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const uint64_t written = ticks(found.ftLastWriteTime);
                if (std::string(found.cFileName).find(part) == std::string::npos || written < ticks(since) ||
                    written < newestTime)
                    continue;
                newest = folder + "\\" + found.cFileName;
                newestTime = written;
                newestSize = uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        // Complete when its size held still for one poll and its trailer is there.
        if (!newest.empty() && newest == candidate && newestSize == candidateSize && newestSize > 0 &&
            pdfComplete(newest))
            return newest;
        candidate = newest;
        candidateSize = newestSize;
        if (GetTickCount() - start > timeoutMs)
            return {};
        Sleep(kPollMs);
    }
}

RECT RenderedPage::inkBounds() const
{
    RECT bounds = {width, height, 0, 0};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
            if (p[0] >= 224 && p[1] >= 224 && p[2] >= 224)
                continue;
            bounds.left = std::min<LONG>(bounds.left, x);
            bounds.top = std::min<LONG>(bounds.top, y);
            bounds.right = std::max<LONG>(bounds.right, x + 1);
            bounds.bottom = std::max<LONG>(bounds.bottom, y + 1);
        }
    if (bounds.right <= bounds.left)
        bounds = RECT{0, 0, 0, 0};
    return bounds;
}

bool renderPdfPage(const std::string& pdfPath, int dpi, RenderedPage& page, DWORD timeoutMs)
{
    const std::string output = uniqueTempPath(".ppm");
    const std::string pdf = unixPath(pdfPath), target = unixPath(output);
    if (pdf.empty() || target.empty())
        return false;
    const std::string partial = target + ".part";   // pdftoppm adds ".ppm"
    char command[4096];
    std::snprintf(command, sizeof command,
                  "Z:\\bin\\sh -c \"/usr/bin/pdftoppm -q -r %d -f 1 -l 1 -singlefile '%s' '%s' && "
                  "mv '%s.ppm' '%s' || echo failed > '%s.failed'\"",
                  dpi, pdf.c_str(), partial.c_str(), partial.c_str(), target.c_str(), target.c_str());
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    if (process.hThread)
        CloseHandle(process.hThread);
    if (process.hProcess)
        CloseHandle(process.hProcess);

    ScopedFile rendered(output), failed(output + ".failed");
    const DWORD start = GetTickCount();
    while (!fileExists(output)) {
        if (fileExists(failed.path()) || GetTickCount() - start > timeoutMs)
            return false;
        Sleep(100);
    }
    return parsePpm(readWholeFile(output), page);
}

bool closeColour(unsigned a, unsigned b, int tolerance)
{
    for (int shift = 0; shift <= 16; shift += 8)
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance)
            return false;
    return true;
}

bool takePrintedPage(const std::string& documentName, FILETIME since, int dpi, RenderedPage& page,
                     std::string& error)
{
    const std::string pdf = findPrintedPdf(documentName, since);
    if (pdf.empty()) {
        error = "no PDF named after \"" + documentName + "\" appeared in " + printedPdfFolder();
        return false;
    }
    ScopedFile printed(pdf);
    if (!renderPdfPage(pdf, dpi, page)) {
        error = "pdftoppm could not render " + pdf;
        return false;
    }
    page.fileName = pdf.substr(pdf.find_last_of('\\') + 1);
    return true;
}

std::vector<std::string> probeMismatches(const RenderedPage& page, const std::vector<InkProbe>& probes,
                                         int tolerance)
{
    std::vector<std::string> mismatches;
    const RECT ink = page.inkBounds();
    if (ink.right <= ink.left) {
        mismatches.push_back("the page is blank");
        return mismatches;
    }
    for (const InkProbe& probe : probes) {
        const int x = ink.left + int(probe.fx * (ink.right - ink.left));
        const int y = ink.top + int(probe.fy * (ink.bottom - ink.top));
        if (x < 0 || y < 0 || x >= page.width || y >= page.height) {
            mismatches.push_back("a probe outside the page");
            continue;
        }
        const unsigned found = page.rgbAt(x, y);
        if (closeColour(found, probe.rgb, tolerance))
            continue;
        char line[128];
        std::snprintf(line, sizeof line, "at (%.2f, %.2f) of the ink: %06X instead of %06X", probe.fx, probe.fy,
                      found, probe.rgb);
        mismatches.push_back(line);
    }
    return mismatches;
}
