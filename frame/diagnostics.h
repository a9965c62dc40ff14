// The settings of the field diagnostics, from Quendrix.ini beside the plug-in:
//
//   [Trace]   Enabled=0|1  File=Quendrix-trace.txt
//   [Journal] Enabled=0|1  File=Quendrix-journal.csv
//
// A file named without a folder lies beside Quendrix.dll. Read with the
// system's profile functions, never through the host; a missing or unreadable
// file leaves both off.
#pragma once

#include <cstdint>

#include "frame/module_attach.h"

struct DiagnosticsSettings {
    bool trace;
    bool journal;
    char trace_file[kModulePathSize];    // "" when the trace is off
    char journal_file[kModulePathSize];  // "" when the journal is off
};

// The settings of the file beside the plug-in's module (PluginModulePath).
DiagnosticsSettings ReadDiagnosticsSettings();

// Reads the settings and switches the trace and the journal accordingly. A
// trace file that cannot be written leaves the trace off.
void ApplyDiagnosticsSettings();
