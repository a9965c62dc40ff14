// Calls a function with chosen values in every general-purpose register and
// records the registers at the call, as the callee finds them, and after it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

struct RegisterSet {
    uint32_t eax, ebx, ecx, edx, esi, edi, ebp, esp, eflags;
};

// The arithmetic flags (CF PF AF ZF SF OF); only these may be seeded.
inline constexpr uint32_t kArithmeticFlags = 0x8D5;

extern "C" {
// Pushes count arguments right to left, loads EAX..EBP and the arithmetic
// flags from seed (its esp is ignored), records every register into at_call
// just before the call instruction, calls function, records every register
// into after, and returns EAX. Works for callee-cleans and caller-cleans
// functions alike: the stack is reset afterwards.
uint32_t CallWithRegisters(const void* function, const uint32_t* args, uint32_t count,
                           const RegisterSet* seed, RegisterSet* at_call, RegisterSet* after);
}

// EBX, ECX, EDX, ESI, EDI and EBP as seeded.
inline void ExpectSeeded(const RegisterSet& seen, const RegisterSet& seed) {
    EXPECT_EQ(seen.ebx, seed.ebx);
    EXPECT_EQ(seen.ecx, seed.ecx);
    EXPECT_EQ(seen.edx, seed.edx);
    EXPECT_EQ(seen.esi, seed.esi);
    EXPECT_EQ(seen.edi, seed.edi);
    EXPECT_EQ(seen.ebp, seed.ebp);
}

// After a call that keeps every register but EAX: the caller's registers as
// seeded, and its stack as at the call less the removed bytes.
inline void ExpectCallerKept(const RegisterSet& seed, const RegisterSet& at_call,
                             const RegisterSet& after, uint32_t removed) {
    EXPECT_EQ(after.esp, at_call.esp + removed);
    ExpectSeeded(after, seed);
}
