// The account of host time (VsSetTiming, VsHostTime, VsHostClockTime).
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

bool host_timing = false;

namespace {

uint64_t TimeStampCounter() {
    asm volatile("lfence" ::: "memory");
    return __rdtsc();
}

uint64_t (*read_clock)() = TimeStampCounter;

uint64_t Now() {
    return read_clock();
}

int depth = 0;
uint64_t since = 0;
int64_t host_cycles = 0;   // net of the clock's part inside each interval
int64_t clock_cycles = 0;  // the whole cost of reading the clock
int64_t inside_cost = 0;
int64_t whole_cost = 0;

void BeginInterval() {
    since = Now();
}

void EndInterval() {
    const auto length = static_cast<int64_t>(Now() - since);
    host_cycles += length - inside_cost;
    clock_cycles += whole_cost;
}

// Empty intervals in batches; interference only ever adds time, so the batch
// that took least is the clock's own cost.
void Calibrate() {
    constexpr int kIntervals = 1000;
    constexpr int kBatches = 9;
    const int64_t saved_host = host_cycles;
    const int64_t saved_clock = clock_cycles;
    inside_cost = 0;
    whole_cost = 0;
    int64_t best_whole = INT64_MAX;
    int64_t best_inside = 0;
    for (int batch = 0; batch < kBatches; ++batch) {
        const int64_t host_before = host_cycles;
        const uint64_t start = Now();
        for (int i = 0; i < kIntervals; ++i) {
            const HostTimeScope empty;
        }
        const auto whole = static_cast<int64_t>(Now() - start) / kIntervals;
        if (whole < best_whole) {
            best_whole = whole;
            best_inside = (host_cycles - host_before) / kIntervals;
        }
    }
    inside_cost = best_inside;
    whole_cost = best_whole;
    host_cycles = saved_host;
    clock_cycles = saved_clock;
}

}  // namespace

void StartHostTime() {
    if (depth++ == 0)
        BeginInterval();
}

void StopHostTime() {
    if (depth > 0 && --depth == 0)
        EndInterval();
}

int SuspendHostTime() {
    const int suspended = depth;
    if (depth > 0)
        EndInterval();
    depth = 0;
    return suspended;
}

void ResumeHostTime(int suspended) {
    depth = suspended;
    if (depth > 0)
        BeginInterval();
}

void ResetHostTime() {
    host_timing = false;
    read_clock = TimeStampCounter;
    depth = 0;
    host_cycles = 0;
    clock_cycles = 0;
}

}  // namespace veldan

using namespace veldan;

VS_API void VsSetTiming(int on) {
    if (on != 0 && !host_timing) {
        host_timing = true;
        Calibrate();
    }
    host_timing = on != 0;
}

VS_API int64_t VsHostTime(void) {
    return host_cycles;
}

VS_API int64_t VsHostClockTime(void) {
    return clock_cycles;
}

VS_API void VsSetTimingClock(uint64_t (*clock)(void)) {
    read_clock = clock != nullptr ? clock : TimeStampCounter;
    // What the clock costs was measured on the clock before.
    if (host_timing)
        Calibrate();
}
