// "Numer zamówienia zamiast symbolu": menu command 350 takes the remarks of the
// first suitable record of the host's selection list, and every header that the
// host stores afterwards (event 17152 on table 44) receives them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_records.h"
#include "reconcile/nested_events.h"

// The remarks command 350 takes: at most 100 characters and a terminator.
inline constexpr size_t kPendingRemarksSize = kRemarksLength + 1;

// ------------------------------------------------------------------ its state
// One part of the reconciliation's state (reconcile/reconcile_state.h): the
// remarks waiting to be written, from the command to the next; and the guard
// against an event 17152 the host raises while they are being written.
struct RemarksState {
    char PendingRemarks[kPendingRemarksSize] = {};
    EventGuard WritingRemarks = {};
};
extern RemarksState& Remarks;

// The handler of menu command 350; acts on the host's confirmed call (20481,
// 2) and returns 0.
extern "C" int32_t HOST_STDCALL OrderNumberCommand(uint32_t result, uint32_t phase);

// The hook on the header table (44).
extern "C" int32_t HOST_STDCALL HeaderTableHook(uint32_t event, uint32_t key, uint32_t a3,
                                                uint32_t a4, uint32_t a5, uint32_t a6, uint32_t a7,
                                                uint32_t a8, uint32_t a9, uint32_t a10,
                                                uint32_t a11);

// Writes PendingRemarks into the stored copy of the header in table 44's record
// buffer, found among the headers of the given key. Returns 0. A range that is
// not found, an update that cannot begin, a failed read or write is shown
// (after the update ended); no stored header matching is not.
int32_t WritePendingRemarks(int16_t key);
