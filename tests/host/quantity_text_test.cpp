// Quantities as the host shows them, the journal and the host program alike.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/quantity_text.h"

TEST(QuantityText, WholeUnitsADecimalCommaAndThreeDecimals) {
    const struct {
        int64_t thousandths;
        const char* text;
    } cases[] = {
        {0, "0,000"},
        {1, "0,001"},
        {-500, "-0,500"},
        {12345, "12,345"},
        {-2147483648, "-2147483,648"},
        {INT64_MAX, "9223372036854775,807"},
        {INT64_MIN, "-9223372036854775,808"},
    };
    for (const auto& c : cases) {
        char text[kQuantityTextSize];
        EXPECT_EQ(WriteQuantity(text, c.thousandths), std::string(c.text).size());
        EXPECT_STREQ(text, c.text);
    }
}
