// The missing-entry dialog and the fallbacks, against an older stand-in host
// library that lacks HostFindRange, HostFreeRange, HostMessage, HostShowText,
// HostProfileValue and HostOpenTable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame_state.h"
#include "frame/host_binding.h"
#include "frame/module_attach.h"
#include "host/host_api.h"
#include "missing_dialog.h"
#include "register_call.h"
#include "standin/veldan_control.h"
#include "system_hooks.h"

namespace {

const std::string kModulePath = "C:\\Program Files\\Host\\Quendrix.dll";

class OlderHost : public ::testing::Test {
  protected:
    void SetUp() override { AttachAsModule(kModulePath); }
};

// Calls a missing entry with every register seeded: it must return 0 and
// leave the stack and the caller's registers as the convention expects.
void ExpectZeroCall(HostEntryId id, const void* stub, uint32_t words) {
    const HostEntryDescriptor& entry = kHostEntries[static_cast<size_t>(id)];
    SCOPED_TRACE(entry.name);
    std::vector<uint32_t> args(words, 0xABCD0000);
    const RegisterSet seed = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0, 0};
    RegisterSet at_call{}, after{};
    EXPECT_EQ(CallWithRegisters(stub, args.data(), words, &seed, &at_call, &after), 0u);
    ExpectCallerKept(seed, at_call, after,
                     entry.convention == HostConvention::kStdcall ? entry.argument_bytes : 0);
}

template <typename Function>
const void* Stub(Function* function) {
    return reinterpret_cast<const void*>(function);
}

}  // namespace

TEST_F(OlderHost, RetryRepeatsTheDialogIgnoreGivesFallbacksToEveryLaterEntry) {
    // The host lacks several entries, but only a called entry is looked up:
    // present entries work with no dialog.
    EXPECT_EQ(HostInterfaceVersion(), 112);
    char copy[4];
    EXPECT_EQ(HostCopyText(copy, "ab", 3), copy);
    EXPECT_TRUE(ShownBoxes().empty());
    EXPECT_EQ(Lookups(),
              (std::vector<uint16_t>{kOrdinalHostInterfaceVersion, kOrdinalHostCopyText}));

    QueueAnswers({kAnswerRetry, kAnswerRetry, kAnswerIgnore});
    ExpectZeroCall(HostEntryId::HostFindRange, Stub(&HostFindRange), 4);  // digits: 16 bytes
    ASSERT_EQ(ShownBoxes().size(), 3u);
    for (const ShownBox& box : ShownBoxes())
        ExpectMissingEntryBox(box, kModulePath, kOrdinalHostFindRange);
    EXPECT_TRUE(Frame.Binding.IgnoreAllMissing);
    // Retry shows the box again without looking the entry up again.
    EXPECT_EQ(Lookups(), (std::vector<uint16_t>{kOrdinalHostInterfaceVersion, kOrdinalHostCopyText,
                                                kOrdinalHostFindRange, kOrdinalHostConvertText}));
    EXPECT_EQ(EntryState(HostEntryId::HostConvertText), HostEntryState::kHost);
    EXPECT_EQ(VsCallCount(kOrdinalHostConvertText), 2);  // the message and the caption

    // Every later missing entry gets its fallback with no dialog.
    ExpectZeroCall(HostEntryId::HostFreeRange, Stub(&HostFreeRange), 1);        // digits: 4 bytes
    ExpectZeroCall(HostEntryId::HostOpenTable, Stub(&HostOpenTable), 1);        // digits say 56
    ExpectZeroCall(HostEntryId::HostMessage, Stub(&HostMessage), 3);            // digits say 28
    ExpectZeroCall(HostEntryId::HostProfileValue, Stub(&HostProfileValue), 5);  // cdecl, 24
    EXPECT_EQ(EntryState(HostEntryId::HostOpenTable), HostEntryState::kFallback);
    // 30 is no multiple of 4: no fallback, so the entry is Empty, and its
    // call is abandoned with 0.
    ExpectZeroCall(HostEntryId::HostShowText, Stub(&HostShowText), 1);
    EXPECT_EQ(EntryState(HostEntryId::HostShowText), HostEntryState::kEmpty);
    EXPECT_EQ(ShownBoxes().size(), 3u);

    // As the plug-in's own code calls them.
    EXPECT_EQ(HostOpenTable(kHeaderTable), nullptr);
    EXPECT_EQ(HostMessage("a", "b", 1), 0);
    EXPECT_EQ(HostShowText("c"), 0);
    EXPECT_EQ(VsDialogCallCount(), 0);
    EXPECT_EQ(Lookups().size(), 9u);
}

TEST_F(OlderHost, AbortLeavesTheEntryEmptyAndTheNextMissingEntryAsksAgain) {
    QueueAnswers({kAnswerAbort});
    ExpectZeroCall(HostEntryId::HostFreeRange, Stub(&HostFreeRange), 1);
    EXPECT_EQ(EntryState(HostEntryId::HostFreeRange), HostEntryState::kEmpty);
    ASSERT_EQ(ShownBoxes().size(), 1u);
    ExpectMissingEntryBox(ShownBoxes()[0], kModulePath, kOrdinalHostFreeRange);
    EXPECT_FALSE(Frame.Binding.IgnoreAllMissing);

    // Not looked up again, no dialog again.
    ExpectZeroCall(HostEntryId::HostFreeRange, Stub(&HostFreeRange), 1);
    EXPECT_EQ(ShownBoxes().size(), 1u);

    QueueAnswers({kAnswerIgnore});
    ExpectZeroCall(HostEntryId::HostMessage, Stub(&HostMessage), 3);
    ASSERT_EQ(ShownBoxes().size(), 2u);
    ExpectMissingEntryBox(ShownBoxes()[1], kModulePath, kOrdinalHostMessage);
    EXPECT_EQ(EntryState(HostEntryId::HostMessage), HostEntryState::kFallback);
    EXPECT_EQ(Lookups(), (std::vector<uint16_t>{kOrdinalHostFreeRange, kOrdinalHostConvertText,
                                                kOrdinalHostMessage}));
}

TEST_F(OlderHost, ModuleTextIsUnknownWhenThePathCannotBeRead) {
    ScriptModuleName(ProgramModule(), ModuleNameMode::kFail);
    QueueAnswers({kAnswerIgnore});
    EXPECT_EQ(HostShowText("x"), 0);
    ASSERT_EQ(ShownBoxes().size(), 1u);
    ExpectMissingEntryBox(ShownBoxes()[0], plugin_texts::TextOf(MessageId::kUnknownModule),
                          kOrdinalHostShowText);
}

TEST_F(OlderHost, OverlongModulePathIsCutTo300Characters) {
    const std::string path = "C:\\" + std::string(500, 'd') + "\\Quendrix.dll";
    ScriptModuleName(ProgramModule(), ModuleNameMode::kFixed, path);
    QueueAnswers({kAnswerAbort});
    EXPECT_EQ(HostFindRange(0, nullptr, nullptr, nullptr), nullptr);
    ASSERT_EQ(ShownBoxes().size(), 1u);
    ExpectMissingEntryBox(ShownBoxes()[0], path.substr(0, 300), kOrdinalHostFindRange);
}
