#include "console/calendar_model.h"

#include <gtest/gtest.h>

#include "format/dates.h"
#include "platform/system.h"

namespace console {
namespace {

constexpr std::int16_t kRight = 0x4d00, kLeft = 0x4b00, kDown = 0x5000, kUp = 0x4800;
constexpr std::int16_t kPgDn = 0x5100, kPgUp = 0x4900, kHome = 0x4700, kEnd = 0x4f00;

CalendarPos Pos(int y, int m, int d) {
  return {static_cast<std::int16_t>(y), static_cast<std::int16_t>(m), static_cast<std::int16_t>(d)};
}

TEST(CalendarModel, Moves) {
  struct Case {
    CalendarPos from;
    std::int16_t key;
    CalendarPos to;
    CalendarAction action;
  } cases[] = {
      {Pos(2024, 6, 30), kRight, Pos(2024, 7, 1), CalendarAction::Rebuild},
      {Pos(2024, 1, 1), kLeft, Pos(2023, 12, 31), CalendarAction::Rebuild},
      {Pos(2024, 4, 5), kRight, Pos(2024, 4, 6), CalendarAction::Moved},
      {Pos(2024, 4, 30), kRight, Pos(2024, 5, 1), CalendarAction::Moved},
      {Pos(2024, 5, 1), kLeft, Pos(2024, 4, 30), CalendarAction::Moved},
      {Pos(2024, 4, 3), kLeft, Pos(2024, 4, 2), CalendarAction::Moved},
      {Pos(2024, 4, 3), kUp, Pos(2024, 3, 27), CalendarAction::Rebuild},
      {Pos(2024, 2, 26), kDown, Pos(2024, 3, 4), CalendarAction::Moved},
      {Pos(2023, 2, 26), kDown, Pos(2023, 3, 5), CalendarAction::Moved},
      {Pos(2023, 12, 28), kDown, Pos(2024, 1, 4), CalendarAction::Rebuild},
      {Pos(2024, 1, 31), kPgDn, Pos(2024, 4, 30), CalendarAction::Rebuild},
      {Pos(2023, 11, 30), kPgDn, Pos(2024, 2, 29), CalendarAction::Rebuild},
      {Pos(2024, 2, 29), kPgUp, Pos(2023, 11, 29), CalendarAction::Rebuild},
      {Pos(2024, 5, 31), kPgUp, Pos(2024, 2, 29), CalendarAction::Rebuild},
      {Pos(2024, 5, 17), kHome, Pos(2024, 1, 17), CalendarAction::Rebuild},
      {Pos(2024, 2, 17), kHome, Pos(2024, 1, 17), CalendarAction::Moved},
      {Pos(2024, 5, 31), kEnd, Pos(2024, 12, 31), CalendarAction::Rebuild},
      {Pos(2024, 1, 1), kHome, Pos(2024, 1, 1), CalendarAction::None},
      {Pos(2024, 1, 1), 'x', Pos(2024, 1, 1), CalendarAction::None},
      {Pos(2024, 1, 1), 'f', Pos(2024, 1, 1), CalendarAction::Finish},
      {Pos(2024, 1, 1), 0x2100, Pos(2024, 1, 1), CalendarAction::Finish},
      {Pos(2024, 1, 1), 27, Pos(2024, 1, 1), CalendarAction::Cancel},
      {Pos(1, 1, 1), kLeft, Pos(1, 1, 1), CalendarAction::None},
      {Pos(9999, 12, 31), kRight, Pos(9999, 12, 31), CalendarAction::None},
  };
  for (const Case& c : cases) {
    CalendarPos p = c.from;
    const CalendarAction action = CalendarHandleKey(p, c.key);
    EXPECT_EQ(p, c.to) << c.from.year << "-" << c.from.month << "-" << c.from.day << " key " << c.key;
    EXPECT_EQ(action, c.action) << c.from.year << "-" << c.from.month << "-" << c.from.day << " key " << c.key;
  }
}

TEST(CalendarModel, QuarterAndLengths) {
  const std::int16_t first[] = {1, 1, 1, 4, 4, 4, 7, 7, 7, 10, 10, 10};
  for (std::int16_t m = 1; m <= 12; ++m) EXPECT_EQ(FirstShownMonth(m), first[m - 1]);
  EXPECT_EQ(MonthLength(2024, 2), 29);
  EXPECT_EQ(MonthLength(1900, 2), 28);
  EXPECT_EQ(MonthLength(2000, 2), 29);
  EXPECT_EQ(MonthLength(2023, 2), 28);
  EXPECT_EQ(MonthLength(2023, 9), 30);
}

TEST(CalendarModel, DayCells) {
  // April 2024 starts on a Monday; 5 April is a Friday in the first week.
  EXPECT_EQ(DayCell(Pos(2024, 4, 5), 4).row, 3);
  EXPECT_EQ(DayCell(Pos(2024, 4, 5), 4).column, 13);
  // May 2024 starts on a Wednesday: 31 May, a Friday, is in its fifth week.
  EXPECT_EQ(DayCell(Pos(2024, 5, 1), 4).row, 10);
  EXPECT_EQ(DayCell(Pos(2024, 5, 1), 4).column, 7);
  EXPECT_EQ(DayCell(Pos(2024, 5, 31), 4).row, 14);
  // June 2024 starts on a Saturday, so 30 June, a Sunday, ends its fifth week.
  EXPECT_EQ(DayCell(Pos(2024, 6, 30), 4).row, 21);
  EXPECT_EQ(DayCell(Pos(2024, 6, 30), 4).column, 19);
  // September 2024 starts on a Sunday: 30 September, a Monday, needs a sixth.
  EXPECT_EQ(DayCell(Pos(2024, 9, 30), 7).row, 22);
  EXPECT_EQ(DayCell(Pos(2024, 9, 30), 7).column, 1);
}

class FixedToday : public platform::SystemWrapper {
 public:
  using SystemWrapper::SystemWrapper;
  platform::LocalTime Now() override { return {2025, 3, 14, 10, 0, 0, 0}; }
};

TEST(CalendarModel, StartsOnWorkDateOrToday) {
  FixedToday fixed(platform::CurrentSystem());
  platform::ScopedSystem scoped(fixed);
  EXPECT_EQ(CalendarStart(format::PackDate(2024, 4, 5)), Pos(2024, 4, 5));
  for (const std::string& bad : {format::ZeroDate(), format::PackDate(2024, 0, 5), format::PackDate(2024, 4, 0),
                                 format::PackDate(2023, 2, 29), format::PackDate(2024, 13, 1), std::string()}) {
    EXPECT_EQ(CalendarStart(bad), Pos(2025, 3, 14));
  }
}

}  // namespace
}  // namespace console
