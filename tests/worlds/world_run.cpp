// Running worlds: many from a seed, one from its text; a failing world
// shrunk to the smallest that still fails, and printed as a kept case's text.
//
// A long run plays its worlds in children, a batch each, so that a world that
// ends its process (a strict-mode fault, a sanitizer's report) ends only its
// batch: the parent names the world, shrinks it in further children and goes
// on with the next one.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/worlds/world.h"

namespace worlds {

// The settings file the stand-in keeps "Pytaj" in, written with the
// standard library on either build.
std::string SettingsPath() {
    // Removed when the process ends.
    static const struct Settings {
        std::string path = TemporaryFile("worlds.ini");
        ~Settings() { std::remove(path.c_str()); }
    } settings;
    return settings.path;
}

void WriteSettings(const std::string& path, const std::string& bytes) {
    if (bytes.empty())
        std::remove(path.c_str());
    else
        std::ofstream(path, std::ios::binary) << bytes;
}

namespace {

// ------------------------------------------------------------------ shrinking

// The worlds one step simpler than world: an act, a header, a line or an
// entry less, a switch off, a value made plain.
std::vector<World> Simpler(const World& world) {
    std::vector<World> simpler;
    const auto with = [&](auto change) {
        World w = world;
        change(w);
        simpler.push_back(w);
    };
    if (world.fault.act >= 0)
        with([](World& w) { w.fault = WorldFault{}; });
    if (world.journal)
        with([](World& w) { w.journal = false; });
    static const VsVariation kNone{};
    if (memcmp(&world.variation, &kNone, sizeof kNone) != 0)
        with([](World& w) { w.variation = VsVariation{}; });
    if (world.pytaj != 1)
        with([](World& w) { w.pytaj = 1; });
    for (size_t k = 0; k < world.acts.size(); ++k) {
        with([&](World& w) {
            w.acts.erase(w.acts.begin() + static_cast<long>(k));
            if (w.fault.act > static_cast<int>(k))
                --w.fault.act;
            else if (w.fault.act == static_cast<int>(k))
                w.fault = WorldFault{};
        });
        const Act& act = world.acts[k];
        if (act.gone >= 0)
            with([&](World& w) { w.acts[k].gone = -1; });
        for (size_t e = 0; e < act.selection.size(); ++e) {
            with([&](World& w) {
                auto& selection = w.acts[k].selection;
                selection.erase(selection.begin() + static_cast<long>(e));
            });
            if (!act.selection[e].remarks.empty())
                with([&](World& w) {
                    w.acts[k].selection[e].remarks.resize(act.selection[e].remarks.size() / 2);
                });
        }
    }
    for (size_t h = 0; h < world.headers.size(); ++h) {
        bool named = false;
        for (const Act& act : world.acts)
            named |= act.document == static_cast<int>(h) || act.gone == static_cast<int>(h);
        if (!named)
            with([&](World& w) {
                w.headers.erase(w.headers.begin() + static_cast<long>(h));
                for (Act& act : w.acts) {
                    act.document -= act.document > static_cast<int>(h) ? 1 : 0;
                    act.gone = act.gone == static_cast<int>(h)  ? -1
                               : act.gone > static_cast<int>(h) ? act.gone - 1
                                                                : act.gone;
                }
            });
        const WorldHeader& header = world.headers[h];
        if (!header.remarks.empty())
            with([&](World& w) { w.headers[h].remarks.resize(header.remarks.size() / 2); });
        if (!header.number.empty() && header.number.size() > 4)
            with([&](World& w) { w.headers[h].number.resize(4); });
        if (header.gross != 0)
            with([&](World& w) { w.headers[h].gross = 0; });
        for (size_t i = 0; i < header.lines.size(); ++i) {
            with([&](World& w) {
                w.headers[h].lines.erase(w.headers[h].lines.begin() + static_cast<long>(i));
            });
            const WorldLine& line = header.lines[i];
            if (line.text.size() > 1)
                with([&](World& w) { w.headers[h].lines[i].text.resize(line.text.size() / 2); });
            if (line.quantity % 1000 != 0 || line.quantity > 100000 || line.quantity < -100000)
                with([&](World& w) {
                    w.headers[h].lines[i].quantity = line.quantity / 1000 % 100 * 1000;
                });
        }
    }
    return simpler;
}

}  // namespace

World Shrink(const World& world, const std::function<bool(const World&)>& fails) {
    World smallest = world;
    for (bool smaller = true; smaller;) {
        smaller = false;
        for (const World& candidate : Simpler(smallest)) {
            if (fails(candidate)) {
                smallest = candidate;
                smaller = true;
                break;
            }
        }
    }
    return smallest;
}

namespace {

void Report(const World& world, const std::vector<std::string>& findings) {
    printf("world %llu fails:\n", static_cast<unsigned long long>(world.seed));
    for (const std::string& finding : findings)
        printf("  %s\n", finding.c_str());
}

// Shrinks a world that failed in this process, and prints the smallest.
void ShrinkAndPrint(const World& world, const std::vector<std::string>& findings) {
    Report(world, findings);
    const std::string kind = KindOf(findings.front());
    const World smallest = Shrink(world, [&](const World& candidate) {
        for (const std::string& finding : RunWorld(candidate))
            if (KindOf(finding) == kind)
                return true;
        return false;
    });
    printf("the smallest world that still fails so (keep it in tests/worlds/cases/):\n%s",
           WorldText(smallest).c_str());
    for (const std::string& finding : RunWorld(smallest))
        printf("  %s\n", finding.c_str());
    fflush(stdout);
}

bool CrashesInAChild(const World& world) {
    const std::string file = TemporaryFile("world-trial.txt");
    std::ofstream(file, std::ios::binary) << WorldText(world);
    const ChildRun run = RunChild({"--play", file});
    std::remove(file.c_str());
    return run.crashed;
}

int Batch(uint64_t seed, uint64_t count) {
    int failed = 0;
    for (uint64_t i = 0; i < count; ++i) {
        // Should the world end the process, the parent finds its seed here.
        fprintf(stderr, "world %llu\n", static_cast<unsigned long long>(seed + i));
        const World world = Generate(seed + i);
        const std::vector<std::string> findings = RunWorld(world);
        if (!findings.empty()) {
            ShrinkAndPrint(world, findings);
            ++failed;
        }
    }
    printf("batch failed %d\n", failed);
    return failed == 0 ? 0 : kWorldFails;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs count worlds from seed on (world i from seed + i), a batch a child,
// printing the rate after each batch.
int RunSeeds(uint64_t seed, uint64_t count) {
    constexpr uint64_t kBatch = 20000;
    const auto started = std::chrono::steady_clock::now();
    uint64_t failed = 0;
    for (uint64_t done = 0; done < count;) {
        const uint64_t batch = std::min(kBatch, count - done);
        const ChildRun run =
            RunChild({"--batch", std::to_string(seed + done), std::to_string(batch)});
        uint64_t next = done + batch;
        if (run.crashed) {
            // The last world the batch began is the one that ended it.
            const size_t at = run.output.rfind("world ");
            const uint64_t crashed = strtoull(run.output.c_str() + at + 6, nullptr, 10);
            printf("world %llu ends its process:\n%s\n", static_cast<unsigned long long>(crashed),
                   run.output.substr(run.output.find('\n', at) + 1).c_str());
            const World smallest = Shrink(Generate(crashed), CrashesInAChild);
            printf("the smallest world that still does (keep it in tests/worlds/cases/):\n%s",
                   WorldText(smallest).c_str());
            ++failed;
            next = crashed - seed + 1;
        } else if (run.exit_code != 0) {
            std::istringstream lines(run.output);
            for (std::string line; std::getline(lines, line);)
                if (line.rfind("world ", 0) != 0 || line.find("fails") != std::string::npos)
                    printf("%s\n", line.c_str());
            failed += 1;
        }
        done = next;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        printf("%llu worlds from seed %llu in %.1f s, %.0f worlds a second, %llu failed\n",
               static_cast<unsigned long long>(done), static_cast<unsigned long long>(seed),
               seconds, done / seconds, static_cast<unsigned long long>(failed));
        fflush(stdout);
    }
    return failed == 0 ? 0 : 1;
}

int RunText(const std::string& text, const std::string& name) {
    World world;
    std::string why;
    if (!ReadWorld(text, world, why)) {
        printf("%s: %s\n", name.c_str(), why.c_str());
        return 2;
    }
    const std::vector<std::string> findings = RunWorld(world);
    if (findings.empty())
        return 0;
    printf("%s:\n", name.c_str());
    ShrinkAndPrint(world, findings);
    return 1;
}

}  // namespace

int RunnerMain(const std::vector<std::string>& arguments) {
    const auto number = [&](size_t i) {
        return i < arguments.size() ? strtoull(arguments[i].c_str(), nullptr, 0) : 0ull;
    };
    const std::string first = arguments.empty() ? "" : arguments[0];
    if (first == "--batch") {
        setvbuf(stderr, nullptr, _IONBF, 0);
        return Batch(number(1), number(2));
    }
    if (first == "--play") {
        World world;
        std::string why;
        return ReadWorld(ReadFile(arguments.at(1)), world, why) && RunWorld(world).empty()
                   ? 0
                   : kWorldFails;
    }
    if (first == "--seed") {
        const uint64_t runs = arguments.size() > 3 && arguments[2] == "--runs" ? number(3) : 1;
        if (runs == 1) {  // one world, here, with its text
            const World world = Generate(number(1));
            printf("%s", WorldText(world).c_str());
            const std::vector<std::string> findings = RunWorld(world);
            if (!findings.empty())
                ShrinkAndPrint(world, findings);
            printf("%s\n", findings.empty() ? "passes" : "fails");
            return findings.empty() ? 0 : 1;
        }
        return RunSeeds(number(1), runs);
    }
    if (first == "--world") {
        int status = 0;
        for (size_t i = 1; i < arguments.size(); ++i) {
            std::vector<std::string> files;
            if (std::filesystem::is_directory(arguments[i])) {
                for (const auto& entry : std::filesystem::directory_iterator(arguments[i]))
                    files.push_back(entry.path().string());
            } else {
                files.push_back(arguments[i]);
            }
            for (const std::string& file : files) {
                const int result = RunText(ReadFile(file), file);
                printf("%s: %s\n", file.c_str(), result == 0 ? "passes" : "fails");
                status = std::max(status, result);
            }
        }
        return status;
    }
    printf("usage: --seed S [--runs N] | --world FILE_OR_FOLDER...\n");
    return 2;
}

}  // namespace worlds
