// Worlds made from a fuzzer's input rather than a seed (tests/worlds/): every
// choice the generator makes reads the input's next bytes, so that libFuzzer
// steers towards worlds that reach code the others did not. Each world is
// played through the plug-in's core on the stand-in and checked against the
// model; a finding ends the run as a crash would.
#include <cstdio>

#include "fuzz/targets/fuzz_check.h"
#include "tests/worlds/world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    worlds::Dice dice(data, size);
    const worlds::World world = worlds::Generate(dice);
    const std::vector<std::string> findings = worlds::RunWorld(world);
    if (!findings.empty()) {
        fprintf(stderr, "%s", worlds::WorldText(world).c_str());
        for (const std::string& finding : findings)
            fprintf(stderr, "  %s\n", finding.c_str());
    }
    Require(findings.empty(), "the world's host holds what the model says");
    return 0;
}
