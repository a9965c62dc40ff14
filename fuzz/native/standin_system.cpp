// The stand-in's system services in the native build: its allocator
// (guarded_heap.cpp on Windows) and its files (system_win32.cpp).
//
// Strict mode needs no guard pages here: AddressSanitizer puts a poisoned
// zone behind every block and keeps freed ones poisoned for a while, so a
// strict block is simply allocated at its exact size, with no room to grow
// in place, and a read one byte past its end is reported at once.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "standin/standin_state.h"

namespace veldan {
namespace {

struct Block {
    size_t size = 0;
    size_t capacity = 0;  // bytes it may grow to in place
    bool strict = false;  // as a guarded block on Windows, it never changes size
};

// As on Windows: the host heap refuses blocks above this size.
constexpr size_t kLargestBlock = 256u << 20;

std::map<const void*, Block>& Blocks() {
    static auto* blocks = new std::map<const void*, Block>;
    return *blocks;
}
bool strict = false;

}  // namespace

void* Allocate(size_t size, const char* name, size_t reserve) {
    if (size > kLargestBlock)
        return nullptr;
    if (strict || reserve > kLargestBlock - size)
        reserve = strict ? 0 : kLargestBlock - size;
    void* block = calloc(1, size + reserve ? size + reserve : 1);
    if (!block) {
        fprintf(stderr, "VELDAN: out of memory for %s (%zu bytes)\n", name, size + reserve);
        abort();
    }
    Blocks()[block] = Block{size, size + reserve, strict};
    return block;
}

bool ResizeInPlace(void* block, size_t size) {
    auto found = Blocks().find(block);
    if (found == Blocks().end() || found->second.strict || size > found->second.capacity)
        return false;
    Block& info = found->second;
    if (size > info.size)
        memset(static_cast<char*>(block) + info.size, 0, size - info.size);
    info.size = size;
    return true;
}

void Release(void* block) {
    if (block != nullptr && Blocks().erase(block) != 0)
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
    strict = on;
}

std::string LibraryFolder() {
    // The stand-in is linked into the program: the program's folder.
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    const std::string program(path, length > 0 && length < ssize_t(sizeof path) ? length : 0);
    const size_t slash = program.rfind('/');
    return slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
}

bool MoveFileOver(const std::string& temporary, const std::string& path) {
    if (std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    std::remove(temporary.c_str());
    return false;
}

}  // namespace veldan
