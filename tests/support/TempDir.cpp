#include "TempDir.h"

#include <cstdio>

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

namespace {
bool readVariable(const char* name, std::string& value)
{
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    value.assign(buffer, length < sizeof buffer ? length : 0);
    return length > 0 && length < sizeof buffer;
}
}  // namespace

PrivateTempDirectory::PrivateTempDirectory()
{
    const std::string path = uniqueTempPath(".dir");
    if (!CreateDirectoryA(path.c_str(), nullptr))
        return;
    path_ = path;
    hadTmp_ = readVariable("TMP", oldTmp_);
    hadTemp_ = readVariable("TEMP", oldTemp_);
    SetEnvironmentVariableA("TMP", path_.c_str());
    SetEnvironmentVariableA("TEMP", path_.c_str());
}

PrivateTempDirectory::~PrivateTempDirectory()
{
    if (path_.empty())
        return;
    SetEnvironmentVariableA("TMP", hadTmp_ ? oldTmp_.c_str() : nullptr);
    SetEnvironmentVariableA("TEMP", hadTemp_ ? oldTemp_.c_str() : nullptr);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((path_ + "\\" + found.cFileName).c_str());
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path_.c_str());
}
