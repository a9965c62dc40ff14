// Generated worlds against the model, through Quendrix.dll on the stand-in
// host in strict mode: a fixed number of worlds from a fixed seed, and every
// kept case (tests/worlds/cases/). The same program runs longer runs, one
// world from its seed or a kept case (tools/worlds.sh, README.md).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/worlds/world.h"

namespace {

// How many worlds make test plays, from which seed.
constexpr uint64_t kSeed = 1;
constexpr uint64_t kWorlds = 800;

TEST(Worlds, GeneratedWorldsMatchTheModel) {
    for (uint64_t i = 0; i < kWorlds; ++i) {
        // Should a world end the process, the output names it.
        fprintf(stderr, "world %llu\n", static_cast<unsigned long long>(kSeed + i));
        const worlds::World world = worlds::Generate(kSeed + i);
        const std::vector<std::string> findings = worlds::RunWorld(world);
        ASSERT_TRUE(findings.empty()) << "world " << kSeed + i << ":\n"
                                      << findings.front() << "\n"
                                      << "make worlds SEED=" << kSeed + i << " shrinks it";
    }
}

TEST(Worlds, KeptCasesMatchTheModel) {
    int cases = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QUENDRIX_WORLD_CASES)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        worlds::World world;
        std::string why;
        ASSERT_TRUE(worlds::ReadWorld(text, world, why)) << entry.path() << ": " << why;
        const std::vector<std::string> findings = worlds::RunWorld(world);
        EXPECT_TRUE(findings.empty()) << entry.path() << ":\n" << findings.front();
        ++cases;
    }
    EXPECT_GT(cases, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && strncmp(argv[1], "--gtest", 7) != 0) {
        setvbuf(stdout, nullptr, _IONBF, 0);
        return worlds::RunnerMain(std::vector<std::string>(argv + 1, argv + argc));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
