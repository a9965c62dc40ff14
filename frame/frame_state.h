// The frame's process-wide state, all of it in one object.
//
// Each module of the frame keeps its state in a type of its own, declared in
// its own header with what it means and how long it lives, and reaches it
// there by the module's name for it (Attach, Binding, Compatibility,
// Diagnostics, TraceFile, Trace, Recording); this object holds them all, so
// that a reader finds every variable of the frame from here and a test that
// links the plug-in's code puts all of it back as loaded with one call. Only
// this file and the tests see the modules' types together. The object is
// constant-initialised, so it is valid before the C runtime's initialisation,
// when the attach step runs. The host calls the plug-in on one thread at a
// time; the call trace is the exception, and its words that several threads
// share are read and written atomically (frame/trace_file.cpp,
// frame/call_trace.cpp).
//
// Two pieces live elsewhere because something else fixes their place: each
// host entry's target word and what the trace took from it
// (frame/host_entries.S, where the entries' stubs reach them), which
// ResetFrameState resets too; and the stack canary (frame/stack_guard.cpp,
// under the compiler's own name), which no reset may change while a
// protected function runs. The table of system calls
// (frame/platform_win32.cpp) holds only what tests put there.
#pragma once

#include "frame/call_recording.h"
#include "frame/call_trace.h"
#include "frame/compatibility.h"
#include "frame/diagnostics.h"
#include "frame/host_binding.h"
#include "frame/module_attach.h"
#include "frame/trace_file.h"

// The parts, each a module's state (its type, declared in the module's
// header, and the module's name for it): X(type, name).
#define FRAME_STATE_PARTS(X)                                 \
    X(AttachState, Attach)               /* module_attach */ \
    X(BindingState, Binding)             /* host_binding */  \
    X(CompatibilityState, Compatibility) /* compatibility */ \
    X(DiagnosticsState, Diagnostics)     /* diagnostics */   \
    X(TraceFileState, TraceFile)         /* trace_file */    \
    X(CallTraceState, Trace)             /* call_trace */    \
    X(RecordingState, Recording)         /* call_recording */

struct FrameState {
#define FRAME_STATE_MEMBER(type, name) type name = {};
    FRAME_STATE_PARTS(FRAME_STATE_MEMBER)
#undef FRAME_STATE_MEMBER
};

extern constinit FrameState Frame;

// The frame as the system loads it: nothing attached, every entry unbound,
// no test failed, the trace (its file closed) and the journal off. For tests
// that link the plug-in's code; the plug-in itself never calls it.
void ResetFrameState();
