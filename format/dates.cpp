#include "format/dates.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <optional>

#include "base/cp850.h"
#include "base/strings.h"
#include "format/user_settings.h"

namespace format {
namespace {

constexpr std::int64_t kHighestDate = 99991231;
constexpr std::int64_t kLowestDate = 10101;

// Value of one packed pair; anything that is not one reads as 0.
int PairValue(unsigned char b) { return (b >= 128 && b <= 227) ? b - 128 : 0; }

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

std::int64_t FloorMod(std::int64_t a, std::int64_t b) { return a - b * FloorDiv(a, b); }

bool JulianLeap(std::int64_t y) { return FloorMod(y, 4) == 0; }
bool GregorianLeap(std::int64_t y) {
  return FloorMod(y, 4) == 0 && (FloorMod(y, 100) != 0 || FloorMod(y, 400) == 0);
}

std::int64_t MonthLength(std::int64_t m, bool leap) {
  std::int64_t len = 30 + FloorMod(1 + FloorMod(m + 1, 9), 2);
  if (m == 2) len -= leap ? 1 : 2;
  return len;
}

bool BelowCutOver(std::string_view date) {
  static const std::string cutOver = PackDate(15821005);
  return date < std::string_view(cutOver);
}

// Leap years before year y under the Julian and the Gregorian rule, counted
// from a fixed origin; only differences are meaningful.
std::int64_t JulianLeapsBefore(std::int64_t y) { return FloorDiv(y - 1, 4); }
std::int64_t GregorianLeapsBefore(std::int64_t y) {
  return FloorDiv(y - 1, 4) - FloorDiv(y - 1, 100) + FloorDiv(y - 1, 400);
}
// The same with the Julian rule below 1582 and the Gregorian one from then on.
std::int64_t MixedLeapsBefore(std::int64_t y) {
  if (y <= 1582) return JulianLeapsBefore(y);
  return JulianLeapsBefore(1582) + GregorianLeapsBefore(y) - GregorianLeapsBefore(1582);
}
// Days of the whole years from..to-1.
std::int64_t DaysInYears(std::int64_t from, std::int64_t to) {
  return 365 * (to - from) + MixedLeapsBefore(to) - MixedLeapsBefore(from);
}

struct Ymd {
  std::int64_t y, m, d;
};

Ymd Split(std::string_view date) {
  std::int64_t n = DateNumber(date);
  return {n / 10000, (n / 100) % 100, n % 100};
}

bool UnitIs(std::string_view unit, char letter) {
  return !unit.empty() && (unit[0] == letter || unit[0] == letter + ('a' - 'A'));
}

struct Settings {
  char separator = '\0';
  std::string order;
  bool registered = false;
};

Settings& DateSettings() {
  static Settings s;
  if (!s.registered) {
    s.registered = true;
    OnUserSettingsReset([] {
      DateSettings().separator = '\0';
      DateSettings().order.clear();
    });
  }
  return s;
}

void LoadDateSettings() {
  Settings& s = DateSettings();
  if (s.separator != '\0') return;
  std::string sep = ReadUserSetting("DatCaracter");
  s.separator = (sep.empty() || sep[0] == ' ' || sep[0] == '\0') ? '/' : sep[0];
  std::string order = ReadUserSetting("DatOrdre");
  order.resize(3, ' ');
  // Written in lower case the letters would never match the selected parts.
  order = base::AsciiUpper(order);
  if (order == "   ") order = "DMA";
  s.order = order;
}

std::string TwoDigits(std::int64_t v) {
  std::string t(2, '0');
  t[0] = static_cast<char>('0' + (v / 10) % 10);
  t[1] = static_cast<char>('0' + v % 10);
  return t;
}

std::string FourDigits(std::int64_t v) { return TwoDigits(v / 100) + TwoDigits(v % 100); }

// The decimal digits of a field, blanks ignored; nullopt past 16 bits.
std::optional<std::int16_t> FieldNumber(std::string_view text) {
  std::int32_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') continue;
    n = n * 10 + (c - '0');
    if (n > std::numeric_limits<std::int16_t>::max()) return std::nullopt;
  }
  return static_cast<std::int16_t>(n);
}

struct Typed {
  std::int16_t day = 0, month = 0, year = 0;
  bool full = false;
};

// Splits a typed date into day, month and year; nullopt when it cannot be read.
std::optional<Typed> ReadTyped(std::string_view text) {
  Typed t;
  int field = 1;
  std::string acc;
  for (char c : text) {
    if (c == ' ' || (c >= '0' && c <= '9')) {
      acc += c;
    } else if (c == '.' || c == '/' || c == '-') {
      auto n = FieldNumber(acc);
      if (!n) return std::nullopt;
      if (field == 1) t.day = *n;
      else if (field == 2) t.month = *n;
      else return std::nullopt;
      acc.clear();
      ++field;
    } else {
      return std::nullopt;
    }
  }
  if (field == 1) {
    std::string_view all(text);
    auto d = FieldNumber(all.substr(0, std::min<std::size_t>(2, all.size())));
    auto m = FieldNumber(all.size() > 2 ? all.substr(2, 2) : std::string_view());
    std::string_view rest = all.size() > 4 ? all.substr(4) : std::string_view();
    auto y = FieldNumber(rest);
    if (!d || !m || !y) return std::nullopt;
    t.day = *d;
    t.month = *m;
    t.year = *y;
    t.full = base::Trim(rest).size() > 3;
  } else if (field == 3) {
    auto y = FieldNumber(acc);
    if (!y) return std::nullopt;
    t.year = *y;
    t.full = base::Trim(acc).size() > 3;
  } else {
    return std::nullopt;
  }
  return t;
}

const std::array<std::string_view, 4> kMonthTables = {
    "enero     febrero   marzo     abril     mayo      junio     julio     agosto    septiembreoctubre   noviembre diciembre "_cp,
    "janeiro   fevereiro março     abril     maio      junho     julho     agosto    setembro  outubro   novembro  dezembro  "_cp,
    "gèr       hereuèr   març      abriu     mai       junh      junhsega  agost     seteme    octobre   noveme    deseme    "_cp,
    "gener     febrer    març      abril     maig      juny      juliol    agost     setembre  octubre   novembre  desembre  "_cp,
};

struct LanguageTexts {
  std::string_view consonant, vowel, dayYear, months;
};

LanguageTexts TextsFor(const std::string& language) {
  if (language == "SPA") return {" de ", " de ", " de ", kMonthTables[0]};
  if (language == "GLG") return {" de ", " de ", " do ", kMonthTables[1]};
  if (language == "OCI") return {" de ", " d'", " deth ", kMonthTables[2]};
  return {" de ", " d'", " del ", kMonthTables[3]};
}

std::string_view MonthSlot(std::string_view table, std::int64_t month) {
  if (month < 1 || month > 12) return {};
  return table.substr(static_cast<std::size_t>(month - 1) * 10, 10);
}

}  // namespace

std::string PackDate(std::int64_t dateNumber) {
  dateNumber = std::clamp<std::int64_t>(dateNumber, 0, 99999999);
  std::string packed(4, '\0');
  for (int i = 3; i >= 0; --i) {
    packed[static_cast<std::size_t>(i)] = static_cast<char>(128 + dateNumber % 100);
    dateNumber /= 100;
  }
  return packed;
}

std::string PackDate(int year, int month, int day) {
  return PackDate(static_cast<std::int64_t>(year) * 10000 + static_cast<std::int64_t>(month) * 100 + day);
}

std::int32_t DateNumber(std::string_view packed) {
  std::int32_t n = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    int v = i < packed.size() ? PairValue(static_cast<unsigned char>(packed[i])) : 0;
    n = n * 100 + v;
  }
  return n;
}

const std::string& ZeroDate() {
  static const std::string zero(4, static_cast<char>(128));
  return zero;
}

std::string AddToDate(std::string_view date, std::int32_t count, std::string_view unit) {
  if (count == 0) return std::string(date);
  auto [y, m, d] = Split(date);
  const bool julian = BelowCutOver(date);
  auto len = [julian](std::int64_t mm, std::int64_t yy) {
    return MonthLength(mm, julian ? JulianLeap(yy) : GregorianLeap(yy));
  };
  // Days from month m of year yy to the same month of the next year.
  auto yearFrom = [julian](std::int64_t mm, std::int64_t yy) -> std::int64_t {
    const std::int64_t leapYear = mm <= 2 ? yy : yy + 1;
    return 365 + ((julian ? JulianLeap(leapYear) : GregorianLeap(leapYear)) ? 1 : 0);
  };
  const bool days = UnitIs(unit, 'D');
  if (days) {
    d += count;
  } else if (UnitIs(unit, 'M')) {
    m += count;
    std::int64_t carry = FloorDiv(m - 1, 12);
    y += carry;
    m -= 12 * carry;
  } else if (UnitIs(unit, 'A')) {
    y += count;
  }
  // A month of 0 or above 12 (an unchecked typed date) keeps its own length.
  if (count > 0) {
    while (d > len(m, y)) {
      if (!days) {
        d = len(m, y);
        break;
      }
      // Whole years are skipped at once so that large counts stay quick:
      // from month m of one year to month m of the next.
      if (m >= 1 && m <= 12 && d > 366 + 31) {
        d -= yearFrom(m, y);
        ++y;
        if (y > 9999) break;
        continue;
      }
      d -= len(m, y);
      if (++m > 12) {
        m = 1;
        ++y;
      }
      if (y > 9999) break;
    }
  } else {
    while (d < 1) {
      if (m >= 1 && m <= 12 && d < -366) {
        --y;
        d += yearFrom(m, y);
        if (y < 1) break;
        continue;
      }
      if (--m < 1) {
        m = 12;
        --y;
      }
      d += len(m, y);
      if (y < 1) break;
    }
    if (!days && d > len(m, y)) d = len(m, y);
  }
  if (y > 9999) return PackDate(kHighestDate);
  if (y < 1) return PackDate(kLowestDate);
  return PackDate(y * 10000 + m * 100 + d);
}

std::int32_t DateDifference(std::string_view first, std::string_view second, std::string_view unit) {
  std::string_view low = first, high = second;
  if (high < low) std::swap(low, high);
  Ymd lo = Split(low), hi = Split(high);
  if (UnitIs(unit, 'D')) {
    auto leap = [](std::int64_t y) { return y < 1582 ? JulianLeap(y) : GregorianLeap(y); };
    std::int64_t days = 0;
    if (hi.y > lo.y + 1) days += DaysInYears(lo.y + 1, hi.y);
    if (lo.y != hi.y) {
      for (std::int64_t mm = lo.m; mm <= 12; ++mm) days += MonthLength(mm, leap(lo.y));
      for (std::int64_t mm = 1; mm < hi.m; ++mm) days += MonthLength(mm, leap(hi.y));
    } else {
      for (std::int64_t mm = lo.m; mm < hi.m; ++mm) days += MonthLength(mm, leap(lo.y));
    }
    days += hi.d - lo.d;
    return static_cast<std::int32_t>(days);
  }
  if (UnitIs(unit, 'M')) return static_cast<std::int32_t>(12 * (hi.y - lo.y) + hi.m - lo.m);
  if (UnitIs(unit, 'A')) {
    std::int64_t years = hi.y - lo.y;
    if (lo.m > hi.m || (lo.m == hi.m && lo.d > hi.d)) --years;
    return static_cast<std::int32_t>(years);
  }
  return 0;
}

std::int16_t DayOfWeek(std::string_view date) {
  std::string firstOfYear(date.substr(0, std::min<std::size_t>(2, date.size())));
  firstOfYear.resize(2, static_cast<char>(128));
  firstOfYear += static_cast<char>(129);
  firstOfYear += static_cast<char>(129);
  std::int64_t y1 = Split(date).y - 1;
  std::int64_t k = DateDifference(date, firstOfYear, "D");
  std::int64_t w;
  if (!BelowCutOver(date)) {
    w = FloorMod(FloorMod(y1 + FloorDiv(y1, 4) - FloorDiv(y1, 100) + FloorDiv(y1, 400), 7) + k, 7) + 1;
  } else {
    w = FloorMod(FloorMod(y1 + FloorDiv(y1, 4), 7) + 5 + k, 7) + 1;
  }
  return static_cast<std::int16_t>(w);
}

char DateSeparator() {
  LoadDateSettings();
  return DateSettings().separator;
}

const std::string& DateOrder() {
  LoadDateSettings();
  return DateSettings().order;
}

namespace {

// The month as a date text of `style` shows it: its number, its name cut
// to three letters, or its whole name (`slot`: its name in the month table).
std::string MonthPart(std::int16_t style, std::string_view slot, std::int64_t month) {
  if (style <= 0) return std::to_string(month);
  if (style == 1) return std::string(slot.substr(0, std::min<std::size_t>(3, slot.size())));
  return std::string(base::TrimRight(slot));
}

// What goes before a date's next part: the date separator in numbers; in
// words, the language's joining word before the month (which differs
// before a vowel) or before the year.
std::string JoinBefore(char part, std::string_view text, std::int16_t style, char separator,
                       const LanguageTexts& texts) {
  if (style < 2) return std::string(1, separator);
  if (part != 'M') return std::string(texts.dayYear);
  const char first = text.empty() ? ' ' : base::AsciiUpper(text[0]);
  return std::string(std::string_view("AEIOU").find(first) != std::string_view::npos ? texts.vowel
                                                                                      : texts.consonant);
}

}  // namespace

std::string LongDateText(std::string_view date, std::int16_t style, std::string_view parts) {
  LoadDateSettings();
  const Settings& settings = DateSettings();
  Ymd ymd = Split(date);
  std::string yearText = FourDigits(ymd.y);
  if (style == -1) return yearText + "-" + TwoDigits(ymd.m) + "-" + TwoDigits(ymd.d);
  std::string monthText = std::to_string(ymd.m), dayText = std::to_string(ymd.d);
  LanguageTexts texts = TextsFor(Language());

  const std::string upperParts = base::AsciiUpper(parts);
  const bool wantDay = upperParts.find('D') != std::string::npos;
  const bool wantMonth = upperParts.find('M') != std::string::npos;
  const bool wantYear = upperParts.find('A') != std::string::npos;

  std::string built;
  // A date whose day and month are both 0 (the zero date) shows no parts.
  if (monthText + dayText > "00") {
    for (char letter : settings.order) {
      if (letter != 'D' && letter != 'M' && letter != 'A') continue;
      if (upperParts.find(letter) == std::string::npos) continue;
      const std::string part = letter == 'D'   ? dayText
                               : letter == 'A' ? yearText
                                               : MonthPart(style, MonthSlot(texts.months, ymd.m), ymd.m);
      if (!built.empty()) built += JoinBefore(letter, part, style, settings.separator, texts);
      built += part;
    }
  }
  if (style == 0 || style == 1) {
    std::int64_t width = static_cast<std::int64_t>(parts.size()) - 1 + (wantDay ? 2 : 0) +
                         (wantMonth ? style + 2 : 0) + (wantYear ? 4 : 0);
    built.resize(static_cast<std::size_t>(std::max<std::int64_t>(width, 0)), ' ');
  }
  return built;
}

std::string ShortDateText(std::string_view date, int thisYear) {
  if (date.size() < 2) return {};
  int day = PairValue(static_cast<unsigned char>(date[date.size() - 1]));
  int month = PairValue(static_cast<unsigned char>(date[date.size() - 2]));
  std::int64_t year = 0;
  for (std::size_t i = 0; i + 2 < date.size() && i < 8; ++i)
    year = year * 100 + PairValue(static_cast<unsigned char>(date[i]));
  if (day == 0 && month == 0) return {};
  const int now = thisYear;
  std::string text = TwoDigits(day) + TwoDigits(month);
  if (now - 50 <= year && year <= now + 49) return text + TwoDigits(year % 100);
  return text + FourDigits(year % 10000);
}

std::string ParseDateText(std::string_view text, int thisYear) {
  auto typed = ReadTyped(text);
  // A day or month of three digits has no packed form.
  if (!typed || typed->day > 99 || typed->month > 99) return ZeroDate();
  std::int64_t year = typed->year;
  if (typed->day > 0 && typed->month > 0 && !typed->full) {
    const std::int64_t now = thisYear;
    year += 100 * (now / 100);
    if (year - now > 49) year -= 100;
    else if (now - year > 50) year += 100;
  }
  year = FloorMod(year, 10000);
  return PackDate(year * 10000 + typed->month * 100 + typed->day);
}

bool CheckDateText(std::string_view text, int thisYear) {
  auto typed = ReadTyped(text);
  if (!typed) return true;
  std::int64_t year = typed->year;
  if (year < 100 && !typed->full) {
    const std::int64_t now = thisYear;
    year += 100 * (now / 100);
    if (year - now > 50) year -= 100;
    else if (now - year > 50) year += 100;
  }
  const std::int64_t day = typed->day, month = typed->month;
  const std::int64_t number = year * 10000 + month * 100 + day;
  if (number > 15821004 && number < 15821015) return true;
  if (month < 1 || month > 12 || day < 1) return true;
  return day > MonthLength(month, GregorianLeap(year));
}

}  // namespace format
