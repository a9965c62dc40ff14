// Start, refusal, installation and stop, as the host drives them through the
// ordinal entries.
#include <cstring>

#include "plugin_host.h"
#include "tests/support/child_process.h"

namespace {

using namespace plugin_texts;

using TranslatorSetter = void*(__cdecl*)(void*);

TranslatorSetter RuntimeTranslatorSetter() {
    return reinterpret_cast<TranslatorSetter>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("msvcrt.dll"),
                       "?_set_se_translator@@YAP6AXIPAU_EXCEPTION_POINTERS@@@ZP6AXI0@Z@Z")));
}

void __cdecl OtherTranslator(unsigned, struct _EXCEPTION_POINTERS*) {}

class Lifecycle : public PluginHost {};
class Refusal : public PluginHost {
  protected:
    // The refused start, then the explanation that the host asks for.
    std::string RefusedReport() {
        char text[64] = {};
        EXPECT_EQ(start_(context_, text), -1);
        EXPECT_EQ(DialogCount(), 0) << "nothing is shown at start";
        EXPECT_EQ(install_(1), 0);
        EXPECT_EQ(DialogCount(), 1);
        const VsDialogCall& message = Dialog(0);
        EXPECT_TRUE(Shows(message, MessageId::kRecordSizeReport, message.text));
        return Text(message.text);
    }
};
class InstallNotice : public PluginHost {
  protected:
    // An installation (the plug-in started) and its stop: how many notices
    // came, the flag the first came with, and what "Pytaj" then holds (99:
    // nothing).
    struct Installed {
        int notices = 0;
        int flag_in = -1;
        int stored = 99;
    };
    Installed InstallAndStop() {
        Installed installed;
        const int before = DialogCount();
        EXPECT_EQ(install_(0), 0);
        installed.notices = DialogCount() - before;
        if (installed.notices > 0) {
            EXPECT_EQ(Dialog(before).ordinal, kOrdinalHostNotice);
            installed.flag_in = Dialog(before).flag_in;
        }
        installed.stored = GetPrivateProfileIntA("Quendrix", "Pytaj", 99, profile_path_.c_str());
        EXPECT_EQ(Stop(), 0);
        return installed;
    }
    void Start() {
        char text[64];
        ASSERT_EQ(start_(context_, text), 0);
    }
};

}  // namespace

TEST_F(Lifecycle, StartInstallUseAndStopOnACompatibleHost) {
    const auto [headers, lines, host_header_hook, host_line_hook] = TableHooks();

    char text[80];
    memset(text, 0x5A, sizeof text);
    EXPECT_EQ(start_(context_, text), 0);
    EXPECT_EQ(std::string(text, 61), kFeatureText + std::string(1, '\0'));
    EXPECT_EQ(text[61], 0x5A) << "exactly 61 bytes are handed over";
    EXPECT_EQ(DialogCount(), 0);
    EXPECT_EQ(headers->hook, host_header_hook) << "start installs nothing";
    EXPECT_EQ(VsMenuHandler(350), nullptr);

    EXPECT_EQ(install_(0), 0);
    EXPECT_NE(headers->hook, host_header_hook);
    EXPECT_NE(lines->hook, host_line_hook);
    EXPECT_NE(VsMenuHandler(350), nullptr);
    ASSERT_EQ(DialogCount(), 1);
    const VsDialogCall& notice = Dialog(0);
    EXPECT_TRUE(Names(notice, MessageId::kInstallNotice, {kFeatureText}));
    EXPECT_EQ(notice.flag_in, 0);

    // The no-op entry changes nothing, installed or not.
    const int calls = VsTotalCalls();
    idle_();
    EXPECT_EQ(VsTotalCalls(), calls);
    EXPECT_NE(headers->hook, host_header_hook);

    // Stop: the host's hooks are back, the command is gone, the buffer untouched.
    memset(text, 0x5A, sizeof text);
    EXPECT_EQ(start_(nullptr, text), 0);
    for (char c : text)
        ASSERT_EQ(c, 0x5A);
    EXPECT_EQ(headers->hook, host_header_hook);
    EXPECT_EQ(lines->hook, host_line_hook);
    EXPECT_EQ(VsMenuHandler(350), nullptr);

    // The mark stays, so a second stop removes the command again; the hooks
    // are already the host's.
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(VsCallCount(kOrdinalHostRemoveMenuCommand), 2);
    EXPECT_EQ(headers->hook, host_header_hook);
    EXPECT_EQ(lines->hook, host_line_hook);
    idle_();
    EXPECT_EQ(Unreturned(), "");
}

TEST_F(Lifecycle, StopBeforeInstallAndStartWithoutBuffer) {
    char text[8];
    memset(text, 0x33, sizeof text);
    EXPECT_EQ(start_(nullptr, text), 0);
    for (char c : text)
        EXPECT_EQ(c, 0x33);
    EXPECT_EQ(VsTotalCalls(), 0) << "a stop before any install calls nothing";

    // Without a buffer the checks still run: the version and both tables.
    EXPECT_EQ(start_(context_, nullptr), 0);
    EXPECT_EQ(VsCallCount(kOrdinalHostInterfaceVersion), 1);
    EXPECT_EQ(VsCallCount(kOrdinalHostOpenTable), 2);

    // A second start repeats the checks and still passes.
    EXPECT_EQ(start_(context_, nullptr), 0);
    EXPECT_EQ(VsCallCount(kOrdinalHostInterfaceVersion), 2);

    // Asked to explain although it passed: the version text, answer unused.
    EXPECT_EQ(install_(7), 0);
    ASSERT_EQ(DialogCount(), 1);
    EXPECT_EQ(Dialog(0).ordinal, kOrdinalHostQuestion);
    EXPECT_EQ(VsMenuHandler(350), nullptr);
}

TEST_F(Lifecycle, TranslatorInstalledAtEveryStart) {
    const TranslatorSetter setter = RuntimeTranslatorSetter();
    ASSERT_NE(setter, nullptr);
    void* host_translator = reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("VELDAN.dll"), MAKEINTRESOURCEA(30005)));
    ASSERT_NE(host_translator, nullptr);

    ASSERT_EQ(start_(context_, nullptr), 0);
    EXPECT_EQ(setter(reinterpret_cast<void*>(OtherTranslator)), host_translator);

    // Started again after someone else replaced it: the host's is back, also
    // when the start is refused.
    VsSetInterfaceVersion(113);
    EXPECT_EQ(start_(context_, nullptr), -1);
    EXPECT_EQ(setter(nullptr), host_translator);

    // A stop leaves the translator alone.
    setter(reinterpret_cast<void*>(OtherTranslator));
    Stop();
    EXPECT_EQ(setter(nullptr), reinterpret_cast<void*>(OtherTranslator));
}

// A host that loads, starts, installs and stops the plug-in and then ends
// normally: its process ends with exit code 0, through the plug-in's and the
// stand-in's detach steps too. A fault there, which Wine's loader would
// swallow, ends the child with the fault's code.
TEST(ProcessExit, AfterStartInstallAndStopEndsWithCodeZero) {
    constexpr auto kRole = "lifecycle-child";
    if (test_host::IsChildRun(kRole)) {
        test_host::EndProcessOnAnyFault();
        test_host::Plugin plugin;
        std::string why;
        ASSERT_TRUE(test_host::LoadPlugin(plugin, why)) << why;
        ASSERT_TRUE(test_host::StartAndInstall(plugin, why)) << why;
        EXPECT_EQ(plugin.start(nullptr, nullptr), 0);
        return;
    }
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const test_host::ChildResult child = test_host::RunChildProcess(
        {std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name(), kRole});
    EXPECT_EQ(child.exit_code, 0u) << child.output;
    EXPECT_NE(child.output.find("[  PASSED  ] 1 test."), std::string::npos) << child.output;
}

TEST_F(Refusal, InterfaceVersion111ShowsTheVersionText) {
    VsSetInterfaceVersion(111);
    char text[64] = {};
    EXPECT_EQ(start_(context_, text), -1);
    EXPECT_EQ(std::string(text), kFeatureText) << "the text is handed over all the same";
    EXPECT_EQ(VsCallCount(kOrdinalHostOpenTable), 0) << "record sizes are not examined";
    EXPECT_EQ(DialogCount(), 0);

    EXPECT_EQ(install_(1), 0);
    ASSERT_EQ(DialogCount(), 1);
    EXPECT_TRUE(Names(Dialog(0), MessageId::kVersionMismatch, {kFeatureText, kFeatureText}));
    EXPECT_EQ(VsCallCount(kOrdinalHostOpenTable), 0);
}

TEST_F(Refusal, HeaderTableOfSize979) {
    VsSetRecordSize(44, 979);
    EXPECT_EQ(RefusedReport(), RefusalReport(RefusalRow("Tspr", "980", "979"), PluginFileName()));
}

TEST_F(Refusal, LineTableThatCannotBeOpened) {
    VsSetOpenTableFails(45, 1);
    EXPECT_EQ(RefusedReport(),
              RefusalReport(RefusalRow("Tspr_dok", "298", TextOf(MessageId::kNoTable)),
                            PluginFileName()));
}

TEST_F(Refusal, BothTablesWrongAndTheCheckRepeated) {
    VsSetRecordSize(44, 1000);
    VsSetRecordSize(45, -2);
    char text[64];
    EXPECT_EQ(start_(context_, text), -1);
    // The sizes corrected, a second start is still refused: the failed tests
    // stay listed once, with the sizes of their first failure.
    VsSetRecordSize(44, 980);
    VsSetRecordSize(45, 298);
    EXPECT_EQ(start_(context_, text), -1);
    EXPECT_EQ(install_(1), 0);
    ASSERT_EQ(DialogCount(), 1);
    EXPECT_EQ(Text(Dialog(0).text),
              RefusalReport(RefusalRow("Tspr", "980", "1000") + RefusalRow("Tspr_dok", "298", "-2"),
                            PluginFileName()));
}

TEST_F(Refusal, InstallOnALineTableOf297) {
    const auto [headers, lines, host_header_hook, host_line_hook] = TableHooks();
    char text[64];
    ASSERT_EQ(start_(context_, text), 0);

    VsSetRecordSize(45, 297);
    EXPECT_EQ(install_(0), -1);
    ASSERT_EQ(DialogCount(), 1) << "no install notice";
    EXPECT_TRUE(Shows(Dialog(0), MessageId::kNewerPluginNeeded));
    EXPECT_EQ(headers->hook, host_header_hook) << "table 44's hook is removed again";
    EXPECT_EQ(lines->hook, host_line_hook);
    EXPECT_EQ(VsMenuHandler(350), nullptr);
    EXPECT_EQ(VsCallCount(kOrdinalHostAddMenuCommand), 0);

    // The installation's failed test is reported like the start check's, and
    // every later start is refused.
    EXPECT_EQ(install_(1), 0);
    ASSERT_EQ(DialogCount(), 2);
    EXPECT_TRUE(Shows(Dialog(1), MessageId::kRecordSizeReport,
                      RefusalReport(RefusalRow("Tspr_dok", "298", "297"), PluginFileName())));
    VsSetRecordSize(45, 298);
    EXPECT_EQ(start_(context_, text), -1);
}

TEST_F(Refusal, InstallWithoutTheHeaderTable) {
    const TableEventHook host_line_hook = VsTable(45)->hook;
    char text[64];
    ASSERT_EQ(start_(context_, text), 0);
    const int opened = VsCallCount(kOrdinalHostOpenTable);
    VsSetOpenTableFails(44, 1);
    EXPECT_EQ(install_(0), -1);
    EXPECT_EQ(VsCallCount(kOrdinalHostOpenTable), opened + 1) << "table 45 is not tried";
    EXPECT_EQ(VsTable(45)->hook, host_line_hook);
    EXPECT_EQ(install_(1), 0);
    EXPECT_EQ(
        Text(Dialog(DialogCount() - 1).text),
        RefusalReport(RefusalRow("Tspr", "980", TextOf(MessageId::kNoTable)), PluginFileName()));
}

TEST_F(InstallNotice, ShownUntilTheSettingSaysOtherwise) {
    // No setting yet: shown, and what the notice left (0) is stored.
    Start();
    Installed installed = InstallAndStop();
    EXPECT_EQ(installed.notices, 1);
    EXPECT_EQ(installed.stored, 0);

    // The user ticks the box: the notice sets the value, which is stored.
    VsQueueAnswer(kOrdinalHostNotice, 1, 0);
    installed = InstallAndStop();
    EXPECT_EQ(installed.notices, 1);
    EXPECT_EQ(installed.stored, 1);

    // From now on: no notice, and the file is not written again.
    const std::string before = ProfileText();
    const int profile_calls = VsCallCount(kOrdinalHostProfileValue);
    EXPECT_EQ(install_(0), 0);
    EXPECT_EQ(DialogCount(), 2);
    EXPECT_EQ(VsCallCount(kOrdinalHostProfileValue), profile_calls + 1) << "read only";
    EXPECT_EQ(ProfileText(), before);
}

TEST_F(InstallNotice, UnreadableOrOddSettings) {
    struct Case {
        const char* why;
        const char* setting;
        bool read_fails;
        int answer;  // -1: none
        int notices;
        int stored;
    };
    const Case cases[] = {
        {"a negative value is nonzero too: no notice", "Pytaj=-1", false, -1, 0, -1},
        {"a value whose low 16 bits are zero counts as 0: the notice comes, and the 16-bit "
         "value is what gets stored",
         "Pytaj=65536", false, -1, 1, 0},
        {"a failed read counts as 0 as well, even over a stored 1", "Pytaj=1", true, 5, 1, 5},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        WriteProfile(std::string("[Quendrix]\r\n") + c.setting + "\r\n");
        if (c.read_fails)
            VsFailCall(kOrdinalHostProfileValue, 1);
        if (c.answer >= 0)
            VsQueueAnswer(kOrdinalHostNotice, c.answer, 0);
        const Installed installed = InstallAndStop();
        EXPECT_EQ(installed.notices, c.notices);
        if (c.notices > 0) {
            EXPECT_EQ(installed.flag_in, 0);
        }
        EXPECT_EQ(installed.stored, c.stored);
    }

    // A command that the host would not add leaves no mark: the stop then
    // removes nothing, and the notice comes all the same.
    WriteProfile("");
    VsFailCall(kOrdinalHostAddMenuCommand, 1);
    const int removals = VsCallCount(kOrdinalHostRemoveMenuCommand);
    EXPECT_EQ(install_(0), 0);
    EXPECT_EQ(DialogCount(), 3);
    EXPECT_EQ(VsMenuHandler(350), nullptr) << "the host refused the command";
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(VsCallCount(kOrdinalHostRemoveMenuCommand), removals);
}
