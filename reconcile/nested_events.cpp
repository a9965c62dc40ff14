#include "reconcile/nested_events.h"

#include "frame/platform.h"

namespace {

uintptr_t Address(const void* at) {
    return reinterpret_cast<uintptr_t>(at);
}

}  // namespace

bool BeginRun(EventGuard& guard, GuardedRun& run) {
    const uint32_t thread = PlatformThreadId();
    // Inside the active run: deeper in the same thread's stack, with the run's
    // mark in place, and deeper than a dialog the run has open. The run is
    // read only where it can be one of this thread's frames, between here and
    // the bottom of the stack (a thread that ended may have left its number
    // to a new one).
    const GuardedRun* active = guard.run;
    if (active != nullptr && guard.thread == thread && Address(active) > Address(&run) &&
        Address(active) < PlatformStackBase() && active->guard == &guard &&
        active->number == guard.runs && (guard.dialog == 0 || guard.dialog > Address(&run)))
        return false;
    run.guard = &guard;
    run.number = ++guard.runs;
    guard.thread = thread;
    guard.run = &run;
    guard.dialog = 0;
    return true;
}

void EndRun(EventGuard& guard, const GuardedRun& run) {
    if (guard.run == &run)
        guard.run = nullptr;
}
