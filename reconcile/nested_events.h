// The guard against events the host raises from inside the plug-in's own
// handling of one.
//
// The host may raise an event again from inside the operations a handler
// calls (storing a WZ's lines, writing a header). Handled again, such an event
// would call those operations and raise the event once more, without end; it
// is passed on instead. A flag set on entry and cleared on the way out would
// say when that is, but not when the host unwinds past the handler without
// returning through it: a dialog left by a long jump, a fault its exception
// translator turns into an exception of its own. The flag would stay set and
// every later event be passed on, for the rest of the session.
//
// So a run remembers where it is: its thread and its place on the stack (its
// GuardedRun lives there, marked with the run's number). An event is nested
// only when it comes on that thread from deeper in the stack while the run's
// mark is still in place. An event from at or above the run's place, or from
// another thread, or one that finds the mark overwritten, means the run was
// abandoned: it is handled as a new one. Nothing depends on the end of a run
// being reached, so a run needs no destructor (and no unwinding) to end.
//
// A host that leaves a dialog by a long jump may raise the event again from
// a frame of its own that is deeper than the abandoned run's mark, and that
// need not have overwritten it. While the run has a dialog open, the run
// also remembers the place the dialog was called from (DialogOfRun): an
// event from inside the dialog comes from deeper than that place, one from
// above it cannot come from inside, and is a new run.
#pragma once

#include <cstdint>

struct GuardedRun;

// One handler's guard: process-wide, one per guarded handler.
struct EventGuard {
    const GuardedRun* run = nullptr;  // the active run, if any
    uint32_t thread = 0;              // the active run's thread
    uint32_t runs = 0;                // runs begun; the active one's number
    uintptr_t dialog = 0;             // where the active run called a dialog still open; 0: none
};

// A run's mark, in the frame of the code that handles the event.
struct GuardedRun {
    const EventGuard* guard;
    uint32_t number;
};

// Makes run, in the caller's frame, the guard's active run; false, with
// nothing changed, for an event raised from inside the active run.
bool BeginRun(EventGuard& guard, GuardedRun& run);
// The run is over: the guard has no active run unless another began since.
void EndRun(EventGuard& guard, const GuardedRun& run);

// A dialog the active run has open, from the scope's place on the stack
// until the dialog returns; a dialog left by a long jump stays recorded until
// the next run begins.
struct DialogOfRun {
    EventGuard& guard;

    explicit DialogOfRun(EventGuard& of) : guard(of) {
        guard.dialog = reinterpret_cast<uintptr_t>(this);
    }
    ~DialogOfRun() { guard.dialog = 0; }
    DialogOfRun(const DialogOfRun&) = delete;
    DialogOfRun& operator=(const DialogOfRun&) = delete;
};

// Does work as a run of the guard, unless the event was raised from inside
// the active run; true when it was done.
template <typename Work>
bool HandleUnlessNested(EventGuard& guard, Work&& work) {
    GuardedRun run;
    if (!BeginRun(guard, run))
        return false;
    work();
    EndRun(guard, run);
    return true;
}
