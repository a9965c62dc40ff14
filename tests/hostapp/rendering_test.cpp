// The host program's drawing of host texts: Mazovia to UTF-8, the attribute
// bytes, the column directives of the host's message window, wrapping and
// fitting into cells.
#include <gtest/gtest.h>

#include <string>

#include "hostapp/text_cells.h"

using namespace hostapp;

namespace {

std::string Plain(const Line& line) {
    return Render(line, false);
}

std::vector<std::string> PlainLines(const std::vector<Line>& lines) {
    std::vector<std::string> out;
    for (const Line& line : lines)
        out.push_back(Plain(line));
    return out;
}

// Attributes of a line as one letter per cell: . plain, b bold, u underline,
// r reverse.
std::string Attributes(const Line& line) {
    std::string out;
    for (const Cell& cell : line)
        out += cell.attr == kPlain       ? '.'
               : cell.attr == kBold      ? 'b'
               : cell.attr == kUnderline ? 'u'
                                         : 'r';
    return out;
}

}  // namespace

TEST(MazoviaText, PolishLettersAndBoundedFields) {
    // The eighteen Polish letters of the code page, byte by byte as the
    // code page table gives them.
    const std::string bytes =
        "\x86\x8D\x91\x92\xA4\xA2\x9E\xA6\xA7"
        "\x8F\x95\x90\x9C\xA5\xA3\x98\xA0\xA1";
    EXPECT_EQ(MazoviaToUtf8(bytes), "ąćęłńóśźżĄĆĘŁŃÓŚŹŻ");
    EXPECT_EQ(MazoviaToUtf8("WZ/1/2026 abc"), "WZ/1/2026 abc");
    EXPECT_EQ(MazoviaToUtf8("\xB3\xC4\xFA"), "│─·") << "the rest is code page 437";

    // A field read up to its terminator, or to its end when it has none.
    const char terminated[8] = {'Z', 'K', 0, 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(FieldToUtf8(terminated, sizeof terminated), "ZK");
    const char full[4] = {'\x9C', 'a', 'd', 'a'};
    EXPECT_EQ(FieldToUtf8(full, sizeof full), "Łada");
}

TEST(HostText, AttributeBytesAndLineFeeds) {
    // The plug-in's description: a bold heading, then a plain line.
    const std::vector<Line> lines = LayoutHostText(
        "\x02"
        "DOKUMENTY SPRZEDA\xA1Y:\x01\n1. Por\xA2wnaj WZ z zam\xA2wieniem - Ctrl+9");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Plain(lines[0]), "DOKUMENTY SPRZEDAŻY:");
    EXPECT_EQ(Attributes(lines[0]), std::string(20, 'b'));
    EXPECT_EQ(Plain(lines[1]), "1. Porównaj WZ z zamówieniem - Ctrl+9");
    EXPECT_EQ(Attributes(lines[1]), std::string(37, '.'));

    // The button and label bytes of the dialogs, and the progress text's
    // 0x03/0x04; other control bytes show nothing.
    const Line button = LayoutHostText(
                            "\x05"
                            "F12\x01 OK")
                            .front();
    EXPECT_EQ(Plain(button), "F12 OK");
    EXPECT_EQ(Attributes(button), "rrr...");
    const Line progress = LayoutHostText(
                              "a\x03"
                              "bc\x04"
                              "d\x07\x1b\r")
                              .front();
    EXPECT_EQ(Plain(progress), "abcd");
    EXPECT_EQ(Attributes(progress), ".uu.");

    // A trailing line feed leaves an empty last line; nothing is lost.
    EXPECT_EQ(PlainLines(LayoutHostText("a\n\nb\n")), (std::vector<std::string>{"a", "", "b", ""}));
}

TEST(HostText, ColumnDirectivesOfTheRecordSizeReport) {
    // The report's header line and rows exactly as the plug-in composes
    // them: l-stops put the text at the column, p-stops end it there.
    const std::vector<Line> lines = LayoutHostText(
        "\x01tl18l33\x01TABELA\tWE WTYCZCE\tW PROGRAMIE\n"
        "\x01tp25p40\x01Tspr\t980\t979\n"
        "\x01tp25p40\x01Tspr_dok\t298\tbrak\n"
        "\nModu\x92 wtyczki \x02Quendrix.dll\x01");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Plain(lines[0]), "TABELA            WE WTYCZCE     W PROGRAMIE");
    EXPECT_EQ(Plain(lines[1]),
              "Tspr" + std::string(18, ' ') + "980" + std::string(12, ' ') + "979");
    EXPECT_EQ(Plain(lines[2]),
              "Tspr_dok" + std::string(14, ' ') + "298" + std::string(11, ' ') + "brak");
    EXPECT_EQ(Plain(lines[0]).find("WE WTYCZCE"), 18u);
    EXPECT_EQ(Plain(lines[0]).find("W PROGRAMIE"), 33u);
    EXPECT_EQ(Plain(lines[1]).find("980") + 3, 25u);
    EXPECT_EQ(Plain(lines[2]).find("brak") + 4, 40u);
    // The stops stay in force until the next directive; a line without tabs
    // is not touched by them.
    EXPECT_EQ(Plain(lines[4]), "Moduł wtyczki Quendrix.dll");
    EXPECT_EQ(Attributes(lines[4]), std::string(14, '.') + std::string(12, 'b'));
}

TEST(HostText, DirectivesThatDoNotParseAndCrowdedColumns) {
    // Not a directive: the 0x01 only switches back to plain and the text
    // stays visible, also when the closing byte never comes.
    EXPECT_EQ(Plain(LayoutHostText("\x02"
                                   "a\x01tx\x01"
                                   "b")
                        .front()),
              "atxb");
    EXPECT_EQ(Plain(LayoutHostText("\x01tl18").front()), "tl18");
    EXPECT_EQ(Plain(LayoutHostText("\x01t\x01x").front()), "tx");

    // A part that reaches past its stop keeps one space before the next.
    EXPECT_EQ(Plain(LayoutHostText("\x01tl4p6\x01"
                                   "abcdef\tg\thij")
                        .front()),
              "abcdef g hij");
    // Tabs beyond the stops go to the next multiple of eight.
    EXPECT_EQ(Plain(LayoutHostText("\x01tl3\x01"
                                   "a\tb\tc")
                        .front()),
              "a  b    c");
    EXPECT_EQ(Plain(LayoutHostText("ab\tc").front()), "ab      c");
}

TEST(HostText, WrappingFittingAndTerminalOutput) {
    const std::vector<Line> wrapped =
        Wrap({Cells("Ten dokument WZ już był porównywany z zamówieniem")}, 20);
    EXPECT_EQ(PlainLines(wrapped), (std::vector<std::string>{"Ten dokument WZ już",
                                                             "był porównywany z", "zamówieniem"}));
    // A word longer than the width is cut hard.
    EXPECT_EQ(PlainLines(Wrap({Cells("abcdefghij klm")}, 4)),
              (std::vector<std::string>{"abcd", "efgh", "ij", "klm"}));

    EXPECT_EQ(Plain(Fit(Cells("Mąka pszenna"), 6)), "Mąka …");
    EXPECT_EQ(Plain(Fit(Cells("Sól"), 6)), "Sól   ");
    EXPECT_EQ(Plain(FitRight(Cells("12,500"), 9)), "   12,500");
    EXPECT_EQ(Plain(Centered(Cells("OK"), 6)), "  OK  ");

    // Attributes become SGR sequences only when asked for.
    Line line = Cells("a");
    Append(line, "bc", kBold);
    Append(line, "d");
    EXPECT_EQ(Render(line, false), "abcd");
    EXPECT_EQ(Render(line, true), "a\x1b[0;1mbc\x1b[0md");
    EXPECT_EQ(Render(Cells("x", kReverse), true), "\x1b[0;7mx\x1b[0m");
    // Invalid UTF-8 of the program's own texts shows as a replacement mark.
    EXPECT_EQ(Plain(Cells("a\xC5")), "a\xEF\xBF\xBD");
}
