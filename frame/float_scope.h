// The plug-in's own floating-point work, done in a setting of its own and not
// in the host's.
//
// The host keeps the processor's floating-point settings as its runtime left
// them: exceptions unmasked (a signalling NaN in a record would then end the
// host's process at the next floating-point instruction), another precision,
// another rounding. An OwnFloatingPoint scope saves the host's x87
// environment (and MXCSR, where the compiler may use SSE for arithmetic),
// masks every exception, takes 53-bit precision and rounding to nearest, and
// at its end gives the host back exactly what it had: control word, status
// word with its exception flags, and MXCSR. No host call belongs inside a
// scope: the host's code runs under the host's settings.
//
// A double is never copied or passed outside a scope: x87 code may copy a
// double through the floating-point unit, which faults on a signalling NaN
// when invalid-operation is unmasked, and makes it quiet otherwise. Values
// therefore travel as their bits (uint64_t) and become doubles only inside.
#pragma once

#include <cstdint>
#include <cstring>

// The control word the plug-in computes under: every exception masked, 53-bit
// precision (a double rounded once, as IEEE arithmetic defines it), rounding
// to nearest.
inline constexpr uint16_t kOwnX87Control = 0x027F;
// MXCSR with every exception masked, rounding to nearest, denormals kept.
inline constexpr uint32_t kOwnMxcsr = 0x1F80;

struct OwnFloatingPoint {
    uint32_t host_x87[7];  // the x87 environment as fnstenv stores it
    uint32_t host_mxcsr;

    OwnFloatingPoint() {
        // fnstenv masks every exception as a side effect, so that nothing the
        // host left pending can fault here; fldenv at the end restores it.
        asm volatile("fnstenv %0\n\tfldcw %1" : "=m"(host_x87) : "m"(kOwnX87Control) : "memory");
#if defined(__SSE__)
        asm volatile("stmxcsr %0\n\tldmxcsr %1" : "=m"(host_mxcsr) : "m"(kOwnMxcsr) : "memory");
#else
        host_mxcsr = 0;  // the compiler emits no SSE arithmetic: MXCSR is never touched
#endif
    }
    ~OwnFloatingPoint() {
#if defined(__SSE__)
        asm volatile("ldmxcsr %0" : : "m"(host_mxcsr) : "memory");
#endif
        asm volatile("fldenv %0" : : "m"(host_x87) : "memory");
    }
    OwnFloatingPoint(const OwnFloatingPoint&) = delete;
    OwnFloatingPoint& operator=(const OwnFloatingPoint&) = delete;
};

// A double from its bits, inside a scope. The value is read from memory after
// the scope began: the compiler may not load it earlier.
inline double FloatFromBits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    asm volatile("" : "+m"(value));
    return value;
}

// The bits of a double, inside a scope: the value is in memory, rounded to a
// double, before the scope ends.
inline uint64_t BitsOfFloat(double value) {
    asm volatile("" : "+m"(value));
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}
