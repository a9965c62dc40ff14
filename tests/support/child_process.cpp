#include "tests/support/child_process.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace test_host {

std::string QuotedArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

namespace {

struct RunningChild {
    PROCESS_INFORMATION process{};
    std::string output_path;
    size_t index = 0;
};

// program: this program's own when null.
bool Launch(const char* program, const std::vector<std::string>& arguments, size_t index,
            RunningChild& child) {
    char own[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, own, sizeof own);
    if (program == nullptr)
        program = own;
    std::string command = QuotedArgument(program);
    for (const std::string& argument : arguments)
        command += " " + QuotedArgument(argument);

    char directory[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    char path[MAX_PATH] = {};
    if (GetTempFileNameA(directory, "chd", 0, path) == 0)
        return false;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        DeleteFileA(path);
        return false;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    const BOOL started = CreateProcessA(program, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &child.process);
    CloseHandle(output);
    if (!started) {
        DeleteFileA(path);
        return false;
    }
    child.output_path = path;
    child.index = index;
    return true;
}

void Collect(RunningChild& child, ChildResult& result) {
    WaitForSingleObject(child.process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.process.hProcess, &code);
    CloseHandle(child.process.hProcess);
    CloseHandle(child.process.hThread);
    result.exit_code = code;
    result.output = ReadBytes(child.output_path);
    DeleteFileA(child.output_path.c_str());
}

}  // namespace

std::vector<ChildResult> RunChildren(const std::vector<std::vector<std::string>>& argument_lists) {
    // The processes spend most of their time starting up under Wine, which a
    // second one at a time overlaps well; more gain little.
    constexpr size_t kAtOnce = 3;
    std::vector<ChildResult> results(argument_lists.size());
    std::vector<RunningChild> running;
    size_t next = 0;
    while (next < argument_lists.size() || !running.empty()) {
        while (next < argument_lists.size() && running.size() < kAtOnce) {
            RunningChild child;
            if (Launch(nullptr, argument_lists[next], next, child)) {
                running.push_back(child);
            } else {
                results[next].exit_code = kChildNotStarted;
                results[next].output = "the child process could not be started";
            }
            ++next;
        }
        if (running.empty())
            continue;
        std::vector<HANDLE> handles;
        for (const RunningChild& child : running)
            handles.push_back(child.process.hProcess);
        const DWORD signalled = WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                       handles.data(), FALSE, INFINITE);
        size_t done = signalled - WAIT_OBJECT_0;
        if (done >= running.size())
            done = 0;
        Collect(running[done], results[running[done].index]);
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(done));
    }
    return results;
}

ChildResult RunChildProcess(const std::vector<std::string>& arguments) {
    return RunChildren({arguments}).front();
}

ChildResult RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    ChildResult result;
    RunningChild child;
    if (Launch(program.c_str(), arguments, 0, child)) {
        Collect(child, result);
    } else {
        result.exit_code = kChildNotStarted;
        result.output = program + " could not be started";
    }
    return result;
}

bool IsChildRun(const std::string& role) {
    for (int i = 1; i < __argc; ++i)
        if (role == __argv[i])
            return true;
    return false;
}

namespace {

LONG CALLBACK EndOnFault(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_PRIV_INSTRUCTION:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_STACK_OVERFLOW:
        case EXCEPTION_IN_PAGE_ERROR:
            break;
        default:
            return EXCEPTION_CONTINUE_SEARCH;
    }
    char text[96];
    std::snprintf(text, sizeof text, "processor fault 0x%08lX at %p\n", code,
                  info->ExceptionRecord->ExceptionAddress);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(strlen(text)), &written,
              nullptr);
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_CONTINUE_SEARCH;  // not reached
}

}  // namespace

void EndProcessOnAnyFault() {
    AddVectoredExceptionHandler(1, EndOnFault);
}

std::string BesideProgram(const std::string& name) {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, sizeof program);
    const std::string path = program;
    return path.substr(0, path.find_last_of("\\/") + 1) + name;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "";
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace test_host
