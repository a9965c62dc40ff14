// The binding layer against the stand-in host library, as the plug-in's own
// code uses it: operations called under their names and types.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "frame/frame_state.h"
#include "frame/host_binding.h"
#include "frame/module_attach.h"
#include "host/host_api.h"
#include "standin/veldan_control.h"
#include "system_hooks.h"

namespace {

size_t CountOf(const std::vector<uint16_t>& list, uint16_t value) {
    return static_cast<size_t>(std::count(list.begin(), list.end(), value));
}

}  // namespace

TEST(HostBinding, FirstCallReachesTheHostLaterCallsLookNothingUp) {
    InstallSystemHooks();
    AttachToHost(ProgramModule(), kProcessAttach);
    ASSERT_NE(Frame.Attach.HostLibraryHandle, nullptr);
    WatchLookups(Frame.Attach.HostLibraryHandle);
    VsReset();

    // No arguments, a result of the host's choosing.
    VsSetInterfaceVersion(4711);
    EXPECT_EQ(HostInterfaceVersion(), 4711);
    EXPECT_EQ(Lookups(), std::vector<uint16_t>{kOrdinalHostInterfaceVersion});
    EXPECT_EQ(EntryState(HostEntryId::HostInterfaceVersion), HostEntryState::kHost);
    VsSetInterfaceVersion(112);
    EXPECT_EQ(HostInterfaceVersion(), 112);
    EXPECT_EQ(VsCallCount(kOrdinalHostInterfaceVersion), 2);
    EXPECT_EQ(Lookups().size(), 1u);

    // Arguments reach the host and pointers come back unchanged.
    EXPECT_EQ(HostOpenTable(kHeaderTable), VsTable(kHeaderTable));
    EXPECT_EQ(HostOpenTable(kLineTable), VsTable(kLineTable));
    char copy[8];
    std::memset(copy, '#', sizeof(copy));
    EXPECT_EQ(HostCopyText(copy, "abcdef", 3), copy);
    EXPECT_STREQ(copy, "abc");

    // Caller-cleans operations, one with a variable argument list.
    void* block = HostRealloc(nullptr, 64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(VsOutstanding(kVsHeapBlocks), 1);
    HostFree(block);
    EXPECT_EQ(VsOutstanding(kVsHeapBlocks), 0);
    VsQueueAnswer(kOrdinalHostQuestion, 7, 0);
    EXPECT_EQ(HostQuestion("Q", "%d-%s-%d", 5, 42, "x", -1), 7);
    ASSERT_EQ(VsDialogCallCount(), 1);
    EXPECT_STREQ(VsDialogCallAt(0)->text, "42-x--1");
    EXPECT_EQ(VsDialogCallAt(0)->flags, 5);
    EXPECT_EQ(HostQuestion("Q", "%s", 0, "again"), kAnswerYes);

    // Each operation called was looked up once, nothing else ever.
    const std::vector<uint16_t> called = {
        kOrdinalHostInterfaceVersion, kOrdinalHostOpenTable, kOrdinalHostCopyText,
        kOrdinalHostRealloc,          kOrdinalHostFree,      kOrdinalHostQuestion};
    EXPECT_EQ(Lookups().size(), called.size());
    for (uint16_t ordinal : called)
        EXPECT_EQ(CountOf(Lookups(), ordinal), 1u) << ordinal;
    for (size_t i = 0; i < kHostEntryCount; ++i) {
        if (CountOf(called, kHostEntries[i].ordinal) != 0) {
            EXPECT_EQ(EntryState(i), HostEntryState::kHost) << kHostEntries[i].name;
        } else {
            EXPECT_EQ(EntryState(i), HostEntryState::kUnbound) << kHostEntries[i].name;
            EXPECT_EQ(HostEntryTargets[i], HostEntryBinders[i]) << kHostEntries[i].name;
        }
    }
    EXPECT_TRUE(ShownBoxes().empty());
    EXPECT_FALSE(Frame.Binding.IgnoreAllMissing);
}
