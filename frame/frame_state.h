// The frame's process-wide state, all of it in one object.
//
// A reader finds every variable of the frame here; a test that links the
// plug-in's code puts all of it back as loaded with one call. The object is
// constant-initialised, so it is valid before the C runtime's initialisation,
// when the attach step runs. The host calls the plug-in on one thread at a
// time; the call trace is the exception, and its words that several threads
// share are read and written atomically (frame/call_trace.cpp).
//
// Two pieces live elsewhere because something else fixes their place: each
// host entry's target word and what the trace took from it (frame/host_entries.S,
// where the entries' stubs reach them), which ResetFrameState resets too; and
// the stack canary (frame/stack_guard.cpp, under the compiler's own name),
// which no reset may change while a protected function runs.
#pragma once

#include <cstdint>

#include "frame/call_trace.h"
#include "frame/compatibility.h"
#include "frame/diagnostics.h"
#include "frame/host_binding.h"
#include "frame/module_attach.h"

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

    // The diagnostics (frame/diagnostics.cpp): the journal's file from a
    // start that switches it on to the stop, "" while it is off; whether a
    // record was not written whole, so that the next begins a line of its own.
    wchar_t JournalFile[kDiagnosticsPathSize] = {};
    bool JournalCut = false;

    // The call trace (frame/call_trace.cpp): its file, from a start with the
    // trace on to the stop or the library's free; each thread's open calls.
    CallTraceState Trace = {};
};

extern constinit FrameState Frame;

// The frame as the system loads it: nothing attached, every entry unbound,
// no test failed, the trace (its file closed) and the journal off. For tests
// that link the plug-in's code; the plug-in itself never calls it.
void ResetFrameState();
