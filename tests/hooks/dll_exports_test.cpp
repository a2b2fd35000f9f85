// The released DLL carries no exported function (the game reaches the
// plug-in only through its patched code); the test build exports the three
// streaming counters, which also shows that the reading below finds
// exports where there are some.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <stdexcept>
#include <string>

#include "image/simulated_host.h"
#include "test_files.h"

namespace {

// The names in a DLL file's export directory, read from the file itself.
std::set<std::string> ExportedNames(const std::string& path, DWORD& functionCount)
{
    const std::string file = TestSupport::ReadFile(path);
    auto at = [&](std::size_t offset, std::size_t size) {
        if (offset > file.size() || size > file.size() - offset) throw std::runtime_error("truncated " + path);
        return file.data() + offset;
    };
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, at(0, sizeof dos), sizeof dos);
    IMAGE_NT_HEADERS32 nt;
    std::memcpy(&nt, at(dos.e_lfanew, sizeof nt), sizeof nt);
    if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        throw std::runtime_error("not a 32-bit PE file: " + path);
    }
    const IMAGE_DATA_DIRECTORY exports = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    functionCount = 0;
    if (exports.VirtualAddress == 0 || exports.Size == 0) return {};

    const std::size_t sections = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                                 nt.FileHeader.SizeOfOptionalHeader;
    auto fileOffset = [&](DWORD rva) -> std::size_t {
        for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section;
            std::memcpy(&section, at(sections + i * sizeof section, sizeof section), sizeof section);
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData) {
                return rva - section.VirtualAddress + section.PointerToRawData;
            }
        }
        throw std::runtime_error("export data outside every section of " + path);
    };
    IMAGE_EXPORT_DIRECTORY directory;
    std::memcpy(&directory, at(fileOffset(exports.VirtualAddress), sizeof directory), sizeof directory);
    functionCount = directory.NumberOfFunctions;
    std::set<std::string> names;
    for (DWORD i = 0; i < directory.NumberOfNames; ++i) {
        DWORD nameRva;
        std::memcpy(&nameRva, at(fileOffset(directory.AddressOfNames) + 4 * i, 4), 4);
        names.insert(at(fileOffset(nameRva), 1));
    }
    return names;
}

TEST(DllExports, TheReleasedDllExportsNothingAndThePreviewBuildOnlyItsCountersAndSwitch)
{
    DWORD functions = 0;
    EXPECT_EQ(ExportedNames(Host::ProgramDirectory() + "VornakMapLoader.dll", functions), std::set<std::string>{});
    EXPECT_EQ(functions, 0u);

    EXPECT_EQ(ExportedNames(Host::ProgramDirectory() + "VornakMapLoader_test.dll", functions),
              (std::set<std::string>{"VornakDesignedWaits", "VornakDrawGroupAlone", "VornakFramesWithStreamingLeft",
                                     "VornakModelsLoading", "VornakModelsReloaded"}));
    EXPECT_EQ(functions, 5u);
}

}  // namespace
