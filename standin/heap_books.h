// The stand-in's allocator (guarded_heap.cpp: Allocate and the others of
// standin_state.h) keeps its books here and asks the system for strict mode's
// blocks through the functions below, which guard_pages_win32.cpp implements
// with guard pages (the native build, fuzz/, with AddressSanitizer's).
#pragma once

#include <cstddef>
#include <map>

namespace veldan {

struct Block {
    size_t size = 0;
    const char* name = "";
    bool guarded = false;
    char* base = nullptr;  // guarded: the first byte the system set aside for it
    size_t span = 0;       // guarded: how many bytes it set aside, the guard included
    size_t capacity = 0;   // unguarded: bytes it may grow to in place
};

// Every block handed out and not given back, by its address. Never
// destroyed: a fault handler reads them, and a fault (even one that its own
// code expects and handles) may come while the process ends, after the
// library's static objects are gone.
std::map<const void*, Block>& Blocks();

// A strict block of size bytes, zero-filled, whose first byte past its end
// faults; base and span of block are filled in. Running out of memory ends
// the process.
void* AllocateGuarded(size_t size, const char* name, Block& block);
// Gives it back; for a while an access to it still faults.
void ReleaseGuarded(const Block& block);
// Sets it aside to be handed out again at its address (an access faults
// meanwhile), and takes it back, its bytes readable again.
void SetAsideGuarded(const Block& block);
void TakeBackGuarded(const Block& block, const char* name);
// From the first strict block on: an access past a strict block's end, or to
// one given back, is reported with the block's name and ends the process.
void WatchGuardPages();
// Ends the process, saying what could not be allocated.
[[noreturn]] void OutOfMemory(size_t size, const char* name);

}  // namespace veldan
