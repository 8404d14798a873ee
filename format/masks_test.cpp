#include "format/masks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "format/user_settings.h"

namespace format {
namespace {

class MasksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Use({});
    SetCurrency("b,");  // no alternative currency
    SetCurrency("a,E");
  }
  void TearDown() override {
    SetUserSettingReader(nullptr);
    ResetUserSettings();
    SetCurrency("b,");
    SetCurrency("a,E");
  }
  void Use(std::map<std::string, std::string> values) {
    SetUserSettingReader([values](std::string_view key) {
      auto it = values.find(std::string(key));
      return it == values.end() ? std::string() : it->second;
    });
    ResetUserSettings();
  }
};

TEST_F(MasksTest, FormatAmountExamples) {
  struct Case {
    const char* picture;
    double cents;
    bool pesetas;
    const char* expected;
  } cases[] = {
      {" ZZ,ZZZ,ZZ9", 123456, false, "   1.234'56"}, {" ZZ,ZZZ,ZZ9", 0, false, "       0'00"},
      {" ZZ,ZZZ,ZZ9", -123456, false, "  -1.234'56"}, {" ZZ,ZZZ,ZZZ", 0, false, "           "},
      {"+ZZ,ZZZ,ZZ9", -5, false, "-      0'05"},    {" ZZ,ZZZ,ZZ9", 100000, true, "    166.386"},
      {"ZZ,ZZZ,ZZ9", 100000000, false, "1000000'00"}, {" ZZ,ZZZ,ZZ9", 5, true, "          8"},
      {" ZZ,ZZZ,ZZZ", -1, false, "       -'01"},     {"+ZZ,ZZZ,ZZ9", 12345, false, "+    123'45"},
      {"ZZZZ-", -250, false, "2'50-"},               {" ZZ,ZZZ,ZZ9", 12345678901.0, false, "123456789'0"},
      {" ZZ,ZZZ,ZZ9", 1e15, false, "!!!!!!!!!!!"},
      {"**,**9", 1234, false, "*12'34"},           {"ZZ9.9", 1234, false, "12'34"},
      {" ZZ,ZZZ,ZZZ", -100000, true, "   -166.386"},
  };
  for (const auto& c : cases) {
    SetCurrency(c.pesetas ? "x,P" : "x,");
    SetCurrency(c.pesetas ? "p" : "");
    EXPECT_EQ(FormatAmount(c.picture, c.cents), c.expected) << c.picture << " " << c.cents;
  }
}

TEST_F(MasksTest, FormatWithMaskExamples) {
  struct Case {
    const char* mask;
    double value;
    const char* expected;
  } cases[] = {
      {"+ZZ9.999 %", 12.3456, "+ 12'346 %"},
      {"(+ZZ9.99%)", -3.2, "(-  3'20%)"},
      {"ZZ9.99", 0.125, "  0'12"},
      {"ZZ9.99", 0.375, "  0'38"},
      {"ZZ9.ZZ", 5.5, "  5'5 "},
      {"ZZ9.ZZ", 5, "  5   "},
      {"**,**9.99", 12.5, "****12'50"},
      {"ZZ,ZZ9.99-", -1234.5, " 1.234'50-"},
      {"ZZ,ZZ9", -123, "  -123"},
      {"ZZZ9", 12345, "!!!!"},
      {"Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9", -1234567.5, "           -1.234.568"},
      {"ZZ,ZZ9", -12345, "-12345"},
      {"ZZ9.99", -0.001, "  -'00"},
      {"ZZ9.99", -0.5, "  -'50"},
      {"ZZ9.99", -999.5, "-999'5"},
      {"9", 12, "!"},
      {"ZZZ.ZZ", 0, "      "},
      {"ZZ9", 0, "  0"},
      {"99,999", 123, "00.123"},
      {"ZZ,ZZ9", 123, "   123"},
      {"ZZZ9", 2.5, "   2"},
      {"ZZZ9", 3.5, "   4"},
      {"ZZZ9", -2.5, "  -2"},
      {"ZZ9", 12, " 12"},
      {"ZZ9", 1234, "!!!"},
      {"ZZ9.99", 1234.5, "1234'5"},
      {"ZZ9.99-", 12.345, " 12'34 "},
      {"", 5, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatWithMask(c.mask, c.value), c.expected) << c.mask << " " << c.value;
}

TEST_F(MasksTest, NonFiniteValuesDoNotBreakTheField) {
  EXPECT_EQ(FormatWithMask("ZZ9.99", std::numeric_limits<double>::infinity()), "!!!!!!");
  EXPECT_EQ(FormatWithMask("ZZ9.99", std::nan("")), "  0'00");
  EXPECT_EQ(FormatWithMask("ZZ9", 1e300), "!!!");
  EXPECT_EQ(FormatWithMask(std::string(320, 'Z') + "9", 1e300).size(), 321u);
  const std::string manyDecimals = "9." + std::string(400, '9');
  EXPECT_EQ(FormatWithMask(manyDecimals, 0), "0'" + std::string(400, '0'));
  EXPECT_EQ(FormatWithMask(manyDecimals, 1).size(), 402u);
}

TEST_F(MasksTest, CharactersComeFromTheUserSettingsOnce) {
  Use({{"DecCaracter", ","}, {"MilCaracter", " "}});
  EXPECT_EQ(DecimalChar(), ',');
  EXPECT_EQ(ThousandsChar(), '.');  // blank means the default
  EXPECT_EQ(FormatWithMask("ZZ,ZZ9.99", 1234.5), " 1.234,50");
  Use({{"DecCaracter", "."}, {"MilCaracter", ","}});
  EXPECT_EQ(FormatWithMask("ZZ,ZZ9.99", 1234.5), " 1,234.50");
  Use({});
  EXPECT_EQ(FormatWithMask("ZZ,ZZ9.99", 1234.5), " 1.234'50");
  // Blanks before the character are not the character.
  Use({{"DecCaracter", " ,"}, {"MilCaracter", "   "}});
  EXPECT_EQ(FormatWithMask("ZZ,ZZ9.99", 1234.5), " 1.234,50");
}

// Which currency FormatAmount shows: ten euros, or their pesetas.
bool ShowsPesetas() {
  const std::string text = FormatAmount(" ZZ,ZZZ,ZZ9", 1000);
  EXPECT_TRUE(text == "      1.664" || text == "      10'00") << text;
  return text == "      1.664";
}

TEST_F(MasksTest, CurrencySwitch) {
  EXPECT_FALSE(ShowsPesetas());
  // No alternative currency: "p" keeps the base one.
  SetCurrency("p");
  EXPECT_FALSE(ShowsPesetas());
  SetCurrency("x, p");
  EXPECT_FALSE(ShowsPesetas());
  SetCurrency("P");
  EXPECT_TRUE(ShowsPesetas());
  SetCurrency("");
  EXPECT_FALSE(ShowsPesetas());
  // A new base currency is shown at once.
  SetCurrency("p");
  EXPECT_TRUE(ShowsPesetas());
  SetCurrency("A, e");
  EXPECT_FALSE(ShowsPesetas());
  SetCurrency("A, P");
  EXPECT_TRUE(ShowsPesetas());
}

TEST_F(MasksTest, PesetaRateIsSinglePrecision) {
  EXPECT_EQ(static_cast<double>(kPesetaRate), 166.38600158691406);
  SetCurrency("x,P");
  SetCurrency("p");
  // 1e9 cents: the single-precision rate adds 0.0159 pesetas, rounded away.
  EXPECT_EQ(FormatAmount("ZZZ,ZZZ,ZZZ,ZZ9", 1e9), "  1.663.860.016");
}

// The prepared pictures print whole cents from their digits; the plain
// functions go through floating point. Both must give the same bytes for
// every picture, sign, size and setting, including the fields that
// overflow and the amounts too large for the digit path.
TEST_F(MasksTest, PreparedAmountPicturesPrintLikeFormatAmount) {
  const std::string_view pictures[] = {
      " ZZ,ZZZ,ZZ9", "ZZ,ZZZ,ZZ9", "+ZZ,ZZZ,ZZ9", " ZZ,ZZZ,ZZZ", "ZZZ,ZZZ,ZZ9", "ZZZ,ZZZ,ZZZ,ZZ9", "ZZ9.9",
      "ZZ9.999",     "ZZZ9.99",    "**,**9",      "ZZZZ-",       "-ZZ9",        "Z9",              "9",
      "Z",           "",           ".99",         "ZZ,ZZ9.99999999", "ZZ9.9999999999",
      "Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9"};
  const std::int64_t limit = std::int64_t{1} << 50;
  std::vector<std::int64_t> amounts = {0,          1,          4,           5,          49,         50,
                                       51,         99,         100,         101,        150,        250,
                                       999,        1000,       1001,        99999,      100000,     123456,
                                       999999,     1000000,    99999999,    100000000,  999999999,  1000000000,
                                       1234567890, 2147483647, 4294967296,  limit / 10 - 1, limit / 10,
                                       limit / 10 + 1, limit - 1, limit, limit + 1, std::int64_t{1} << 53,
                                       std::numeric_limits<std::int64_t>::max()};
  const std::size_t positives = amounts.size();
  for (std::size_t i = 0; i < positives; ++i) amounts.push_back(-amounts[i]);
  amounts.push_back(std::numeric_limits<std::int64_t>::min());
  const std::map<std::string, std::string> settings[] = {{}, {{"DecCaracter", ","}, {"MilCaracter", "."}}};
  for (const auto& setting : settings) {
    Use(setting);
    for (const bool pesetas : {false, true}) {
      SetCurrency(pesetas ? "x,P" : "x,");
      SetCurrency("p");
      for (const std::string_view picture : pictures) {
        const AmountPicture prepared(picture);
        for (const std::int64_t cents : amounts) {
          const std::string expected = FormatAmount(picture, static_cast<double>(cents));
          EXPECT_EQ(prepared.Format(cents), expected)
              << "picture \"" << picture << "\" cents " << cents << (pesetas ? " in pesetas" : " in euros");
          std::string appended = "x";
          prepared.AppendTo(appended, cents);
          EXPECT_EQ(appended, "x" + expected) << picture << " " << cents;
        }
      }
    }
  }
}

TEST_F(MasksTest, PreparedMasksPrintLikeFormatWithMask) {
  const std::string_view masks[] = {"ZZZ9", "(+ZZ9.99%)", "+ZZ9.999 %", "ZZ,ZZ9.99-", "**,**9.99", "ZZ9.ZZ", "9", ""};
  const double values[] = {0, 1, -1, 0.005, 2.5, -2.5, 9.995, 99.5, 999.999, 1234.5, -1234.5, 1e15, -1e300};
  for (const std::string_view mask : masks) {
    const MaskPicture prepared(mask);
    for (const double value : values) {
      EXPECT_EQ(prepared.Format(value), FormatWithMask(mask, value)) << mask << " " << value;
      std::string appended = "x";
      prepared.AppendTo(appended, value);
      EXPECT_EQ(appended, "x" + FormatWithMask(mask, value)) << mask << " " << value;
    }
  }
}

}  // namespace
}  // namespace format
