// The stack protector's canary and what happens when it is found damaged.
//
// The plug-in is compiled with -fstack-protector-strong: a function with a
// local array keeps a copy of the canary between its locals and its return
// address and checks it before returning. The runtime library that usually
// provides the canary (libssp) would make the DLL import ADVAPI32.dll for its
// seed, so the plug-in provides both symbols itself and seeds the canary when
// the system attaches it.
#pragma once

#include <cstdint>

extern "C" {
// The compiler's names: the canary every protected function compares against,
// and the handler it calls when its copy no longer matches.
extern uintptr_t __stack_chk_guard;
[[noreturn]] void __stack_chk_fail(void);
}

// Replaces the canary with a value made from entropy. Only while no protected
// function is running: each would find its copy no longer matching on return.
void SeedStackGuard(uint32_t entropy);
