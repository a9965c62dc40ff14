// The settings of the field diagnostics, from Quendrix.ini beside the plug-in:
//
//   [Trace]   Enabled=0|1  File=Quendrix-trace.txt
//   [Journal] Enabled=0|1  File=Quendrix-journal.csv
//
// A file named without a folder lies beside Quendrix.dll. Read with the
// system's profile functions, never through the host; a missing or unreadable
// file leaves both off. Every path here is the system's Unicode path, taken
// from the module itself: a path that does not fit leaves the diagnostics
// off rather than look for a file elsewhere.
#pragma once

#include <cstdint>

// The longest path of a diagnostics file, with its terminator.
inline constexpr uint32_t kDiagnosticsPathSize = 300;

struct DiagnosticsSettings {
    bool trace;
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
