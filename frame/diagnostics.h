// The field diagnostics, the call trace and the comparison journal: their
// settings, from Quendrix.ini beside the plug-in, and their files.
//
//   [Trace]   Enabled=0|1  File=Quendrix-trace.txt  Record=0|1
//   [Journal] Enabled=0|1  File=Quendrix-journal.csv
//
// Record=1 with the trace on adds the recording to it (frame/call_recording.h).
//
// A file named by a relative path (a bare name, or one with folders such as
// ..\journal.csv) is taken from Quendrix.dll's folder, never from the host's
// current one, and may not be the plug-in's own module or settings file.
// Read with the system's profile functions, never through the host; a
// missing or unreadable file leaves both off. Every path here is the
// system's Unicode path, taken from the module itself: a path that does not
// fit leaves the diagnostics off rather than look for a file elsewhere. A
// diagnostic switched on that cannot use its file stays off, and the install
// says so, once (ShowUnopenedDiagnostics).
#pragma once

#include <cstddef>
#include <cstdint>

// The longest path of a diagnostics file, with its terminator.
inline constexpr uint32_t kDiagnosticsPathSize = 300;

// ------------------------------------------------------------------ its state
// One part of the frame's state (frame/frame_state.h). The journal's file from
// a start that switches it on to the stop, "" while it is off; whether a
// record was not written whole, so that the next begins a line of its own. A
// diagnostic that the start switched on but whose file could not be opened
// or may not be used: its path as far as it is known, from the start until
// its install names it, "" for none. (The trace's file is the trace's,
// frame/trace_file.h.)
struct DiagnosticsState {
    wchar_t JournalFile[kDiagnosticsPathSize] = {};
    bool JournalCut = false;
    wchar_t UnopenedTrace[kDiagnosticsPathSize] = {};
    wchar_t UnopenedJournal[kDiagnosticsPathSize] = {};
};
extern DiagnosticsState& Diagnostics;

struct DiagnosticsSettings {
    bool trace;
    bool record;  // only with the trace
    bool journal;
    wchar_t trace_file[kDiagnosticsPathSize];    // "" when the trace is off
    wchar_t journal_file[kDiagnosticsPathSize];  // "" when the journal is off
    // Switched on with a file it may not use (its path does not fit, names a
    // stream, the module or the settings file): that file's path as far as it
    // is known, the diagnostic off; "" otherwise.
    wchar_t refused_trace[kDiagnosticsPathSize];
    wchar_t refused_journal[kDiagnosticsPathSize];
};

// The settings of the file beside the plug-in's module (PluginModuleHandle).
DiagnosticsSettings ReadDiagnosticsSettings();

// Reads the settings and switches the trace and the journal accordingly. A
// file that cannot be opened, or may not be used, leaves its diagnostic off
// and is kept for ShowUnopenedDiagnostics.
void ApplyDiagnosticsSettings();
// Names the files of the last start's diagnostics that were switched on but
// stay off, in one message, once; nothing when there are none. The install
// calls it after what it shows itself.
void ShowUnopenedDiagnostics();

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
