// veldan_host: the stand-in host program. Loads VELDAN.dll (imported) and
// the plug-in Quendrix.dll (by ordinals), and plays the host's part.
#include <string>
#include <vector>

#include "hostapp/session.h"
#include "hostapp/system.h"

int main() {
    hostapp::InitTerminal();
    const std::vector<std::string> arguments = hostapp::CommandLineArguments();
    hostapp::Options options;
    std::string error;
    if (!hostapp::ParseOptions(arguments, options, error)) {
        hostapp::Err("veldan_host: " + error + "\n\n" + hostapp::Usage());
        return hostapp::kExitUsage;
    }
    if (options.help) {
        hostapp::Out(hostapp::Usage());
        return hostapp::kExitDone;
    }
    return hostapp::RunHost(options);
}
