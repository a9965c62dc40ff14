// The lazy binding of host operations by ordinal.
//
// Every host operation in host/host_operations.h has a HostEntry: a forwarding
// stub under the operation's own name (see host/host_api.h), a target word and
// a binding routine, all in host_entries.S. The target word first holds the
// binding routine; the first call binds the entry (BindHostEntry) and every
// later call goes from the stub straight to the bound target through one
// indirect jump. The tables below are generated from the same list, in the same
// order, so index i means the same entry everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/frame_state.h"
#include "host/host_api.h"
#include "host/host_operations.h"

enum class HostConvention : uint8_t { kStdcall, kCdecl };

struct HostEntryDescriptor {
    const char* name;
    uint16_t ordinal;
    HostConvention convention;
    uint8_t argument_bytes;  // the fixed arguments only, for a cdecl entry
};

#define HOST_ENTRY_CONVENTION_STDCALL HostConvention::kStdcall
#define HOST_ENTRY_CONVENTION_CDECL HostConvention::kCdecl
#define HOST_ENTRY_DESCRIBE(name, ordinal, convention, bytes, result, params) \
    {#name, ordinal, HOST_ENTRY_CONVENTION_##convention, bytes},
inline constexpr HostEntryDescriptor kHostEntries[] = {HOST_OPERATIONS(HOST_ENTRY_DESCRIBE)};
#undef HOST_ENTRY_DESCRIBE
static_assert(sizeof(kHostEntries) / sizeof(kHostEntries[0]) == kHostEntryCount);

// The index of each operation's entry: HostEntryId::HostConvertText and so on.
#define HOST_ENTRY_ID(name, ordinal, convention, bytes, result, params) name,
enum class HostEntryId : uint16_t { HOST_OPERATIONS(HOST_ENTRY_ID) };
#undef HOST_ENTRY_ID

// The 15 members of ZeroFallback: member 0 leaves the arguments to the
// caller, member n removes n four-byte arguments. They serve both an entry
// given a fallback and an Empty entry, whose calls are abandoned with a 0
// result; EntryState tells the two apart.
inline constexpr int kZeroFallbackMembers = 15;
inline constexpr uint32_t kLargestFallbackBytes = 4 * (kZeroFallbackMembers - 1);

constexpr bool EntryHasFittingMember(const HostEntryDescriptor& entry) {
    return entry.argument_bytes % 4 == 0 && entry.argument_bytes <= kLargestFallbackBytes;
}
static_assert(
    [] {
        for (const auto& entry : kHostEntries)
            if (!EntryHasFittingMember(entry))
                return false;
        return true;
    }(),
    "every host entry needs a return routine that removes exactly its arguments");

// Defined in host_entries.S (the target words, HostEntryTargets, and each
// entry's binding routine, HostEntryBinders, are declared with the frame's
// state, frame/frame_state.h).
extern "C" {
// The number of entries the assembly generated (equals kHostEntryCount).
extern const uint32_t HostEntryCountInAssembly;
// Functions that do nothing and return 0; see kZeroFallbackMembers.
extern void* const ZeroFallback[kZeroFallbackMembers];
}

// What an entry's target word holds (HostEntryState, frame/frame_state.h).
HostEntryState EntryState(size_t index);
inline HostEntryState EntryState(HostEntryId id) {
    return EntryState(static_cast<size_t>(id));
}

// IgnoreAllMissing, set by the first Ignore in the missing-entry dialog and
// never cleared, and each entry's state are in Frame (frame/frame_state.h).

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

// The member whose return removes exactly the entry's arguments.
constexpr int FittingMember(const HostEntryDescriptor& entry) {
    return entry.convention == HostConvention::kCdecl ? 0 : entry.argument_bytes / 4;
}
