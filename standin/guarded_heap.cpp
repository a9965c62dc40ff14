// The one allocator for everything the stand-in hands to the plug-in.
//
// Normally blocks come from the C heap. In strict mode each block ends where
// the first byte past it faults (heap_books.h): a read or write one byte past
// the end is caught at once instead of silently touching a neighbour.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "standin/heap_books.h"
#include "standin/standin_state.h"

namespace veldan {
namespace {

// The host heap refuses blocks above this size (the plug-in sees a failed
// HostRealloc); below it, running out of memory ends the process.
constexpr size_t kLargestBlock = 256u << 20;
bool strict = false;

// Under the variation reuse_addresses, the blocks given back last (the most
// recent last), each handed out again, at its own address, to the next block
// that fits there: a guarded one within its old size (its pages made anew,
// zero), another within what it may grow to.
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

// The block given back last that a block of size fits, handed out again.
void* AllocateAgain(size_t size, const char* name) {
    auto& given = GivenBack();
    for (size_t i = given.size(); i-- > 0;) {
        Given again = given[i];
        if (again.block.guarded != strict || size > again.room)
            continue;
        given.erase(given.begin() + static_cast<ptrdiff_t>(i));
        if (again.block.guarded)
            TakeBackGuarded(again.block, name);
        memset(again.start, 0, size);
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
        SetAsideGuarded(block);
    auto& given = GivenBack();
    given.push_back(
        {static_cast<char*>(start), block.guarded ? block.size : block.capacity, block});
    if (given.size() <= kKeptGiven)
        return;
    const Given oldest = given.front();
    given.erase(given.begin());
    if (oldest.block.guarded)
        ReleaseGuarded(oldest.block);
    else
        free(oldest.start);
}

}  // namespace

std::map<const void*, Block>& Blocks() {
    static auto* blocks = new std::map<const void*, Block>;
    return *blocks;
}

void* Allocate(size_t size, const char* name, size_t reserve) {
    if (size > kLargestBlock)
        return nullptr;
    // An empty block fits anywhere: it takes none of the addresses given back.
    if (ReusingAddresses() && size > 0)
        if (void* again = AllocateAgain(size, name))
            return again;
    if (strict) {
        Block info{size, name, true};
        void* block = AllocateGuarded(size, name, info);
        Blocks()[block] = info;
        return block;
    }
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

void SetStrictAllocation(bool on) {
    if (on)
        WatchGuardPages();
    strict = on;
}

}  // namespace veldan
