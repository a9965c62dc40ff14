#include "reconcile/decimal_text.h"

#include <cstring>

namespace {

constexpr int kMantissaBits = 52;
constexpr uint32_t kExponentAll = 0x7FF;
constexpr int kExponentBias = 1075;  // 1023 and the 52 bits of the mantissa
// The largest double times 100 has 1031 bits.
constexpr int kLimbs = 33;

// A whole number of at most kLimbs 32-bit limbs, least significant first.
struct Whole {
    uint32_t limb[kLimbs] = {};
    int used = 0;  // limbs up to the most significant one that is not zero
};

// number <<= shift
void ShiftLeft(Whole& number, int shift) {
    const int limbs = shift / 32;
    const int bits = shift % 32;
    for (int i = kLimbs - 1; i >= 0; --i) {
        const int from = i - limbs;
        uint32_t value = from >= 0 ? number.limb[from] << bits : 0;
        if (bits != 0 && from >= 1)
            value |= number.limb[from - 1] >> (32 - bits);
        number.limb[i] = value;
    }
    number.used = kLimbs;
    while (number.used > 0 && number.limb[number.used - 1] == 0)
        --number.used;
}

// number /= divisor; returns the remainder.
uint32_t DivideBy(Whole& number, uint32_t divisor) {
    uint64_t rest = 0;
    for (int i = number.used - 1; i >= 0; --i) {
        const uint64_t part = (rest << 32) | number.limb[i];
        number.limb[i] = static_cast<uint32_t>(part / divisor);
        rest = part % divisor;
    }
    while (number.used > 0 && number.limb[number.used - 1] == 0)
        --number.used;
    return static_cast<uint32_t>(rest);
}

// The hundredths of the value: round(mantissa * 2^exponent * 100), a tie to
// the even one.
Whole Hundredths(uint64_t mantissa, int exponent) {
    Whole hundredths;
    const uint64_t scaled = mantissa * 100;  // below 2^60
    if (exponent >= 0) {
        hundredths.limb[0] = static_cast<uint32_t>(scaled);
        hundredths.limb[1] = static_cast<uint32_t>(scaled >> 32);
        ShiftLeft(hundredths, exponent);
        return hundredths;
    }
    const int shift = -exponent;
    // Below half a hundredth: scaled is below 2^60, so no shift of 61 or more
    // leaves anything to round.
    if (shift > 60)
        return hundredths;
    uint64_t whole = scaled >> shift;
    const uint64_t rest = scaled & ((uint64_t{1} << shift) - 1);
    const uint64_t half = uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (whole & 1) != 0))
        ++whole;
    hundredths.limb[0] = static_cast<uint32_t>(whole);
    hundredths.limb[1] = static_cast<uint32_t>(whole >> 32);
    hundredths.used = hundredths.limb[1] != 0 ? 2 : hundredths.limb[0] != 0 ? 1 : 0;
    return hundredths;
}

}  // namespace

size_t WriteTwoDecimals(char* out, uint64_t bits) {
    const auto exponent = static_cast<uint32_t>(bits >> kMantissaBits) & kExponentAll;
    uint64_t mantissa = bits & ((uint64_t{1} << kMantissaBits) - 1);
    // A NaN is written without its sign, as the runtime writes it.
    if (exponent == kExponentAll && mantissa != 0) {
        std::memcpy(out, "nan", 4);
        return 3;
    }
    size_t length = 0;
    if ((bits >> 63) != 0)
        out[length++] = '-';
    if (exponent == kExponentAll) {
        std::memcpy(out + length, "inf", 4);
        return length + 3;
    }
    if (exponent != 0)
        mantissa |= uint64_t{1} << kMantissaBits;
    Whole hundredths =
        Hundredths(mantissa, static_cast<int>(exponent != 0 ? exponent : 1) - kExponentBias);

    // The digits, last first, nine at a time; at least three, for "0.0d".
    char digits[kTwoDecimalsLongest + 9];
    size_t count = 0;
    do {
        uint32_t nine = DivideBy(hundredths, 1000000000);
        for (int i = 0; i < 9; ++i, nine /= 10)
            digits[count++] = static_cast<char>('0' + nine % 10);
    } while (hundredths.used > 0);
    while (count > 3 && digits[count - 1] == '0')
        --count;
    for (size_t i = count; i-- > 0;) {
        out[length++] = digits[i];
        if (i == 2)
            out[length++] = '.';
    }
    out[length] = 0;
    return length;
}
