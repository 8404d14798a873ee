// The pop-up calendar's position and layout, apart from the screen: three
// months of a quarter, weeks from Monday to Sunday.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace console {

struct CalendarPos {
  std::int16_t year = 0;
  std::int16_t month = 1;
  std::int16_t day = 1;
  bool operator==(const CalendarPos&) const = default;
};

// Where the calendar opens: the packed working date, or today when that is
// the zero date or not a valid date.
CalendarPos CalendarStart(std::string_view packedWorkDate);

std::int16_t MonthLength(std::int16_t year, std::int16_t month);
// 1, 4, 7 or 10.
std::int16_t FirstShownMonth(std::int16_t month);

enum class CalendarAction { None, Moved, Rebuild, Finish, Cancel };
CalendarAction CalendarHandleKey(CalendarPos& pos, std::int16_t key);

// Window row and column (1 = first inside cell) of a day of a shown month.
struct CalendarCell {
  std::int16_t row = 0;
  std::int16_t column = 0;
};
CalendarCell DayCell(const CalendarPos& pos, std::int16_t firstShown);

}  // namespace console
