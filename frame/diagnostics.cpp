#include "frame/diagnostics.h"

#include <cstring>
#include <cwchar>

#include "frame/call_recording.h"
#include "frame/call_trace.h"
#include "frame/module_attach.h"
#include "frame/platform.h"
#include "frame/plugin_messages.h"
#include "frame/text_builder.h"

namespace {

constexpr const wchar_t* kSettingsFile = L"Quendrix.ini";

bool Separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The length of the folder part of a path, with its last separator.
size_t FolderLength(const wchar_t* path) {
    size_t folder = 0;
    for (size_t i = 0; path[i] != 0; ++i)
        if (Separator(path[i]) || path[i] == L':')
            folder = i + 1;
    return folder;
}

// A path copied whole, or as much of it as fits: only ever to be named.
void CopyPath(wchar_t* out, const wchar_t* path) {
    size_t i = 0;
    for (; i + 1 < kDiagnosticsPathSize && path[i] != 0; ++i)
        out[i] = path[i];
    out[i] = 0;
}

// name in the module's folder unless it starts at a drive's root (C:\) or
// on a network share (\\server): a bare name as much as one with folders of
// its own (..\journal.csv), wherever the host's current folder is. False,
// with out empty, when the result would not fit.
bool Place(wchar_t* out, const wchar_t* module, const wchar_t* name) {
    const bool rooted = (name[0] != 0 && name[1] == L':' && Separator(name[2])) ||
                        (Separator(name[0]) && Separator(name[1]));
    const size_t folder = rooted ? 0 : FolderLength(module);
    const size_t length = std::wcslen(name);
    out[0] = 0;
    if (folder + length >= kDiagnosticsPathSize)
        return false;
    std::memcpy(out, module, folder * sizeof(wchar_t));
    std::memcpy(out + folder, name, (length + 1) * sizeof(wchar_t));
    return true;
}

// Whether a diagnostic may write to a file of this full path: not into
// another stream of a file (a colon past the drive's, x.txt:s, as the
// system reads it), and never into the plug-in's own module or settings.
bool MayUse(const wchar_t* file, const wchar_t* module, const wchar_t* ini) {
    // The drive's colon comes second, after a \\?\ or \\.\ prefix if any.
    const bool prefixed = Separator(file[0]) && Separator(file[1]) &&
                          (file[2] == L'?' || file[2] == L'.') && Separator(file[3]);
    const size_t drive = prefixed ? 5 : 1;
    for (size_t i = 0; file[i] != 0; ++i)
        if (file[i] == L':' && i != drive)
            return false;
    return !PlatformSamePath(file, module) && !PlatformSamePath(file, ini);
}

// The file of section's diagnostic, made full; false when the diagnostic is
// off (file "") or is on with a file it may not use (file: that file's path
// as far as it is known).
bool NamedFile(const wchar_t* ini, const wchar_t* module, const wchar_t* section,
               const wchar_t* fallback_name, wchar_t* file) {
    file[0] = 0;
    if (PlatformProfileNumber(ini, section, L"Enabled", 0) == 0)
        return false;
    wchar_t name[kDiagnosticsPathSize];
    PlatformProfileText(ini, section, L"File", fallback_name, name, kDiagnosticsPathSize);
    CopyPath(file, name[0] != 0 ? name : fallback_name);
    // A value that fills the buffer may have been cut short by the system:
    // the file would go under a name nobody looks for. It stays off instead.
    wchar_t placed[kDiagnosticsPathSize];
    if (std::wcslen(file) >= kDiagnosticsPathSize - 1 || !Place(placed, module, file))
        return false;
    if (PlatformFullPath(placed, file, kDiagnosticsPathSize) == 0) {
        CopyPath(file, placed);
        return false;
    }
    return MayUse(file, module, ini);
}

// Whether section's diagnostic is on with a file it may use, in file; a file
// it may not use goes to refused.
bool ReadSwitch(const wchar_t* ini, const wchar_t* module, const wchar_t* section,
                const wchar_t* fallback_name, wchar_t* file, wchar_t* refused) {
    const bool on = NamedFile(ini, module, section, fallback_name, file);
    CopyPath(refused, on ? L"" : file);
    if (!on)
        file[0] = 0;
    return on;
}

}  // namespace

DiagnosticsSettings ReadDiagnosticsSettings() {
    DiagnosticsSettings settings = {};
    // Without the module's own folder the file cannot be found; the system
    // would look for a bare name in its own folder instead.
    wchar_t module[kDiagnosticsPathSize];
    wchar_t ini[kDiagnosticsPathSize];
    if (PlatformModuleFileNameW(Attach.PluginModuleHandle, module, kDiagnosticsPathSize) == 0 ||
        FolderLength(module) == 0 || !Place(ini, module, kSettingsFile))
        return settings;
    settings.trace = ReadSwitch(ini, module, L"Trace", L"Quendrix-trace.txt", settings.trace_file,
                                settings.refused_trace);
    settings.record = settings.trace && PlatformProfileNumber(ini, L"Trace", L"Record", 0) != 0;
    settings.journal = ReadSwitch(ini, module, L"Journal", L"Quendrix-journal.csv",
                                  settings.journal_file, settings.refused_journal);
    return settings;
}

void ApplyDiagnosticsSettings() {
    const DiagnosticsSettings settings = ReadDiagnosticsSettings();
    bool trace = false;
    if (settings.trace)
        trace = StartCallTrace(settings.trace_file, settings.record);
    else
        StopCallTrace();
    // The journal opens its file for each record; whether it can is tried
    // now (making the file), so that the install can say it cannot.
    bool journal = false;
    if (settings.journal) {
        void* const file = PlatformOpenAppend(settings.journal_file, nullptr);
        journal = file != nullptr;
        PlatformClose(file);
    }
    RecordJournalSwitch(journal);
    CopyPath(Diagnostics.JournalFile, journal ? settings.journal_file : L"");
    CopyPath(Diagnostics.UnopenedTrace,
             settings.trace && !trace ? settings.trace_file : settings.refused_trace);
    CopyPath(Diagnostics.UnopenedJournal,
             settings.journal && !journal ? settings.journal_file : settings.refused_journal);
    RecordUnopenedJournal(Diagnostics.UnopenedJournal);
}

void ShowUnopenedDiagnostics() {
    if (Diagnostics.UnopenedTrace[0] == 0 && Diagnostics.UnopenedJournal[0] == 0)
        return;
    // Each path on a line of its own, in the host's code page; a file named
    // for both, once.
    char paths[2 * kDiagnosticsPathSize];
    TextBuilder list(paths, sizeof paths);
    AddUtf16AsMazovia(list, Diagnostics.UnopenedTrace);
    if (Diagnostics.UnopenedJournal[0] != 0 &&
        !PlatformSamePath(Diagnostics.UnopenedTrace, Diagnostics.UnopenedJournal)) {
        if (list.length != 0)
            list.AddByte('\n');
        AddUtf16AsMazovia(list, Diagnostics.UnopenedJournal);
    }
    Diagnostics.UnopenedTrace[0] = Diagnostics.UnopenedJournal[0] = 0;
    ShowFilledMessage<MessageId::kDiagnosticsFileUnopened, sizeof paths>(
        static_cast<const char*>(paths));
}

void StopDiagnostics() {
    StopCallTrace();
    Diagnostics.JournalFile[0] = 0;
}

bool JournalOn() {
    return Diagnostics.JournalFile[0] != 0;
}

bool AppendJournalRecord(const char* record, size_t length, size_t header_length) {
    if (!JournalOn() || header_length > length)
        return false;
    bool empty = false;
    void* file = PlatformOpenAppend(Diagnostics.JournalFile, &empty);
    if (file == nullptr)
        return false;
    // A write that failed may have left part of a record, its last line not
    // ended (a full disk, say): the next record ends that line first, so that
    // its own rows stay whole and apart.
    bool written = empty || !Diagnostics.JournalCut || PlatformAppend(file, "\r\n", 2);
    const size_t skip = empty ? 0 : header_length;
    written = written && PlatformAppend(file, record + skip, static_cast<uint32_t>(length - skip));
    Diagnostics.JournalCut = !written;
    PlatformClose(file);
    return written;
}
