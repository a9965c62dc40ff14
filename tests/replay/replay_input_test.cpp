// A recording is a file from outside: whatever it holds, the replay replays
// it or refuses it with the line to blame, and never harms the desk it runs
// on (no fault, no jump to where the file says, no write beyond what it
// holds). Two runs of the replay host, in this program's process:
//
// - every damaged recording ever found (damaged/, each naming on its first
//   line the exit code and the words the replay must end with), kept as a case;
// - a fuzz: the kept recordings changed by a mutator of a fixed seed, a few
//   seconds' worth in make test; QUENDRIX_REPLAY_FUZZ_SECONDS runs it longer
//   and QUENDRIX_REPLAY_FUZZ_SEED from another seed (README.md). A mutant the
//   replay mishandles is kept in the temporary folder, to be copied into
//   damaged/ with its expectation once it is mended.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "replayhost/replay_host.h"
#include "tests/support/child_process.h"

namespace {

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// The files of a folder of this source tree whose names end in .txt, in the
// order of their names.
std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".txt")
            files.push_back(folder + "\\" + entry.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string Here() {
    return QUENDRIX_REPLAY_TESTS;
}

// The plug-in the replay driver would take: Quendrix.dll in the folder above.
std::wstring Plugin() {
    return Wide(test_host::BesideProgram("..\\Quendrix.dll"));
}

struct Replayed {
    int outcome;
    std::string output;
};

Replayed Replay(const std::string& path) {
    std::vector<char> output(1 << 16);
    const int outcome = ReplayRecordingInto(Wide(path).c_str(), Plugin().c_str(), output.data(),
                                            static_cast<uint32_t>(output.size()));
    return {outcome, output.data()};
}

// What a replay may end with, whatever the recording: its outcome one of a
// recording's own, a damaged one with the line to blame.
std::string Mishandled(const Replayed& replayed) {
    switch (replayed.outcome) {
        case kReplayIdentical:
        case kReplayDiverged:
            return "";
        case kReplayDamaged:
            return replayed.output.find("line ") != std::string::npos ||
                           replayed.output.find("needs more memory") != std::string::npos ||
                           replayed.output.find("holds no recording") != std::string::npos
                       ? ""
                       : "damaged, without the line to blame";
        case kReplaySessionMissing:
            return replayed.output.find("cannot be carried over") != std::string::npos
                       ? ""
                       : "a missing session, not said";
        default:
            return "ended with " + std::to_string(replayed.outcome);
    }
}

TEST(ReplayInput, EveryDamagedRecordingFoundEndsWithItsCodeAndLine) {
    const std::vector<std::string> cases = Files(Here() + "\\damaged");
    ASSERT_FALSE(cases.empty());
    for (const std::string& path : cases) {
        SCOPED_TRACE(path);
        // The first line: "expect CODE: WORDS".
        const std::string bytes = test_host::ReadBytes(path);
        const std::string first = bytes.substr(0, bytes.find_first_of("\r\n"));
        ASSERT_EQ(first.rfind("expect ", 0), 0u) << "no expectation on the first line";
        const int code = std::atoi(first.c_str() + 7);
        const std::string words = first.substr(first.find(": ") + 2);
        const Replayed replayed = Replay(path);
        EXPECT_EQ(replayed.outcome, code) << replayed.output;
        EXPECT_NE(replayed.output.find(words), std::string::npos) << replayed.output;
        EXPECT_EQ(Mishandled(replayed), "") << replayed.output;
    }
}

TEST(ReplayInput, FaultOfTheReplayItselfIsSaidAsSuchNeverAsADivergence) {
    // The driver, made to fault in its own answer to the plug-in's first call.
    SetEnvironmentVariableA("QUENDRIX_REPLAY_OWN_FAULT", "1");
    const test_host::ChildResult run =
        test_host::RunProgram(test_host::BesideProgram("quendrix_replay.exe"),
                              {Here() + "\\recordings\\sample-story.txt"});
    SetEnvironmentVariableA("QUENDRIX_REPLAY_OWN_FAULT", nullptr);
    const uint32_t code = run.exit_code;
    const std::string& said = run.output;
    EXPECT_EQ(code, static_cast<uint32_t>(kReplayFault)) << said;
    EXPECT_NE(said.find("the replay itself failed"), std::string::npos) << said;
    EXPECT_EQ(said.find("divergence"), std::string::npos) << said;
}

// ------------------------------------------------------------------ the fuzz

uint32_t FromEnvironment(const char* name, uint32_t fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != 0 ? static_cast<uint32_t>(std::strtoul(value, nullptr, 10))
                                           : fallback;
}

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::istringstream in(bytes);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A word of the same shape as word, at an edge: 8 hex digits for 8, a slot
// of the same class, an offset or a decimal number at a limit of the format.
std::string Edge(const std::string& word, std::mt19937& random) {
    static const char* const hex[] = {"00000000", "FFFFFFFF", "7FFFFFFF", "80000000",
                                      "00001000", "00FFFFFF", "01000000", "FFFFFFFC"};
    static const char* const decimal[] = {"0",    "1",     "3",        "4",        "4096",
                                          "4097", "65536", "16777216", "16777217", "4294967295"};
    const auto pick = [&](const auto& list) {
        return std::string(list[random() % std::size(list)]);
    };
    const bool is_hex = word.find_first_not_of("0123456789ABCDEF") == std::string::npos;
    if (word.size() == 8 && is_hex)
        return pick(hex);
    if (word.size() == 9 && std::strchr("=-*&!", word[0]) != nullptr)
        return std::string(1, "=-*&!"[random() % 5]) + pick(hex);
    if (!word.empty() && word[0] == '+')
        return "+" + pick(decimal);
    if (word.find_first_not_of("0123456789") == std::string::npos)
        return pick(decimal);
    // A run of bytes: longer or shorter.
    return random() % 2 == 0 ? word + word : word.substr(0, word.size() / 4 * 2);
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string joined;
    for (const std::string& line : lines)
        joined += line + "\n";
    return joined;
}

// Changes a recording in one to four places: most often a word made one of
// the same shape at an edge (an address, a slot, a size, an offset at a
// limit of the format), so that the recording still reads and the replay
// goes on with it; or a line dropped, doubled or moved; now and then a
// character changed, a line cut, the file cut anywhere.
std::string Mutate(const std::string& bytes, std::mt19937& random) {
    std::vector<std::string> lines = Lines(bytes);
    if (lines.empty())
        return bytes;
    const auto any = [&](size_t n) { return static_cast<size_t>(random() % n); };
    const int changes = 1 + static_cast<int>(any(4));
    for (int c = 0; c < changes && !lines.empty(); ++c) {
        const size_t at = any(lines.size());
        std::string& line = lines[at];
        const size_t how = any(16);
        if (how < 9) {
            std::vector<size_t> starts;
            for (size_t i = 1; i < line.size(); ++i)
                if (line[i] != ' ' && line[i - 1] == ' ')
                    starts.push_back(i);
            if (line.empty() || line[0] != '@' || starts.empty())
                continue;
            const size_t start = starts[any(starts.size())];
            size_t end = line.find(' ', start);
            end = end == std::string::npos ? line.size() : end;
            line.replace(start, end - start, Edge(line.substr(start, end - start), random));
        } else if (how == 9) {
            lines.erase(lines.begin() + static_cast<ptrdiff_t>(at));
        } else if (how == 10) {
            lines.insert(lines.begin() + static_cast<ptrdiff_t>(at), line);
        } else if (how == 11) {
            std::swap(line, lines[any(lines.size())]);
        } else if (how == 12) {
            lines.insert(lines.begin() + static_cast<ptrdiff_t>(any(lines.size())), line);
        } else if (how == 13 && !line.empty()) {
            line[any(line.size())] = "0123456789ABCDEF@+*&!=- rZ"[any(26)];
        } else if (how == 14 && !line.empty()) {
            line.resize(any(line.size()));
        } else if (how == 15) {
            const std::string joined = Joined(lines);
            return joined.substr(0, any(joined.size() + 1));
        }
    }
    return Joined(lines);
}

TEST(ReplayInput, MutatedRecordingsAreReplayedOrRefusedWithTheLineToBlame) {
    std::vector<std::string> seeds;
    for (const char* folder : {"\\recordings", "\\damaged"})
        for (const std::string& path : Files(Here() + folder))
            seeds.push_back(test_host::ReadBytes(path));
    ASSERT_FALSE(seeds.empty());
    const uint32_t seconds = FromEnvironment("QUENDRIX_REPLAY_FUZZ_SECONDS", 4);
    std::mt19937 random(FromEnvironment("QUENDRIX_REPLAY_FUZZ_SEED", 25));
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    const std::string mutant_path = std::string(folder) + "quendrix-replay-mutant-" +
                                    std::to_string(GetCurrentProcessId()) + ".txt";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int mutants = 0, kept = 0;
    int outcomes[8] = {};
    while (std::chrono::steady_clock::now() < until) {
        const std::string mutant = Mutate(seeds[random() % seeds.size()], random);
        test_host::WriteBytes(mutant_path, mutant);
        const Replayed replayed = Replay(mutant_path);
        ++mutants;
        ++outcomes[replayed.outcome >= 0 && replayed.outcome < 8 ? replayed.outcome : 7];
        const std::string wrong = Mishandled(replayed);
        if (!wrong.empty()) {
            const std::string keep = std::string(folder) + "quendrix-replay-mishandled-" +
                                     std::to_string(++kept) + ".txt";
            test_host::WriteBytes(keep, mutant);
            ADD_FAILURE() << wrong << ": kept as " << keep << "\n" << replayed.output;
        }
    }
    DeleteFileA(mutant_path.c_str());
    std::printf("%d mutants: %d identical, %d diverged, %d damaged, %d sessions missing\n", mutants,
                outcomes[kReplayIdentical], outcomes[kReplayDiverged], outcomes[kReplayDamaged],
                outcomes[kReplaySessionMissing]);
    EXPECT_GT(mutants, 0);
}

}  // namespace
