// The call trace: every call between the host and the plug-in, one line at the
// call and one at its return, in a text file (UTF-8) for the support team.
//
// Calls into the host are traced by pointing the entries' target words at
// per-entry trace thunks (frame/host_entries.S); switched off, the target words
// hold what they held before, and a bound call is one indirect jump again.
// Calls from the host into the plug-in are traced by the entries themselves
// and by traced twins of the hooks, the menu handler and the row callback,
// handed to the host in their place while the trace is on. Nothing here calls
// the host, and nothing reads memory whose size is unknown without checking
// that it is readable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_records.h"

// Opens (appends to) the trace file and switches the trace on; its first line
// names the plug-in and its version. False, with the trace off, when the file
// cannot be written. Already on: true, the file kept.
bool StartCallTrace(const char* path);
// Switches the trace off and closes its file. Also done by a failed write.
void StopCallTrace();
bool CallTraceOn();

// The calls of the host into the plug-in.
enum class IncomingCall : uint8_t {
    kStart,
    kInstall,
    kIdle,
    kHeaderHook,
    kLineHook,
    kMenuCommand,
    kRowText,
};

// Writes the call's line; returns its sequence number, 0 while the trace is
// off. args holds the call's 32-bit argument slots.
uint32_t TraceIncomingCall(IncomingCall call, const uint32_t* args);
// Writes the return's line (nothing for sequence 0) and returns result.
int32_t TraceIncomingReturn(IncomingCall call, uint32_t sequence, int32_t result,
                            const uint32_t* args);

// What the plug-in hands the host as its hook, menu handler and row callback:
// the function itself while the trace is off, its traced twin while it is on.
TableEventHook HookAsHanded(TableEventHook hook);
MenuCommandHandler HandlerAsHanded(MenuCommandHandler handler);
ListRowCallback RowCallbackAsHanded(ListRowCallback callback);

// The lines, as the trace writes them (without the line end), for the tests:
// the call of host entry index with its argument slots, and its return.
size_t FormatHostCall(char* line, size_t size, size_t index, const uint32_t* args);
size_t FormatHostReturn(char* line, size_t size, size_t index, uint32_t eax);

// Called by the trace thunks: the call's line (returns how many bytes of
// arguments to hand on), and the return's line.
extern "C" uint32_t HostTraceEnter(uint32_t index, const uint32_t* args);
extern "C" void HostTraceLeave(uint32_t index, uint32_t eax, uint32_t edx);

// Defined in host_entries.S: each entry's trace thunk, and what its target
// word held before the thunk took its place.
extern "C" {
extern void* const HostEntryTraceThunks[];
extern void* HostEntryTraced[];
}
