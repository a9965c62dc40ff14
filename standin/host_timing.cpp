// The account of host time (VsSetTiming, VsHostTime, VsHostClockTime), kept
// in the stand-in's State (HostTime) and reset with it.
//
// Every read of the clock goes through one pointer, so that a test can put a
// clock of its own there (VsSetTimingClock) and check the account exactly,
// whatever else the machine is doing at the time.
//
// A depth count lets a host operation that runs inside a plug-in callback,
// inside another host operation, be counted once: the clock runs while the
// depth is above 0, and every stretch of it is one interval.
//
// The counter is read behind a fence. Without it the processor may read it
// while loads issued before are still waiting for memory, and the wait of a
// host operation that copies records from a large store would be booked to
// the plug-in code that runs next.
//
// Reading the clock costs time of its own, part of it between the two reads
// of an interval. When timing is switched on, empty intervals measure both
// that part and the whole cost of an interval; each interval then books its
// length less the part inside, and the whole cost goes to a separate account,
// so that a caller can take it off its own measurement too.
#include <x86intrin.h>

#include <cstdint>

#include "standin/standin_state.h"

namespace veldan {
namespace {

uint64_t TimeStampCounter() {
    asm volatile("lfence" ::: "memory");
    return __rdtsc();
}

HostTime& Account() {
    return S().time;
}

uint64_t Now() {
    const auto clock = Account().clock;
    return clock != nullptr ? clock() : TimeStampCounter();
}

void BeginInterval() {
    Account().since = Now();
}

void EndInterval() {
    HostTime& time = Account();
    const auto length = static_cast<int64_t>(Now() - time.since);
    time.host_cycles += length - time.inside_cost;
    time.clock_cycles += time.whole_cost;
}

// Empty intervals in batches; interference only ever adds time, so the batch
// that took least is the clock's own cost.
void Calibrate() {
    constexpr int kIntervals = 1000;
    constexpr int kBatches = 9;
    HostTime& time = Account();
    const int64_t saved_host = time.host_cycles;
    const int64_t saved_clock = time.clock_cycles;
    time.inside_cost = 0;
    time.whole_cost = 0;
    int64_t best_whole = INT64_MAX;
    int64_t best_inside = 0;
    for (int batch = 0; batch < kBatches; ++batch) {
        const int64_t host_before = time.host_cycles;
        const uint64_t start = Now();
        for (int i = 0; i < kIntervals; ++i) {
            const HostTimeScope empty;
        }
        const auto whole = static_cast<int64_t>(Now() - start) / kIntervals;
        if (whole < best_whole) {
            best_whole = whole;
            best_inside = (time.host_cycles - host_before) / kIntervals;
        }
    }
    time.inside_cost = best_inside;
    time.whole_cost = best_whole;
    time.host_cycles = saved_host;
    time.clock_cycles = saved_clock;
}

}  // namespace

void StartHostTime() {
    if (Account().depth++ == 0)
        BeginInterval();
}

void StopHostTime() {
    HostTime& time = Account();
    if (time.depth > 0 && --time.depth == 0)
        EndInterval();
}

int SuspendHostTime() {
    HostTime& time = Account();
    const int suspended = time.depth;
    if (time.depth > 0)
        EndInterval();
    time.depth = 0;
    return suspended;
}

void ResumeHostTime(int suspended) {
    Account().depth = suspended;
    if (suspended > 0)
        BeginInterval();
}

}  // namespace veldan

using namespace veldan;

VS_API void VsSetTiming(int on) {
    HostTime& time = Account();
    if (on != 0 && !time.on) {
        time.on = true;
        Calibrate();
    }
    time.on = on != 0;
}

VS_API int64_t VsHostTime(void) {
    return Account().host_cycles;
}

VS_API int64_t VsHostClockTime(void) {
    return Account().clock_cycles;
}

VS_API void VsSetTimingClock(uint64_t (*clock)(void)) {
    HostTime& time = Account();
    time.clock = clock;
    // What the clock costs was measured on the clock before.
    if (time.on)
        Calibrate();
}
