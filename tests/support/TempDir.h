#pragma once
// Paths in the user's temporary directory for test files, and small file helpers.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

std::string tempDirectory();
// A fresh path "<temp>\rzt<pid>_<n><suffix>" that does not exist yet.
std::string uniqueTempPath(const std::string& suffix);
std::vector<unsigned char> readWholeFile(const std::string& path);
// A file's size without reading it (0 when it is missing).
uint64_t fileSize(const std::string& path);
bool writeWholeFile(const std::string& path, const void* data, size_t size);
bool fileExists(const std::string& path);
// Names of the files in the temporary directory that match a wildcard.
std::vector<std::string> listTempFiles(const std::string& pattern);
// Names of the entries of a directory (without "." and "..").
std::vector<std::string> listDirectory(const std::string& directory);

// A directory that cannot be written, even by root: Wine's view of /sys.
constexpr char kUnwritableDirectory[] = "Z:\\sys\\";
// A value of TMP that the platform cannot report as the temporary directory
// (longer than a path may be).
std::string unreportableTempDirectory();

// Points the user's temporary directory (TMP and TEMP) elsewhere for the
// scope; the previous values come back at its end.
class TempDirectoryOverride {
public:
    explicit TempDirectoryOverride(const std::string& directory);
    ~TempDirectoryOverride();
    TempDirectoryOverride(const TempDirectoryOverride&) = delete;
    TempDirectoryOverride& operator=(const TempDirectoryOverride&) = delete;

private:
    std::string tmp_, temp_;
    bool hadTmp_ = false, hadTemp_ = false;
};

// A fresh empty directory, made the current directory for the scope, and
// removed (with what is in it) afterwards.
class ScratchCurrentDirectory {
public:
    ScratchCurrentDirectory();
    ~ScratchCurrentDirectory();
    ScratchCurrentDirectory(const ScratchCurrentDirectory&) = delete;
    ScratchCurrentDirectory& operator=(const ScratchCurrentDirectory&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_, previous_;
};

// Deletes the file when the scope ends.
class ScopedFile {
public:
    explicit ScopedFile(std::string path) : path_(std::move(path)) {}
    ~ScopedFile() { DeleteFileA(path_.c_str()); }
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    const std::string& path() const { return path_; }
    const char* c_str() const { return path_.c_str(); }

private:
    std::string path_;
};
