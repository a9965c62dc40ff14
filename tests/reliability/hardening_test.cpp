// The hardening of Quendrix.dll beyond the header flags that tests/plugin
// checks: its stack canary, seeded at attach and fatal when damaged, and no
// section that is both writable and executable.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "frame/plugin_entry.h"
#include "frame/stack_guard.h"
#include "overflow_target.h"
#include "reliability_host.h"

int Consume(const char* buffer) {
    const volatile char* bytes = buffer;
    return bytes[0] + bytes[15];
}

namespace reliability {

// Children: "overflow <bytes>" copies that many bytes into the 16-byte buffer
// of the protected function; "seed" prints the canary before and after the
// plug-in's real entry point handles a process attach.
int RunChild(const std::vector<std::string>& arguments) {
    if (arguments.size() == 2 && arguments[0] == "overflow") {
        const size_t length = static_cast<size_t>(atoi(arguments[1].c_str()));
        std::string text(length, 'A');
        CopyIntoSmallBuffer(text.data(), length);
        printf("survived\n");
        return 0;
    }
    if (arguments.size() == 1 && arguments[0] == "seed") {
        const uintptr_t before = __stack_chk_guard;
        QuendrixDllEntry(GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH, nullptr);
        printf("%08lx %08lx\n", static_cast<unsigned long>(before),
               static_cast<unsigned long>(__stack_chk_guard));
        return 0;
    }
    return 2;
}

namespace {

constexpr uint32_t kStackBufferOverrun = 0xC0000409;

TEST(StackGuard, DamagedCanaryEndsTheProcessAtOnce) {
    const std::vector<ChildResult> results = RunChildren({{"overflow", "16"}, {"overflow", "64"}});
    EXPECT_EQ(results[0].exit_code, 0u) << results[0].output;
    EXPECT_NE(results[0].output.find("survived"), std::string::npos);
    EXPECT_EQ(results[1].exit_code, kStackBufferOverrun) << results[1].output;
    EXPECT_EQ(results[1].output.find("survived"), std::string::npos)
        << "the damaged function returned";
}

TEST(StackGuard, AttachSeedsADifferentCanaryInEveryProcess) {
    const std::vector<ChildResult> results = RunChildren({{"seed"}, {"seed"}, {"seed"}});
    std::vector<unsigned long> seeded;
    for (const ChildResult& result : results) {
        ASSERT_EQ(result.exit_code, 0u) << result.output;
        unsigned long before = 0, after = 0;
        ASSERT_EQ(sscanf(result.output.c_str(), "%lx %lx", &before, &after), 2) << result.output;
        EXPECT_NE(after, before) << "the attach left the built-in canary";
        EXPECT_NE(after, 0u);
        seeded.push_back(after);
    }
    EXPECT_NE(seeded[0], seeded[1]);
    EXPECT_NE(seeded[1], seeded[2]);
    EXPECT_NE(seeded[0], seeded[2]);
}

TEST(DllSections, NoneIsBothWritableAndExecutable) {
    const std::string file = test_host::BesideProgram("Quendrix.dll");
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string image = bytes.str();
    ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    ASSERT_LT(static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32), image.size());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    int executable = 0;
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const std::string name(reinterpret_cast<const char*>(section->Name),
                               strnlen(reinterpret_cast<const char*>(section->Name), 8));
        const DWORD flags = section->Characteristics;
        if (flags & IMAGE_SCN_MEM_EXECUTE) {
            ++executable;
            EXPECT_FALSE(flags & IMAGE_SCN_MEM_WRITE) << name << " is writable and executable";
        }
    }
    EXPECT_GT(executable, 0);
}

}  // namespace
}  // namespace reliability
