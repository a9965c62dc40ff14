// The call trace: every call between the host and the plug-in, one line at the
// call and one at its return, in a text file (UTF-8) for the support team.
//
// Calls into the host are traced by pointing the entries' target words at
// per-entry trace thunks (frame/host_entries.S); switched off, the target words
// hold what they held before, and a bound call is one indirect jump again.
// Calls from the host into the plug-in are traced by the entry points
// themselves and by traced twins of the functions the plug-in hands the host
// (AS_HANDED below), handed over in their place while the trace is on. Each
// call is shown as its declared type says. The trace knows nothing of what
// the plug-in does: what it shows comes from the types in host/ and from the
// descriptions its callers give. Its only call of the host is the binding of
// an entry that is first called while the trace is on; nothing reads memory
// whose size is unknown without checking that it is readable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/call_description.h"
#include "host/host_records.h"
#include "host/mazovia_text.h"
#include "host/recording_format.h"  // kRecordedNesting

// ------------------------------------------------------------------ its state
// One part of the frame's state (frame/frame_state.h). The traced calls still
// running on each stack, innermost last, are in a slot of the stack's own
// that only the thread running on it changes; a call is marked by its place
// on the stack. A slot is a stack's, not a thread's: a host may run fibers,
// each on a stack of its own, on one thread, or move one to another thread,
// and a thread's identifier may go to a new thread once the old one has
// ended. The file the lines go to is the trace file's (frame/trace_file.h).
inline constexpr int kTraceStacks = 32;
inline constexpr int kTraceNesting = kRecordedNesting;

struct OpenCall {
    uintptr_t mark;  // the call's place on the stack
    uint32_t sequence;
    uint32_t index;        // the host entry's index, for a call of the host
    void* return_address;  // for a call of a host operation: where its caller continues
    CallKind kind;
};

struct StackCalls {
    uintptr_t stack;  // the base of the stack the calls are on; 0: the slot is free
    int depth;
    OpenCall open[kTraceNesting];
};

struct CallTraceState {
    uint32_t last_sequence = 0;  // sequence numbers, unique over the file's threads
    StackCalls stacks[kTraceStacks] = {};
    // The starts of this load of the plug-in (entry 30001 with a context),
    // and a mark of the load taken when the recording first names it: the
    // recording names each session by both. From the load to the unload.
    uint32_t starts = 0;
    uint64_t load_mark = 0;
};
extern CallTraceState& Trace;

// Opens (appends to) the trace file and switches the trace on; its first line
// names the plug-in, its version and its module's path. With record, the
// recording (frame/call_recording.h) is switched on too, and its version
// line comes first. False, with the trace off, when the file cannot be
// written. Already on: true, the file and the recording kept as they are.
//
// Any thread may make traced calls: sequence numbers are unique in the file,
// each thread has its own depth, and every line is written whole in one
// write, one thread's at a time.
bool StartCallTrace(const wchar_t* path, bool record = false);
// A start of the plug-in (entry 30001 with a context), counted whether the
// trace is on or not.
void CountStart();
// Switches the trace off and closes its file, once no thread writes to it
// any more. Also done by a failed write.
void StopCallTrace();
bool CallTraceOn();

// Writes the call's line; returns its sequence number, 0 while the trace is
// off. args holds the call's 32-bit argument slots; their place on the stack
// marks the call. target: the function called, for one handed to the host
// or a host function.
uint32_t TraceIncomingCall(const IncomingCall& call, const uint32_t* args,
                           const void* target = nullptr);
// Writes the return's line (nothing for sequence 0) and returns result. When
// handed is an argument's index, that argument is a buffer the call filled
// for the host: its text (at most handed_size bytes) follows the result.
int32_t TraceIncomingReturn(const IncomingCall& call, uint32_t sequence, int32_t result,
                            const uint32_t* args, int handed = -1, uint32_t handed_size = 0);

// ------------------------------------------------------------------ traced twins
// Whatever function the plug-in hands the host (a hook, a menu handler, a row
// callback) is handed as AS_HANDED(function): the function itself while the
// trace is off, its traced twin while it is on. The twin is made from the
// function's callback type, as host/host_records.h declares it in
// HOST_CALLBACKS, and named after the function; nothing else is written for it.

// A function's name as a template argument: a mazovia::Utf8Literal, named so
// and not through an alias template, whose arguments not every compiler
// deduces (clang 14 does not).
template <auto Function, mazovia::Utf8Literal Name>
struct TracedTwin;
template <typename... Slots, int32_t(HOST_STDCALL* Function)(Slots...), mazovia::Utf8Literal Name>
struct TracedTwin<Function, Name> {
    using Declaration = CallbackDeclaration<decltype(Function)>;
    static constexpr IncomingCall kCall = DescribeIncoming(
        Name.bytes, 0, Declaration::shape, Declaration::parameters, Declaration::reach);

    static int32_t HOST_STDCALL Call(Slots... slots) {
        static_assert(sizeof...(Slots) > 0);
        const uint32_t args[] = {static_cast<uint32_t>(slots)...};
        const uint32_t sequence = TraceIncomingCall(kCall, args, reinterpret_cast<void*>(&Call));
        return TraceIncomingReturn(kCall, sequence, Function(slots...), args);
    }
};

template <auto Function, mazovia::Utf8Literal Name>
decltype(Function) AsHanded() {
    return CallTraceOn() ? TracedTwin<Function, Name>::Call : Function;
}

#define AS_HANDED(function) (AsHanded<function, #function>())

// A function of the host's that the plug-in found in host memory (the hook a
// table held before ours) is called as CallHost(function, arguments...):
// while the trace is on, its call and return are traced and recorded like
// those of a host operation; off, it is called directly.
template <typename Callback>
struct HostFunctionCall {
    using Declaration = CallbackDeclaration<Callback>;
    static constexpr IncomingCall kCall =
        DescribeIncoming(Declaration::type, 0, Declaration::shape, Declaration::parameters,
                         Declaration::reach, CallKind::kHostFunction);
};

template <typename Callback, typename... Slots>
int32_t CallHost(Callback function, Slots... slots) {
    if (!CallTraceOn())
        return function(slots...);
    const IncomingCall& call = HostFunctionCall<Callback>::kCall;
    const uint32_t args[] = {static_cast<uint32_t>(slots)...};
    const uint32_t sequence = TraceIncomingCall(call, args, reinterpret_cast<void*>(function));
    return TraceIncomingReturn(call, sequence, function(slots...), args);
}

// A thread ends: the calls it has open on its stack are left, and its slot
// goes (the module's thread-detach notification).
void EndCallsOfEndingThread();

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
