// The one text builder at its edges: a caller's buffer filled to its last
// byte, the growing form across its blocks, and the pieces' own limits.
#include <gtest/gtest.h>

#include <string>

#include "frame/text_builder.h"

namespace {

std::string Text(const TextBuilder& b) {
    return b.text == nullptr ? std::string() : std::string(b.text, b.length);
}

TEST(TextBuilder, CallersBufferKeepsWhatFitsAndSaysSo) {
    char buffer[8];
    TextBuilder b(buffer, sizeof buffer);
    b.AddText("", 5);  // nothing, and nothing cut
    b.AddPattern("[%s]", "abcdefgh", 3);
    EXPECT_EQ(Text(b), "[abc]");
    EXPECT_FALSE(b.cut);
    b.AddPattern("no mark", "ignored", 7);  // as a plain text; 2 bytes fit
    EXPECT_EQ(Text(b), "[abc]no");
    EXPECT_TRUE(b.cut);
    b.AddByte('x');  // full to its terminator: nothing more
    b.Insert(0, "y", 1);
    EXPECT_EQ(Text(b), "[abc]no");
    EXPECT_EQ(buffer[7], 0);
    b.Truncate(99);  // beyond the text: nothing
    b.Truncate(1);
    EXPECT_EQ(std::string(buffer), "[");
    b.Release();  // not the builder's block: kept
    EXPECT_EQ(b.text, buffer);

    char untouched = 'z';
    TextBuilder none(&untouched, 0);
    none.AddByte('a');
    EXPECT_TRUE(none.cut);
    EXPECT_EQ(untouched, 'z');
}

TEST(TextBuilder, GrowingFormGrowsAcrossBlocksAndGivesBack) {
    TextBuilder b = TextBuilder::Growing(4);
    EXPECT_EQ(b.text, nullptr);
    for (int i = 0; i < 100; ++i)
        b.AddDecimal(static_cast<uint32_t>(i), 3);
    EXPECT_EQ(b.length, 300u);
    EXPECT_EQ(Text(b).substr(0, 9), "000001002");
    b.Insert(3, "|", 1);
    b.Insert(b.length + 1, "?", 1);  // beyond the text: nothing
    b.Insert(0, "", 0);
    EXPECT_EQ(Text(b).substr(0, 7), "000|001");
    b.Add("%s-%d", "x", 42);
    EXPECT_EQ(Text(b).substr(b.length - 4), "x-42");
    EXPECT_FALSE(b.cut);
    b.Release();
    EXPECT_EQ(b.text, nullptr);
    EXPECT_EQ(b.length, 0u);
}

TEST(TextBuilder, NumbersKeepToTheirDigits) {
    char buffer[64];
    TextBuilder b(buffer, sizeof buffer);
    b.AddHex(0xDEADBEEF, 12);  // at most 8 digits
    b.AddByte(' ');
    b.AddHex(0x1F, 4);
    b.AddByte(' ');
    b.AddDecimal(4294967295u);
    b.AddByte(' ');
    b.AddDecimal(7, 20);  // as many zeros as the digits' room
    EXPECT_EQ(Text(b), "DEADBEEF 001F 4294967295 000000000007");
}

}  // namespace
