// veldan_host: the stand-in host program. Loads VELDAN.dll (imported) and
// the plug-in Quendrix.dll (by ordinals), and plays the host's part.
#include <string>
#include <vector>

#include "hostapp/session.h"
#include "hostapp/system.h"

namespace {

int Run() {
    const std::vector<std::string> arguments = hostapp::CommandLineArguments();
    hostapp::Options options;
    std::string error;
    if (!hostapp::ParseOptions(arguments, options, error)) {
        hostapp::Err("veldan_host: " + error + " (opis opcji: tools/veldan-host.sh --help)\n");
        return hostapp::kExitUsage;
    }
    if (options.help) {
        hostapp::Out(hostapp::Usage());
        return hostapp::kExitDone;
    }
    return hostapp::RunHost(options);
}

}  // namespace

int main() {
    hostapp::InitTerminal();
    hostapp::ReportCrashes(hostapp::kExitCrashed);
    const int code = Run();
    hostapp::ReportExit(code);
    return code;
}
