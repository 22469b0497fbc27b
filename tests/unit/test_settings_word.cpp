// The settings word: rate codes, trigger position and the two pattern halves.
#include "capture/settings_word.h"

#include <gtest/gtest.h>

namespace {

using namespace quillon;

struct WordCase {
    int rate;
    std::string trigPos;
    std::string pattern;
    std::string genType;
    std::string word;
};

class SettingsWord : public ::testing::TestWithParam<WordCase> {};

TEST_P(SettingsWord, ComposesFromTheFields) {
    const auto& c = GetParam();
    EXPECT_EQ(ComposeSettingsWord(c.rate, c.trigPos, c.pattern, c.genType), c.word);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, SettingsWord,
    ::testing::Values(
        WordCase{1, "00", "0000000000000000", "0", std::string(24, '0')},
        WordCase{10, "00", "0000000000000000", "0", "000010000000000000000000"},
        WordCase{100, "01", "0000000000000000", "0", "000100100000000000000000"},
        WordCase{1000, "11", "0000000000000000", "0", "000111100000000000000000"},
        WordCase{7, "00", "0000000000000000", "0", "000110000000000000000000"},
        // Sixteen characters: bits 15..8 at places 7..14, gentype at 15, bits 7..0 after.
        WordCase{1, "10", "1111000010101010", "G",
                 "00000101111000"
                 "0G"
                 "10101010"},
        // Short pattern: both halves are the whole text.
        WordCase{1, "00", "101", "0",
                 "0000000101"
                 "0"
                 "101"},
        // 8 to 15 characters: the halves overlap.
        WordCase{1, "00", "ABCDEFGHIJ", "0", "0000000ABCDEFGH0CDEFGHIJ"},
        // Longer than 16: the middle is lost.
        WordCase{1, "00", "ABCDEFGHxxxxIJKLMNOP", "0", "0000000ABCDEFGH0IJKLMNOP"},
        // One- and three-character positions shift the rest.
        WordCase{1, "1", "0000000000000000", "0", "00000100000000000000000"},
        WordCase{1, "101", "0000000000000000", "0", "0000010100000000000000000"}));

// The last guard before the wire: only a whole word of printable bytes is framed.
TEST(SettingsWordFrame, OnlyExactlyTwentyFourBytesWithoutControlCharacters) {
    const auto framed = FrameSettingsWord("000001011111111101111111");
    ASSERT_TRUE(framed.has_value());
    EXPECT_EQ(std::string(framed->begin(), framed->end()), "000001011111111101111111");
    EXPECT_FALSE(FrameSettingsWord("00000101").has_value());
    EXPECT_FALSE(FrameSettingsWord("0000010100000000000000000").has_value());
    EXPECT_FALSE(FrameSettingsWord("").has_value());
    // A pasted "01\rCAP\r0101010101" must not become three commands.
    for (const char bad : {'\r', '\n', '\0', '\x1b', '\x7f'}) {
        std::string word(24, '0');
        word[9] = bad;
        EXPECT_FALSE(FrameSettingsWord(word).has_value()) << int(bad);
    }
    std::string katakana(24, '0');
    katakana[9] = '\xB1'; // half-width katakana in code page 932 is sent as it is
    EXPECT_TRUE(FrameSettingsWord(katakana).has_value());
}

TEST(SettingsWordFields, NamesTheFirstFieldOfTheWrongLength) {
    EXPECT_EQ(WrongLengthField("00", "0000000000000000", "0"), std::nullopt);
    EXPECT_EQ(WrongLengthField("", "0000111111110000", "0"), SettingsField::TrigPos);
    EXPECT_EQ(WrongLengthField("001", "0000111111110000", "0"), SettingsField::TrigPos);
    EXPECT_EQ(WrongLengthField("00", "0101", "0"), SettingsField::TrigPattern);
    EXPECT_EQ(WrongLengthField("00", "0000000000000000", ""), SettingsField::GenType);
}

TEST(SettingsWordFields, FieldsAreCodePage932Bytes) {
    EXPECT_EQ(ToCodePage932("01x"), "01x");
    // Half-width katakana: one byte each, as the analyzer's own texts.
    EXPECT_EQ(ToCodePage932("\uFF71\uFF9D"), "\xB1\xDD");
    // Other Japanese characters take two bytes, never UTF-8's three.
    EXPECT_EQ(ToCodePage932("\u3042"), "\x82\xA0");
    // A character code page 932 lacks becomes one '?'; the rest stays in place.
    EXPECT_EQ(ToCodePage932("0\U0001F600"
                            "1"),
              "0?1");
    EXPECT_EQ(ToCodePage932(std::string("0\xff"
                                        "1")),
              "0?1");
    // Fifteen characters and one of two bytes do not fit the sixteen places.
    EXPECT_EQ(WrongLengthField("00", ToCodePage932("000000000000000\u3042"), "0"),
              SettingsField::TrigPattern);
    EXPECT_EQ(WrongLengthField("00", ToCodePage932("000000000000000\uFF71"), "0"), std::nullopt);
}

TEST(SettingsWordHalves, LeftAndRightParts) {
    EXPECT_EQ(LeftPart("123456789"), "12345678");
    EXPECT_EQ(RightPart("123456789"), "23456789");
    EXPECT_EQ(LeftPart("12"), "12");
    EXPECT_EQ(RightPart("12"), "12");
    EXPECT_EQ(RightPart(""), "");
}

} // namespace
