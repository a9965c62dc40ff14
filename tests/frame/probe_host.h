// What the probe host library (probe_host.S) records of the latest call.
#pragma once

#include <cstdint>

#include "register_call.h"

struct ProbeRecord {
    RegisterSet registers;  // as the host function found them
    uint32_t ordinal;
    uint32_t args[4];
    uint32_t calls;
};

inline constexpr uint32_t ProbeResult(uint32_t ordinal) {
    return 0x50000000 + ordinal;
}
