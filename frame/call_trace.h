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
// names the plug-in, its version and its module's path. False, with the trace
// off, when the file cannot be written. Already on: true, the file kept.
//
// Any thread may make traced calls: sequence numbers are unique in the file,
// each thread has its own depth, and every line is written whole in one
// write, one thread's at a time.
bool StartCallTrace(const wchar_t* path);
// Switches the trace off and closes its file, once no thread writes to it
// any more. Also done by a failed write.
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

// Called by the trace thunks with every register of the caller kept. Enter:
// the call's line; return_slot is where the caller's return address lies,
// its arguments above it. Unless the call cannot be recorded, the return
// address is kept and the slot made to return through HostEntryTraceReturn.
// Returns the operation to continue into, with the caller's stack. Leave
// (from HostEntryTraceReturn, with the operation's result registers and
// where its stack ends after the return): the return's line; returns where
// the caller continues.
extern "C" void* HostTraceEnter(uint32_t index, void** return_slot);
extern "C" void* HostTraceLeave(uint32_t eax, uint32_t edx, uintptr_t stack_after);

// Defined in host_entries.S: each entry's trace thunk, what its target word
// held before the thunk took its place, and the return path of traced calls.
extern "C" {
extern void* const HostEntryTraceThunks[];
extern void* HostEntryTraced[];
void HostEntryTraceReturn();
}
