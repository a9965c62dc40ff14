// Linked into every test program: the process ends only after each of its
// threads has finished starting.
//
// Wine 8.0 kills a process with SIGSEGV when the process ends while one of its
// threads is still starting: the thread takes the exit signal before its
// signal state is set up. Under load that happens to about one run in a
// hundred of a program that starts a thread and returns from main, without any
// code of ours in it. GoogleTest starts a watcher thread at a test's first
// trace or failure, which may still be starting when a short test ends. So at
// exit, before the process ends, this waits until every thread of the process
// has run the TLS callback below: the system calls it in a new thread once the
// thread is set up, just before its own code.
#include <windows.h>

#include <tlhelp32.h>

namespace {

volatile LONG started_threads = 1;  // the main thread

void NTAPI CountThread(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH)
        InterlockedIncrement(&started_threads);
    else if (reason == DLL_THREAD_DETACH)
        InterlockedDecrement(&started_threads);
}

LONG ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    LONG count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snapshot);
    return count;
}

// Destroyed when main has returned, before the process ends.
struct WaitForStartingThreads {
    ~WaitForStartingThreads() {
        constexpr int kMostMilliseconds = 10000;
        for (int waited = 0; waited < kMostMilliseconds && started_threads < ThreadsOfThisProcess();
             ++waited)
            Sleep(1);
    }
} wait_for_starting_threads;

}  // namespace

// The runtime calls the callbacks placed between its .CRT$XLA and .CRT$XLZ.
extern "C" __attribute__((section(".CRT$XLF"), used))
const PIMAGE_TLS_CALLBACK quendrix_count_started_thread = CountThread;
