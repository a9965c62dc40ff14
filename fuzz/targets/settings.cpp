// What the plug-in makes of its settings file, Quendrix.ini: the strings the
// system's profile functions hand it (and the module's own path), however
// long, odd or cut off, give diagnostics paths that end within their
// buffers, a trace whose text is well-formed UTF-8, and never a fault.
//
// The input, one value a line: the module's path, then [Trace] Enabled,
// File and Record, then [Journal] Enabled and File, each as UTF-8 (any bytes;
// a line beyond the input is a key the file lacks). The plug-in is then
// attached, started and stopped as the host does it.
#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "documentfile/text_codec.h"
#include "frame/call_trace.h"
#include "frame/diagnostics.h"
#include "frame/frame_state.h"
#include "frame/module_attach.h"
#include "frame/plugin_entry.h"
#include "fuzz/native/native_door.h"
#include "fuzz/targets/fuzz_check.h"
#include "standin/veldan_control.h"

namespace {

bool Ends(const wchar_t* path) {
    return wmemchr(path, 0, kDiagnosticsPathSize) != nullptr;
}

SystemText FolderOf(const SystemText& path) {
    const size_t last = path.find_last_of(L"\\/:");
    return last == SystemText::npos ? SystemText() : path.substr(0, last + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<SystemText> values;
    const std::string input(reinterpret_cast<const char*>(data), size);
    for (size_t at = 0; at <= input.size() && values.size() < 6;) {
        const size_t end = std::min(input.find('\n', at), input.size());
        // The system's texts end at their first zero.
        const SystemText value = SystemTextFromUtf8(input.substr(at, end - at));
        values.push_back(value.substr(0, value.find(L'\0')));
        at = end + 1;
    }
    ResetFrameState();
    NativeSystemReset();
    VsReset();
    NativeSystem& system = System();
    system.module_path = values[0];
    static const wchar_t* const kKeys[][2] = {{L"Trace", L"Enabled"},
                                              {L"Trace", L"File"},
                                              {L"Trace", L"Record"},
                                              {L"Journal", L"Enabled"},
                                              {L"Journal", L"File"}};
    for (size_t i = 1; i < values.size(); ++i)
        system.profile[kKeys[i - 1][0]][kKeys[i - 1][1]] = values[i];

    QuendrixDllEntry(NativePluginModule(), kProcessAttach, nullptr);
    const DiagnosticsSettings settings = ReadDiagnosticsSettings();
    Require(Ends(settings.trace_file) && Ends(settings.journal_file),
            "every diagnostics path ends within its buffer");
    Require(settings.trace == (settings.trace_file[0] != 0) &&
                settings.journal == (settings.journal_file[0] != 0) &&
                (!settings.record || settings.trace),
            "a diagnostic is on exactly when it has a file, the recording only with the trace");
    if (settings.trace || settings.journal)
        Require(system.profile_path == FolderOf(system.module_path) + L"Quendrix.ini",
                "the settings are read from the file beside the module");

    int context = 0;
    char feature_text[64];
    PluginStart(&context, feature_text);
    Require(CallTraceOn() == settings.trace && JournalOn() == settings.journal,
            "the start switches on what the settings name");
    PluginStart(nullptr, nullptr);
    Require(!CallTraceOn() && !JournalOn(), "the stop switches both off");
    for (const auto& [path, text] : system.files)
        Require(document_file::BadUtf8(text) == std::string::npos,
                "the trace is well-formed UTF-8");
    return 0;
}
