// Calendar dates as the data files keep them, and their arithmetic and texts.
//
// A packed date is a 4-byte std::string: the eight digits YYYYMMDD two to a
// byte, each byte 128 + the pair's value, most significant first, so that a
// plain byte comparison orders dates. Four bytes of 128 are the zero date
// (no date). Dates before 5 October 1582 follow the Julian calendar where an
// operation says so. Units are one letter, any case: "D" days, "M" months,
// "A" years.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace format {

// The packed date of a date number YYYYMMDD (0 gives the zero date). Numbers
// outside 0..99999999 are clamped into it.
std::string PackDate(std::int64_t dateNumber);
std::string PackDate(int year, int month, int day);
// The date number YYYYMMDD of a packed date (bytes that are not packed pairs
// read as 0).
std::int32_t DateNumber(std::string_view packed);
// The four bytes of 128.
const std::string& ZeroDate();

// Moves a date by `count` units. Beyond the year 9999 gives "99991231";
// before the year 1 gives 1 January of the year 1.
std::string AddToDate(std::string_view date, std::int32_t count, std::string_view unit);
// Whole days, calendar months or completed years between two dates, in
// either order; never negative.
std::int32_t DateDifference(std::string_view first, std::string_view second, std::string_view unit);
// 1 = Monday ... 7 = Sunday.
std::int16_t DayOfWeek(std::string_view date);

// The date as text. style -1: "2024-04-05"; 0: numbers ("5/4/2024  ");
// 1: abbreviated month ("5/abr/2024 "); 2 or more: words in the session
// language ("5 d'abril del 2024"). `parts` selects the day, month and year
// ("dma", "ma"); they are shown in the user's DateOrder. Styles 0 and 1 have
// a fixed width.
std::string LongDateText(std::string_view date, std::int16_t style, std::string_view parts);
// The next three read and write two-digit years around `thisYear`, the year
// of today's date: the caller reads the clock (platform::Now().year), so
// that this library never does.
//
// "DDMMYY" when the year is within -50..+49 of this year, else "DDMMYYYY";
// empty for a date without day and month.
std::string ShortDateText(std::string_view date, int thisYear);
// A typed date ("5/4/24", "050476", "5-4-2024") as a packed date; the zero
// date when it cannot be read. Two-digit years land within -50..+49 of this
// year. Day and month are not range-checked.
std::string ParseDateText(std::string_view text, int thisYear);
// True when the typed text is not a valid date.
bool CheckDateText(std::string_view text, int thisYear);

// The user's date separator (default '/') and order of the parts, three of
// "D", "M", "A" (default "DMA"); read once from the user settings.
char DateSeparator();
const std::string& DateOrder();

}  // namespace format
