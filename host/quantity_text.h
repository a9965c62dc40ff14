// A quantity as the host shows it: thousandths of a unit written as whole
// units, a decimal comma and three decimals ("12,345", "-0,500"). Written
// digit by digit, so no locale and no floating-point unit takes part.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for the longest text, "-9223372036854775,808", and its terminator.
inline constexpr size_t kQuantityTextSize = 22;

// Writes the text of thousandths and a terminator into out (at least
// kQuantityTextSize bytes); returns its length.
inline size_t WriteQuantity(char* out, int64_t thousandths) {
    // The magnitude in 64 unsigned bits, which hold that of the lowest value too.
    uint64_t magnitude = static_cast<uint64_t>(thousandths);
    if (thousandths < 0)
        magnitude = 0 - magnitude;
    char digits[kQuantityTextSize];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0 || count < 4);  // at least "0,000"
    size_t length = 0;
    if (thousandths < 0)
        out[length++] = '-';
    while (count > 0) {
        out[length++] = digits[--count];
        if (count == 3)
            out[length++] = ',';
    }
    out[length] = 0;
    return length;
}
