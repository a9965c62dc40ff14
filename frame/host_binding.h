// The lazy binding of host operations by ordinal: the first call of a host
// entry (frame/host_entries.h) looks its ordinal up in the host's library; a
// host that lacks it gets the missing-entry dialog, and Ignore a fallback.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/host_entries.h"

// What an entry's target word holds.
enum class HostEntryState : uint8_t {
    kUnbound,   // its binding routine
    kBinding,   // the first call is being bound right now
    kHost,      // the host function
    kFallback,  // a ZeroFallback member, after Ignore
    kEmpty,     // nothing: its calls are abandoned through the fitting
                // ZeroFallback member and return 0
};

// ------------------------------------------------------------------ its state
// One part of the frame's state (frame/frame_state.h): what each entry's
// target word holds, bound on first call and never unbound; set by the first
// Ignore in the missing-entry dialog and never cleared.
struct BindingState {
    HostEntryState EntryStates[kHostEntryCount] = {};
    bool IgnoreAllMissing = false;
};
extern BindingState& Binding;

// What an entry's target word holds.
HostEntryState EntryState(size_t index);
inline HostEntryState EntryState(HostEntryId id) {
    return EntryState(static_cast<size_t>(id));
}

// Binds one entry: target is its target word. Called only by the entry's
// binding routine, with every register of the caller saved.
extern "C" void BindHostEntry(uint32_t ordinal, void** target);

// Shows the missing-entry dialog until the user stops choosing Retry. True
// means Ignore: the entry gets a fallback.
bool ReportMissingEntry(uint32_t ordinal);

// The ZeroFallback member that the ordinal's last two digits name (r = 99 and
// r = 0: member 0; r a multiple of 4 up to 56: member r/4), or -1 for none.
int FallbackMember(uint32_t ordinal);
// That member's address, or null.
void* ChooseFallback(uint32_t ordinal);

// The member an entry really gets after Ignore: the digit rule's member when
// it removes exactly what a call of the entry leaves on the stack, otherwise
// the member that does; -1 where the digit rule gives none.
int EntryFallbackMember(const HostEntryDescriptor& entry);
