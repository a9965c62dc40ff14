// The order list's values under whatever the host keeps in the process: the
// two-decimal text against the C runtime's "%.2f" in the "C" locale, and the
// scaling of a header's value under a host's unmasked floating-point unit.
#include <cfloat>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <random>

#include "frame/float_scope.h"
#include "reconcile/decimal_text.h"
#include "reconcile/order_choice.h"
#include "reconcile_scenario.h"

namespace reconcile_test {
namespace {

uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::string Written(uint64_t bits) {
    char text[kTwoDecimalsLongest + 1];
    const size_t length = WriteTwoDecimals(text, bits);
    EXPECT_EQ(length, std::strlen(text));
    return text;
}

// What the runtime writes, in the "C" locale this program runs in.
std::string Printed(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    char text[kTwoDecimalsLongest + 1];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

constexpr uint64_t kSignallingNaN = 0x7FF0000000000001ull;
constexpr uint64_t kQuietNaN = 0x7FF8000000000000ull;
constexpr uint64_t kInfinity = 0x7FF0000000000000ull;
constexpr uint64_t kSmallestDenormal = 1;

TEST(TwoDecimals, AsTheCLocaleWritesEveryDouble) {
    const std::pair<uint64_t, const char*> table[] = {
        {Bits(1234.5678), "1234.57"},
        {Bits(15.0), "15.00"},
        {Bits(-0.0), "-0.00"},
        {Bits(-0.004), "-0.00"},
        {Bits(0.125), nullptr},  // ties of the binary value: as the runtime rounds them
        {Bits(0.375), nullptr},
        {Bits(2.675), nullptr},
        {Bits(1e22), "10000000000000000000000.00"},
        {Bits(DBL_MAX), nullptr},
        {Bits(-DBL_MAX), nullptr},
        {Bits(DBL_MIN), "0.00"},
        {kSmallestDenormal, "0.00"},
        {kSignallingNaN, "nan"},
        {kQuietNaN, "nan"},
        {kQuietNaN | (1ull << 63), "nan"},
        {kInfinity, "inf"},
        {kInfinity | (1ull << 63), "-inf"},
    };
    for (const auto& [bits, expected] : table) {
        if (expected != nullptr) {
            EXPECT_EQ(Written(bits), expected) << std::hex << bits;
        }
        EXPECT_EQ(Written(bits), Printed(bits)) << std::hex << bits;
    }
    EXPECT_EQ(Written(Bits(-DBL_MAX)).size(), kTwoDecimalsLongest);

    // Any bit pattern, and money-like values near the hundredths' ties.
    std::mt19937_64 random(20240105);
    for (int i = 0; i < 100000; ++i) {
        const uint64_t bits = i % 2 == 0 ? random()
                                         : Bits(static_cast<double>(random() % 100000000) / 1000 +
                                                (static_cast<int>(random() % 3) - 1) * 1e-9);
        ASSERT_EQ(Written(bits), Printed(bits)) << std::hex << bits;
    }
}

// Control, status and tag words of the x87 unit, and MXCSR.
struct FloatState {
    uint16_t control, status, tag;
    uint32_t mxcsr;
    bool operator==(const FloatState&) const = default;
};

FloatState ReadFloatState() {
    uint32_t environment[7];
    uint32_t mxcsr;
    asm volatile("fnstenv %0\n\tfldenv %0\n\tstmxcsr %1" : "=m"(environment), "=m"(mxcsr));
    return {static_cast<uint16_t>(environment[0]), static_cast<uint16_t>(environment[1]),
            static_cast<uint16_t>(environment[2]), mxcsr};
}

class HostFloatingPoint : public HostScenario {};

TEST_F(HostFloatingPoint, OrderListUnderUnmaskedExceptionsAndAPolishLocale) {
    DocumentHeader base = MakeOrder(1, 5, "ZK/1");
    test_host::SetIssueDate(base, 20240315);
    std::vector<uint64_t> stored = {Bits(12345678.0), kSignallingNaN, kQuietNaN, kInfinity,
                                    kSmallestDenormal};
    for (size_t i = 0; i < stored.size(); ++i) {
        DocumentHeader header = base;
        header.document_id = static_cast<int32_t>(i + 1);
        std::memcpy(&header.gross_value, &stored[i], sizeof stored[i]);
        VsAddHeader(&header);
    }
    const char* const expected[] = {"1234.57", "nan", "nan", "inf", "0.00"};
    ASSERT_NE(std::setlocale(LC_ALL, "Polish"), nullptr);
    // A host runtime's settings: invalid operation, division by zero and
    // overflow unmasked, extended precision; an inexact result flagged.
    const uint16_t host_control = 0x1332;
    const uint32_t host_mxcsr = 0x1900;
    asm volatile("fldcw %0\n\tldmxcsr %1" : : "m"(host_control), "m"(host_mxcsr));
    volatile double third = 1.0;
    third = third / 3.0;
    const FloatState before = ReadFloatState();

    ASSERT_EQ(WybierzMM(5), 1);
    ASSERT_EQ(OrderCandidateList.count, static_cast<int32_t>(stored.size()));
    std::vector<std::string> rows;
    for (uint32_t row = 0; row < stored.size(); ++row)
        rows.push_back(reinterpret_cast<const char*>(OrderRowText(row, 0)));
    const FloatState after = ReadFloatState();

    const uint16_t defaults = 0x037F;
    const uint32_t default_mxcsr = 0x1F80;
    asm volatile("fnclex\n\tfldcw %0\n\tldmxcsr %1" : : "m"(defaults), "m"(default_mxcsr));
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(after, before);
    EXPECT_NE(before.status & 0x20, 0) << "the host's inexact flag was set";
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i], std::string("ZK/1\r") + expected[i] + "\r15.03.2024") << i;
}

}  // namespace
}  // namespace reconcile_test
