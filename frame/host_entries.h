// The host entries: for every host operation in host/host_operations.h a
// forwarding stub under the operation's own name (see host/host_api.h), a
// target word and a binding routine, all in host_entries.S, and the table
// that describes them. The target word first holds the binding routine; the
// first call binds the entry (frame/host_binding.h) and every later call goes
// from the stub straight to the bound target through one indirect jump. The
// tables here are generated from the same list, in the same order, so index
// i means the same entry everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

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
inline constexpr size_t kHostEntryCount = sizeof(kHostEntries) / sizeof(kHostEntries[0]);

// The index of each operation's entry: HostEntryId::HostConvertText and so on.
#define HOST_ENTRY_ID(name, ordinal, convention, bytes, result, params) name,
enum class HostEntryId : uint16_t { HOST_OPERATIONS(HOST_ENTRY_ID) };
#undef HOST_ENTRY_ID

// The 15 members of ZeroFallback: member 0 leaves the arguments to the
// caller, member n removes n four-byte arguments. They serve both an entry
// given a fallback and an Empty entry, whose calls are abandoned with a 0
// result (frame/host_binding.h tells the two apart).
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

// The member whose return removes exactly the entry's arguments.
constexpr int FittingMember(const HostEntryDescriptor& entry) {
    return entry.convention == HostConvention::kCdecl ? 0 : entry.argument_bytes / 4;
}

// Defined in host_entries.S, where the entries' stubs reach them.
extern "C" {
// The target words of all entries, contiguous and writable; each entry's
// binding routine, its target word's initial value; and what a target word
// held before the call trace put its thunk there (frame/call_trace.h).
extern void* HostEntryTargets[];
extern void* const HostEntryBinders[];
extern void* HostEntryTraced[];
// Each entry's trace thunk and the return path of traced calls.
extern void* const HostEntryTraceThunks[];
void HostEntryTraceReturn();
// The number of entries the assembly generated (equals kHostEntryCount).
extern const uint32_t HostEntryCountInAssembly;
// Functions that do nothing and return 0; see kZeroFallbackMembers.
extern void* const ZeroFallback[kZeroFallbackMembers];
}
