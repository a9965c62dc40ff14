// One run of the host program: the document file checked and loaded, its
// folder checked for writing, the plug-in loaded, started and installed; then
// the steps named on the command line, the interactive menu or the story; the
// plug-in stopped and unloaded, the file saved where it changed. With none of
// the three the documents are only listed.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "hostapp/commands.h"

namespace hostapp {

struct Options {
    std::string data;     // empty: the bundled sample, not saved
    std::string plugin;   // empty: Quendrix.dll beside the program
    std::string profile;  // empty: the host's settings file beside VELDAN.dll
    // Non-empty: the plug-in is copied there from beside the program and runs
    // from there, with its Quendrix.ini, trace and journal; the host's
    // settings file is kept there too unless profile names one.
    std::string session;
    bool interactive = false;
    bool story = false;                             // the sample story (make demo)
    std::vector<Step> steps;                        // in the order given
    int interface_version = 0;                      // 0: the host's own
    std::vector<std::pair<int, int>> record_sizes;  // table, size
    bool help = false;
};

// Exit codes.
inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitDataFile = 2;
inline constexpr int kExitPluginModule = 3;
inline constexpr int kExitRefused = 4;
inline constexpr int kExitNotSaved = 5;    // also: the file's folder cannot be written
inline constexpr int kExitCancelled = 6;   // the input ended in the menu; nothing saved
inline constexpr int kExitStepFailed = 7;  // a step did not come out as asked; nothing saved
// 8: tools/veldan-host.sh, when the session ended without the program finishing.
inline constexpr int kExitCrashed = 9;  // a crash in the program's process; nothing saved

// False with a reason for a wrong command line.
bool ParseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error);
std::string Usage();

int RunHost(const Options& options);

}  // namespace hostapp
