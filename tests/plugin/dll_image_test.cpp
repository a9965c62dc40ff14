// Quendrix.dll as a file: what the loader and the host see of it before any
// code runs. The PE structures are read from the file's bytes.
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "frame/version.h"
#include "plugin_host.h"
#include "tests/support/child_process.h"

namespace {

class DllImage : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string file = test_host::BesideProgram("Quendrix.dll");
        path_ = file;
        std::ifstream in(file, std::ios::binary);
        ASSERT_TRUE(in) << file;
        std::ostringstream bytes;
        bytes << in.rdbuf();
        image_ = bytes.str();

        const auto* dos = At<IMAGE_DOS_HEADER>(0);
        ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
        nt_ = At<IMAGE_NT_HEADERS32>(dos->e_lfanew);
        ASSERT_EQ(nt_->Signature, IMAGE_NT_SIGNATURE);
        ASSERT_EQ(nt_->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
        sections_ = IMAGE_FIRST_SECTION(nt_);
    }

    template <typename T>
    const T* At(size_t offset) const {
        if (offset + sizeof(T) > image_.size())
            throw std::out_of_range("beyond the file");
        return reinterpret_cast<const T*>(image_.data() + offset);
    }

    // The file offset of a relative virtual address.
    size_t Offset(uint32_t rva) const {
        for (int i = 0; i < nt_->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& s = sections_[i];
            const uint32_t size = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + size)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        throw std::out_of_range("address outside every section");
    }

    std::string TextAt(uint32_t rva) const { return image_.c_str() + Offset(rva); }

    const IMAGE_DATA_DIRECTORY& Directory(int index) const {
        return nt_->OptionalHeader.DataDirectory[index];
    }

    std::string path_;
    std::string image_;
    const IMAGE_NT_HEADERS32* nt_ = nullptr;
    const IMAGE_SECTION_HEADER* sections_ = nullptr;
};

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

TEST_F(DllImage, ExportsExactlyTheThreeOrdinalsWithoutNames) {
    const IMAGE_DATA_DIRECTORY& dir = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(dir.VirtualAddress, 0u);
    const auto* exports = At<IMAGE_EXPORT_DIRECTORY>(Offset(dir.VirtualAddress));
    EXPECT_EQ(exports->NumberOfNames, 0u);
    std::set<uint32_t> ordinals;
    const auto* functions = At<uint32_t>(Offset(exports->AddressOfFunctions));
    for (uint32_t i = 0; i < exports->NumberOfFunctions; ++i)
        if (functions[i] != 0)
            ordinals.insert(exports->Base + i);
    EXPECT_EQ(ordinals, (std::set<uint32_t>{30001, 30008, 30009}));
    EXPECT_EQ(Lower(TextAt(exports->Name)), "quendrix.dll");
}

TEST_F(DllImage, ImportsOnlyTheHostTranslatorAndSystemLibraries) {
    const IMAGE_DATA_DIRECTORY& dir = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    ASSERT_NE(dir.VirtualAddress, 0u);
    std::map<std::string, std::vector<uint32_t>> by_ordinal;
    std::map<std::string, int> by_name;
    std::set<std::string> runtime;
    for (size_t at = Offset(dir.VirtualAddress);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* d = At<IMAGE_IMPORT_DESCRIPTOR>(at);
        if (d->Name == 0)
            break;
        const std::string library = Lower(TextAt(d->Name));
        uint32_t thunks = d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk;
        for (size_t t = Offset(thunks);; t += 4) {
            const uint32_t thunk = *At<uint32_t>(t);
            if (thunk == 0)
                break;
            if (thunk & IMAGE_ORDINAL_FLAG32)
                by_ordinal[library].push_back(thunk & 0xFFFF);
            else
                ++by_name[library];
            if (library == "msvcrt.dll" && (thunk & IMAGE_ORDINAL_FLAG32) == 0)
                runtime.insert(TextAt(thunk + 2));  // after the hint
        }
    }
    // Each C runtime function was looked at for what it takes from the host's
    // process (docs/host-interface.md, "The host's process"); one that is not
    // in this list has not been.
    const std::set<std::string> reviewed = {
        "__mb_cur_max", "_amsg_exit", "_errno",  "_initterm", "_iob",     "_lock",     "_unlock",
        "abort",        "atoi",       "calloc",  "fputc",     "free",     "fwrite",    "localeconv",
        "malloc",       "memcpy",     "memmove", "memset",    "realloc",  "setlocale", "strchr",
        "strerror",     "strlen",     "strncmp", "strstr",    "vfprintf", "wcslen"};
    EXPECT_EQ(runtime, reviewed);
    EXPECT_EQ(by_ordinal["veldan.dll"], std::vector<uint32_t>{30005});
    EXPECT_EQ(by_name.count("veldan.dll"), 0u);
    const std::set<std::string> allowed = {"veldan.dll", "kernel32.dll", "user32.dll",
                                           "msvcrt.dll"};
    for (const auto& [library, count] : by_name)
        EXPECT_TRUE(allowed.count(library)) << library << " imported";
    for (const auto& [library, ordinals] : by_ordinal)
        EXPECT_TRUE(allowed.count(library)) << library << " imported";
}

TEST_F(DllImage, HeaderAndVersionResource) {
    const uint16_t flags = nt_->OptionalHeader.DllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    EXPECT_TRUE(nt_->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(nt_->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    // Relocations present, or the dynamic base would be an empty promise.
    EXPECT_NE(Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size, 0u);

    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &handle);
    ASSERT_NE(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path_.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS,
              static_cast<DWORD>(QUENDRIX_VERSION_MAJOR << 16 | QUENDRIX_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(QUENDRIX_VERSION_PATCH << 16));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    // The texts, in Polish, as frame/version.h writes them (UTF-8 there).
    const std::pair<const wchar_t*, const char*> texts[] = {
        {L"ProductName", QUENDRIX_PRODUCT_NAME},         {L"CompanyName", QUENDRIX_COMPANY_NAME},
        {L"FileDescription", QUENDRIX_FILE_DESCRIPTION}, {L"FileVersion", QUENDRIX_VERSION_TEXT},
        {L"ProductVersion", QUENDRIX_VERSION_TEXT},
    };
    for (const auto& [name, expected] : texts) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\041504E2\\") + name;
        ASSERT_TRUE(
            VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length));
        wchar_t wide[256] = {};
        MultiByteToWideChar(CP_UTF8, 0, expected, -1, wide, 256);
        EXPECT_STREQ(value, wide);
    }
}

// What a second build elsewhere would change: time stamps and the folders it
// was built in. The file checked is the build output with its debug
// information, so the debug information is held to the same rule.
// tools/check-reproducible.sh compares two whole builds.
TEST_F(DllImage, NoTimeStampNorBuildFolder) {
    EXPECT_EQ(nt_->FileHeader.TimeDateStamp, 0u);
    const IMAGE_DATA_DIRECTORY& exports = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(exports.VirtualAddress, 0u);
    EXPECT_EQ(At<IMAGE_EXPORT_DIRECTORY>(Offset(exports.VirtualAddress))->TimeDateStamp, 0u);
    const IMAGE_DATA_DIRECTORY& resources = Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
    ASSERT_NE(resources.VirtualAddress, 0u);
    EXPECT_EQ(At<IMAGE_RESOURCE_DIRECTORY>(Offset(resources.VirtualAddress))->TimeDateStamp, 0u);
    EXPECT_EQ(Directory(IMAGE_DIRECTORY_ENTRY_DEBUG).Size, 0u) << "a CodeView record with a path";

    // Also as a tool makes a symbol of a path: every other character an underscore.
    for (std::string folder : {QUENDRIX_SOURCE_DIR, QUENDRIX_BINARY_DIR}) {
        EXPECT_EQ(image_.find(folder), std::string::npos) << folder << " in Quendrix.dll";
        for (char& c : folder)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        EXPECT_EQ(image_.find(folder), std::string::npos) << folder << " in Quendrix.dll";
    }
}
