// quendrix_replay.exe [--plugin PATH] RECORDING...: replays each recording of
// the call trace against the plug-in (by default Quendrix.dll in the folder
// above this program's) in the replay host, VELDAN.dll beside this program.
// Exit code: 0 when every recording replays identical, 1 at a divergence,
// 2 when a recording cannot be read, 3 when the plug-in cannot be loaded,
// 4 for a wrong command line.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "replayhost/replay_host.h"

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
        std::printf("%ls\n", recording.c_str());
        const int outcome = ReplayRecording(recording.c_str(), plugin.c_str());
        std::printf("%s\n", outcome == kReplayIdentical ? "identical" : "not identical");
        if (outcome > worst)
            worst = outcome;
    }
    return worst;
}
