// The field diagnostics, the call trace and the comparison journal: their
// settings, from Quendrix.ini beside the plug-in, and their files.
//
//   [Trace]   Enabled=0|1  File=Quendrix-trace.txt  Record=0|1
//   [Journal] Enabled=0|1  File=Quendrix-journal.csv
//
// Record=1 with the trace on adds the recording to it (frame/call_recording.h).
//
// A file named without a folder lies beside Quendrix.dll. Read with the
// system's profile functions, never through the host; a missing or unreadable
// file leaves both off. Every path here is the system's Unicode path, taken
// from the module itself: a path that does not fit leaves the diagnostics
// off rather than look for a file elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/frame_state.h"  // kDiagnosticsPathSize

struct DiagnosticsSettings {
    bool trace;
    bool record;  // only with the trace
    bool journal;
    wchar_t trace_file[kDiagnosticsPathSize];    // "" when the trace is off
    wchar_t journal_file[kDiagnosticsPathSize];  // "" when the journal is off
};

// The settings of the file beside the plug-in's module (PluginModuleHandle).
DiagnosticsSettings ReadDiagnosticsSettings();

// Reads the settings and switches the trace and the journal accordingly. A
// trace file that cannot be written leaves the trace off.
void ApplyDiagnosticsSettings();

// Switches both off and closes their files: the host's stop, or a library
// freed without it.
void StopDiagnostics();

// The comparison journal's file, from a start whose settings switch it on to
// the stop. What a record holds is the journal's own (reconcile/).
bool JournalOn();
// Appends one record of the journal in one write, its first header_length
// bytes (the header row) only to a file still empty. False when the journal
// is off or the record could not be written whole.
bool AppendJournalRecord(const char* record, size_t length, size_t header_length);
