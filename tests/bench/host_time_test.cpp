// The stand-in's account of host time: what it counts, what it leaves to the
// plug-in, and what it costs when it is off.
#include <gtest/gtest.h>
#include <x86intrin.h>

#include <cstring>

#include "host/host_api.h"
#include "standin/veldan_control.h"

namespace {

// Long enough that the host's own work in the same call is far smaller.
constexpr uint64_t kPluginWork = 30'000'000;  // time-stamp counter cycles

void Spin(uint64_t cycles) {
    const uint64_t start = __rdtsc();
    while (__rdtsc() - start < cycles) {
    }
}

int32_t HOST_STDCALL SlowRows(uint32_t row, int32_t) {
    Spin(kPluginWork);
    return static_cast<int16_t>(row) == -1 ? 2 : reinterpret_cast<intptr_t>("row");
}

// A row callback that itself calls the host: that call is host time again.
char copied[16];
int32_t HOST_STDCALL RowsCallingTheHost(uint32_t row, int32_t) {
    HostCopyText(copied, "row", sizeof copied - 1);
    return static_cast<int16_t>(row) == -1 ? 2 : reinterpret_cast<intptr_t>(copied);
}

int32_t HOST_STDCALL SlowHook(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                              uint32_t, uint32_t, uint32_t, uint32_t) {
    Spin(kPluginWork);
    return 7;
}

const uint32_t kNoDefinition[2] = {4, 0};

class HostTime : public ::testing::Test {
  protected:
    void SetUp() override { VsReset(); }
    // The clock's whole cost of one interval, as the stand-in books it.
    static int64_t IntervalCost() {
        const int64_t before = VsHostClockTime();
        HostInterfaceVersion();
        return VsHostClockTime() - before;
    }
};

TEST_F(HostTime, OffItCountsNothingAndVsResetSwitchesItOffAndZeroesIt) {
    HostInterfaceVersion();
    HostOpenTable(44);
    EXPECT_EQ(VsHostTime(), 0);
    EXPECT_EQ(VsHostClockTime(), 0);

    VsSetTiming(1);
    HostInterfaceVersion();
    EXPECT_GT(VsHostClockTime(), 0);
    VsReset();
    EXPECT_EQ(VsHostTime(), 0);
    EXPECT_EQ(VsHostClockTime(), 0);
    HostInterfaceVersion();
    EXPECT_EQ(VsHostClockTime(), 0) << "VsReset switches timing off";
}

TEST_F(HostTime, EveryOperationIsOneIntervalAndItsTimeIsBooked) {
    VsSetTiming(1);
    const int64_t cost = IntervalCost();
    ASSERT_GT(cost, 0);
    const int64_t clock_before = VsHostClockTime();
    const int64_t host_before = VsHostTime();
    for (int i = 0; i < 10; ++i)
        HostOpenTable(45);
    EXPECT_EQ(VsHostClockTime() - clock_before, 10 * cost);

    // A list dialog of 2 rows asks its callback 3 times; each call ends one
    // interval of the dialog and starts the next, and each host call made from
    // within the callback is an interval of its own.
    const int64_t dialog_before = VsHostClockTime();
    int16_t row = 0;
    HostListDialog(kNoDefinition, 1002, &row, 0, RowsCallingTheHost);
    EXPECT_EQ(VsHostClockTime() - dialog_before, (4 + 3) * cost);
    EXPECT_GT(VsHostTime(), host_before);
}

TEST_F(HostTime, ThePluginsRowCallbackIsNotHostTime) {
    VsSetTiming(1);
    const int64_t before = VsHostTime();
    const uint64_t start = __rdtsc();
    int16_t row = 0;
    HostListDialog(kNoDefinition, 1002, &row, 0, SlowRows);
    const uint64_t elapsed = __rdtsc() - start;

    ASSERT_GE(elapsed, 3 * kPluginWork);
    EXPECT_LT(VsHostTime() - before, static_cast<int64_t>(kPluginWork / 2));
}

TEST_F(HostTime, ALineEventCountsItsOwnWorkButNotTheHook) {
    DocumentHeader wz;
    memset(&wz, 0, sizeof wz);
    wz.document_id = 5;
    VsAddHeader(&wz);
    DocumentItem line;
    memset(&line, 0, sizeof line);
    for (int i = 0; i < 100; ++i)
        VsAddLine(5, &line);
    ASSERT_EQ(VsOpenDocument(5), 1);
    VsTable(45)->hook = SlowHook;

    VsSetTiming(1);
    const int64_t before = VsHostTime();
    EXPECT_EQ(VsRaiseLineEvent(806), 7);
    const int64_t host = VsHostTime() - before;
    EXPECT_GT(host, 0) << "handing out and taking back 100 lines is the host's work";
    EXPECT_LT(host, static_cast<int64_t>(kPluginWork / 2));
}

}  // namespace
