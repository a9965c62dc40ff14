// A double written with two decimals, from its bits: the text the C
// runtime's "%.2f" gives in the "C" locale, made without it. The runtime takes
// its decimal point from the locale the host may have set (a Polish host gets
// "1234,57"), and printing a double loads it into the floating-point unit,
// which a signalling NaN faults under the host's settings. Here the digits
// come from integer arithmetic alone.
#pragma once

#include <cstddef>
#include <cstdint>

// The longest text: a sign, the 309 digits of the largest finite double, the
// point and two decimals.
inline constexpr size_t kTwoDecimalsLongest = 313;

// Writes the value of the double whose bits are given, and a terminator, into
// out (at least kTwoDecimalsLongest + 1 bytes): "-" for a set sign bit, the
// integer part, ".", two decimals, the exact binary value rounded to the
// nearest hundredth and a tie to the even one; "inf" or "-inf", and "nan"
// for every NaN. Returns the length.
size_t WriteTwoDecimals(char* out, uint64_t bits);
