// Strict mode's blocks on Windows (heap_books.h): each is placed so that it
// ends exactly at a page boundary with a no-access page behind it, the way a
// full page heap does: a read or write one byte past the end faults at once
// instead of silently touching a neighbour. Freed strict blocks keep their
// pages inaccessible for a while, so that a use after free faults too. A
// vectored handler names the buffer that was hit and ends the process with
// exit code 3, which tests and the host program can recognise.
//
// Strict blocks are carved page by page out of large reservations: a
// reservation per block would take the system's 64 KB allocation granularity
// each and use up a 32-bit address space after some ten thousand lines. Each
// live block still costs two memory mappings, so under Wine the system's limit
// on mappings allows some 30,000 live guarded blocks.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "standin/heap_books.h"
#include "standin/standin_state.h"

namespace veldan {
namespace {

struct FreedRegion {
    char* base;
    size_t span;
    size_t size;
    const char* name;
};

constexpr size_t kKeptFreedRegions = 512;
constexpr size_t kArenaBytes = 16u << 20;
constexpr DWORD kGuardExitCode = 3;
constexpr DWORD kOutOfMemoryExitCode = 4;

// Never destroyed, for the same reason as the books (heap_books.h).
std::deque<FreedRegion>& Freed() {
    static auto* freed = new std::deque<FreedRegion>;
    return *freed;
}
// Spans that left the freed list, ready for blocks of the same span; and the
// reservation that new spans are cut from.
std::map<size_t, std::vector<char*>>& Reusable() {
    static auto* reusable = new std::map<size_t, std::vector<char*>>;
    return *reusable;
}
char* arena = nullptr;
size_t arena_used = 0;
void* handler = nullptr;

size_t PageSize() {
    static size_t page = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return static_cast<size_t>(info.dwPageSize);
    }();
    return page;
}

// Writes straight to the standard error handle: the C runtime's buffers may be
// in any state when the fault happens.
void Report(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(strlen(text)), &written,
              nullptr);
}

LONG CALLBACK GuardHandler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const auto address = static_cast<uintptr_t>(record->ExceptionInformation[1]);
    const char* access = record->ExceptionInformation[0] == 1 ? "write" : "read";
    char text[512];
    text[0] = 0;
    for (const auto& [start, block] : Blocks()) {
        if (!block.guarded)
            continue;
        const auto guard = reinterpret_cast<uintptr_t>(block.base) + block.span - PageSize();
        if (address >= guard && address < guard + PageSize()) {
            snprintf(text, sizeof text,
                     "VELDAN strict mode: %s past the end of %s (%u bytes at %p): address %p, "
                     "%u bytes past its end\n",
                     access, block.name, static_cast<unsigned>(block.size), start,
                     reinterpret_cast<void*>(address), static_cast<unsigned>(address - guard));
            break;
        }
    }
    if (!text[0]) {
        for (const FreedRegion& region : Freed()) {
            const auto base = reinterpret_cast<uintptr_t>(region.base);
            if (address >= base && address < base + region.span) {
                snprintf(text, sizeof text,
                         "VELDAN strict mode: %s of freed %s (%u bytes): address %p\n", access,
                         region.name, static_cast<unsigned>(region.size),
                         reinterpret_cast<void*>(address));
                break;
            }
        }
    }
    if (!text[0])
        return EXCEPTION_CONTINUE_SEARCH;
    Report(text);
    TerminateProcess(GetCurrentProcess(), kGuardExitCode);
    return EXCEPTION_CONTINUE_SEARCH;  // not reached
}

// A span of reserved, uncommitted pages.
char* ReserveSpan(size_t span) {
    auto& reusable = Reusable()[span];
    if (!reusable.empty()) {
        char* base = reusable.back();
        reusable.pop_back();
        return base;
    }
    if (span > kArenaBytes / 4)
        return static_cast<char*>(VirtualAlloc(nullptr, span, MEM_RESERVE, PAGE_NOACCESS));
    if (!arena || arena_used + span > kArenaBytes) {
        arena = static_cast<char*>(VirtualAlloc(nullptr, kArenaBytes, MEM_RESERVE, PAGE_NOACCESS));
        arena_used = 0;
        if (!arena)
            return nullptr;
    }
    char* base = arena + arena_used;
    arena_used += span;
    return base;
}

// The handler's code goes with the library: once it is unloaded, every
// access fault in the process, including those other code expects and
// handles, would call into memory that is no longer there. Registered with
// the handler, this runs when the library detaches (unloaded or at the
// process's end).
void RemoveGuardHandler() {
    if (handler != nullptr)
        RemoveVectoredExceptionHandler(handler);
    handler = nullptr;
}

}  // namespace

[[noreturn]] void OutOfMemory(size_t size, const char* name) {
    char text[160];
    snprintf(text, sizeof text, "VELDAN: out of memory for %s (%u bytes); %u blocks alive%s\n",
             name, static_cast<unsigned>(size), static_cast<unsigned>(Blocks().size()),
             StrictAllocation() ? " (strict mode: each costs two memory mappings)" : "");
    Report(text);
    TerminateProcess(GetCurrentProcess(), kOutOfMemoryExitCode);
    abort();
}

void* AllocateGuarded(size_t size, const char* name, Block& info) {
    const size_t page = PageSize();
    const size_t data_pages = (size + page - 1) / page;
    const size_t span = (data_pages + 1) * page;
    char* base = ReserveSpan(span);
    if (!base || (data_pages && !VirtualAlloc(base, data_pages * page, MEM_COMMIT, PAGE_READWRITE)))
        OutOfMemory(size, name);
    char* block = base + data_pages * page - size;
    info.base = base;
    info.span = span;
    return block;
}

void ReleaseGuarded(const Block& block) {
    VirtualFree(block.base, block.span, MEM_DECOMMIT);
    auto& freed = Freed();
    freed.push_back(FreedRegion{block.base, block.span, block.size, block.name});
    if (freed.size() > kKeptFreedRegions) {
        const FreedRegion oldest = freed.front();
        freed.pop_front();
        if (oldest.span > kArenaBytes / 4)
            VirtualFree(oldest.base, 0, MEM_RELEASE);
        else
            Reusable()[oldest.span].push_back(oldest.base);
    }
}

void SetAsideGuarded(const Block& block) {
    VirtualFree(block.base, block.span, MEM_DECOMMIT);
}

void TakeBackGuarded(const Block& block, const char* name) {
    const size_t data = block.span - PageSize();
    if (data > 0 && !VirtualAlloc(block.base, data, MEM_COMMIT, PAGE_READWRITE))
        OutOfMemory(block.size, name);
}

void WatchGuardPages() {
    if (handler == nullptr) {
        handler = AddVectoredExceptionHandler(1, GuardHandler);
        atexit(RemoveGuardHandler);
    }
}

}  // namespace veldan
