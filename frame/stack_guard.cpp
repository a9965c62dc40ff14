#include "frame/stack_guard.h"

#include "frame/platform.h"

extern "C" {

// A fixed value until the attach seeds it, so that a program that links the
// plug-in's code without attaching it (the tests) is still protected.
uintptr_t __stack_chk_guard = 0x2F8A31C7u;

// The stack is damaged and the return address may be the attacker's: nothing
// more runs in this process, not even the host's exception handlers.
void __stack_chk_fail(void) {
    PlatformFailFast();
}

}  // extern "C"

__attribute__((no_stack_protector)) void SeedStackGuard(uint32_t entropy) {
    // Zero would be the canary that an overflow of zero bytes reproduces.
    __stack_chk_guard = entropy != 0 ? entropy : 0x2F8A31C7u;
}
