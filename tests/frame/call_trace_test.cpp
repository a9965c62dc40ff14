// The call trace of the binding layer: how each argument is shown, texts that
// end at a no-access page, and traced calls against the stand-in host, whose
// results and effects must be those of untraced ones.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frame/call_trace.h"
#include "frame/frame_state.h"
#include "frame/host_binding.h"
#include "frame/module_attach.h"
#include "frame/platform.h"
#include "frame/version.h"
#include "host/host_api.h"
#include "host/mazovia_text.h"
#include "standin/veldan_control.h"
#include "system_hooks.h"
#include "tests/support/child_process.h"
#include "tests/support/plugin_library.h"

namespace {

size_t Index(HostEntryId id) {
    return static_cast<size_t>(id);
}

uint32_t Slot(const void* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

std::string Hex(const void* pointer) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(Slot(pointer)));
    return text;
}

std::string Call(HostEntryId id, const std::vector<uint32_t>& args) {
    char line[4096];
    FormatHostCall(line, sizeof line, Index(id), args.data());
    return line;
}

std::string Return(HostEntryId id, uint32_t eax) {
    char line[256];
    FormatHostReturn(line, sizeof line, Index(id), eax);
    return line;
}

const char* const kScrews = "Śruby M6 \"długie\"\n"_mz;

}  // namespace

// A trace line names each operation's ordinal as a number; the expected lines
// write the numbers out on purpose.
TEST(CallTrace, ArgumentsAndResultsAreShownAsTheirTypesSay) {
    struct Case {
        HostEntryId id;
        std::vector<uint32_t> args;
        std::string expected;
    };
    const Case cases[] = {
        {HostEntryId::HostOpenTable, {44}, "HostOpenTable #52256 (table_number=44)"},
        {HostEntryId::HostInterfaceVersion, {}, "HostInterfaceVersion #51594 ()"},
        // Signed numbers in decimal, pointers and handles in hex.
        {HostEntryId::HostMakeKey,
         {801, 0x0012FF40, 0x0012FE00, 0xFFFFFFFF},
         "HostMakeKey #51425 (key=801, table=0x0012FF40, key_buffer=0x0012FE00, value=-1)"},
        // A 16-bit argument shows its low half only, whatever the upper holds.
        {HostEntryId::HostProfileValue,
         {0xABCD0001, 0, 0, 0, 0x00400000},
         "HostProfileValue #52224 (operation=1, section=0x00000000, key=0x00000000, "
         "format=0x00000000, args=0x00400000)"},
        // A text the host writes into is a pointer; the one it reads is shown,
        // in UTF-8, escaped, and no longer than the 16-bit limit after it.
        {HostEntryId::HostCopyText,
         {0x00401000, Slot(kScrews), 120},
         "HostCopyText #52161 (dest=0x00401000, src=" + Hex(kScrews) +
             " \"Śruby M6 \\\"długie\\\"\\n\", limit=120)"},
        {HostEntryId::HostCopyText,
         {0x00401000, Slot(kScrews), 0x00010005},
         "HostCopyText #52161 (dest=0x00401000, src=" + Hex(kScrews) +
             " \"Śruby\"(cut at 5 bytes), limit=5)"},
        {HostEntryId::HostQuestion,
         {Slot("Uwaga"), 0, 0x20005},
         "HostQuestion #52029 (caption=" + Hex("Uwaga") +
             " \"Uwaga\", format=0x00000000, "
             "flags=131077, ...)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Call(c.id, c.args), c.expected);

    EXPECT_EQ(Return(HostEntryId::HostScanNext, 0x12345001), "HostScanNext #52279 = 20481");
    EXPECT_EQ(Return(HostEntryId::HostScanNext, 0xFFFF), "HostScanNext #52279 = -1");
    EXPECT_EQ(Return(HostEntryId::HostOpenTable, 0x00A00010), "HostOpenTable #52256 = 0x00A00010");
    EXPECT_EQ(Return(HostEntryId::HostFree, 0x1234), "HostFree #21287");
    EXPECT_EQ(Return(HostEntryId::HostUpdateLine, 0xFFFFFFFE), "HostUpdateLine #52332 = -2");
}

TEST(CallTrace, ATextEndingAtANoAccessPageIsReadOnlyUpToIt) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const DWORD page = system.dwPageSize;
    auto* block = static_cast<char*>(
        VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(block, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(block + page, page, PAGE_NOACCESS, &old));
    char* text = block + page - 3;
    text[0] = 'A';
    text[1] = 'b';
    text[2] = 'c';  // and no terminator before the no-access page

    EXPECT_EQ(Call(HostEntryId::HostShowText, {Slot(text)}),
              "HostShowText #52030 (text=" + Hex(text) + " \"Abc\"(unreadable after 3 bytes))");
    EXPECT_EQ(
        Call(HostEntryId::HostShowText, {Slot(block + page)}),
        "HostShowText #52030 (text=" + Hex(block + page) + " \"\"(unreadable after 0 bytes))");
    EXPECT_EQ(Call(HostEntryId::HostShowText, {0}), "HostShowText #52030 (text=0x00000000)");
    VirtualFree(block, 0, MEM_RELEASE);
}

TEST(CallTrace, TracedCallsActAsUntracedOnesAndOffLeavesTheOneJump) {
    InstallSystemHooks();
    AttachToHost(ProgramModule(), kProcessAttach);
    ASSERT_NE(Frame.Attach.HostLibraryHandle, nullptr);
    VsReset();
    VsSetStrict(0);
    const std::string folder = test_host::MakeTemporaryFolder();
    const std::string path = folder + "trace.txt";
    const std::wstring wide_path(path.begin(), path.end());  // an ASCII temporary folder

    // An entry bound before the trace starts, and one bound while it runs.
    EXPECT_EQ(HostInterfaceVersion(), 112);
    void* const version =
        PlatformLookupOrdinal(Frame.Attach.HostLibraryHandle, kOrdinalHostInterfaceVersion);
    ASSERT_EQ(HostEntryTargets[Index(HostEntryId::HostInterfaceVersion)], version);
    ASSERT_TRUE(StartCallTrace(wide_path.c_str()));
    EXPECT_EQ(HostEntryTargets[Index(HostEntryId::HostInterfaceVersion)],
              HostEntryTraceThunks[Index(HostEntryId::HostInterfaceVersion)]);

    EXPECT_EQ(HostInterfaceVersion(), 112);
    EXPECT_EQ(HostOpenTable(kHeaderTable), VsTable(kHeaderTable));
    char copy[8] = "#######";
    EXPECT_EQ(HostCopyText(copy, "abcdef", 3), copy);
    EXPECT_STREQ(copy, "abc");
    // A caller-cleans operation with a variable argument list.
    VsQueueAnswer(kOrdinalHostQuestion, 7, 0);
    EXPECT_EQ(HostQuestion("Q", "%d-%s-%d", 5, 42, "x", -1), 7);
    ASSERT_EQ(VsDialogCallCount(), 1);
    EXPECT_STREQ(VsDialogCallAt(0)->text, "42-x--1");
    EXPECT_EQ(HostEntryTargets[Index(HostEntryId::HostCopyText)],
              HostEntryTraceThunks[Index(HostEntryId::HostCopyText)]);
    StopCallTrace();

    // Off, the target words hold the host's functions again.
    EXPECT_EQ(HostEntryTargets[Index(HostEntryId::HostInterfaceVersion)], version);
    EXPECT_EQ(HostEntryTargets[Index(HostEntryId::HostCopyText)],
              PlatformLookupOrdinal(Frame.Attach.HostLibraryHandle, kOrdinalHostCopyText));
    EXPECT_EQ(HostInterfaceVersion(), 112);

    const std::string trace = test_host::ReadBytes(path);
    EXPECT_EQ(trace.rfind("Quendrix " QUENDRIX_VERSION_TEXT " call trace, ", 0), 0u) << trace;
    for (const char* expected :
         {" 1 > HostInterfaceVersion #51594 ()\r\n", " 1 < HostInterfaceVersion #51594 = 112\r\n",
          " 1 > HostOpenTable #52256 (table_number=44)\r\n", " 1 < HostQuestion #52029 = 7\r\n"})
        EXPECT_NE(trace.find(expected), std::string::npos) << expected << "\n" << trace;
    // Two lines for each of the four calls, and the first line.
    size_t lines = 0;
    for (char c : trace)
        lines += c == '\n';
    EXPECT_EQ(lines, 9u) << trace;
    test_host::RemoveFolder(folder);
}

namespace {

const char* const kRow = "Wiersz \"1\"";

int32_t HOST_STDCALL RowText(uint32_t row, int32_t) {
    return static_cast<int16_t>(row) == -1 ? 2 : static_cast<int32_t>(Slot(kRow));
}

int32_t HOST_STDCALL Command(uint32_t result, uint32_t phase) {
    return static_cast<int32_t>((result & 0xFFFF) + (phase & 0xFFFF));
}

int32_t HOST_STDCALL Hook(uint32_t event, uint32_t key, uint32_t, uint32_t, uint32_t, uint32_t,
                          uint32_t, uint32_t, uint32_t, uint32_t a10, uint32_t) {
    return static_cast<int32_t>(event + key + a10);
}

}  // namespace

// What the plug-in hands the host is traced as its callback type declares it,
// under the function's own name, with no more than the hand-over written.
TEST(CallTrace, HandedFunctionsAreTracedAsTheirCallbackTypesDeclare) {
    const std::string folder = test_host::MakeTemporaryFolder();
    const std::string path = folder + "trace.txt";
    EXPECT_EQ(AS_HANDED(RowText), &RowText);  // off: the functions themselves

    ASSERT_TRUE(StartCallTrace(std::wstring(path.begin(), path.end()).c_str()));
    const ListRowCallback row_text = AS_HANDED(RowText);
    const MenuCommandHandler command = AS_HANDED(Command);
    const TableEventHook hook = AS_HANDED(Hook);
    EXPECT_NE(row_text, &RowText);
    EXPECT_EQ(row_text(0xFFFF, 0), 2);
    EXPECT_EQ(row_text(0x10000, 7), static_cast<int32_t>(Slot(kRow)));
    EXPECT_EQ(command(0xABCD5001, 2), 0x5003);
    EXPECT_EQ(hook(239, 0x10326, 3, 4, 5, 6, 7, 8, 9, 0xFFFF0005, 11), 239 + 0x10326 + 0xFFFF0005);
    StopCallTrace();

    const std::string trace = test_host::ReadBytes(path);
    const std::string expected[] = {
        " 1 > RowText (row=-1, unused=0)\r\n",
        " 1 < RowText = 2\r\n",
        " 1 > RowText (row=0, unused=7)\r\n",
        " 1 < RowText = " + Hex(kRow) + " \"Wiersz \\\"1\\\"\"\r\n",
        " 1 > Command (result=20481, phase=2)\r\n",
        " 1 < Command = 20483\r\n",
        " 1 > Hook (event=239, key=806, a3=0x00000003, a4=0x00000004, a5=0x00000005, "
        "a6=0x00000006, a7=0x00000007, a8=0x00000008, a9=0x00000009, a10=5, a11=0x0000000B)\r\n",
    };
    for (const std::string& line : expected)
        EXPECT_NE(trace.find(line), std::string::npos) << line << "\n" << trace;
    test_host::RemoveFolder(folder);
}

TEST(CallTrace, AWriteThatFailsHalfWaySwitchesTheTraceOffAndChangesNoCall) {
    AttachToHost(ProgramModule(), kProcessAttach);
    VsReset();
    const std::string folder = test_host::MakeTemporaryFolder();
    const std::string path = folder + "trace.txt";
    const std::wstring wide_path(path.begin(), path.end());
    ASSERT_TRUE(StartCallTrace(wide_path.c_str()));
    EXPECT_EQ(HostInterfaceVersion(), 112);

    // The call's line is written, its return's line only half: the disk is full.
    FailWriteHalfWay(2);
    EXPECT_EQ(HostOpenTable(kHeaderTable), VsTable(kHeaderTable));
    EXPECT_FALSE(CallTraceOn());
    EXPECT_EQ(HostEntryTargets[Index(HostEntryId::HostOpenTable)],
              PlatformLookupOrdinal(Frame.Attach.HostLibraryHandle, kOrdinalHostOpenTable));
    EXPECT_EQ(HostInterfaceVersion(), 112);
    EXPECT_EQ(WritesSinceArmed(), 2) << "written after the trace was off";
    RemoveSystemHooks();
    // Closed: no one holds the file any more.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    const std::string cut = test_host::ReadBytes(path);
    const std::string whole = " 1 > HostOpenTable #52256 (table_number=44)\r\n";
    ASSERT_NE(cut.find(whole), std::string::npos) << cut;
    const std::string half = cut.substr(cut.find(whole) + whole.size());
    EXPECT_FALSE(half.empty()) << cut;
    EXPECT_EQ(half.find('\n'), std::string::npos) << "the half line is the last: " << cut;

    // A later start ends the half line before its own first line.
    ASSERT_TRUE(StartCallTrace(wide_path.c_str()));
    StopCallTrace();
    EXPECT_EQ(test_host::ReadBytes(path).find("\r\nQuendrix ", cut.size()), cut.size());
    test_host::RemoveFolder(folder);
}

TEST(CallTrace, AFileThatCannotBeWrittenLeavesTheTraceOff) {
    const std::string folder = test_host::MakeTemporaryFolder();
    void* const before = HostEntryTargets[0];
    const std::string missing = folder + "missing\\trace.txt";
    EXPECT_FALSE(StartCallTrace(std::wstring(missing.begin(), missing.end()).c_str()));
    EXPECT_FALSE(CallTraceOn());
    EXPECT_EQ(HostEntryTargets[0], before);
    test_host::RemoveFolder(folder);
}
