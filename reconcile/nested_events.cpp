#include "reconcile/nested_events.h"

#include "frame/platform.h"

namespace {

uintptr_t Address(const void* at) {
    return reinterpret_cast<uintptr_t>(at);
}

// Whether this scope, on the calling thread, lies inside the guard's active
// run: deeper in the same thread's stack, with the run's mark in place. The
// run is read only where it can be one of this thread's frames, between this
// scope and the bottom of the stack (a thread that ended may have left its
// number to a new thread).
bool InsideActiveRun(const EventGuard& guard, const GuardedEvent* scope, uint32_t thread) {
    const GuardedEvent* run = guard.run;
    if (run == nullptr || guard.thread != thread || Address(run) <= Address(scope) ||
        Address(run) >= PlatformStackBase())
        return false;
    return run->number == guard.runs && &run->guard == &guard;
}

}  // namespace

GuardedEvent::GuardedEvent(EventGuard& guard)
    : guard(guard), nested(InsideActiveRun(guard, this, PlatformThreadId())), number(0) {
    if (nested)
        return;
    number = ++guard.runs;
    guard.thread = PlatformThreadId();
    guard.run = this;
}

GuardedEvent::~GuardedEvent() {
    if (!nested && guard.run == this)
        guard.run = nullptr;
}
