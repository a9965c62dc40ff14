// Registers, flags and the stack through every path of an entry: the binding
// call, the bound call, a fallback and an abandoned (Empty) entry. The host
// library here is the probe (probe_host.S), which lacks HostFindRange,
// HostQuestion, HostShowText, HostProfileValue and HostLoadLines and reports
// what each call brought it.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "frame/call_trace.h"
#include "frame/frame_state.h"
#include "frame/host_binding.h"
#include "frame/module_attach.h"
#include "host/host_api.h"
#include "probe_host.h"
#include "register_call.h"
#include "system_hooks.h"

namespace {

class ProbeHost : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallSystemHooks();
        // The host has its library loaded before the plug-in; this program
        // does not import from it, so it plays the host here.
        ASSERT_NE(LoadLibraryA("VELDAN.dll"), nullptr);
        AttachToHost(ProgramModule(), kProcessAttach);
        ASSERT_NE(Frame.Attach.HostLibraryHandle, nullptr);
        probe_ = reinterpret_cast<ProbeRecord*>(
            GetProcAddress(static_cast<HMODULE>(Frame.Attach.HostLibraryHandle), "ProbeSaw"));
        ASSERT_NE(probe_, nullptr);
        WatchLookups(Frame.Attach.HostLibraryHandle);
    }

    // A different set of register values for every call, so that a record
    // left from an earlier call cannot pass for this one.
    RegisterSet NextSeed() {
        const uint32_t n = ++calls_ << 4;
        return {0x1A2B0000 + n,
                0x2B3C0000 + n,
                0x3C4D0000 + n,
                0x4D5E0000 + n,
                0x5E6F0000 + n,
                0x6F700000 + n,
                0x70810000 + n,
                0,
                (calls_ % 2 ? kArithmeticFlags : 0u)};
    }

    // Calls the entry of id with count arguments. reaches_host: the probe must
    // receive the call; otherwise it must not, and 0 must come back.
    void ExpectCall(HostEntryId id, const void* stub, std::vector<uint32_t> args,
                    bool reaches_host) {
        const HostEntryDescriptor& entry = kHostEntries[static_cast<size_t>(id)];
        SCOPED_TRACE(entry.name);
        const RegisterSet seed = NextSeed();
        const uint32_t probe_calls = probe_->calls;
        RegisterSet at_call{}, after{};
        const uint32_t result = CallWithRegisters(
            stub, args.data(), static_cast<uint32_t>(args.size()), &seed, &at_call, &after);

        if (reaches_host) {
            ASSERT_EQ(probe_->calls, probe_calls + 1);
            EXPECT_EQ(probe_->ordinal, entry.ordinal);
            EXPECT_EQ(result, ProbeResult(entry.ordinal));
            // The host function finds the caller's call exactly as made.
            const RegisterSet& saw = probe_->registers;
            EXPECT_EQ(saw.eax, seed.eax);
            ExpectSeeded(saw, seed);
            EXPECT_EQ(saw.esp, at_call.esp - 4);
            EXPECT_EQ(saw.eflags, at_call.eflags);
            for (size_t i = 0; i < args.size() && i < 4; ++i)
                EXPECT_EQ(probe_->args[i], args[i]);
        } else {
            EXPECT_EQ(probe_->calls, probe_calls);
            EXPECT_EQ(result, 0u);
        }
        // The caller gets back its registers (the probe and the fallbacks
        // keep all but EAX) and a stack as its convention expects.
        ExpectCallerKept(seed, at_call, after,
                         entry.convention == HostConvention::kStdcall ? entry.argument_bytes : 0);
    }

    static std::vector<uint32_t> Arguments(uint32_t words) {
        std::vector<uint32_t> args;
        for (uint32_t i = 0; i < words; ++i)
            args.push_back(0xC0DE0000 + i);
        return args;
    }

    // The call trace into a file of the test's own, and its text once stopped.
    bool StartTrace() {
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        // A file of this test's own: the tests of this program may run at once.
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        trace_path_ = std::wstring(folder) + L"quendrix-probe-" +
                      std::wstring(name.begin(), name.end()) + L".txt";
        DeleteFileW(trace_path_.c_str());
        return StartCallTrace(trace_path_.c_str());
    }
    std::string StoppedTrace() {
        StopCallTrace();
        // Opened for no sharing at all: the trace has closed its file.
        HANDLE file =
            CreateFileW(trace_path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        std::string text(1 << 20, '\0');
        DWORD read = 0;
        ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
        CloseHandle(file);
        DeleteFileW(trace_path_.c_str());
        text.resize(read);
        return text;
    }

    ProbeRecord* probe_ = nullptr;
    uint32_t calls_ = 0;
    std::wstring trace_path_;
};

template <typename Function>
const void* Stub(Function* function) {
    return reinterpret_cast<const void*>(function);
}

}  // namespace

TEST_F(ProbeHost, CalleeCleansEntriesKeepRegistersAndStackWhenBindingAndWhenBound) {
    struct Case {
        HostEntryId id;
        const void* stub;
    };
    const Case cases[] = {
        {HostEntryId::HostInterfaceVersion, Stub(&HostInterfaceVersion)},  // 0 bytes
        {HostEntryId::HostScanNext, Stub(&HostScanNext)},                  // 4
        {HostEntryId::HostSetTableMode, Stub(&HostSetTableMode)},          // 8
        {HostEntryId::HostMessage, Stub(&HostMessage)},                    // 12
        {HostEntryId::HostMakeKey, Stub(&HostMakeKey)},                    // 16
        {HostEntryId::HostReadAt, Stub(&HostReadAt)},                      // 20
        {HostEntryId::HostScanOpen, Stub(&HostScanOpen)},                  // 24
        {HostEntryId::HostSaveLines, Stub(&HostSaveLines)},                // 48
    };
    size_t looked_up = 0;
    for (const Case& c : cases) {
        const HostEntryDescriptor& entry = kHostEntries[static_cast<size_t>(c.id)];
        const auto args = Arguments(entry.argument_bytes / 4);
        ExpectCall(c.id, c.stub, args, true);  // through the binding routine
        EXPECT_EQ(EntryState(c.id), HostEntryState::kHost);
        ASSERT_EQ(Lookups().size(), ++looked_up);
        EXPECT_EQ(Lookups().back(), entry.ordinal);
        ExpectCall(c.id, c.stub, args, true);  // bound
        EXPECT_EQ(Lookups().size(), looked_up);
    }
    EXPECT_TRUE(ShownBoxes().empty());
}

TEST_F(ProbeHost, CallerCleansEntriesKeepRegistersAndStackWhenBindingAndWhenBound) {
    ExpectCall(HostEntryId::HostRealloc, Stub(&HostRealloc), Arguments(2), true);
    ExpectCall(HostEntryId::HostRealloc, Stub(&HostRealloc), Arguments(2), true);
    ExpectCall(HostEntryId::HostFree, Stub(&HostFree), Arguments(1), true);
    ExpectCall(HostEntryId::HostListDialog, Stub(&HostListDialog), Arguments(5), true);
    // A variable argument list: more words than the fixed arguments.
    ExpectCall(HostEntryId::HostNotice, Stub(&HostNotice), Arguments(7), true);
    ExpectCall(HostEntryId::HostNotice, Stub(&HostNotice), Arguments(9), true);
    EXPECT_EQ(Lookups(), (std::vector<uint16_t>{kOrdinalHostRealloc, kOrdinalHostFree,
                                                kOrdinalHostListDialog, kOrdinalHostNotice}));
    EXPECT_TRUE(ShownBoxes().empty());
}

TEST_F(ProbeHost, IgnoredMissingEntriesReturnZeroWithTheCallersStackBalanced) {
    QueueAnswers({kAnswerIgnore});

    // Digit rule: member 4 for HostFindRange's four arguments (its ordinal ends in 16). The first
    // call goes through the dialog, then into the fallback.
    ExpectCall(HostEntryId::HostFindRange, Stub(&HostFindRange), Arguments(4), false);
    EXPECT_EQ(ShownBoxes().size(), 1u);
    EXPECT_TRUE(Frame.Binding.IgnoreAllMissing);
    EXPECT_EQ(EntryState(HostEntryId::HostFindRange), HostEntryState::kFallback);
    EXPECT_EQ(HostEntryTargets[static_cast<size_t>(HostEntryId::HostFindRange)], ZeroFallback[4]);

    // Digits that do not give the size (28 for 24 bytes; 24 for a
    // caller-cleans call): a fallback that fits the call instead.
    ExpectCall(HostEntryId::HostLoadLines, Stub(&HostLoadLines), Arguments(6), false);
    EXPECT_EQ(HostEntryTargets[static_cast<size_t>(HostEntryId::HostLoadLines)], ZeroFallback[6]);
    ExpectCall(HostEntryId::HostProfileValue, Stub(&HostProfileValue), Arguments(5), false);
    EXPECT_EQ(HostEntryTargets[static_cast<size_t>(HostEntryId::HostProfileValue)],
              ZeroFallback[0]);

    // No fallback (30 and 29 are no multiples of 4): Empty, yet the call
    // returns 0 with the stack right, never through address 0.
    ExpectCall(HostEntryId::HostShowText, Stub(&HostShowText), Arguments(1), false);
    EXPECT_EQ(EntryState(HostEntryId::HostShowText), HostEntryState::kEmpty);
    ExpectCall(HostEntryId::HostQuestion, Stub(&HostQuestion), Arguments(6), false);
    EXPECT_EQ(EntryState(HostEntryId::HostQuestion), HostEntryState::kEmpty);
    EXPECT_EQ(ShownBoxes().size(), 1u);  // Ignore covered every later entry

    // Later calls: the same, with no lookup.
    // The dialog's text conversion bound the host's converter on the way.
    EXPECT_EQ(Lookups(), (std::vector<uint16_t>{kOrdinalHostFindRange, kOrdinalHostConvertText,
                                                kOrdinalHostLoadLines, kOrdinalHostProfileValue,
                                                kOrdinalHostShowText, kOrdinalHostQuestion}));
    const size_t looked_up = Lookups().size();
    ExpectCall(HostEntryId::HostFindRange, Stub(&HostFindRange), Arguments(4), false);
    ExpectCall(HostEntryId::HostShowText, Stub(&HostShowText), Arguments(1), false);
    ExpectCall(HostEntryId::HostQuestion, Stub(&HostQuestion), Arguments(3), false);
    EXPECT_EQ(Lookups().size(), looked_up);
    EXPECT_EQ(ShownBoxes().size(), 1u);
}

TEST_F(ProbeHost, AbortedEntriesAreAbandonedSafelyAndNotLookedUpAgain) {
    QueueAnswers({kAnswerAbort, kAnswerRetry, kAnswerAbort});

    // Abort wins over an existing fallback: the entry is Empty, its calls
    // abandoned through the same return routine a fallback would use.
    ExpectCall(HostEntryId::HostFindRange, Stub(&HostFindRange), Arguments(4), false);
    EXPECT_EQ(EntryState(HostEntryId::HostFindRange), HostEntryState::kEmpty);
    EXPECT_EQ(HostEntryTargets[static_cast<size_t>(HostEntryId::HostFindRange)], ZeroFallback[4]);
    EXPECT_EQ(ShownBoxes().size(), 1u);
    EXPECT_FALSE(Frame.Binding.IgnoreAllMissing);

    ExpectCall(HostEntryId::HostQuestion, Stub(&HostQuestion), Arguments(4), false);
    EXPECT_EQ(EntryState(HostEntryId::HostQuestion), HostEntryState::kEmpty);
    EXPECT_EQ(ShownBoxes().size(), 3u);

    // A present entry still binds normally afterwards.
    ExpectCall(HostEntryId::HostOpenTable, Stub(&HostOpenTable), Arguments(1), true);

    ExpectCall(HostEntryId::HostFindRange, Stub(&HostFindRange), Arguments(4), false);
    ExpectCall(HostEntryId::HostQuestion, Stub(&HostQuestion), Arguments(3), false);
    EXPECT_EQ(Lookups(), (std::vector<uint16_t>{kOrdinalHostFindRange, kOrdinalHostConvertText,
                                                kOrdinalHostQuestion, kOrdinalHostOpenTable}));
    EXPECT_EQ(ShownBoxes().size(), 3u);
}

TEST_F(ProbeHost, TracedEntriesKeepWhatTheUntracedStubKeeps) {
    // With the call trace on, the host function still finds the caller's
    // registers, flags and stack, and the caller gets the function's back;
    // only the return address is the trace's, for the return's line.
    ASSERT_TRUE(StartTrace());
    QueueAnswers({kAnswerIgnore});
    for (int pass = 0; pass < 2; ++pass) {  // binding inside the trace, then bound
        ExpectCall(HostEntryId::HostInterfaceVersion, Stub(&HostInterfaceVersion), {}, true);
        ExpectCall(HostEntryId::HostSaveLines, Stub(&HostSaveLines), Arguments(12), true);
        ExpectCall(HostEntryId::HostNotice, Stub(&HostNotice), Arguments(9), true);
        ExpectCall(HostEntryId::HostFindRange, Stub(&HostFindRange), Arguments(4), false);
    }
    const std::string trace = StoppedTrace();
    for (const char* line :
         {" 1 < HostInterfaceVersion #51594 = 1342228874", " 1 > HostSaveLines #52470 (",
          " 1 < HostFindRange #50516 = 0x00000000"})
        EXPECT_NE(trace.find(line), std::string::npos) << line << "\n" << trace;
}

TEST_F(ProbeHost, TraceOfTwoThreadsIsWholeAndNumberedOnce) {
    HostInterfaceVersion();  // bound before
    ASSERT_TRUE(StartTrace());
    constexpr int kCalls = 2000;
    // A call into the plug-in, and inside it a call of the host.
    static constexpr IncomingCall kIdle =
        DescribeIncoming("PluginIdle", kOrdinalPluginIdle, ShapeOf<int32_t()>::value, "()",
                         EntryReach(kOrdinalPluginIdle));
    const auto calls = [] {
        for (int i = 0; i < kCalls; ++i) {
            const uint32_t args[1] = {0};
            const uint32_t sequence = TraceIncomingCall(kIdle, args);
            HostInterfaceVersion();
            TraceIncomingReturn(kIdle, sequence, 0, args);
        }
    };
    std::thread first(calls), second(calls);
    first.join();
    second.join();
    std::istringstream trace(StoppedTrace());

    // Every line whole; each call's number once, its return on its thread at
    // its depth: 1 for the call into the plug-in, 2 for the host call inside.
    const std::regex shape(R"((\d{6}) +(\d+) +(\d+) ([<>]) (\w+) .*\r)");
    std::map<std::string, std::string> open;
    std::set<std::string> numbers;
    int lines = 0;
    std::string line;
    std::getline(trace, line);
    while (std::getline(trace, line)) {
        ++lines;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        const std::string where = m[2].str() + " " + m[3].str() + " " + m[5].str();
        EXPECT_EQ(m[3].str(), m[5] == "PluginIdle" ? "1" : "2") << line;
        if (m[4] == ">") {
            EXPECT_TRUE(numbers.insert(m[1]).second) << line;
            open[m[1]] = where;
        } else {
            EXPECT_EQ(open[m[1]], where) << line;
            open.erase(m[1]);
        }
    }
    EXPECT_EQ(lines, 2 * 2 * 2 * kCalls);
    EXPECT_TRUE(open.empty());
}
