// Child processes of the running test program: this same executable started
// again with chosen arguments, for runs that must begin with a fresh plug-in
// or may end their process. Files read and written whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test_host {

struct ChildResult {
    uint32_t exit_code = 0;
    std::string output;  // standard output and error together
};

// The exit code of a child that could not be started.
inline constexpr uint32_t kChildNotStarted = 0xFFFFFFFF;

// One argument quoted for the system's command-line splitting, where it needs it.
std::string QuotedArgument(const std::string& argument);

// Runs this program once per argument list, a few at a time, and waits for all.
std::vector<ChildResult> RunChildren(const std::vector<std::vector<std::string>>& argument_lists);
ChildResult RunChildProcess(const std::vector<std::string>& arguments);
// Runs another program with arguments and waits for it.
ChildResult RunProgram(const std::string& program, const std::vector<std::string>& arguments);

// Whether this process was started with the argument role: the child side of
// a test that runs its own program again, with role among the arguments.
bool IsChildRun(const std::string& role);

// For a child run that must end cleanly: from now on a processor fault
// anywhere in the process ends it at once with the fault's code as exit code,
// also a fault while the process ends, in a library's detach step, which the
// system's loader under Wine would otherwise swallow.
void EndProcessOnAnyFault();

// The path of a file beside this program, in the tests' folder (build/testbed).
std::string BesideProgram(const std::string& name);

// A file's bytes ("" when it cannot be read), and a file made of bytes.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

}  // namespace test_host
