// The fixed texts become the host's Mazovia bytes at compile time.
#include <gtest/gtest.h>

#include <string>

#include "host/mazovia_text.h"

namespace {

std::string Bytes(const char* s) {
    return std::string(s);
}

TEST(MazoviaText, PolishLettersBecomeMazoviaBytes) {
    EXPECT_EQ(Bytes("Błąd"_mz), "B\x92\x86\x64");
    EXPECT_EQ(Bytes("ĄĆĘŁŃÓŚŹŻ"_mz), "\x8F\x95\x90\x9C\xA5\xA3\x98\xA0\xA1");
    EXPECT_EQ(Bytes("ąćęłńóśźż"_mz), "\x86\x8D\x91\x92\xA4\xA2\x9E\xA6\xA7");
    EXPECT_EQ(Bytes("Wybierz zamówienie"_mz), "Wybierz zam\xA2wienie");
}

TEST(MazoviaText, ControlBytesAndAsciiPassUnchanged) {
    EXPECT_EQ(Bytes("\x01tl18l33\x01TABELA\t"_mz), "\x01tl18l33\x01TABELA\t");
    EXPECT_EQ(
        "\x02"
        "DOKUMENTY SPRZEDAŻY:"_mz.size(),
        21u);
}

TEST(MazoviaText, WindowsTableMapsPolishLetters) {
    EXPECT_EQ(mazovia::kToWindows1250[0x86 - 0x80], 0xB9);  // ą
    EXPECT_EQ(mazovia::kToWindows1250[0x9C - 0x80], 0xA3);  // Ł
    EXPECT_EQ(mazovia::kToWindows1250[0xA2 - 0x80], 0xF3);  // ó
    EXPECT_EQ(mazovia::kToWindows1250[0xC4 - 0x80], '?');   // box drawing
}

}  // namespace
