// The order list's values whatever the host keeps in its process: the
// two-decimal text against the C runtime's "%.2f" in the "C" locale, and the
// host's floating-point state around the plug-in's own arithmetic.
#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cstdio>
#include <cstring>
#include <random>

#include "frame/float_scope.h"
#include "reconcile/decimal_text.h"

namespace {

uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Ours, and what the runtime writes in the "C" locale this program runs in.
std::pair<std::string, std::string> Written(uint64_t bits) {
    char ours[kTwoDecimalsLongest + 1], runtime[kTwoDecimalsLongest + 1];
    WriteTwoDecimals(ours, bits);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    std::snprintf(runtime, sizeof runtime, "%.2f", value);
    return {ours, runtime};
}

constexpr uint64_t kSignallingNaN = 0x7FF0000000000001ull;

TEST(TwoDecimals, AsTheCLocaleWritesEveryDouble) {
    // Ties of the binary value (0.125, 0.375), the largest and the smallest
    // doubles, a signalling and a negative NaN, infinities.
    const uint64_t edges[] = {Bits(1234.5678),
                              Bits(-0.0),
                              Bits(-0.004),
                              Bits(0.125),
                              Bits(0.375),
                              Bits(2.675),
                              Bits(1e22),
                              Bits(DBL_MAX),
                              Bits(-DBL_MAX),
                              Bits(DBL_MIN),
                              1,
                              kSignallingNaN,
                              0xFFF8000000000000ull,
                              0x7FF0000000000000ull,
                              0xFFF0000000000000ull};
    for (uint64_t bits : edges) {
        const auto [ours, runtime] = Written(bits);
        EXPECT_EQ(ours, runtime) << std::hex << bits;
    }
    EXPECT_EQ(Written(Bits(1234.5678)).first, "1234.57");
    EXPECT_EQ(Written(Bits(-DBL_MAX)).first.size(), kTwoDecimalsLongest);

    // Any bit pattern, and money-like values near the hundredths' ties.
    std::mt19937_64 random(20240105);
    for (int i = 0; i < 100000; ++i) {
        const uint64_t bits = i % 2 == 0 ? random()
                                         : Bits(static_cast<double>(random() % 100000000) / 1000 +
                                                (static_cast<int>(random() % 3) - 1) * 1e-9);
        const auto [ours, runtime] = Written(bits);
        ASSERT_EQ(ours, runtime) << std::hex << bits;
    }
}

// Control, status and tag words of the x87 unit, and MXCSR.
std::array<uint32_t, 4> FloatState() {
    uint32_t environment[7];
    uint32_t mxcsr;
    asm volatile("fnstenv %0\n\tfldenv %0\n\tstmxcsr %1" : "=m"(environment), "=m"(mxcsr));
    return {environment[0] & 0xFFFF, environment[1] & 0xFFFF, environment[2] & 0xFFFF, mxcsr};
}

TEST(OwnFloatingPoint, ComputesUnderTheHostsUnmaskedUnitAndGivesItBackExactly) {
    // A host runtime's settings: invalid operation, division by zero and
    // overflow unmasked, extended precision; an inexact result flagged.
    const uint16_t host_control = 0x1332;
    const uint32_t host_mxcsr = 0x1900;
    // Flags left by earlier work in this process would fault as soon as they
    // are unmasked: the host starts from a clear status word.
    asm volatile("fnclex\n\tfldcw %0\n\tldmxcsr %1" : : "m"(host_control), "m"(host_mxcsr));
    volatile double third = 1.0;
    third = third / 3.0;
    const auto before = FloatState();
    uint64_t scaled;
    {
        const OwnFloatingPoint own;
        scaled = BitsOfFloat(FloatFromBits(kSignallingNaN) * 0.0001);
    }
    const auto after = FloatState();
    const uint16_t defaults = 0x037F;
    const uint32_t default_mxcsr = 0x1F80;
    asm volatile("fnclex\n\tfldcw %0\n\tldmxcsr %1" : : "m"(defaults), "m"(default_mxcsr));

    EXPECT_EQ(scaled, kSignallingNaN | 0x0008000000000000ull) << "made quiet, not a fault";
    EXPECT_EQ(after, before);
    EXPECT_NE(before[1] & 0x20, 0u) << "the host's inexact flag is kept";
}

}  // namespace
