// Strict mode's fault handler leaves with the library. A program that loads
// the stand-in itself (as the host program and the older-host tests do) may
// unload it; any access fault after that, even one that the code raising it
// expects and handles, must reach that code instead of a handler whose code
// is gone.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(StrictModeUnload, FaultsAfterTheLibraryIsUnloadedReachTheirOwnHandlers) {
    HMODULE library = LoadLibraryA("VELDAN.dll");
    ASSERT_NE(library, nullptr);
    auto set_strict = reinterpret_cast<void (*)(int)>(
        reinterpret_cast<void*>(GetProcAddress(library, "VsSetStrict")));
    ASSERT_NE(set_strict, nullptr);
    set_strict(1);
    ASSERT_TRUE(FreeLibrary(library));
    ASSERT_EQ(GetModuleHandleA("VELDAN.dll"), nullptr) << "the library is unloaded";

    // The system's pointer check reads the address and handles the fault.
    EXPECT_TRUE(IsBadReadPtr(reinterpret_cast<const void*>(16), 1));
}

}  // namespace
