// The worlds' plug-in natively (tests/worlds/): the plug-in's portable core
// linked in, put back as loaded and attached afresh for every world, with
// the journal switched on or not by the settings the native door gives it;
// its files are the door's, in memory. Children are this program run again.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "frame/frame_state.h"
#include "frame/module_attach.h"
#include "frame/plugin_entry.h"
#include "fuzz/native/native_door.h"
#include "reconcile/reconcile_state.h"
#include "tests/worlds/world.h"

namespace worlds {

PluginEntries LoadWorldPlugin(bool journal) {
    ResetFrameState();
    ResetReconcileState();
    NativeSystemReset();
    if (journal)
        System().profile[L"Journal"][L"Enabled"] = L"1";
    QuendrixDllEntry(NativePluginModule(), kProcessAttach, nullptr);
    return {PluginStart, PluginInstall};
}

std::string UnloadWorldPlugin() {
    QuendrixDllEntry(NativePluginModule(), kProcessDetach, nullptr);
    std::string journal;
    for (const auto& [path, bytes] : System().files)
        journal += bytes;
    return journal;
}

void AdaptToThisHost(World& world) {
    // The stand-in plays no other stack or thread here (standin_system.cpp).
    world.variation.other_stack = 0;
    world.variation.write_long_jump = 0;
    world.variation.thread_reuse = 0;
}

std::string HostDateText(int32_t yyyymmdd) {
    char text[64] = {};
    HostFormatDate(text, &yyyymmdd);
    return text;
}

std::string TemporaryFile(const std::string& name) {
    const char* folder = getenv("TMPDIR");
    return std::string(folder != nullptr && *folder != 0 ? folder : "/tmp") + "/quendrix-" +
           std::to_string(getpid()) + "-" + name;
}

ChildRun RunChild(const std::vector<std::string>& arguments) {
    const std::string output = TemporaryFile("child.txt");
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        if (freopen(output.c_str(), "w", stdout) == nullptr || dup2(fileno(stdout), 2) < 0)
            _exit(127);
        std::vector<char*> argv = {const_cast<char*>("/proc/self/exe")};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::ifstream in(output, std::ios::binary);
    ChildRun run;
    run.output.assign(std::istreambuf_iterator<char>(in), {});
    std::remove(output.c_str());
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.crashed = run.exit_code != 0 && run.exit_code != kWorldFails;
    return run;
}

}  // namespace worlds
