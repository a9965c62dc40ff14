#include "frame/diagnostics.h"

#include <cstdio>
#include <cstring>

#include "frame/call_trace.h"
#include "frame/platform.h"
#include "reconcile/comparison_journal.h"

namespace {

constexpr const char* kSettingsFile = "Quendrix.ini";

// The length of the folder part of a path, with its last separator.
size_t FolderLength(const char* path) {
    size_t folder = 0;
    for (size_t i = 0; path[i] != 0; ++i)
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':')
            folder = i + 1;
    return folder;
}

// name beside the plug-in when it has no folder of its own; false when the
// result would not fit.
bool Place(char* out, const char* name) {
    out[0] = 0;
    const size_t folder = FolderLength(name) != 0 ? 0 : FolderLength(PluginModulePath);
    const int length = std::snprintf(out, kModulePathSize, "%.*s%s", static_cast<int>(folder),
                                     PluginModulePath, name);
    if (length <= 0 || static_cast<size_t>(length) >= kModulePathSize) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool ReadSwitch(const char* ini, const char* section, const char* fallback_name, char* file) {
    file[0] = 0;
    if (PlatformProfileNumber(ini, section, "Enabled", 0) == 0)
        return false;
    char name[kModulePathSize];
    PlatformProfileText(ini, section, "File", fallback_name, name, sizeof name);
    // A value that fills the buffer may have been cut short by the system:
    // the file would go under a name nobody looks for. It stays off instead.
    if (std::strlen(name) >= sizeof name - 1)
        return false;
    if (name[0] == 0)
        std::snprintf(name, sizeof name, "%s", fallback_name);
    return Place(file, name);
}

}  // namespace

DiagnosticsSettings ReadDiagnosticsSettings() {
    DiagnosticsSettings settings = {};
    // Without the module's own folder the file cannot be found; the system
    // would look for a bare name in its own folder instead.
    char ini[kModulePathSize];
    if (FolderLength(PluginModulePath) == 0 || !Place(ini, kSettingsFile))
        return settings;
    settings.trace = ReadSwitch(ini, "Trace", "Quendrix-trace.txt", settings.trace_file);
    settings.journal = ReadSwitch(ini, "Journal", "Quendrix-journal.csv", settings.journal_file);
    return settings;
}

void ApplyDiagnosticsSettings() {
    const DiagnosticsSettings settings = ReadDiagnosticsSettings();
    if (settings.trace)
        StartCallTrace(settings.trace_file);
    else
        StopCallTrace();
    SetJournalFile(settings.journal ? settings.journal_file : nullptr);
}
