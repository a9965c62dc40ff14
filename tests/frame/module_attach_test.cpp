// The attach step, the real entry point, the feature text and the translator.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frame/frame_state.h"
#include "frame/module_attach.h"
#include "frame/platform.h"
#include "frame/plugin_entry.h"
#include "system_hooks.h"
#include "tests/support/plugin_texts.h"

namespace {

std::string RealPath(void* module) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(static_cast<HMODULE>(module), path, sizeof(path));
    return path;
}

void ExpectNothingRecorded() {
    EXPECT_EQ(Frame.Attach.PluginModuleHandle, nullptr);
    EXPECT_EQ(Frame.Attach.PluginModulePath[0], 0);
    EXPECT_EQ(Frame.Attach.HostLibraryHandle, nullptr);
}

}  // namespace

TEST(ModuleAttach, OnlyProcessAttachRecordsModulePathAndHostLibrary) {
    void* program = ProgramModule();
    for (uint32_t reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        EXPECT_EQ(AttachToHost(program, reason), 1);
        ExpectNothingRecorded();
    }

    EXPECT_EQ(AttachToHost(program, DLL_PROCESS_ATTACH), 1);
    EXPECT_EQ(Frame.Attach.PluginModuleHandle, program);
    EXPECT_EQ(std::string(Frame.Attach.PluginModulePath), RealPath(program));
    ASSERT_NE(GetModuleHandleA("VELDAN"), nullptr);
    EXPECT_EQ(Frame.Attach.HostLibraryHandle, reinterpret_cast<void*>(GetModuleHandleA("VELDAN")));

    // Later notifications undo nothing.
    for (uint32_t reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        EXPECT_EQ(AttachToHost(nullptr, reason), 1);
        EXPECT_EQ(Frame.Attach.PluginModuleHandle, program);
        EXPECT_EQ(std::string(Frame.Attach.PluginModulePath), RealPath(program));
    }
}

TEST(ModuleAttach, HostLibraryFoundBeforeIsKept) {
    int marker;
    Frame.Attach.HostLibraryHandle = &marker;
    AttachToHost(ProgramModule(), DLL_PROCESS_ATTACH);
    EXPECT_EQ(Frame.Attach.HostLibraryHandle, &marker);
}

TEST(ModuleAttach, PathStaysTerminatedWhenTheSystemTruncatesIt) {
    InstallSystemHooks();
    void* program = ProgramModule();

    // The older systems' way: the whole buffer filled, no terminator.
    ScriptModuleName(program, ModuleNameMode::kTruncatedUnterminated);
    AttachToHost(program, DLL_PROCESS_ATTACH);
    EXPECT_EQ(LastModuleNameSize(), kModulePathSize);
    EXPECT_EQ(strnlen(Frame.Attach.PluginModulePath, kModulePathSize), kModulePathSize - 1);

    // The newer systems' way, with a path longer than the buffer.
    ScriptModuleName(program, ModuleNameMode::kFixed, "C:\\" + std::string(400, 'p'));
    AttachToHost(program, DLL_PROCESS_ATTACH);
    EXPECT_EQ(strnlen(Frame.Attach.PluginModulePath, kModulePathSize), kModulePathSize - 1);

    // A path that cannot be obtained leaves an empty text.
    ScriptModuleName(program, ModuleNameMode::kFail);
    AttachToHost(program, DLL_PROCESS_ATTACH);
    EXPECT_EQ(Frame.Attach.PluginModulePath[0], 0);
}

TEST(ModuleAttach, RealEntryPointAttachesAndReportsSuccess) {
    auto* program = static_cast<HINSTANCE>(ProgramModule());
    EXPECT_TRUE(QuendrixDllEntry(program, DLL_THREAD_ATTACH, nullptr));
    ExpectNothingRecorded();
    EXPECT_TRUE(QuendrixDllEntry(program, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(Frame.Attach.PluginModuleHandle, program);
    EXPECT_NE(Frame.Attach.HostLibraryHandle, nullptr);
}

TEST(FeatureText, IsTheSixtyMazoviaBytesAndCopiesWithItsTerminator) {
    const std::string& expected = plugin_texts::kFeatureText;
    ASSERT_EQ(expected.size(), 60u);
    EXPECT_EQ(std::memcmp(FeatureText.c_str(), expected.c_str(), expected.size() + 1), 0);

    char buffer[80];
    std::memset(buffer, 0x55, sizeof(buffer));
    EXPECT_EQ(CopyFeatureText(buffer), buffer);
    EXPECT_EQ(std::memcmp(buffer, expected.c_str(), expected.size() + 1), 0);
    for (size_t i = expected.size() + 1; i < sizeof(buffer); ++i)
        ASSERT_EQ(buffer[i], 0x55) << "byte " << i << " written";
}

namespace {
void HOST_CDECL FirstTranslator(unsigned int, _EXCEPTION_POINTERS*) {}
void HOST_CDECL SecondTranslator(unsigned int, _EXCEPTION_POINTERS*) {}
}  // namespace

TEST(Platform, TranslatorIsInstalledForTheThread) {
    const HostTranslatorFunction original = PlatformInstallTranslator(FirstTranslator);
    EXPECT_EQ(PlatformInstallTranslator(SecondTranslator), FirstTranslator);
    EXPECT_EQ(PlatformInstallTranslator(original), SecondTranslator);
}

TEST(Platform, LookupOfANullModuleFindsNothing) {
    // A null handle would otherwise search the calling program.
    EXPECT_EQ(PlatformLookupOrdinal(nullptr, 1), nullptr);
    EXPECT_EQ(PlatformFindModule("NO_SUCH_MODULE_LOADED"), nullptr);
}
