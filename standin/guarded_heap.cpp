// The one allocator for everything the stand-in hands to the plug-in.
//
// Normally blocks come from the C heap. In strict mode each block ends where
// the first byte past it faults (heap_books.h): a read or write one byte past
// the end is caught at once instead of silently touching a neighbour.
#include <cstdlib>
#include <cstring>

#include "standin/heap_books.h"
#include "standin/standin_state.h"

namespace veldan {
namespace {

// The host heap refuses blocks above this size (the plug-in sees a failed
// HostRealloc); below it, running out of memory ends the process.
constexpr size_t kLargestBlock = 256u << 20;
bool strict = false;

}  // namespace

std::map<const void*, Block>& Blocks() {
    static auto* blocks = new std::map<const void*, Block>;
    return *blocks;
}

void* Allocate(size_t size, const char* name, size_t reserve) {
    if (size > kLargestBlock)
        return nullptr;
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
    if (info.guarded)
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
