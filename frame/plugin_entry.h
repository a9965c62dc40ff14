// The plug-in's three entry points, exported by ordinal only (30001, 30008,
// 30009), and the stop step. The host calls them on its own thread: start,
// then either explain a refusal or install, and at the end stop.
#pragma once

#include <cstdint>

#include "host/host_records.h"

// Entry 30001. With a context (only tested for null, never kept): hands
// FeatureText over (when text_buffer is not null; it holds at least 61 bytes),
// installs the host's exception translator and returns 0 when the host is
// compatible, -1 when not. With a null context: stops the plug-in and returns
// 0.
extern "C" int32_t HOST_STDCALL PluginStart(void* context, char* text_buffer);

// Entry 30008. Flag 0 installs the hooks, the menu command and the notice
// (0, or -1 when the hooks cannot be installed); any other flag explains why
// the start was refused and returns 0.
extern "C" int32_t HOST_STDCALL PluginInstall(int32_t flag);

// Entry 30009: does nothing.
extern "C" int32_t HOST_STDCALL PluginIdle(void);

// Puts the host's hooks back, removes the menu command and gives back what
// the reconciliation holds of the C runtime's heap; returns 0.
int32_t StopPlugin();

// The module's real entry point, which the system calls with its attach and
// detach notifications before the C runtime's own entry: the stack canary is
// seeded and the attach step done (AttachToHost) before the runtime starts;
// a library freed without the host's stop closes its diagnostics files.
// Always reports success unless the runtime's entry does not.
extern "C" int32_t HOST_STDCALL QuendrixDllEntry(void* instance, uint32_t reason, void* reserved);
