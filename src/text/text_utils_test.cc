#include "text/text_utils.h"

#include <gtest/gtest.h>

#include <string>

namespace zavo {
namespace {

TEST(TextToIntTest, ReadsWhatTheFormatAllows) {
  struct Case {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"  42", 42},      {"+7", 7},
      {"-$10", -16},     {"$FFFFFFFF", -1},
      {"$ffffffff", -1}, {"42 ", 0},
      {"", 0},           {"-", 0},
      {"$", 0},          {"2147483647", 2147483647},
      {"2147483648", 0}, {"-2147483648", 0},
      {"$123456789", 0}, {"\t5", 0},
      {"12a", 0},        {"-0", 0},
      {"007", 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value, TextToInt(c.text)) << "text [" << c.text << "]";
  }
}

TEST(IntToTextTest, WritesPlainDecimal) {
  EXPECT_EQ("0", IntToText(0));
  EXPECT_EQ("-2147483648", IntToText(-2147483647 - 1));
  EXPECT_EQ("2147483647", IntToText(2147483647));
  EXPECT_EQ("-5", IntToText(-5));
}

TEST(ParseNumberTest, ReadsDigitsOfTheBase) {
  EXPECT_EQ(31, ParseNumber("1F", 16));
  EXPECT_EQ(31, ParseNumber("1f", 16));
  EXPECT_EQ(-1, ParseNumber("ffffffff", 16));
  EXPECT_EQ(35, ParseNumber("z", 36));
  EXPECT_EQ(2, ParseNumber("10", 2));
  EXPECT_EQ(0, ParseNumber("", 16));
  EXPECT_EQ(0x12345678, ParseNumber("12345678", 16));
  EXPECT_EQ(1000000000, ParseNumber("1000000000", 10));
  EXPECT_EQ(0xAB, ParseNumber("AB", 16));
  // A digit outside the base counts as 0; its value is not settled, but it
  // must not disturb the other digits.
  EXPECT_EQ(0x10, ParseNumber("1g", 16));
}

TEST(RealPowerTest, WholePowersAreExact) {
  for (int base = 2; base <= 36; ++base) {
    long double expected = 1;
    for (int e = 0; expected < 2147483648.0L; ++e) {
      EXPECT_EQ(expected, RealPower(base, e)) << base << "^" << e;
      expected *= base;
    }
  }
  EXPECT_EQ(0.25L, RealPower(2, -2));
  EXPECT_EQ(-8, RealPower(-2, 3));
  EXPECT_EQ(4, RealPower(-2, 2));
  EXPECT_EQ(0, RealPower(0, 3));
  EXPECT_EQ(1, RealPower(0, 0));
}

TEST(CaseTest, MapsCodePage866Letters) {
  EXPECT_EQ(0x80, UpCaseChar(0xA0));
  EXPECT_EQ(0x9F, UpCaseChar(0xEF));
  EXPECT_EQ(0x90, UpCaseChar(0xE0));
  EXPECT_EQ(0xF0, UpCaseChar(0xF1));
  EXPECT_EQ(0xB0, UpCaseChar(0xB0));
  EXPECT_EQ(0xEF, LoCaseChar(0x9F));
  EXPECT_EQ(0xA0, LoCaseChar(0x80));
  EXPECT_EQ('a', LoCaseChar('A'));
  for (int c = 0; c < 256; ++c) {
    unsigned char u = UpCaseChar(static_cast<unsigned char>(c));
    if (u != c) {
      EXPECT_EQ(c, LoCaseChar(u)) << c;
    }
  }
  EXPECT_EQ("ABC\xF0\x80Z1", UpperText("aBc\xF1\xA0z1"));
}

TEST(CompareTest, OrdersBytesAndIgnoresCaseWhenAsked) {
  EXPECT_LT(CompareBytes("AB", "ABC"), 0);
  EXPECT_GT(CompareBytes("\xE0", "a"), 0);
  EXPECT_EQ(0, CompareNoCase("readme.TXT", "README.txt"));
  EXPECT_TRUE(EqualNoCase("\xA0x", "\x80X"));
  EXPECT_FALSE(EqualNoCase("a", "ab"));
}

TEST(TextTest, TrailingSeparatorAndBlanks) {
  std::string sep(1, kPathSeparator);
  EXPECT_EQ("dir", NoTrailingBackslash("dir" + sep));
  EXPECT_EQ("dir" + sep, NoTrailingBackslash("dir" + sep + sep));
  EXPECT_EQ("", NoTrailingBackslash(""));
  EXPECT_EQ("a b", TrimBlanks(" \ta b\t "));
}

TEST(CivilFromDaysTest, DatesOnBothSidesOfTheEpochAndOfLeapDays) {
  struct {
    std::int64_t days;
    std::int64_t year, month, day;
  } cases[] = {{0, 1970, 1, 1},      {-1, 1969, 12, 31},   {11016, 2000, 2, 29},
               {-25508, 1900, 3, 1}, {24855, 2038, 1, 19}, {-719468, 0, 3, 1}};
  for (const auto& c : cases) {
    const CivilDate date = CivilFromDays(c.days);
    EXPECT_EQ(c.year, date.year) << c.days;
    EXPECT_EQ(c.month, date.month) << c.days;
    EXPECT_EQ(c.day, date.day) << c.days;
  }
}

}  // namespace
}  // namespace zavo
