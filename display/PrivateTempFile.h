#pragma once
// A file of the module's own in the user's temporary directory, named after
// the object that makes it: "<identity><counter><extension>". The name is
// taken and the file created in one step (CREATE_NEW), so a file that another
// object or process holds, or that appears meanwhile, is never overwritten;
// the counter moves on only while the name it tried exists. A directory that
// refuses a new name, or no temporary directory at all, ends the attempt at
// once: nothing is written anywhere else. Every temporary file of the module
// (the plug-in's stream copy, the control's download, the hotspot bytes, the
// palette reduction's bitmaps) is made here.
#include <windows.h>

#include <cstdint>
#include <string>

// The user's temporary directory as the platform reports it, ending in a
// separator; empty when the platform reports none.
std::string userTempDirectory();

// The identity of an object in temporary names: its address.
inline uintptr_t objectIdentity(const void* object)
{
    return reinterpret_cast<uintptr_t>(object);
}

// "<identity><counter><extension>". The identity is written as a signed
// decimal number of pointer width, so 32-bit builds keep the "%ld%d" form
// and 64-bit addresses are never cut.
std::string privateTempFileName(uintptr_t identity, unsigned counter, const char* extension);

class PrivateTempFile {
public:
    PrivateTempFile() = default;
    // Closes the file and deletes it unless it was handed on.
    ~PrivateTempFile();
    PrivateTempFile(const PrivateTempFile&) = delete;
    PrivateTempFile& operator=(const PrivateTempFile&) = delete;

    // Creates a new empty file (open for reading and writing, shared with
    // nobody) under the first free name in the user's temporary directory.
    // False, with nothing created, when there is no temporary directory, the
    // directory refuses the file, or no free name turns up.
    bool create(uintptr_t identity, const char* extension);
    // The same in another directory (one that ends in a separator).
    bool createIn(const std::string& directory, uintptr_t identity, const char* extension);

    bool created() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    HANDLE handle() const { return handle_; }

    // Appends all `size` bytes; false when the file is closed or the write
    // falls short.
    bool write(const void* data, size_t size);
    // Closes the handle; the file stays this object's.
    void close();
    // Closes the file and deletes it now.
    void remove();
    // Hands the open handle and the file to the caller, who closes and
    // deletes them; `path` receives the file's path.
    HANDLE detach(std::string& path);
    // Closes the handle and hands the file to the caller; returns its path.
    std::string keep();

private:
    std::string path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};
