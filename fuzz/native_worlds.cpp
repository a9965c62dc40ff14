// Generated worlds natively on the plug-in's portable core under the
// sanitizers: the runner of tests/worlds/ (--batch S N in make test, --seed
// S --runs N and --world FILE for longer runs and kept cases).
#include <string>
#include <vector>

#include "tests/worlds/world.h"

int main(int argc, char** argv) {
    return worlds::RunnerMain(std::vector<std::string>(argv + 1, argv + argc));
}
