#include "reconcile/hook_chain.h"

#include "frame/call_trace.h"

namespace {

int32_t Chain(const HookedTable& hooked, uint32_t event, uint32_t key, uint32_t a3, uint32_t a4,
              uint32_t a5, uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9, uint32_t a10,
              uint32_t a11) {
    // The host's slot always held a hook when ours went in; a null one would
    // only crash the host, so the event ends here instead.
    if (hooked.previous == nullptr)
        return 0;
    return CallHost(hooked.previous, event, key & 0xFFFFu, a3, a4, a5, a6, a7, a8, a9,
                    a10 & 0xFFFFu, a11);
}

}  // namespace

int32_t ChainHeaderEvent(uint32_t event, uint32_t key, uint32_t a3, uint32_t a4, uint32_t a5,
                         uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9, uint32_t a10,
                         uint32_t a11) {
    return Chain(HookChain.HeaderHook, event, key, a3, a4, a5, a6, a7, a8, a9, a10, a11);
}

int32_t ChainLineEvent(uint32_t event, uint32_t key, uint32_t a3, uint32_t a4, uint32_t a5,
                       uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9, uint32_t a10,
                       uint32_t a11) {
    return Chain(HookChain.LineHook, event, key, a3, a4, a5, a6, a7, a8, a9, a10, a11);
}
