// The stand-in's account of host time: what it counts, what it leaves to the
// plug-in, and what it costs when it is off. The account reads a clock of the
// test's own, so every figure is exact and nothing depends on how busy the
// machine is.
#include <gtest/gtest.h>

#include <cstring>

#include "host/host_api.h"
#include "standin/veldan_control.h"

namespace {

// Each read moves the clock on by the current step. While timing is switched
// on the step is 1, so reading the clock costs 1: an interval holds one read's
// cost between its two reads and two in all. Afterwards each interval lasts
// kStep, and the account books kStep - 1 for it.
constexpr uint64_t kStep = 100;
constexpr int64_t kBooked = kStep - 1;
constexpr int64_t kClockCost = 2;
// What the plug-in's code "takes": far more than any host interval, so that
// booking any part of it would show.
constexpr uint64_t kPluginWork = 1'000'000;

uint64_t now = 0;
uint64_t step = 1;
int reads = 0;

uint64_t FakeClock() {
    ++reads;
    return now += step;
}

void TimingOn() {
    step = 1;
    VsSetTiming(1);
    step = kStep;
}

int32_t HOST_STDCALL SlowRows(uint32_t row, int32_t) {
    now += kPluginWork;
    return static_cast<int16_t>(row) == -1 ? 2 : reinterpret_cast<intptr_t>("row");
}

// A row callback that itself calls the host: that call is host time again.
char copied[16];
int32_t HOST_STDCALL RowsCallingTheHost(uint32_t row, int32_t) {
    HostCopyText(copied, "row", sizeof copied - 1);
    return static_cast<int16_t>(row) == -1 ? 2 : reinterpret_cast<intptr_t>(copied);
}

int hook_calls = 0;
int32_t HOST_STDCALL SlowHookCallingTheHost(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                            uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                            uint32_t) {
    ++hook_calls;
    now += kPluginWork;
    HostInterfaceVersion();
    now += kPluginWork;
    return 7;
}

const uint32_t kNoDefinition[2] = {4, 0};

class HostTime : public ::testing::Test {
  protected:
    void SetUp() override {
        VsReset();
        now = 0;
        step = 1;
        reads = 0;
        VsSetTimingClock(FakeClock);
    }
    void TearDown() override { VsSetTimingClock(nullptr); }
};

TEST_F(HostTime, OffItReadsNoClockAndVsResetSwitchesItOffAndRestoresTheCounter) {
    HostInterfaceVersion();
    HostOpenTable(44);
    int16_t row = 0;
    HostListDialog(kNoDefinition, 1002, &row, 0, SlowRows);
    EXPECT_EQ(reads, 0) << "off, an operation costs a flag test and no clock read";
    EXPECT_EQ(VsHostTime(), 0);
    EXPECT_EQ(VsHostClockTime(), 0);

    TimingOn();
    HostInterfaceVersion();
    EXPECT_EQ(VsHostTime(), kBooked);
    EXPECT_EQ(VsHostClockTime(), kClockCost);

    VsReset();
    EXPECT_EQ(VsHostTime(), 0);
    EXPECT_EQ(VsHostClockTime(), 0);
    VsSetTimingClock(FakeClock);
    const int reads_before = reads;
    HostInterfaceVersion();
    EXPECT_EQ(reads, reads_before) << "VsReset switches timing off";
    EXPECT_EQ(VsHostTime(), 0);
    EXPECT_EQ(VsHostClockTime(), 0);

    VsReset();
    VsSetTiming(1);
    HostInterfaceVersion();
    EXPECT_EQ(reads, reads_before) << "VsReset puts the time-stamp counter back";

    VsReset();
    VsSetTimingClock(FakeClock);
    VsSetTimingClock(nullptr);
    VsSetTiming(1);
    HostInterfaceVersion();
    EXPECT_EQ(reads, reads_before) << "null puts the time-stamp counter back";
}

TEST_F(HostTime, EveryOperationIsOneIntervalAndHostCallsFromCallbacksAreTheirOwn) {
    TimingOn();
    for (int i = 0; i < 10; ++i)
        HostOpenTable(45);
    EXPECT_EQ(VsHostTime(), 10 * kBooked);
    EXPECT_EQ(VsHostClockTime(), 10 * kClockCost);

    // A list dialog of 2 rows asks its callback 3 times; each call ends one
    // interval of the dialog and starts the next, and each host call made from
    // within the callback is an interval of its own.
    const int64_t host_before = VsHostTime();
    const int64_t clock_before = VsHostClockTime();
    int16_t row = 0;
    HostListDialog(kNoDefinition, 1002, &row, 0, RowsCallingTheHost);
    EXPECT_STREQ(copied, "row");
    EXPECT_EQ(VsHostTime() - host_before, (4 + 3) * kBooked);
    EXPECT_EQ(VsHostClockTime() - clock_before, (4 + 3) * kClockCost);
}

TEST_F(HostTime, ThePluginsRowCallbackIsNotHostTime) {
    TimingOn();
    const uint64_t start = now;
    int16_t row = 0;
    HostListDialog(kNoDefinition, 1002, &row, 0, SlowRows);
    ASSERT_GE(now - start, 3 * kPluginWork) << "the callback ran for each row and the count";
    EXPECT_EQ(VsHostTime(), 4 * kBooked) << "the dialog's four stretches around the callbacks";
    EXPECT_EQ(VsHostClockTime(), 4 * kClockCost);
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
    VsTable(45)->hook = SlowHookCallingTheHost;

    TimingOn();
    EXPECT_EQ(VsRaiseLineEvent(kKeyEditedLines), 7);
    ASSERT_EQ(hook_calls, 1);
    // Handing out the lines before the hook and taking them back after it are
    // the host's work, and so is the host call the hook makes.
    EXPECT_EQ(VsHostTime(), 3 * kBooked);
    EXPECT_EQ(VsHostClockTime(), 3 * kClockCost);
    EXPECT_EQ(VsOutstanding(kVsLineArrays), 0);
}

TEST_F(HostTime, AClockSwitchedWhileTimingIsOnIsMeasuredAgain) {
    TimingOn();
    HostInterfaceVersion();
    EXPECT_EQ(VsHostTime(), kBooked);

    // The same clock, now costing kStep a read: measured again, an interval
    // that does nothing else books nothing, and the clock's account its whole
    // cost.
    VsSetTimingClock(FakeClock);
    HostInterfaceVersion();
    EXPECT_EQ(VsHostTime(), kBooked);
    EXPECT_EQ(VsHostClockTime(), kClockCost + 2 * static_cast<int64_t>(kStep));
}

}  // namespace
