#include "host_run.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr DWORD kRunLimitMs = 60000;

HANDLE Inheritable(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string BuildFolder() {
    return test_host::BesideProgram("");
}

namespace {

// Removes a folder with everything in it, names outside the ANSI code page too.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(folder + name + L"\\");
            } else {
                SetFileAttributesW((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW((folder + name).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void RemoveTree(const std::string& folder) {
    RemoveTree(std::filesystem::path(folder).wstring());
}

// The running test's own folder, removed when the test ends. Its name holds
// the test's full name and the process id: the cases of the suite run side by
// side in processes of their own, and Wine hands a finished process's id to
// the next one soon, so neither alone keeps two cases apart. Anything a
// crashed earlier process of the same name left there is removed first.
std::string test_folder;

struct RemoveTestFolder : ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override {
        if (!test_folder.empty())
            RemoveTree(test_folder);
        test_folder.clear();
    }
};

const bool listening = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new RemoveTestFolder);
    return true;
}();

std::string TestFolder() {
    if (!test_folder.empty())
        return test_folder;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = test != nullptr
                                 ? std::string(test->test_suite_name()) + "." + test->name()
                                 : std::string("outside-a-test");
    const std::string scratch = BuildFolder() + "scratch\\";
    CreateDirectoryA(scratch.c_str(), nullptr);
    test_folder = scratch + name + "." + std::to_string(GetCurrentProcessId()) + "\\";
    RemoveTree(test_folder);
    EXPECT_TRUE(CreateDirectoryA(test_folder.c_str(), nullptr)) << test_folder;
    return test_folder;
}

}  // namespace

std::string ScratchFolder() {
    static int serial = 0;
    const std::string folder = TestFolder() + std::to_string(++serial) + "\\";
    EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    return folder;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

std::filesystem::path Utf8Path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

std::string ReadUtf8Named(const std::string& path) {
    std::ifstream in(Utf8Path(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteUtf8Named(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(Utf8Path(path).parent_path());
    std::ofstream(Utf8Path(path), std::ios::binary) << bytes;
}

HostRun RunHostProgram(const std::vector<std::string>& arguments, const std::string& input) {
    HostRun run;
    const std::string folder = ScratchFolder();
    const std::string in_path = folder + "stdin.txt", out_path = folder + "stdout.txt",
                      err_path = folder + "stderr.txt";
    WriteBytes(in_path, input);
    HANDLE in = Inheritable(in_path, false);
    HANDLE out = Inheritable(out_path, true);
    HANDLE err = Inheritable(err_path, true);

    std::string command = test_host::QuotedArgument(BuildFolder() + "veldan_host.exe");
    for (const std::string& argument : arguments)
        command += " " + test_host::QuotedArgument(argument);
    // The command line goes over as UTF-16, so that document numbers with
    // Polish letters reach the program whole, whatever the code page.
    std::wstring wide(
        static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, nullptr, 0)),
        L'\0');
    MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, wide.data(),
                        static_cast<int>(wide.size()));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const BOOL created = CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_TRUE(created) << command;
    if (!created)
        return run;
    if (WaitForSingleObject(process.hProcess, kRunLimitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        ADD_FAILURE() << "the host program did not finish: " << command;
    }
    GetExitCodeProcess(process.hProcess, &run.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.out = ReadBytes(out_path);
    run.err = ReadBytes(err_path);
    return run;
}

void ExpectInOrder(const std::string& text, const std::vector<std::string>& pieces) {
    size_t at = 0;
    for (const std::string& piece : pieces) {
        const size_t found = text.find(piece, at);
        if (found == std::string::npos) {
            ADD_FAILURE() << "missing, or out of order: \"" << piece << "\" after offset " << at
                          << "\n---- output ----\n"
                          << text;
            return;
        }
        at = found + piece.size();
    }
}
