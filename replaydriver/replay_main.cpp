// quendrix_replay.exe [--plugin PATH] RECORDING...: replays each recording of
// the call trace against the plug-in (by default Quendrix.dll in the folder
// above this program's) in the replay host, VELDAN.dll beside this program.
// Exit code: 0 when every recording replays identical, 1 at a divergence,
// 2 when a recording cannot be read, breaks a rule of its format or breaks
// off, 3 when the plug-in cannot be loaded, 4 for a wrong command line, 5
// when a session continues a load whose earlier sessions the file lacks, 6
// for a fault of the replay itself.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "replayhost/replay_host.h"

namespace {

// A name as UTF-8, whole whatever letters it has: the C runtime's %ls would
// write it in the system's ANSI code page, which lacks most Polish letters.
std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(),
                            size, nullptr, nullptr);
    return utf8;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring plugin = program;
    plugin.resize(plugin.rfind(L'\\'));
    plugin.resize(plugin.rfind(L'\\') + 1);
    plugin += L"Quendrix.dll";
    std::vector<std::wstring> recordings;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--plugin" && i + 1 < argc) {
            plugin = argv[++i];
        } else if (argument.rfind(L"--", 0) == 0) {
            recordings.clear();
            break;
        } else {
            recordings.push_back(argument);
        }
    }
    if (recordings.empty()) {
        std::printf("usage: quendrix_replay [--plugin PATH] RECORDING...\n");
        return 4;
    }
    int worst = kReplayIdentical;
    for (const std::wstring& recording : recordings) {
        std::printf("%s\n", Utf8(recording).c_str());
        const int outcome = ReplayRecording(recording.c_str(), plugin.c_str());
        std::printf("%s\n", outcome == kReplayIdentical ? "identical" : "not identical");
        if (outcome > worst)
            worst = outcome;
    }
    return worst;
}
