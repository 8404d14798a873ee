#include "format/dates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

#include "base/cp850.h"
#include "format/user_settings.h"

namespace format {
namespace {

// The year the two-digit years of the tests are read around.
constexpr int kThisYear = 2026;

// User settings from a map; forgets what the date code kept.
class DatesTest : public ::testing::Test {
 protected:
  void SetUp() override { Use({}); }
  void TearDown() override {
    SetUserSettingReader(nullptr);
    SetLanguage("");
    ResetUserSettings();
  }
  void Use(std::map<std::string, std::string> values) {
    SetUserSettingReader([values](std::string_view key) {
      auto it = values.find(std::string(key));
      return it == values.end() ? std::string() : it->second;
    });
    ResetUserSettings();
  }
};

std::string D(int y, int m, int d) { return PackDate(y, m, d); }

TEST_F(DatesTest, PackedFormAndOrder) {
  EXPECT_EQ(D(2024, 4, 5), std::string({static_cast<char>(148), static_cast<char>(152), static_cast<char>(132),
                                         static_cast<char>(133)}));
  EXPECT_EQ(ZeroDate(), std::string(4, static_cast<char>(128)));
  EXPECT_EQ(DateNumber(D(2024, 4, 5)), 20240405);
  EXPECT_LT(D(1999, 12, 31), D(2000, 1, 1));
  EXPECT_LT(D(2024, 2, 29), D(2024, 3, 1));
  // Bytes that are not packed pairs read as 0 rather than garbage.
  EXPECT_EQ(DateNumber(std::string("\x01\xff\x83\x84", 4)), 304);
}

TEST_F(DatesTest, AddToDateExamples) {
  struct Case {
    std::string date;
    int count;
    const char* unit;
    std::string expected;
  } cases[] = {
      {D(2024, 1, 31), 1, "M", D(2024, 2, 29)},     {D(2024, 3, 31), -1, "M", D(2024, 2, 29)},
      {D(2024, 2, 29), 1, "A", D(2025, 2, 28)},     {D(2024, 12, 31), 1, "D", D(2025, 1, 1)},
      {D(2024, 3, 1), -1, "D", D(2024, 2, 29)},     {D(1900, 3, 1), -1, "D", D(1900, 2, 28)},
      {D(1500, 3, 1), -1, "D", D(1500, 2, 29)},     {D(9999, 12, 31), 1, "D", D(9999, 12, 31)},
      {D(9999, 1, 1), 12, "m", D(9999, 12, 31)},    {D(2024, 1, 15), -13, "M", D(2022, 12, 15)},
      {D(2024, 1, 15), -12, "m", D(2023, 1, 15)},   {D(2024, 5, 31), 1, "x", D(2024, 5, 31)},
      {D(2023, 2, 28), 366, "d", D(2024, 2, 29)},   {D(2024, 4, 5), 10, "a", D(2034, 4, 5)},
      // The leap rule of the whole call is the one of the date passed.
      {D(1582, 10, 4), 1, "D", D(1582, 10, 5)},     {D(1582, 10, 15), -1, "D", D(1582, 10, 14)},
      {D(1500, 2, 28), 1, "D", D(1500, 2, 29)},     {D(1700, 2, 28), 1, "D", D(1700, 3, 1)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DateNumber(AddToDate(c.date, c.count, c.unit)), DateNumber(c.expected))
        << DateNumber(c.date) << " " << c.count << c.unit;
}

TEST_F(DatesTest, AddingNothingKeepsTheArgumentUntouched) {
  const std::string odd("\x01\x02\x03\x04", 4);
  EXPECT_EQ(AddToDate(odd, 0, "D"), odd);
  EXPECT_EQ(AddToDate(ZeroDate(), 0, "M"), ZeroDate());
  EXPECT_EQ(AddToDate("ab", 0, "A"), "ab");
}

TEST_F(DatesTest, HugeCountsSaturateWithoutOverflow) {
  const std::string highest = D(9999, 12, 31), lowest = D(1, 1, 1);
  for (const char* unit : {"D", "M", "A"}) {
    EXPECT_EQ(AddToDate(D(2024, 4, 5), INT32_MAX, unit), highest) << unit;
    EXPECT_EQ(AddToDate(D(2024, 4, 5), INT32_MIN, unit), lowest) << unit;
    EXPECT_EQ(AddToDate(D(1, 1, 1), -1, unit), lowest) << unit;
  }
  // A year 0 date (unchecked typed input) still moves sensibly.
  EXPECT_EQ(DateNumber(AddToDate(D(0, 1, 1), 1, "A")), 10101);
  EXPECT_EQ(DateNumber(AddToDate(D(2024, 4, 5), 3000000, "D")), 99991231);
  // Skipping whole years agrees with counting month by month.
  EXPECT_EQ(DateNumber(AddToDate(D(2000, 1, 1), 146097 * 3 + 10, "D")), 32000111);
  EXPECT_EQ(DateNumber(AddToDate(D(3200, 1, 11), -(146097 * 3 + 10), "D")), 20000101);
  EXPECT_EQ(DateNumber(AddToDate(D(1000, 3, 1), 1461 * 100 + 365, "D")), 14010301);
}

TEST_F(DatesTest, DateDifferenceExamples) {
  struct Case {
    std::string first, second;
    const char* unit;
    std::int32_t expected;
  } cases[] = {
      {D(2024, 1, 1), D(2024, 3, 1), "D", 60},    {D(2024, 3, 1), D(2024, 1, 1), "D", 60},
      {D(2024, 1, 1), D(2024, 3, 1), "M", 2},     {D(2000, 5, 10), D(2024, 5, 9), "A", 23},
      {D(2000, 5, 10), D(2024, 5, 10), "a", 24},  {D(2024, 5, 9), D(2000, 5, 10), "A", 23},
      {D(2000, 6, 1), D(2024, 5, 30), "A", 23},   {D(2024, 1, 31), D(2024, 2, 1), "m", 1},
      {D(2024, 1, 31), D(2024, 2, 1), "?", 0},
      // The dropped days of 1582 are counted like any others.
      {D(1582, 10, 4), D(1582, 10, 15), "D", 11},
      // Julian leap years below 1582.
      {D(1500, 1, 1), D(1501, 1, 1), "D", 366},   {D(1700, 1, 1), D(1701, 1, 1), "D", 365},
      {D(1, 1, 1), D(9999, 12, 31), "D", 3652070},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DateDifference(c.first, c.second, c.unit), c.expected)
        << DateNumber(c.first) << " to " << DateNumber(c.second) << " in " << c.unit;
}

TEST_F(DatesTest, DayOfWeekExamples) {
  EXPECT_EQ(DayOfWeek(D(2024, 1, 1)), 1);
  EXPECT_EQ(DayOfWeek(D(2024, 1, 7)), 7);
  EXPECT_EQ(DayOfWeek(D(1582, 10, 15)), 5);
  EXPECT_EQ(DayOfWeek(D(1582, 10, 4)), 4);
  EXPECT_EQ(DayOfWeek(D(2026, 12, 8)), 2);
  // Year 0 and the zero date stay within 1..7.
  for (const std::string& d : {ZeroDate(), D(0, 3, 1), D(1, 1, 1)}) {
    int w = DayOfWeek(d);
    EXPECT_GE(w, 1);
    EXPECT_LE(w, 7);
  }
}

// Every day from 1583 to 2200 against the standard library's civil calendar.
TEST_F(DatesTest, ArithmeticAgreesWithCivilDaysFrom1583To2200) {
  using namespace std::chrono;
  const sys_days origin{year{1583} / January / 1};
  const sys_days end{year{2200} / December / 31};
  const std::string originPacked = D(1583, 1, 1);
  auto pack = [](year_month_day ymd) {
    return D(int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day())));
  };
  int failures = 0;
  std::string previous;
  for (sys_days day = origin; day <= end && failures < 10; day += days{1}) {
    const year_month_day ymd{day};
    const std::string packed = pack(ymd);
    const int offset = static_cast<int>((day - origin).count());
    if (DateNumber(AddToDate(originPacked, offset, "D")) != DateNumber(packed)) ++failures;
    if (DateDifference(packed, originPacked, "D") != offset) ++failures;
    if (!previous.empty() && AddToDate(previous, 1, "D") != packed) ++failures;
    if (AddToDate(packed, -offset, "D") != originPacked) ++failures;
    if (AddToDate(packed, 1000, "D") != pack(year_month_day{day + days{1000}})) ++failures;
    if (AddToDate(packed, -1000, "d") != pack(year_month_day{day - days{1000}}) && int(ymd.year()) > 1586) ++failures;
    if (DayOfWeek(packed) != static_cast<int>(weekday{day}.iso_encoding())) ++failures;
    const int months = (int(ymd.year()) - 1583) * 12 + int(unsigned(ymd.month())) - 1;
    if (DateDifference(originPacked, packed, "M") != months) ++failures;
    // Months forward: the same day, or the last day of a shorter month.
    year_month target = year_month{ymd.year(), ymd.month()} + std::chrono::months{7};
    unsigned last = unsigned(year_month_day_last{target.year(), month_day_last{target.month()}}.day());
    year_month_day moved{target.year(), target.month(), std::chrono::day{std::min(unsigned(ymd.day()), last)}};
    if (AddToDate(packed, 7, "M") != pack(moved)) ++failures;
    target = year_month{ymd.year(), ymd.month()} - std::chrono::months{13};
    last = unsigned(year_month_day_last{target.year(), month_day_last{target.month()}}.day());
    moved = year_month_day{target.year(), target.month(), std::chrono::day{std::min(unsigned(ymd.day()), last)}};
    if (int(ymd.year()) > 1584 && AddToDate(packed, -13, "M") != pack(moved)) ++failures;
    if (failures) ADD_FAILURE() << "disagreement at " << DateNumber(packed);
    previous = packed;
  }
  EXPECT_EQ(failures, 0);
}

TEST_F(DatesTest, LongDateTextInTheFourLanguages) {
  const std::string date = D(2024, 4, 5);
  struct Case {
    const char* language;
    std::string_view expected;
  } cases[] = {
      {"CAT", "5 d'abril del 2024"},  {"SPA", "5 de abril de 2024"}, {"GLG", "5 de abril do 2024"},
      {"OCI", "5 d'abriu deth 2024"}, {"XYZ", "5 d'abril del 2024"},
  };
  for (const auto& c : cases) {
    SetLanguage(c.language);
    EXPECT_EQ(LongDateText(date, 2, "dma"), c.expected) << c.language;
  }
  SetLanguage("CAT");
  EXPECT_EQ(LongDateText(date, 2, "ma"), "abril del 2024");
  EXPECT_EQ(LongDateText(D(2024, 3, 5), 2, "dma"), "5 de març del 2024"_cp);
  EXPECT_EQ(LongDateText(date, 0, "dma"), "5/4/2024  ");
  EXPECT_EQ(LongDateText(date, 1, "dma"), "5/abr/2024 ");
  EXPECT_EQ(LongDateText(date, -1, "dma"), "2024-04-05");
  EXPECT_EQ(LongDateText(D(2024, 8, 15), 2, "DM"), "15 d'agost");
  SetLanguage("OCI");
  EXPECT_EQ(LongDateText(D(2024, 1, 9), 2, "dma"), "9 de gèr deth 2024"_cp);
  EXPECT_EQ(LongDateText(D(2024, 1, 9), 1, "dma"), "9/gèr/2024 "_cp);
  SetLanguage("GLG");
  EXPECT_EQ(LongDateText(D(2024, 3, 1), 2, "dma"), "1 de março do 2024"_cp);
}

TEST_F(DatesTest, LongDateTextOfTheZeroDate) {
  EXPECT_EQ(LongDateText(ZeroDate(), 2, "dma"), "");
  EXPECT_EQ(LongDateText(ZeroDate(), 0, "dma"), std::string(10, ' '));
  EXPECT_EQ(LongDateText(ZeroDate(), 1, "dma"), std::string(11, ' '));
  // A month outside 1..12 has no name and reads nothing beyond the table.
  EXPECT_EQ(LongDateText(PackDate(20241305), 2, "m"), "");
}

TEST_F(DatesTest, LongDateTextFollowsTheUserSettings) {
  Use({{"DatCaracter", "-x"}, {"DatOrdre", "AMD"}});
  EXPECT_EQ(DateSeparator(), '-');
  EXPECT_EQ(DateOrder(), "AMD");
  EXPECT_EQ(LongDateText(D(2024, 4, 5), 0, "dma"), "2024-4-5  ");
  SetLanguage("SPA");
  EXPECT_EQ(LongDateText(D(2024, 4, 5), 2, "dma"), "2024 de abril de 5");
  // Read once: a changed setting is not seen until the settings are reset.
  Use({{"DatCaracter", "."}, {"DatOrdre", "MA"}});
  EXPECT_EQ(LongDateText(D(2024, 4, 5), 0, "dma"), "4.2024    ");
  Use({{"DatCaracter", "  "}, {"DatOrdre", "   "}});
  EXPECT_EQ(DateSeparator(), '/');
  EXPECT_EQ(DateOrder(), "DMA");
  // Blanks before the setting are not part of it.
  Use({{"DatCaracter", " -"}, {"DatOrdre", "  amd"}});
  EXPECT_EQ(DateSeparator(), '-');
  EXPECT_EQ(DateOrder(), "AMD");
  Use({{"DatOrdre", "mda"}});
  EXPECT_EQ(LongDateText(D(2024, 4, 5), 0, "dma"), "4/5/2024  ");
  Use({{"DatOrdre", "DXA"}});
  EXPECT_EQ(LongDateText(D(2024, 4, 5), 0, "dxa"), "5/2024  ");
}

TEST_F(DatesTest, ShortDateTextAroundThisYear) {
  EXPECT_EQ(ShortDateText(D(2024, 4, 5), kThisYear), "050424");
  EXPECT_EQ(ShortDateText(D(1950, 4, 5), kThisYear), "05041950");
  EXPECT_EQ(ShortDateText(D(1976, 4, 5), kThisYear), "050476");
  EXPECT_EQ(ShortDateText(D(2075, 4, 5), kThisYear), "050475");
  EXPECT_EQ(ShortDateText(D(2076, 4, 5), kThisYear), "05042076");
  EXPECT_EQ(ShortDateText(ZeroDate(), kThisYear), "");
  EXPECT_EQ(ShortDateText("", kThisYear), "");
}

TEST_F(DatesTest, ParseDateTextAtAFixedToday) {
  struct Case {
    const char* text;
    std::int32_t expected;
  } cases[] = {
      {"5/4/24", 20240405},    {"050476", 19760405},  {"5/4", 0},           {"5-4-2024x", 0},
      {"05.04.2024", 20240405}, {"5/4/75", 20750405}, {"5/4/76", 19760405}, {"31/02/24", 20240231},
      {"5/4/ 2 4", 20240405},  {"05042024", 20240405}, {"0/4/24", 240400},  {"5/4/3/2", 0},
      {"5/4/12345", 23450405}, {"5/4/99999", 0},       {"5/400/24", 0},     {"", 0},
      {"0504", 20000405},      {"5/4/0024", 240405},
  };
  for (const auto& c : cases) EXPECT_EQ(DateNumber(ParseDateText(c.text, kThisYear)), c.expected) << c.text;
}

TEST_F(DatesTest, CheckDateTextFindsInvalidDates) {
  struct Case {
    const char* text;
    bool invalid;
  } cases[] = {
      {"29/02/1900", true}, {"29/02/2000", false}, {"10/10/1582", true}, {"4/10/1582", false},
      {"15/10/1582", false}, {"0/1/2024", true},   {"31/4/2024", true},  {"30/4/2024", false},
      {"1/13/2024", true},  {"1/0/2024", true},    {"29/2/24", false},   {"29/2/23", true},
      {"5/4", true},        {"5x4x24", true},      {"5/4/99999", true},  {"050476", false},
      {"29/2/1500", true},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckDateText(c.text, kThisYear), c.invalid) << c.text;
}

TEST_F(DatesTest, TwoDigitYearsFollowTheGivenYear) {
  EXPECT_EQ(DateNumber(ParseDateText("5/4/24", 2090)), 21240405);
  EXPECT_EQ(DateNumber(ParseDateText("5/4/45", 2090)), 20450405);
  EXPECT_EQ(ShortDateText(D(2050, 1, 2), 2090), "020150");
  EXPECT_EQ(ShortDateText(D(2030, 1, 2), 2090), "02012030");
  EXPECT_FALSE(CheckDateText("29/2/00", 2026));  // 2000 is a leap year
  EXPECT_TRUE(CheckDateText("29/2/00", 2090));   // 2100 is not
}

}  // namespace
}  // namespace format
