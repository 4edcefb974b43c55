#include "TempDir.h"

#include <cstdio>
#include <cstring>

std::string tempDirectory()
{
    char buffer[MAX_PATH + 1] = {};
    GetTempPathA(sizeof buffer, buffer);
    return buffer;
}

std::string uniqueTempPath(const std::string& suffix)
{
    static unsigned counter = 0;
    for (;;) {
        char name[64];
        std::snprintf(name, sizeof name, "rzt%lu_%u", GetCurrentProcessId(), counter++);
        std::string path = tempDirectory() + name + suffix;
        if (!fileExists(path))
            return path;
    }
}

std::vector<unsigned char> readWholeFile(const std::string& path)
{
    std::vector<unsigned char> bytes;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        unsigned char buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + got);
        std::fclose(file);
    }
    return bytes;
}

uint64_t fileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool writeWholeFile(const std::string& path, const void* data, size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> listTempFiles(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((tempDirectory() + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::vector<std::string> listDirectory(const std::string& directory)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0)
            names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string unreportableTempDirectory()
{
    return "C:\\" + std::string(300, 't');
}

namespace {
bool readVariable(const char* name, std::string& value)
{
    char buffer[32768];
    const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer)
        return false;
    value.assign(buffer, length);
    return true;
}
} // namespace

TempDirectoryOverride::TempDirectoryOverride(const std::string& directory)
{
    hadTmp_ = readVariable("TMP", tmp_);
    hadTemp_ = readVariable("TEMP", temp_);
    SetEnvironmentVariableA("TMP", directory.c_str());
    SetEnvironmentVariableA("TEMP", directory.c_str());
}

TempDirectoryOverride::~TempDirectoryOverride()
{
    SetEnvironmentVariableA("TMP", hadTmp_ ? tmp_.c_str() : nullptr);
    SetEnvironmentVariableA("TEMP", hadTemp_ ? temp_.c_str() : nullptr);
}

ScratchCurrentDirectory::ScratchCurrentDirectory()
{
    char current[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(sizeof current, current);
    previous_ = current;
    path_ = uniqueTempPath(".dir");
    CreateDirectoryA(path_.c_str(), nullptr);
    SetCurrentDirectoryA(path_.c_str());
}

ScratchCurrentDirectory::~ScratchCurrentDirectory()
{
    SetCurrentDirectoryA(previous_.c_str());
    for (const std::string& name : listDirectory(path_))
        DeleteFileA((path_ + "\\" + name).c_str());
    RemoveDirectoryA(path_.c_str());
}
