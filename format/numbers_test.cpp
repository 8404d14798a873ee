#include "format/numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace format {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

TEST(PackDigits, PacksPairsAndPadsBlanks) {
  struct Case {
    std::string digits;
    std::string packed;
  } cases[] = {
      {"20240405", Bytes({148, 152, 132, 133})},
      {"00000000", Bytes({128, 128, 128, 128})},
      {" 2024", Bytes({130, 130, 168})},  // same as "02024"
      {"02024", Bytes({130, 130, 168})},
      {"2024 ", Bytes({130, 130, 168})},  // trailing blank moves to the left as a zero
      {"1 2", Bytes({138, 148})},         // inner blank is a zero: "102"
      {"A9", Bytes({137})},               // non-digits count as 0
      {"", ""},
      {"   ", Bytes({128, 128})},
      {"7", Bytes({198})},
  };
  for (const auto& c : cases) EXPECT_EQ(PackDigits(c.digits), c.packed) << "'" << c.digits << "'";
}

TEST(PackDigits, SortsLikeTheDigits) {
  std::vector<std::string> digits = {"19991231", "20000101", "20240405", "20240406", "99991231"};
  for (std::size_t i = 1; i < digits.size(); ++i) EXPECT_LT(PackDigits(digits[i - 1]), PackDigits(digits[i]));
}

TEST(UnpackDigits, TheValueIsTheNumberTheDigitsMake) {
  std::vector<std::string> cases = {"", std::string(1, '\0'), "A", Bytes({148, 152, 132, 133}),
                                    Bytes({255, 255, 255, 255, 255, 255, 255}), Bytes({227, 227, 227, 227, 227, 227, 227}),
                                    Bytes({227, 227, 227, 227, 227, 227, 227, 227, 227, 227, 227})};
  for (int a = 0; a < 256; ++a)
    for (int b : {0, 1, 99, 128, 137, 227, 255}) cases.push_back(Bytes({a, b}));
  for (const std::string& packed : cases)
    EXPECT_EQ(UnpackedValue(packed), NumberValue(UnpackDigits(packed))) << UnpackDigits(packed);
  EXPECT_EQ(UnpackedValue(PackDigits("0007")), 7);
}

TEST(UnpackDigits, TwoDigitsPerByte) {
  EXPECT_EQ(UnpackDigits(Bytes({148, 152, 132, 133})), "20240405");
  EXPECT_EQ(UnpackDigits("A"), "65");  // a byte without bit 7
  EXPECT_EQ(UnpackDigits(Bytes({255})), "27");  // 127: last two digits
  EXPECT_EQ(UnpackDigits(std::string(1, '\0')), "00");
  EXPECT_EQ(UnpackDigits(""), "");
  for (const char* d : {"00000000", "99991231", "0123456789"}) EXPECT_EQ(UnpackDigits(PackDigits(d)), d);
}

TEST(ZeroPad, PadsAndCutsOnTheLeft) {
  EXPECT_EQ(ZeroPad(7, 2), "07");
  EXPECT_EQ(ZeroPad(2024, 2), "24");
  EXPECT_EQ(ZeroPad(2024, 4), "2024");
  EXPECT_EQ(ZeroPad(-5, 3), "005");
  EXPECT_EQ(ZeroPad(0, 2), "00");
  EXPECT_EQ(ZeroPad(12, 0), "");
  EXPECT_EQ(ZeroPad(12, -3), "");
  EXPECT_EQ(ZeroPad(1e20, 4), "0000");
}

// The whole-number padding is the general one without floating point, up
// to the numbers a double holds exactly.
TEST(ZeroPad, WholeNumbersPadLikeTheGeneralPadding) {
  const std::int64_t exact = std::int64_t{1} << 53;
  const std::int64_t values[] = {0, 1, 7, 9, 10, 99, 100, 999, 1000, 2024, 32767, 65536, 999999999, exact - 1, exact};
  const std::int16_t widths[] = {-3, 0, 1, 2, 3, 4, 8, 16, 17, 25};
  for (const std::int64_t magnitude : values)
    for (const std::int64_t value : {magnitude, -magnitude})
      for (const std::int16_t width : widths)
        EXPECT_EQ(ZeroPadWhole(value, width), ZeroPad(static_cast<double>(value), width)) << value << " " << width;
  EXPECT_EQ(ZeroPadWhole(std::numeric_limits<std::int64_t>::min(), 20), "09223372036854775808");
  EXPECT_EQ(ZeroPadWhole(std::numeric_limits<std::int64_t>::max(), 4), "5807");
}

TEST(NumberText, WidthDecimalsAndLetters) {
  struct Case {
    double value;
    const char* picture;
    const char* text;
  } cases[] = {
      {12.3, "4.2", "0012.30"},  {-12.3, "4.2", "-012.30"}, {12.3, "4.2S", "+012.30"},
      {-12.3, "4.2M", "N012.30"}, {12.3, "4.2M", " 012.30"}, {-12.3, "4.2N", "N012.30"},
      {7.5, "3.2V", "00750"},    {0.25, ".1", ".2"},        {0.75, ".1", ".8"},  // ties to even
      {0.5, ".0", ""},           {1.5, ".0", "2"},          {0.125, ".2", ".12"},          {2.5, "", "2.5"},
      {0.5, ".1Z", "0.5"},       {0.5, ".1z", "0.5"},       {12345, "3", "345"},
      {-7, "3", "-07"},          {7, "3S", "+07"},          {0, "4.2", "0000.00"},
      {-0.5, ".1", "-.5"},       {3, "S", "+3"},            {-3, "M", "N3"},
  };
  for (const auto& c : cases) EXPECT_EQ(NumberText(c.value, c.picture), c.text) << c.value << " '" << c.picture << "'";
}

TEST(PlainNumberText, WholeNumbersAndFractions) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {1234, "1234"}, {-5, "-5"}, {0.5, ".5"}, {0.05, ".05"}, {0, ""}, {-0.5, "-.5"},
      {12.25, "12.25"}, {1e15, "1000000000000000"}, {100, "100"},
      // As many decimals as the number has, not the binary approximation's.
      {19.99, "19.99"}, {1234.56, "1234.56"}, {0.07, ".07"}, {-0.123456789, "-.123456789"},
      {1e-5, ".00001"}, {1e20, "100000000000000000000"}, {1.0 / 3, ".333333333333333"},
      // A whole number keeps every digit, also beyond 15 of them.
      {9007199254740992.0, "9007199254740992"}, {-9007199254740993.0, "-9007199254740992"},
      {123456789012345678.0, "123456789012345680"}, {1234567890123456.0, "1234567890123456"},
      // A fraction keeps 15 significant digits.
      {123456789.123456789, "123456789.123457"}, {2.0 / 3, ".666666666666667"},
  };
  for (const auto& c : cases) EXPECT_EQ(PlainNumberText(c.value), c.text) << c.value;
}

TEST(NumberText, NeverFailsOnSillyInput) {
  EXPECT_EQ(NumberText(1, "99999999999999999999.1"), std::string(999, '0') + "1.0");
  EXPECT_FALSE(NumberText(1e300, ".400").empty());
  EXPECT_FALSE(PlainNumberText(1e-300).empty());
  EXPECT_FALSE(PlainNumberText(5e-324).empty());
  EXPECT_EQ(PlainNumberText(std::numeric_limits<double>::quiet_NaN()), "");
  EXPECT_FALSE(PlainNumberText(std::numeric_limits<double>::infinity()).empty());
}

TEST(NumberValue, ReadsTheLeadingNumber) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"12", 12}, {" 1 2 ", 12}, {"-3.5", -3.5}, {"+4", 4}, {".25", 0.25}, {"7abc", 7},
      {"abc", 0}, {"", 0}, {"-", 0}, {".", 0}, {"1.2.3", 1.2}, {"--1", 0},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(NumberValue(c.text), c.value) << c.text;
}

TEST(CheckNumberText, SignAndPointRules) {
  struct Case {
    const char* text;
    const char* allowed;
    bool bad;
  } cases[] = {
      {"12.5", ".", false}, {" 12.5 ", ".", false}, {"1.2.3", ".", true}, {"-12", ".", true},
      {"12a", ".", true},   {"-12", "-", false},    {"1-2", "-", true},   {"--1", "-", true},
      {"+12", "+", false},  {"-1.5", ".-", false},  {".5-", ".-", true},  {"12.5", "", true},
      {"", "", false},      {"  ", "", false},      {"- 1", "-", false},  {"1 2", "", false},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckNumberText(c.text, c.allowed), c.bad) << c.text << " / " << c.allowed;
}

TEST(CheckNumberInRange, ComparesStoredValues) {
  struct Case {
    const char* text;
    double minimum, maximum;
    std::int16_t decimals;
    bool bad;
  } cases[] = {
      {"0.29", 0.29, 1, 2, false}, {"0.28", 0.29, 1, 2, true}, {"5", 1, 9, 17, true},
      {"5", 1, 9, -1, true},       {"5", 9, 1, 0, true},       {"5", 1, 9, 0, false},
      {"10", 1, 9, 0, true},       {"0", 1, 9, 0, true},       {"1.5", 1, 9, 0, true},  // no point allowed
      {"-2", -5, 5, 0, false},     {"-2", 0, 5, 0, true},      {"1.005", 1, 1.01, 2, false},
      {"9.004", 1, 9, 2, false},   {"9.006", 1, 9, 2, true},   {"", 0, 5, 0, false},
      {"12x", 0, 100, 0, true},    {"5", 1, 9, 16, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CheckNumberInRange(c.text, c.minimum, c.maximum, c.decimals), c.bad)
        << c.text << " in " << c.minimum << ".." << c.maximum << " /" << c.decimals;
}

TEST(PackCode, GroupsOfFourOrSix) {
  struct Case {
    const char* text;
    const char* digits;
  } cases[] = {
      {"4300.12", "43000012"}, {"430000", "430000"}, {"4300..12", "430000000012"}, {"", ""},
      {"   ", ""},             {"4300.", "4300"},    {"12", "0012"},               {"12345", "2345"},
      {"123456.1234", "1234561234"},  // 11 characters, one point: first group of 6
      {"12.34.56789", "001200346789"},  // 11 characters, two points: groups of 4
      {"43.1 ", "00430001"},            {"4300.12.", "43000012"},
  };
  for (const auto& c : cases) EXPECT_EQ(UnpackDigits(PackCode(c.text)), c.digits) << "'" << c.text << "'";
  EXPECT_EQ(PackCode("4300.12").size(), 4u);
  EXPECT_EQ(PackCode("430000").size(), 3u);
}

}  // namespace
}  // namespace format
