// The dialog definition block, byte for byte, against a transcription of the
// host's layout made by hand: each item's 20-byte head as little-endian hex
// words, then its text and terminator.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "reconcile/order_choice.h"

namespace {

// Hex digits, spaces ignored, to bytes.
std::string Hex(const char* digits) {
    std::string bytes, pair;
    for (const char* c = digits; *c != 0; ++c) {
        if (*c == ' ')
            continue;
        pair += *c;
        if (pair.size() == 2) {
            bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
            pair.clear();
        }
    }
    return bytes;
}

std::string Zero(const std::string& text) {
    return text + std::string(1, '\0');
}

std::string ExpectedBlock() {
    std::string b;
    b += Hex("3F010000");  // 319 bytes follow

    // Dialog 1001: 120 bytes after the entry's head, 2 controls.
    b += Hex("7800 0200");
    //        kind id   flags key  col  row  w    h    extra
    b += Hex("FFFF E903 0840 0000 0000 0000 3000 0500 00000000");
    b += Zero("Przetwarzanie");
    b += Hex("0700 FFFF 0000 0000 0300 0100 2A00 0300 03000000");
    b += Zero("");
    b += Hex("0400 0340 0000 0000 0400 0200 2800 0100 00000000");
    b += Zero("1234567890" + Hex("05") + "1234567890" + Hex("02") + "12345" + Hex("03") + "67890" +
              Hex("04") + "1234567890");

    // Dialog 1002: 191 bytes after the entry's head, 4 controls.
    b += Hex("BF00 0400");
    b += Hex("FFFF EA03 0002 0000 0000 0000 4E00 1200 00000000");
    b += Zero("Wybierz zam" + Hex("A2") + "wienie");
    b += Hex("0400 0158 0000 0000 0200 0300 4A00 0100 00000000");
    b += Zero("l17Numer zam.\rp15Warto" + Hex("9E8D") + " zak.br.\rl12Data wyst.");
    b += Hex("0300 FFFF 0000 003D 0200 0200 1400 0100 00000000");
    b += Zero(Hex("02") + "F3" + Hex("01") + " Dokumenty");
    b += Hex("0600 0140 0804 0000 0200 0400 4A00 0900 00000000");
    b += Zero("");
    b += Hex("0000 0150 0001 0055 1E00 0F00 1000 0100 00000000");
    b += Zero(Hex("05") + "F12" + Hex("01") + " OK");
    return b;
}

TEST(DialogDefinitionBlock, MatchesTheHostsLayoutByteForByte) {
    const std::string expected = ExpectedBlock();
    ASSERT_EQ(expected.size(), 323u);
    const std::string actual(reinterpret_cast<const char*>(DialogDefinition.data()),
                             DialogDefinition.size());
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(static_cast<uint8_t>(actual[i]), static_cast<uint8_t>(expected[i]))
            << "byte " << i;
}

}  // namespace
