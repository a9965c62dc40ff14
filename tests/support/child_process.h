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

// A file's bytes ("" when it cannot be read), and a file made of bytes.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

}  // namespace test_host
