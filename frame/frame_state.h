// The frame's process-wide state, all of it in one object.
//
// A reader finds every variable of the frame here; a test that links the
// plug-in's code puts all of it back as loaded with one call. The object is
// constant-initialised, so it is valid before the C runtime's initialisation,
// when the attach step runs. The host calls the plug-in on one thread at a
// time; the call trace is the exception, and its words that several threads
// share are read and written atomically (frame/call_trace.cpp).
//
// The types of the state are declared here too, so that this file stands
// below the modules that keep their state in it. Two pieces live elsewhere
// because something else fixes their place: each host entry's target word
// and what the trace took from it (frame/host_entries.S, where the entries'
// stubs reach them), which ResetFrameState resets too; and the stack canary
// (frame/stack_guard.cpp, under the compiler's own name), which no reset may
// change while a protected function runs. The table of system calls
// (frame/platform_win32.cpp) holds only what tests put there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/text_builder.h"
#include "host/host_memory.h"  // BlockKind
#include "host/host_operations.h"
#include "host/host_records.h"
#include "host/recording_format.h"  // kRecordedRegions

// ------------------------------------------------------------------ the state's types

// The longest module path the attach step keeps, with its terminator.
inline constexpr uint32_t kModulePathSize = 300;
// The longest path of a diagnostics file, with its terminator.
inline constexpr uint32_t kDiagnosticsPathSize = 300;

// One record-size test of one host table (frame/compatibility.h). The actual
// size and the label are filled once, by the first test that fills them, and
// stay as they were.
struct RecordSizeCheck {
    int32_t expected;       // the size the plug-in is built for
    int32_t actual;         // the host's size; 0 when the table could not be opened
    const char* label;      // the table's name in the report; null until filled
    RecordSizeCheck* next;  // the following failed test in CompatibilityList
};

// The host entries, one per host operation (frame/host_binding.h), and what
// each entry's target word holds.
#define FRAME_COUNT_ENTRY(name, ordinal, convention, bytes, result, params) +1
inline constexpr size_t kHostEntryCount = 0 HOST_OPERATIONS(FRAME_COUNT_ENTRY);
#undef FRAME_COUNT_ENTRY

enum class HostEntryState : uint8_t {
    kUnbound,   // its binding routine
    kBinding,   // the first call is being bound right now
    kHost,      // the host function
    kFallback,  // a ZeroFallback member, after Ignore
    kEmpty,     // nothing: its calls are abandoned through the fitting
                // ZeroFallback member and return 0
};

// Defined in host_entries.S, where the entries' stubs reach them: the target
// words of all entries, contiguous and writable; each entry's binding
// routine, its target word's initial value; and what a target word held
// before the call trace put its thunk there.
extern "C" {
extern void* HostEntryTargets[];
extern void* const HostEntryBinders[];
extern void* HostEntryTraced[];
}

// The call trace's (frame/call_trace.h). The traced calls still running on
// each stack, innermost last, are in a slot of the stack's own that only the
// thread running on it changes; a call is marked by its place on the stack. A
// slot is a stack's, not a thread's: a host may run fibers, each on a stack
// of its own, on one thread, or move one to another thread, and a thread's
// identifier may go to a new thread once the old one has ended.
inline constexpr int kTraceStacks = 32;
inline constexpr int kTraceNesting = kRecordedNesting;

// Which way a call goes: the host into the plug-in, the plug-in into a host
// operation, or into a function of the host's it found in host memory.
enum class CallKind : uint8_t { kIncoming, kHostOperation, kHostFunction };

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
    void* file;              // while the trace is on
    uint32_t writing;        // the thread writing a line (0: none); the others wait
    uint32_t last_sequence;  // sequence numbers, unique over the file's threads
    StackCalls stacks[kTraceStacks];
};

// The recording of the call trace (frame/call_recording.cpp): the host's
// memory the plug-in has been handed, each block with its bytes as last
// recorded while the plug-in may read it, and the plug-in's buffers handed
// over, each with its bytes as last recorded. docs/trace-format.md.
struct RecordedBlock {
    uint32_t address;
    uint32_t size;  // 0 for a token or code
    BlockKind kind;
    bool fresh;           // watched since this boundary: its bytes are the host's
    bool root;            // watched for itself, not only as reached from another block
    uint16_t fetched_by;  // a root that the next result of this operation (index + 1) replaces
    uint32_t owner;       // a root: the call into the plug-in whose return ends it (0: none)
    uint32_t count;       // an array: the entries the plug-in may read
    uint32_t visited;     // the walk that last reached it
    // Its bytes as last recorded (size bytes) while it is watched, recorded at
    // every boundary; null for a block not watched.
    uint8_t* copy;
};

// Kept under the address its slot recorded, and whether it lies behind the
// first word there (the value HostProfileValue reads into).
struct RecordedRegion {
    uint32_t address;  // 0: none
    bool through_first_word;
    uint32_t size;
    uint8_t* bytes;
};

// A call still running, as the recording keeps it: its sequence number and,
// for a call of the host, its argument slots (the callee may have taken them
// off the stack by its return) and the host blocks it gives back.
struct RecordedCall {
    uint32_t sequence;
    CallKind kind;
    uint32_t args[kMostSlots];
    uint32_t given_back[4];
};

struct RecordingState {
    bool on;
    uint32_t turn;  // the thread recording a boundary (0: none); the others wait
    RecordedBlock* blocks;
    uint32_t block_count;
    uint32_t block_capacity;
    uint32_t walk;
    RecordedRegion regions[kRecordedRegions];
    RecordedCall calls[kTraceNesting];  // innermost last
    int call_depth;
    uintptr_t image_start;  // the plug-in's module, where its functions lie
    uintptr_t image_end;
    // The lines of the boundary being recorded, in the C runtime's heap.
    TextBuilder text = TextBuilder::Growing(65536);
    bool short_of_memory;
};

// ------------------------------------------------------------------ the state

struct FrameState {
    // The attach step (frame/module_attach.cpp): set at process attach, never
    // cleared.
    void* PluginModuleHandle = nullptr;
    char PluginModulePath[kModulePathSize] = {};  // always zero-terminated
    void* HostLibraryHandle = nullptr;

    // The binding layer (frame/host_binding.cpp): what each entry's target
    // word holds, bound on first call and never unbound; set by the first
    // Ignore in the missing-entry dialog and never cleared.
    HostEntryState EntryStates[kHostEntryCount] = {};
    bool IgnoreAllMissing = false;

    // The compatibility checks (frame/compatibility.cpp): the start's two
    // tests, and every failed test of the process; the list only grows.
    RecordSizeCheck StartHeaderCheck = {kHeaderRecordSize, 0, nullptr, nullptr};
    RecordSizeCheck StartLineCheck = {kLineRecordSize, 0, nullptr, nullptr};
    RecordSizeCheck* CompatibilityList = nullptr;

    // The lifecycle (frame/plugin_entry.cpp): the starts of this load of the
    // plug-in (entry 30001 with a context), and a mark of the load taken when
    // the recording first names it; the recording names each session by both.
    uint32_t Starts = 0;
    uint64_t LoadMark = 0;

    // The diagnostics (frame/diagnostics.cpp): the journal's file from a
    // start that switches it on to the stop, "" while it is off; whether a
    // record was not written whole, so that the next begins a line of its own.
    wchar_t JournalFile[kDiagnosticsPathSize] = {};
    bool JournalCut = false;
    // A diagnostic that the start switched on but whose file could not be
    // opened or may not be used: its path as far as it is known, from the
    // start until its install names it, "" for none.
    wchar_t UnopenedTrace[kDiagnosticsPathSize] = {};
    wchar_t UnopenedJournal[kDiagnosticsPathSize] = {};

    // The call trace (frame/call_trace.cpp): its file, from a start with the
    // trace on to the stop or the library's free; each stack's open calls.
    CallTraceState Trace = {};

    // The recording (frame/call_recording.cpp): from a start with the trace
    // and the recording on to the stop; its memory is the C runtime's heap.
    RecordingState Recording = {};
};

extern constinit FrameState Frame;

// The frame as the system loads it: nothing attached, every entry unbound,
// no test failed, the trace (its file closed) and the journal off. For tests
// that link the plug-in's code; the plug-in itself never calls it.
void ResetFrameState();
