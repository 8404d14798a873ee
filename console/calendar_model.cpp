#include "console/calendar_model.h"

#include "format/dates.h"
#include "platform/key_codes.h"
#include "platform/system.h"

namespace console {

using namespace platform::keys;
namespace {

bool Leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool Valid(int y, int m, int d) {
  return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 &&
         d <= MonthLength(static_cast<std::int16_t>(y), static_cast<std::int16_t>(m));
}

std::int16_t Weekday(int y, int m, int d) { return format::DayOfWeek(format::PackDate(y, m, d)); }

// The quarter shown, so a move can tell whether the display must be rebuilt.
int Quarter(const CalendarPos& p) { return p.year * 4 + (p.month - 1) / 3; }

}  // namespace

std::int16_t MonthLength(std::int16_t year, std::int16_t month) {
  static constexpr std::int16_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  if (month == 2 && Leap(year)) return 29;
  return kDays[month - 1];
}

std::int16_t FirstShownMonth(std::int16_t month) { return static_cast<std::int16_t>((month - 1) / 3 * 3 + 1); }


CalendarPos CalendarStart(std::string_view packedWorkDate) {
  const std::int32_t n = packedWorkDate.size() == 4 ? format::DateNumber(packedWorkDate) : 0;
  const int y = n / 10000, m = n / 100 % 100, d = n % 100;
  if (Valid(y, m, d))
    return {static_cast<std::int16_t>(y), static_cast<std::int16_t>(m), static_cast<std::int16_t>(d)};
  const platform::LocalTime t = platform::Now();
  return {static_cast<std::int16_t>(t.year), static_cast<std::int16_t>(t.month), static_cast<std::int16_t>(t.day)};
}

CalendarAction CalendarHandleKey(CalendarPos& pos, std::int16_t key) {
  const CalendarPos before = pos;
  int y = pos.year, m = pos.month, d = pos.day;
  switch (key) {
    case kRight: ++d; break;
    case kLeft: --d; break;
    case kDown: d += 7; break;
    case kUp: d -= 7; break;
    case kPgDn:
    case kPgUp:
      m += key == kPgDn ? 3 : -3;
      if (m < 1) { m += 12; --y; }
      if (m > 12) { m -= 12; ++y; }
      break;
    case kHome: m = 1; break;
    case kEnd: m = 12; break;
    case 'F': case 'f': case kAltF: return CalendarAction::Finish;
    case kEsc: return CalendarAction::Cancel;
    default: return CalendarAction::None;
  }
  if (d < 1) {
    if (--m < 1) { m = 12; --y; }
    d += MonthLength(static_cast<std::int16_t>(y), static_cast<std::int16_t>(m));
  }
  const int length = MonthLength(static_cast<std::int16_t>(y), static_cast<std::int16_t>(m));
  if (d > length) {
    if (key == kPgDn || key == kPgUp) {
      d = length;
    } else {
      d -= length;
      if (++m > 12) { m = 1; ++y; }
    }
  }
  // The calendar stays within the years a date can hold.
  if (y < 1 || y > 9999) return CalendarAction::None;
  pos = {static_cast<std::int16_t>(y), static_cast<std::int16_t>(m), static_cast<std::int16_t>(d)};
  if (pos == before) return CalendarAction::None;
  return Quarter(pos) != Quarter(before) ? CalendarAction::Rebuild : CalendarAction::Moved;
}

CalendarCell DayCell(const CalendarPos& pos, std::int16_t firstShown) {
  const int k = pos.month - firstShown;
  const int r = 7 * k + 2;
  const int w1 = Weekday(pos.year, pos.month, 1);
  const int row = r + 1 + (w1 + pos.day - 2) / 7;
  const int column = 3 * Weekday(pos.year, pos.month, pos.day) - 2;
  return {static_cast<std::int16_t>(row), static_cast<std::int16_t>(column)};
}

}  // namespace console
