// The hook on the line table (45): event 239 with key 806 compares the WZ
// being edited with an order the user chooses, before the event goes on to
// the hook that ours replaced.
#pragma once

#include <cstdint>

#include "host/host_records.h"
#include "reconcile/nested_events.h"

// ------------------------------------------------------------------ its state
// One part of the reconciliation's state (reconcile/reconcile_state.h): the
// guard against a line event the host raises from inside the comparison's
// work, which knows the active run's thread and place on the stack while the
// hook is at work.
struct WzTriggerState {
    EventGuard ComparingWz = {};
};
extern WzTriggerState& WzTrigger;

extern "C" int32_t HOST_STDCALL LineTableHook(uint32_t event, uint32_t key, uint32_t a3,
                                              uint32_t a4, uint32_t a5, uint32_t a6, uint32_t a7,
                                              uint32_t a8, uint32_t a9, uint32_t a10, uint32_t a11);
