// The stand-in's system services in the native build: strict mode's blocks
// (heap_books.h; guard_pages_win32.cpp on Windows) and its files
// (system_win32.cpp).
//
// Strict mode needs no guard pages here: AddressSanitizer puts a poisoned
// zone behind every block and keeps freed ones poisoned for a while, so a
// strict block is allocated at its exact size, and a read one byte past its
// end, or of a block given back, is reported at once.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "standin/heap_books.h"
#include "standin/standin_state.h"

namespace veldan {

void* AllocateGuarded(size_t size, const char* name, Block& block) {
    void* allocated = calloc(1, size ? size : 1);
    if (!allocated)
        OutOfMemory(size, name);
    block.base = static_cast<char*>(allocated);
    block.span = size;
    return allocated;
}

void ReleaseGuarded(const Block& block) {
    free(block.base);
}

// A block set aside keeps its memory: AddressSanitizer cannot fault on it
// without freeing it, and its address must stay the block's.
void SetAsideGuarded(const Block&) {}
void TakeBackGuarded(const Block&, const char*) {}

void WatchGuardPages() {}

void OutOfMemory(size_t size, const char* name) {
    fprintf(stderr, "VELDAN: out of memory for %s (%zu bytes)\n", name, size);
    abort();
}

std::string LibraryFolder() {
    // The stand-in is linked into the program, which has no library folder
    // of its own to keep the host's settings (veldan.ini) in: a folder of the
    // process's own under the temporary folder stands in for it, made at the
    // first use and removed with what is in it when the process ends, so that
    // nothing a run answered (the install notice's "Pytaj") reaches another.
    static const struct Folder {
        std::string path;
        Folder() {
            const char* temporary = getenv("TMPDIR");
            std::string pattern =
                std::string(temporary != nullptr && *temporary != 0 ? temporary : "/tmp") +
                "/quendrix-standin-XXXXXX";
            if (mkdtemp(pattern.data()) != nullptr)
                path = pattern + "/";
        }
        ~Folder() {
            std::error_code ignored;
            if (!path.empty())
                std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path;
}

bool MoveFileOver(const std::string& temporary, const std::string& path) {
    if (std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    std::remove(temporary.c_str());
    return false;
}

// The variations of stacks, threads and a guest's imports are Windows hosts'
// (the native tests run none of them): here work runs on the calling stack
// and thread, and no import is diverted.
void RunOnAnotherStack(void (*work)(void*), void* argument) {
    work(argument);
}

bool RunOnThreadOfItsOwn(void (*work)(void*), void* argument) {
    work(argument);
    return true;
}

void EndThisThread() {
    abort();
}

DivertedImports DivertGuestImports(const void*, bool, bool) {
    return {};
}

void RestoreGuestImports(const DivertedImports&) {}

}  // namespace veldan
