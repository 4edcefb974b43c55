#include "PrivateTempFile.h"

namespace {

// More names than any directory holds of one object's files: past this the
// directory is full of leftovers and no name is taken.
constexpr unsigned kMaxCounter = 100000;

} // namespace

std::string userTempDirectory()
{
    char directory[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory)
        return std::string();
    return std::string(directory, length);
}

std::string privateTempFileName(uintptr_t identity, unsigned counter, const char* extension)
{
    // Signed like the "%ld" of a 32-bit address; intptr_t keeps every bit on
    // 64-bit builds, where long has 32.
    return std::to_string(static_cast<long long>(static_cast<intptr_t>(identity))) + std::to_string(counter) +
           (extension ? extension : "");
}

PrivateTempFile::~PrivateTempFile()
{
    remove();
}

bool PrivateTempFile::create(uintptr_t identity, const char* extension)
{
    return createIn(userTempDirectory(), identity, extension);
}

bool PrivateTempFile::createIn(const std::string& directory, uintptr_t identity, const char* extension)
{
    remove();
    // Without a directory the name would be relative: the file would land in
    // whatever the current directory is.
    if (directory.empty())
        return false;
    for (unsigned counter = 0; counter < kMaxCounter; ++counter) {
        const std::string candidate = directory + privateTempFileName(identity, counter, extension);
        HANDLE file = CreateFileA(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            handle_ = file;
            path_ = candidate;
            return true;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            continue;   // someone else's file: the next name
        // A directory of that name is refused as access denied; a directory
        // that cannot be written refuses every name the same way.
        if (error == ERROR_ACCESS_DENIED && GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        return false;
    }
    return false;
}

bool PrivateTempFile::write(const void* data, size_t size)
{
    if (handle_ == INVALID_HANDLE_VALUE)
        return false;
    auto bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = size > 0x10000000 ? 0x10000000 : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(handle_, bytes, piece, &written, nullptr) || written != piece)
            return false;
        bytes += piece;
        size -= piece;
    }
    return true;
}

void PrivateTempFile::close()
{
    if (handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

void PrivateTempFile::remove()
{
    close();
    if (!path_.empty())
        DeleteFileA(path_.c_str());
    path_.clear();
}

HANDLE PrivateTempFile::detach(std::string& path)
{
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    path = path_;
    path_.clear();
    return handle;
}

std::string PrivateTempFile::keep()
{
    close();
    std::string path = path_;
    path_.clear();
    return path;
}
