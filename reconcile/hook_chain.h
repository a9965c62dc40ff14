// The hooks ours replaced in the hook slots of the header table (44) and the
// line table (45), and handing an event on to them.
//
// Each hook of ours hands the events it does not handle to the hook it
// replaced, with all eleven arguments; the two 16-bit arguments (2nd and 10th)
// go on widened with zeros, whatever the host left in their upper halves.
#pragma once

#include <cstdint>

#include "host/host_records.h"

// A table our hook is in, with the hook it replaced.
struct HookedTable {
    HostTable* table;
    TableEventHook previous;
};

// ------------------------------------------------------------------ its state
// One part of the reconciliation's state (reconcile/reconcile_state.h), from
// the installation (reconcile/table_hooks.h puts our hooks in and takes them
// out) to the stop.
struct HookChainState {
    HookedTable HeaderHook = {nullptr, nullptr};
    HookedTable LineHook = {nullptr, nullptr};
};
extern HookChainState& HookChain;

// Hand one event to the hook that the header or line hook replaced, by the
// chaining contract; returns that hook's result.
int32_t ChainHeaderEvent(uint32_t event, uint32_t key, uint32_t a3, uint32_t a4, uint32_t a5,
                         uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9, uint32_t a10,
                         uint32_t a11);
int32_t ChainLineEvent(uint32_t event, uint32_t key, uint32_t a3, uint32_t a4, uint32_t a5,
                       uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9, uint32_t a10,
                       uint32_t a11);
