// Checks the built ROZERADO.DLL as a file and as a loaded module: a DLL for
// the test program's own architecture (i386 beside the 32-bit tests, x86-64
// beside the 64-bit ones) that imports nothing but Windows system DLLs, so it
// can be copied onto any Windows machine on its own; its exports carry their
// plain names; and it is the release module: no debug information inside,
// a debug link naming the file beside it that holds it.
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

constexpr bool k64Bit = sizeof(void*) == 8;

// A minimal reader of a PE image on disk, 32-bit (PE32) or 64-bit (PE32+).
class PeFile {
public:
    explicit PeFile(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

    bool valid() const
    {
        auto dos = at<IMAGE_DOS_HEADER>(0);
        if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE)
            return false;
        auto nt = at<IMAGE_NT_HEADERS32>(size_t(dos->e_lfanew));
        if (!nt || nt->Signature != IMAGE_NT_SIGNATURE)
            return false;
        const WORD magic = nt->OptionalHeader.Magic;
        return magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC
                   ? at<IMAGE_NT_HEADERS32>(size_t(dos->e_lfanew)) != nullptr
                   : magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC && at<IMAGE_NT_HEADERS64>(size_t(dos->e_lfanew));
    }
    size_t ntOffset() const { return size_t(at<IMAGE_DOS_HEADER>(0)->e_lfanew); }
    const IMAGE_FILE_HEADER& fileHeader() const { return at<IMAGE_NT_HEADERS32>(ntOffset())->FileHeader; }
    WORD magic() const { return at<IMAGE_NT_HEADERS32>(ntOffset())->OptionalHeader.Magic; }

    const IMAGE_DATA_DIRECTORY& directory(int entry) const
    {
        if (magic() == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            return at<IMAGE_NT_HEADERS64>(ntOffset())->OptionalHeader.DataDirectory[entry];
        return at<IMAGE_NT_HEADERS32>(ntOffset())->OptionalHeader.DataDirectory[entry];
    }

    // Names of the DLLs in the import directory, lower case.
    std::vector<std::string> importedDlls() const
    {
        std::vector<std::string> names;
        const IMAGE_DATA_DIRECTORY& dir = directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
        if (dir.VirtualAddress == 0)
            return names;
        for (size_t off = offsetOf(dir.VirtualAddress);; off += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            auto desc = at<IMAGE_IMPORT_DESCRIPTOR>(off);
            if (!desc || desc->Name == 0)
                break;
            std::string name = textAt(offsetOf(desc->Name));
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
            names.push_back(name);
        }
        return names;
    }

    // The names in the export directory.
    std::set<std::string> exportedNames() const
    {
        std::set<std::string> names;
        const IMAGE_DATA_DIRECTORY& dir = directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
        auto exports = dir.VirtualAddress ? at<IMAGE_EXPORT_DIRECTORY>(offsetOf(dir.VirtualAddress)) : nullptr;
        if (!exports)
            return names;
        for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
            auto nameRva = at<DWORD>(offsetOf(exports->AddressOfNames) + 4 * size_t(i));
            if (nameRva)
                names.insert(textAt(offsetOf(*nameRva)));
        }
        return names;
    }

    // Section names, long ones ("/offset") read from the string table.
    struct Section {
        std::string name;
        const IMAGE_SECTION_HEADER* header;
    };
    std::vector<Section> sections() const
    {
        std::vector<Section> list;
        const IMAGE_FILE_HEADER& file = fileHeader();
        const size_t first = ntOffset() + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + file.SizeOfOptionalHeader;
        const size_t strings = size_t(file.PointerToSymbolTable) + size_t(file.NumberOfSymbols) * 18;
        for (int i = 0; i < file.NumberOfSections; ++i) {
            auto section = at<IMAGE_SECTION_HEADER>(first + size_t(i) * sizeof(IMAGE_SECTION_HEADER));
            if (!section)
                break;
            std::string name(reinterpret_cast<const char*>(section->Name),
                             strnlen(reinterpret_cast<const char*>(section->Name), IMAGE_SIZEOF_SHORT_NAME));
            if (name.size() > 1 && name[0] == '/' && file.PointerToSymbolTable)
                name = textAt(strings + size_t(std::stoul(name.substr(1))));
            list.push_back({name, section});
        }
        return list;
    }

    const std::vector<unsigned char>& bytes() const { return bytes_; }

    template <class T> const T* at(size_t offset) const
    {
        return offset + sizeof(T) <= bytes_.size() ? reinterpret_cast<const T*>(&bytes_[offset]) : nullptr;
    }
    std::string textAt(size_t offset) const
    {
        std::string text;
        while (offset < bytes_.size() && bytes_[offset])
            text += char(bytes_[offset++]);
        return text;
    }

private:
    size_t offsetOf(DWORD rva) const
    {
        for (const Section& s : sections()) {
            const IMAGE_SECTION_HEADER* section = s.header;
            if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
                return size_t(rva - section->VirtualAddress + section->PointerToRawData);
        }
        ADD_FAILURE() << "RVA outside every section: " << rva;
        return bytes_.size();
    }

    std::vector<unsigned char> bytes_;
};

// The checksum of a debug link (the CRC-32 of zlib and of the debuggers).
uint32_t crc32Of(const std::vector<unsigned char>& data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

TEST(ModuleImage, IsADllForTheTestsOwnArchitecture)
{
    PeFile pe(readWholeFile(dllPath()));
    ASSERT_TRUE(pe.valid()) << dllPath();
    EXPECT_EQ(pe.fileHeader().Machine, k64Bit ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
    EXPECT_TRUE(pe.fileHeader().Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(pe.magic(), k64Bit ? IMAGE_NT_OPTIONAL_HDR64_MAGIC : IMAGE_NT_OPTIONAL_HDR32_MAGIC);
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

// Browsers and COM find the entry points by these names exactly, on both
// architectures: no stdcall decoration ("_NP_Initialize@4") and nothing else.
TEST(ModuleImage, ExportsTheEntryPointsByTheirPlainNames)
{
    PeFile pe(readWholeFile(dllPath()));
    ASSERT_TRUE(pe.valid());
    const std::set<std::string> expected = {"DllCanUnloadNow",  "DllGetClassObject", "DllRegisterServer",
                                            "DllUnregisterServer", "NP_GetEntryPoints", "NP_Initialize",
                                            "NP_Shutdown"};
    EXPECT_EQ(pe.exportedNames(), expected);

    HMODULE module = LoadLibraryA(dllPath().c_str());
    ASSERT_NE(module, nullptr);
    for (const std::string& name : expected)
        EXPECT_NE(GetProcAddress(module, name.c_str()), nullptr) << name;
    FreeLibrary(module);
}

// The module ships stripped; its debug information lies in the file its
// debug link names, beside it, with the checksum the link records.
TEST(ModuleImage, IsStrippedAndLinksToItsDebugInformationBesideIt)
{
    PeFile pe(readWholeFile(dllPath()));
    ASSERT_TRUE(pe.valid());
    std::vector<unsigned char> link;
    for (const auto& section : pe.sections()) {
        EXPECT_NE(section.name.rfind(".debug_", 0), 0u) << "debug information left in the module: " << section.name;
        if (section.name == ".gnu_debuglink") {
            const auto* header = section.header;
            const size_t size = std::min<size_t>(header->SizeOfRawData, header->Misc.VirtualSize);
            ASSERT_LE(size_t(header->PointerToRawData) + size, pe.bytes().size());
            link.assign(pe.bytes().begin() + header->PointerToRawData,
                        pe.bytes().begin() + header->PointerToRawData + size);
        }
    }
    EXPECT_EQ(pe.fileHeader().NumberOfSymbols, 0u) << "the symbol table is still there";
    ASSERT_GE(link.size(), 8u) << "no debug link";

    const std::string name(reinterpret_cast<const char*>(link.data()), strnlen(reinterpret_cast<const char*>(link.data()), link.size()));
    EXPECT_EQ(name, "ROZERADO.DLL.debug");
    const size_t crcAt = (name.size() + 1 + 3) / 4 * 4;
    ASSERT_LE(crcAt + 4, link.size());
    uint32_t recorded = 0;
    memcpy(&recorded, &link[crcAt], 4);

    const auto debug = readWholeFile(moduleDirectory() + name);
    ASSERT_FALSE(debug.empty()) << "missing: " << moduleDirectory() + name;
    EXPECT_EQ(crc32Of(debug), recorded);
    PeFile debugImage(debug);
    ASSERT_TRUE(debugImage.valid());
    bool hasLines = false;
    for (const auto& section : debugImage.sections())
        hasLines = hasLines || section.name == ".debug_line";
    EXPECT_TRUE(hasLines) << "the debug file holds no line information";
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
