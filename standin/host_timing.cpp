// The account of host time (VsSetTiming, VsHostTime).
//
// A depth count lets a host operation that runs inside a plug-in callback,
// inside another host operation, be counted once: the clock runs while the
// depth is above 0.
#include <x86intrin.h>

#include "standin/standin_state.h"

namespace veldan {

bool host_timing = false;

namespace {
int depth = 0;
uint64_t since = 0;
uint64_t total = 0;
}  // namespace

void StartHostTime() {
    if (depth++ == 0)
        since = __rdtsc();
}

void StopHostTime() {
    if (depth > 0 && --depth == 0)
        total += __rdtsc() - since;
}

int SuspendHostTime() {
    const int suspended = depth;
    if (depth > 0)
        total += __rdtsc() - since;
    depth = 0;
    return suspended;
}

void ResumeHostTime(int suspended) {
    depth = suspended;
    if (depth > 0)
        since = __rdtsc();
}

void ResetHostTime() {
    host_timing = false;
    depth = 0;
    total = 0;
}

}  // namespace veldan

using namespace veldan;

VS_API void VsSetTiming(int on) {
    host_timing = on != 0;
}

VS_API int64_t VsHostTime(void) {
    return static_cast<int64_t>(total);
}
