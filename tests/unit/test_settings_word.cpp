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

TEST(SettingsWordFrame, AlwaysTwentyFourBytes) {
    const auto shortWord = FrameSettingsWord("00000101");
    EXPECT_EQ(std::string(shortWord.begin(), shortWord.end()), "000001010000000000000000");
    const auto longWord = FrameSettingsWord("0000010100000000000000000XYZ");
    EXPECT_EQ(std::string(longWord.begin(), longWord.end()), "000001010000000000000000");
    const auto empty = FrameSettingsWord("");
    EXPECT_EQ(std::string(empty.begin(), empty.end()), std::string(24, '0'));
}

TEST(SettingsWordHalves, LeftAndRightParts) {
    EXPECT_EQ(LeftPart("123456789"), "12345678");
    EXPECT_EQ(RightPart("123456789"), "23456789");
    EXPECT_EQ(LeftPart("12"), "12");
    EXPECT_EQ(RightPart("12"), "12");
    EXPECT_EQ(RightPart(""), "");
}

} // namespace
