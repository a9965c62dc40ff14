// The attach step: who the plug-in is and where the host library is.
#pragma once

#include <cstdint>

#include "host/mazovia_text.h"

// The system's attach and detach notification codes of a process, and that
// of a thread that ends (the attach step does nothing at either of a thread).
inline constexpr uint32_t kProcessDetach = 0;
inline constexpr uint32_t kProcessAttach = 1;
inline constexpr uint32_t kThreadDetach = 3;

// The longest module path the attach step keeps, with its terminator.
inline constexpr uint32_t kModulePathSize = 300;

// ------------------------------------------------------------------ its state
// One part of the frame's state (frame/frame_state.h), filled once at process
// attach, before any entry point can run, and never cleared: who the plug-in
// is and where the host library is.
struct AttachState {
    void* PluginModuleHandle = nullptr;
    char PluginModulePath[kModulePathSize] = {};  // always zero-terminated
    void* HostLibraryHandle = nullptr;
};
extern AttachState& Attach;

// The plug-in's description and its name in every message: a heading between
// the host's text switches 0x02 and 0x01, a line feed, and the menu line.
inline constexpr const auto& FeatureText =
    "\x02"
    "DOKUMENTY SPRZEDAŻY:\x01\n1. Porównaj WZ z zamówieniem - Ctrl+9"_mz;
static_assert(FeatureText.size() == 60);

// Handler of the system's attach and detach notifications; uses operating
// system calls only. Always reports success (1).
int32_t AttachToHost(void* module, uint32_t reason);

// Copies FeatureText with its terminator (61 bytes) into buffer; returns buffer.
char* CopyFeatureText(char* buffer);
