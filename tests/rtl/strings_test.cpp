#include "rtl/strings.h"

#include <gtest/gtest.h>

#include <string>

namespace {
TEST(Trim, RemovesControlCharactersAndBlanksAtBothEnds) {
    const std::string withNul("\0 \tB12\r\n ", 9);
    EXPECT_EQ(Trim(withNul), "B12");
    EXPECT_EQ(Trim(" a b "), "a b");
    EXPECT_EQ(Trim("\x21x\x21"), "\x21x\x21");  // 33 is no blank
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(Trim("\xA0x"), "\xA0x");  // a high byte is text, not blank
}

TEST(SameText, IgnoresTheCaseOfLettersOnly) {
    EXPECT_TRUE(SameText("action03", "Action03"));
    EXPECT_TRUE(SameText("HIDINDEX", "HidIndex"));
    EXPECT_FALSE(SameText(" Action03", "Action03"));
    EXPECT_FALSE(SameText("Action3", "Action03"));
    EXPECT_FALSE(SameText("[", "{"));  // only A..Z fold
}
}  // namespace
