// Runs veldan_host.exe (beside the test) as a person would: in a process of
// its own, with standard input from a text and its output captured.
#pragma once

#include <string>
#include <vector>

#include "tests/support/child_process.h"

struct HostRun {
    unsigned long exit_code = 0;
    std::string out, err;
};

// Arguments in UTF-8; they reach the program whole (as UTF-16).
HostRun RunHostProgram(const std::vector<std::string>& arguments, const std::string& input = "");

// The folder of the test and the program, with a trailing backslash.
std::string BuildFolder();
// A fresh empty folder, with a trailing backslash, inside the running test's
// own work folder in the testbed (build/testbed/scratch); the whole work folder is removed
// when the test ends.
std::string ScratchFolder();

using test_host::ReadBytes;
using test_host::WriteBytes;
bool Exists(const std::string& path);
// A file named in UTF-8 (letters outside the system's code page too), its
// folder made where missing.
std::string ReadUtf8Named(const std::string& path);
void WriteUtf8Named(const std::string& path, const std::string& bytes);

// Fails the test unless every piece occurs in text, in this order.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& pieces);
