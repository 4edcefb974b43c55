// Checks the built ROZERADO.DLL as a file and as a loaded module: a 32-bit
// (i386) DLL that imports nothing but Windows system DLLs, so it can be
// copied onto any Windows machine on its own.
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

namespace {

std::string moduleDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

std::string dllPath() { return moduleDirectory() + "ROZERADO.DLL"; }

// A minimal reader of a PE image on disk.
class PeFile {
public:
    explicit PeFile(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

    bool valid() const
    {
        if (bytes_.size() < sizeof(IMAGE_DOS_HEADER))
            return false;
        auto dos = at<IMAGE_DOS_HEADER>(0);
        if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE)
            return false;
        auto nt = at<IMAGE_NT_HEADERS32>(dos->e_lfanew);
        return nt && nt->Signature == IMAGE_NT_SIGNATURE;
    }
    const IMAGE_NT_HEADERS32* nt() const { return at<IMAGE_NT_HEADERS32>(at<IMAGE_DOS_HEADER>(0)->e_lfanew); }

    // Names of the DLLs in the import directory, lower case.
    std::vector<std::string> importedDlls() const
    {
        std::vector<std::string> names;
        const IMAGE_DATA_DIRECTORY& dir = nt()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (dir.VirtualAddress == 0)
            return names;
        for (DWORD off = offsetOf(dir.VirtualAddress);; off += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            auto desc = at<IMAGE_IMPORT_DESCRIPTOR>(off);
            if (!desc || desc->Name == 0)
                break;
            std::string name(reinterpret_cast<const char*>(&bytes_[offsetOf(desc->Name)]));
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
            names.push_back(name);
        }
        return names;
    }

private:
    template <class T> const T* at(size_t offset) const
    {
        return offset + sizeof(T) <= bytes_.size() ? reinterpret_cast<const T*>(&bytes_[offset]) : nullptr;
    }
    DWORD offsetOf(DWORD rva) const
    {
        const IMAGE_NT_HEADERS32* headers = nt();
        auto section = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
            reinterpret_cast<const unsigned char*>(&headers->OptionalHeader) + headers->FileHeader.SizeOfOptionalHeader);
        for (int i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section)
            if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
                return rva - section->VirtualAddress + section->PointerToRawData;
        ADD_FAILURE() << "RVA outside every section: " << rva;
        return 0;
    }

    std::vector<unsigned char> bytes_;
};

TEST(ModuleImage, IsA32BitDll)
{
    PeFile pe(readWholeFile(dllPath()));
    ASSERT_TRUE(pe.valid()) << dllPath();
    EXPECT_EQ(pe.nt()->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_TRUE(pe.nt()->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(pe.nt()->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
}

TEST(ModuleImage, ImportsOnlyWindowsSystemDlls)
{
    static const std::set<std::string> system = {
        "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "advapi32.dll",
        "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "urlmon.dll", "wininet.dll",
        "msvcrt.dll", "winspool.drv", "version.dll", "oleacc.dll",
    };
    PeFile pe(readWholeFile(dllPath()));
    ASSERT_TRUE(pe.valid());
    const auto imports = pe.importedDlls();
    EXPECT_FALSE(imports.empty());
    for (const std::string& name : imports)
        EXPECT_TRUE(system.count(name)) << "ROZERADO.DLL imports " << name;
}

TEST(ModuleImage, LoadsAndUnloads)
{
    HMODULE module = LoadLibraryA(dllPath().c_str());
    ASSERT_NE(module, nullptr) << "LoadLibrary failed: " << GetLastError();
    char name[MAX_PATH] = {};
    GetModuleFileNameA(module, name, MAX_PATH);
    EXPECT_NE(std::string(name).find("ROZERADO.DLL"), std::string::npos);
    EXPECT_TRUE(FreeLibrary(module));
}

} // namespace
