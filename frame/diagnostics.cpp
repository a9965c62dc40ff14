#include "frame/diagnostics.h"

#include <cstring>
#include <cwchar>

#include "frame/call_recording.h"
#include "frame/call_trace.h"
#include "frame/frame_state.h"
#include "frame/platform.h"

namespace {

constexpr const wchar_t* kSettingsFile = L"Quendrix.ini";

// The length of the folder part of a path, with its last separator.
size_t FolderLength(const wchar_t* path) {
    size_t folder = 0;
    for (size_t i = 0; path[i] != 0; ++i)
        if (path[i] == L'\\' || path[i] == L'/' || path[i] == L':')
            folder = i + 1;
    return folder;
}

// name in the module's folder when it has no folder of its own; false, with
// out empty, when the result would not fit.
bool Place(wchar_t* out, const wchar_t* module, const wchar_t* name) {
    const size_t folder = FolderLength(name) != 0 ? 0 : FolderLength(module);
    const size_t length = std::wcslen(name);
    out[0] = 0;
    if (folder + length >= kDiagnosticsPathSize)
        return false;
    std::memcpy(out, module, folder * sizeof(wchar_t));
    std::memcpy(out + folder, name, (length + 1) * sizeof(wchar_t));
    return true;
}

bool ReadSwitch(const wchar_t* ini, const wchar_t* module, const wchar_t* section,
                const wchar_t* fallback_name, wchar_t* file) {
    file[0] = 0;
    if (PlatformProfileNumber(ini, section, L"Enabled", 0) == 0)
        return false;
    wchar_t name[kDiagnosticsPathSize];
    PlatformProfileText(ini, section, L"File", fallback_name, name, kDiagnosticsPathSize);
    // A value that fills the buffer may have been cut short by the system:
    // the file would go under a name nobody looks for. It stays off instead.
    const size_t length = std::wcslen(name);
    if (length >= kDiagnosticsPathSize - 1)
        return false;
    return Place(file, module, length != 0 ? name : fallback_name);
}

}  // namespace

DiagnosticsSettings ReadDiagnosticsSettings() {
    DiagnosticsSettings settings = {};
    // Without the module's own folder the file cannot be found; the system
    // would look for a bare name in its own folder instead.
    wchar_t module[kDiagnosticsPathSize];
    wchar_t ini[kDiagnosticsPathSize];
    if (PlatformModuleFileNameW(Frame.PluginModuleHandle, module, kDiagnosticsPathSize) == 0 ||
        FolderLength(module) == 0 || !Place(ini, module, kSettingsFile))
        return settings;
    settings.trace = ReadSwitch(ini, module, L"Trace", L"Quendrix-trace.txt", settings.trace_file);
    settings.record = settings.trace && PlatformProfileNumber(ini, L"Trace", L"Record", 0) != 0;
    settings.journal =
        ReadSwitch(ini, module, L"Journal", L"Quendrix-journal.csv", settings.journal_file);
    return settings;
}

void ApplyDiagnosticsSettings() {
    const DiagnosticsSettings settings = ReadDiagnosticsSettings();
    if (settings.trace)
        StartCallTrace(settings.trace_file, settings.record);
    else
        StopCallTrace();
    RecordJournalSwitch(settings.journal);
    std::memcpy(Frame.JournalFile, settings.journal_file, sizeof Frame.JournalFile);
}

void StopDiagnostics() {
    StopCallTrace();
    Frame.JournalFile[0] = 0;
}

bool JournalOn() {
    return Frame.JournalFile[0] != 0;
}

bool AppendJournalRecord(const char* record, size_t length, size_t header_length) {
    if (!JournalOn() || header_length > length)
        return false;
    bool empty = false;
    void* file = PlatformOpenAppend(Frame.JournalFile, &empty);
    if (file == nullptr)
        return false;
    // A write that failed may have left part of a record, its last line not
    // ended (a full disk, say): the next record ends that line first, so that
    // its own rows stay whole and apart.
    bool written = empty || !Frame.JournalCut || PlatformAppend(file, "\r\n", 2);
    const size_t skip = empty ? 0 : header_length;
    written = written && PlatformAppend(file, record + skip, static_cast<uint32_t>(length - skip));
    Frame.JournalCut = !written;
    PlatformClose(file);
    return written;
}
