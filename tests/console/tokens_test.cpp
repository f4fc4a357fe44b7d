#include "console/tokens.h"

#include <gtest/gtest.h>

namespace rowkeep {
namespace {

TEST(TextToken, QuotesCommasAndBlanks) {
    EXPECT_EQ(text_token(""), "");
    EXPECT_EQ(text_token("   abc  "), "abc  ");
    EXPECT_EQ(text_token("a,b"), "a");
    EXPECT_EQ(text_token("\"a,b\""), "a,b");
    EXPECT_EQ(text_token("\"a,b\"tail,x"), "a,b");
    EXPECT_EQ(text_token("ab\"cd"), "ab\"cd");
    EXPECT_EQ(text_token("\"open to the end"), "open to the end");
    EXPECT_EQ(text_token("\t x y,z"), "x y");
}

TEST(TextToken, CutAt4096) {
    EXPECT_EQ(text_token(std::string(5000, 'x')), std::string(4096, 'x'));
    EXPECT_EQ(text_token("\"" + std::string(5000, 'q')), std::string(4096, 'q'));
}

TEST(IntegerToken, DecimalAndReals) {
    EXPECT_EQ(integer_token(""), 0);
    EXPECT_EQ(integer_token("abc"), 0);
    EXPECT_EQ(integer_token("-"), 0);
    EXPECT_EQ(integer_token("-3"), -3);
    EXPECT_EQ(integer_token("  +7"), 7);
    EXPECT_EQ(integer_token("3.7"), 4);
    EXPECT_EQ(integer_token("2.5"), 2);
    EXPECT_EQ(integer_token("3.5"), 4);
    EXPECT_EQ(integer_token("-2.5"), -2);
    EXPECT_EQ(integer_token("1e2"), 100);
    EXPECT_EQ(integer_token("1D2"), 100);
    EXPECT_EQ(integer_token("12abc"), 12);
    EXPECT_EQ(integer_token("1 2"), 1);
    EXPECT_EQ(integer_token("1,5"), 1);
    EXPECT_EQ(integer_token("\"4\"2"), 42);
    EXPECT_EQ(integer_token("\"1 2\""), 1);
    EXPECT_EQ(integer_token("inf"), 0);
    EXPECT_EQ(integer_token("0x1E"), 0);
    EXPECT_EQ(integer_token("."), 0);
    EXPECT_EQ(integer_token("99999999999"), 2147483647);
    EXPECT_EQ(integer_token("-1e30"), -2147483647 - 1);
}

TEST(IntegerToken, BasedForms) {
    EXPECT_EQ(integer_token("&H1F"), 31);
    EXPECT_EQ(integer_token("&h1f"), 31);
    EXPECT_EQ(integer_token("&HE"), 14);
    EXPECT_EQ(integer_token("&O17"), 15);
    EXPECT_EQ(integer_token("&B101"), 5);
    EXPECT_EQ(integer_token("&17"), 15);
    EXPECT_EQ(integer_token("&19"), 1);
    EXPECT_EQ(integer_token("&"), 0);
}

TEST(IntegerToken, At67CharactersTheTokenEnds) {
    // 67 zeros then a 5: the 5 lies beyond the token.
    EXPECT_EQ(integer_token(std::string(67, '0') + "5"), 0);
    EXPECT_EQ(integer_token(std::string(66, '0') + "5"), 5);
}

TEST(Numbers, SignedAndPlainForms) {
    EXPECT_EQ(number_text(7), " 7");
    EXPECT_EQ(number_text(0), " 0");
    EXPECT_EQ(number_text(-7), "-7");
    EXPECT_EQ(plain_number(7), "7");
    EXPECT_EQ(lower_az("AbZ\xc1"), "abz\xc1");
    EXPECT_TRUE(is_numeric_text("-1,5.0"));
    EXPECT_FALSE(is_numeric_text(""));
    EXPECT_FALSE(is_numeric_text("1/2"));
}

}  // namespace
}  // namespace rowkeep
