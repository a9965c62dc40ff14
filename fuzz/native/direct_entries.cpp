// What frame/host_entries.S holds on Windows, for the native build, where
// the plug-in's code calls each host operation directly: the stand-in's code
// is linked into the program, so there is nothing to bind by ordinal. Every
// target word holds its operation from the start; the trace's thunks are
// absent, so the call trace shows the calls into the plug-in only.
#include "frame/host_binding.h"
#include "frame/host_entries.h"
#include "host/host_api.h"

namespace {

#define DIRECT_ENTRY(name, ordinal, convention, bytes, result, params) \
    reinterpret_cast<void*>(&name),

}  // namespace

extern "C" {
void* const HostEntryBinders[] = {HOST_OPERATIONS(DIRECT_ENTRY)};
void* HostEntryTargets[] = {HOST_OPERATIONS(DIRECT_ENTRY)};
void* HostEntryTraced[kHostEntryCount] = {};
void* const HostEntryTraceThunks[kHostEntryCount] = {};

void HostEntryTraceReturn() {}

void BindHostEntry(uint32_t /*ordinal*/, void** target) {
    *target = HostEntryBinders[target - HostEntryTargets];
}

// The import slot of the host's translator (frame/plugin_entry.cpp), as the
// loader would fill it.
HostTranslatorFunction ImportedTranslator __asm__("__imp__HostExceptionTranslator") =
    HostExceptionTranslator;
}
#undef DIRECT_ENTRY
