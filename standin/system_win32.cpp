// The stand-in's calls of Windows beside strict mode's (guard_pages_win32.cpp):
// where its library lies, a file replaced whole, and what the variations do
// with stacks, threads and a guest's imports.
#include <windows.h>

#include <csetjmp>

#include "standin/import_table.h"
#include "standin/standin_state.h"

namespace veldan {

std::string LibraryFolder() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&LibraryFolder), &module);
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    std::string folder(path, length < sizeof path ? length : 0);
    const size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

bool MoveFileOver(const std::string& temporary, const std::string& path) {
    if (MoveFileExA(temporary.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temporary.c_str());
    return false;
}

void RunOnAnotherStack(void (*work)(void*), void* argument) {
    struct Job {
        void (*work)(void*);
        void* argument;
        void* back;
        static VOID WINAPI Run(void* job_address) {
            auto* job = static_cast<Job*>(job_address);
            job->work(job->argument);
            SwitchToFiber(job->back);
        }
    };
    const bool fiber_already = IsThreadAFiber() != FALSE;
    void* current = nullptr;
    if (fiber_already)
        asm("movl %%fs:0x10, %0" : "=r"(current));  // the fiber's data, as GetCurrentFiber reads it
    Job job{work, argument, fiber_already ? current : ConvertThreadToFiber(nullptr)};
    void* fiber = CreateFiber(1u << 20, &Job::Run, &job);
    if (job.back == nullptr || fiber == nullptr) {
        work(argument);
    } else {
        SwitchToFiber(fiber);
        DeleteFiber(fiber);
    }
    if (!fiber_already && job.back != nullptr)
        ConvertFiberToThread();
}

namespace {

// An exit code no thread of the stand-in's ends with otherwise.
constexpr DWORD kEndedInside = 0x7E5D;

struct ThreadJob {
    void (*work)(void*);
    void* argument;
    static DWORD WINAPI Run(void* job_address) {
        auto* job = static_cast<ThreadJob*>(job_address);
        job->work(job->argument);
        return 0;
    }
};

// write_long_jump: the first write in the event leaves it, as a dialog does
// under dialog_long_jump.
BOOL WINAPI WriteLeavingByLongJump(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written,
                                   LPOVERLAPPED overlapped) {
    State& s = S();
    if (s.dialog_exit != nullptr && !s.write_left) {
        s.write_left = true;
        std::longjmp(*s.dialog_exit, 1);
    }
    return WriteFile(file, bytes, size, written, overlapped);
}

// thread_reuse: every thread the identifier of the first that asked.
DWORD WINAPI OneThreadIdentifier() {
    static const DWORD first = GetCurrentThreadId();
    return first;
}

}  // namespace

bool RunOnThreadOfItsOwn(void (*work)(void*), void* argument) {
    ThreadJob job{work, argument};
    HANDLE thread = CreateThread(nullptr, 0, &ThreadJob::Run, &job, 0, nullptr);
    if (thread == nullptr) {
        work(argument);
        return true;
    }
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code != kEndedInside;
}

void EndThisThread() {
    ExitThread(kEndedInside);
}

DivertedImports DivertGuestImports(const void* code, bool write_long_jump, bool one_thread_id) {
    DivertedImports diverted;
    HMODULE guest = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCSTR>(code), &guest);
    diverted.guest = guest;
    if (write_long_jump)
        diverted.write = import_table::Replace(guest, "kernel32.dll", "WriteFile",
                                               reinterpret_cast<void*>(&WriteLeavingByLongJump));
    if (one_thread_id)
        diverted.thread_id = import_table::Replace(guest, "kernel32.dll", "GetCurrentThreadId",
                                                   reinterpret_cast<void*>(&OneThreadIdentifier));
    return diverted;
}

void RestoreGuestImports(const DivertedImports& diverted) {
    const auto guest = static_cast<HMODULE>(diverted.guest);
    if (diverted.write != nullptr)
        import_table::Replace(guest, "kernel32.dll", "WriteFile", diverted.write);
    if (diverted.thread_id != nullptr)
        import_table::Replace(guest, "kernel32.dll", "GetCurrentThreadId", diverted.thread_id);
}

}  // namespace veldan
