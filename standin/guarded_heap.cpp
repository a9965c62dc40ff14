// The one allocator for everything the stand-in hands to the plug-in.
//
// Normally blocks come from the C heap. In strict mode each block is placed so
// that it ends exactly at a page boundary with a no-access page behind it, the
// way a full page heap does: a read or write one byte past the end faults at
// once instead of silently touching a neighbour. Freed strict blocks keep
// their pages inaccessible for a while, so that a use after free faults too. A
// vectored handler names the buffer that was hit and ends the process with exit
// code 3, which tests and the host program can recognise.
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

#include "standin/standin_state.h"

namespace veldan {
namespace {

struct Block {
    size_t size = 0;
    const char* name = "";
    bool guarded = false;
    char* base = nullptr;  // guarded: the first page of its span
    size_t span = 0;       // guarded: bytes of its span, the guard page included
    size_t capacity = 0;   // unguarded: bytes it may grow to in place
};

struct FreedRegion {
    char* base;
    size_t span;
    size_t size;
    const char* name;
};

constexpr size_t kKeptFreedRegions = 512;
constexpr size_t kArenaBytes = 16u << 20;
// The host heap refuses blocks above this size (the plug-in sees a failed
// HostRealloc); below it, running out of memory ends the process.
constexpr size_t kLargestBlock = 256u << 20;
constexpr DWORD kGuardExitCode = 3;
constexpr DWORD kOutOfMemoryExitCode = 4;

// The books are never destroyed: the fault handler reads them, and a fault
// (even one that its own code expects and handles) may come while the
// process ends, after this library's static objects are gone.
std::map<const void*, Block>& Blocks() {
    static auto* blocks = new std::map<const void*, Block>;
    return *blocks;
}
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
bool strict = false;
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

[[noreturn]] void OutOfMemory(size_t size, const char* name) {
    char text[160];
    snprintf(text, sizeof text, "VELDAN: out of memory for %s (%u bytes); %u blocks alive%s\n",
             name, static_cast<unsigned>(size), static_cast<unsigned>(Blocks().size()),
             strict ? " (strict mode: each costs two memory mappings)" : "");
    Report(text);
    TerminateProcess(GetCurrentProcess(), kOutOfMemoryExitCode);
    abort();
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

void* AllocateGuarded(size_t size, const char* name) {
    const size_t page = PageSize();
    const size_t data_pages = (size + page - 1) / page;
    const size_t span = (data_pages + 1) * page;
    char* base = ReserveSpan(span);
    if (!base || (data_pages && !VirtualAlloc(base, data_pages * page, MEM_COMMIT, PAGE_READWRITE)))
        OutOfMemory(size, name);
    char* block = base + data_pages * page - size;
    Blocks()[block] = Block{size, name, true, base, span};
    return block;
}

// Under the variation reuse_addresses, the blocks given back last (the most
// recent last), each handed out again, at its own address, to the next block
// that fits there: a guarded one in the room before its guard page, whose
// pages are committed anew, zero; another within what it may grow to.
struct Given {
    char* start;
    size_t room;
    Block block;
};
constexpr size_t kKeptGiven = 64;

std::vector<Given>& GivenBack() {
    static auto* given = new std::vector<Given>;
    return *given;
}

bool ReusingAddresses() {
    return S().variation.reuse_addresses != 0;
}

void ReleaseGuarded(const Block& block);

// The block given back last that a block of size fits, handed out again.
void* AllocateAgain(size_t size, const char* name) {
    auto& given = GivenBack();
    for (size_t i = given.size(); i-- > 0;) {
        Given again = given[i];
        if (again.block.guarded != strict || size > again.room)
            continue;
        given.erase(given.begin() + static_cast<ptrdiff_t>(i));
        if (again.block.guarded) {
            const size_t data = again.block.span - PageSize();
            if (data > 0 && !VirtualAlloc(again.block.base, data, MEM_COMMIT, PAGE_READWRITE))
                OutOfMemory(size, name);
        } else {
            memset(again.start, 0, size);
        }
        Block block = again.block;
        block.size = size;
        block.name = name;
        Blocks()[again.start] = block;
        return again.start;
    }
    return nullptr;
}

// A block given back, kept to be handed out again; the oldest kept goes for good.
void KeepGivenBack(void* start, const Block& block) {
    if (block.guarded)
        VirtualFree(block.base, block.span, MEM_DECOMMIT);
    const size_t room = block.guarded
                            ? block.base + block.span - PageSize() - static_cast<char*>(start)
                            : block.capacity;
    auto& given = GivenBack();
    given.push_back({static_cast<char*>(start), room, block});
    if (given.size() <= kKeptGiven)
        return;
    const Given oldest = given.front();
    given.erase(given.begin());
    if (oldest.block.guarded)
        ReleaseGuarded(oldest.block);
    else
        free(oldest.start);
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

}  // namespace

void* Allocate(size_t size, const char* name, size_t reserve) {
    if (size > kLargestBlock)
        return nullptr;
    // An empty block fits anywhere: it takes none of the addresses given back.
    if (ReusingAddresses() && size > 0)
        if (void* again = AllocateAgain(size, name))
            return again;
    if (strict)
        return AllocateGuarded(size, name);
    if (reserve > kLargestBlock - size)
        reserve = kLargestBlock - size;
    void* block = calloc(1, size + reserve ? size + reserve : 1);
    if (!block)
        OutOfMemory(size + reserve, name);
    Blocks()[block] = Block{size, name, false, nullptr, 0, size + reserve};
    return block;
}

bool ResizeInPlace(void* block, size_t size) {
    auto found = Blocks().find(block);
    if (found == Blocks().end() || found->second.guarded || size > found->second.capacity)
        return false;
    Block& info = found->second;
    // What the block gains reads as zero, as in a new block, also where it
    // held bytes before it shrank.
    if (size > info.size)
        memset(static_cast<char*>(block) + info.size, 0, size - info.size);
    info.size = size;
    return true;
}

void Release(void* block) {
    if (!block)
        return;
    auto found = Blocks().find(block);
    if (found == Blocks().end())
        return;
    const Block info = found->second;
    Blocks().erase(found);
    if (ReusingAddresses())
        KeepGivenBack(block, info);
    else if (info.guarded)
        ReleaseGuarded(info);
    else
        free(block);
}

bool IsAllocated(const void* block) {
    return Blocks().count(block) != 0;
}

size_t AllocatedSize(const void* block) {
    auto found = Blocks().find(block);
    return found == Blocks().end() ? 0 : found->second.size;
}

bool StrictAllocation() {
    return strict;
}

namespace {

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

void SetStrictAllocation(bool on) {
    if (on && handler == nullptr) {
        handler = AddVectoredExceptionHandler(1, GuardHandler);
        atexit(RemoveGuardHandler);
    }
    strict = on;
}

}  // namespace veldan
