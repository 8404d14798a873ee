#include "format/masks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <span>

#include "base/strings.h"
#include "format/user_settings.h"

namespace format {
namespace {

struct Characters {
  char decimal = '\0';
  char thousands = '\0';
  bool registered = false;
};

Characters& Chars() {
  static Characters c;
  if (!c.registered) {
    c.registered = true;
    OnUserSettingsReset([] {
      Chars().decimal = '\0';
      Chars().thousands = '\0';
    });
  }
  return c;
}

char FirstOr(const std::string& value, char fallback) {
  return (value.empty() || value[0] == ' ' || value[0] == '\0') ? fallback : value[0];
}

void LoadCharacters() {
  Characters& c = Chars();
  if (c.decimal != '\0') return;
  c.decimal = FirstOr(ReadUserSetting("DecCaracter"), '\'');
  c.thousands = FirstOr(ReadUserSetting("MilCaracter"), '.');
}

struct Currency {
  char base = '\0', alt = '\0', shown = '\0';
};

Currency& Cur() {
  static Currency c;
  return c;
}

bool IsOneOf(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

// 10^n as std::pow gives it; the powers up to 10^22 are exact doubles.
double PowerOfTen(long long n) {
  static constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (n >= 0 && n <= 22) return kExact[n];
  return std::pow(10.0, static_cast<double>(n));
}

// The decimal digits of a non-negative whole number held in a double; empty
// for 0. `buffer` holds them.
std::string_view WholeDigits(double x, std::span<char, 400> buffer) {
  if (x < 1) return {};
  // Below 2^64 the number is an unsigned integer: the same digits without
  // the C library's exact conversion of a double.
  if (x < 18446744073709551616.0) {
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), static_cast<std::uint64_t>(x));
    return {buffer.data(), static_cast<std::size_t>(end - buffer.data())};
  }
  const int n = std::snprintf(buffer.data(), buffer.size(), "%.0f", x);
  return {buffer.data(), static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(buffer.size()) - 1))};
}

}  // namespace

char DecimalChar() {
  LoadCharacters();
  return Chars().decimal;
}

char ThousandsChar() {
  LoadCharacters();
  return Chars().thousands;
}

MaskPicture::MaskPicture(std::string_view mask) : mask_(mask) {
  const std::size_t point = mask.find('.');
  if (point != std::string_view::npos) {
    for (std::size_t i = point + 1; i < mask.size(); ++i)
      if (IsOneOf(mask[i], "9Zz*-+")) ++decimals_;
    for (std::size_t i = point + 1; i < mask.size() && IsOneOf(mask[i], "9Zz*"); ++i) ++shownPlaces_;
  }
  signed_ = mask.find_first_of("-+") != std::string_view::npos;
}

std::string MaskPicture::Format(double value) const {
  std::string out;
  out.reserve(mask_.size());
  AppendTo(out, value);
  return out;
}

void MaskPicture::AppendTo(std::string& out, double value) const {
  if (std::isinf(value)) return AppendOverflow(out);
  if (std::isnan(value)) value = 0;
  double x = std::nearbyint(std::fabs(value) * PowerOfTen(shownPlaces_));
  // Hundreds of decimal places overflow the scale: 0 stays 0, anything else cannot fit.
  if (std::isnan(x)) x = 0;
  if (std::isinf(x)) return AppendOverflow(out);
  char buffer[400];
  AppendDigits(out, value < 0, WholeDigits(x, buffer));
}

namespace {

enum class Fill { kNone, kBlank, kStar };

// One number being printed through a mask, right to left. Mask positions
// and digit indexes count from 1 (0: none left); a digit index outside the
// digits reads as '\0'.
struct MaskedNumber {
  std::string_view mask;
  std::string_view digits;  // the whole number of last-decimal units; empty for 0
  char* field;              // the printed positions, one per mask character
  bool negative;
  bool maskSigned;
  char decimalChar, thousandsChar;
  long long length;          // of the mask
  long long decimalPlaces;   // sign and digit places right of the point; 0 once the point is passed
  long long digit;           // the digit the next digit position takes; 0 when every digit is placed
  long long position;        // the mask position being printed
  Fill fill = Fill::kNone;
  bool exhausted = false;    // the digits ran out under a fill: a point there shows the fill

  char Mask() const { return mask[static_cast<std::size_t>(position - 1)]; }
  void Put(char c) const { field[position - 1] = c; }
  char Digit() const {
    return (digit >= 1 && digit <= DigitCount()) ? digits[static_cast<std::size_t>(digit - 1)] : '\0';
  }
  long long DigitCount() const { return static_cast<long long>(digits.size()); }
  bool InIntegerPart() const { return position < length - decimalPlaces; }
  char FillChar() const { return fill == Fill::kStar ? '*' : ' '; }
  // The digits from the one the position takes to the last are all zeros.
  bool OnlyZerosLeft() const {
    for (long long i = std::max(digit, 1LL); i <= DigitCount(); ++i)
      if (digits[static_cast<std::size_t>(i - 1)] != '0') return false;
    return true;
  }
  // The first position left of the digits shows the minus of a mask
  // without a sign position (the floating minus).
  bool TakesFloatingMinus() const { return negative && !maskSigned; }
  // Puts `c` at the position and notes the fill it leaves for the
  // positions left of it.
  void Place(char c, Fill nextFill, bool nowExhausted) {
    Put(c);
    fill = nextFill;
    exhausted = nowExhausted;
  }
  void PutFloatingMinus() {
    Put('-');
    negative = false;
  }
};

// Puts the digits into the digit positions from the right, until the
// digits or the positions run out. A sign right of the point takes up a
// digit.
void PlaceDigits(MaskedNumber& n) {
  for (; n.position >= 1 && n.digit > 0; --n.position) {
    const char d = n.Digit();
    switch (n.Mask()) {
      case '9':
        n.Place(d ? d : '0', Fill::kNone, false);
        --n.digit;
        break;
      case 'Z':
      case 'z':
        if (n.InIntegerPart()) {
          n.Place(d ? d : ' ', Fill::kBlank, !d);
        } else if (n.decimalPlaces > 0 && n.OnlyZerosLeft()) {
          // A decimal with only zeros from here to the right is left blank.
          n.Place(' ', Fill::kBlank, true);
        } else {
          n.Place(d ? d : '0', Fill::kBlank, false);
        }
        --n.digit;
        break;
      case '*':
        n.Place(d ? d : '*', Fill::kStar, !d);
        --n.digit;
        break;
      case '.':
        n.Put(n.exhausted ? n.FillChar() : n.decimalChar);
        n.decimalPlaces = 0;
        break;
      case ',':
        n.Put(n.thousandsChar);
        break;
      case '-':
        n.Put(n.negative ? '-' : ' ');
        if (n.decimalPlaces > 0) --n.digit;
        break;
      case '+':
        n.Put(n.negative ? '-' : '+');
        if (n.decimalPlaces > 0) --n.digit;
        break;
      default:
        break;
    }
  }
}

// Prints the positions left of the digits, once every digit is placed:
// zeros, fill, separators, the sign.
void FillLeftOfDigits(MaskedNumber& n) {
  for (; n.position >= 1; --n.position) {
    const bool floatingMinus = n.TakesFloatingMinus();
    switch (n.Mask()) {
      case '9':
        if (floatingMinus && n.InIntegerPart()) {
          n.PutFloatingMinus();
        } else {
          n.Put('0');
        }
        n.fill = Fill::kNone;
        n.exhausted = false;
        break;
      case 'Z':
      case 'z':
        if (floatingMinus) {
          n.PutFloatingMinus();
        } else if (n.InIntegerPart() || n.digits.empty()) {
          n.Place(' ', Fill::kBlank, true);
        } else {
          n.Place('0', Fill::kBlank, false);
        }
        break;
      case '*':
        if (floatingMinus) {
          n.PutFloatingMinus();
        } else {
          n.Place(n.InIntegerPart() ? '*' : '0', Fill::kStar, false);
        }
        break;
      case ',':
        if (floatingMinus) {
          n.PutFloatingMinus();
        } else {
          n.Put(n.fill != Fill::kNone ? n.FillChar() : n.thousandsChar);
        }
        break;
      case '.':
        n.Put(n.exhausted ? n.FillChar() : n.decimalChar);
        break;
      case '-':
        n.Put(n.negative ? '-' : ' ');
        break;
      case '+':
        n.Put(n.negative ? '-' : '+');
        break;
      default:
        break;
    }
  }
}

// A number the mask cannot hold, printed plain and right-aligned in the
// mask's width: sign, integer digits, decimal character and the
// `shownPlaces` decimals. Its leftmost characters when it is wider; false
// when even its integer digits and sign do not fit.
bool AppendPlain(std::string& out, std::size_t width, bool negative, std::string_view digits,
                 long long shownPlaces, char decimalChar) {
  const long long length = static_cast<long long>(digits.size());
  // Index in `digits`, from 1, of the first decimal digit.
  const long long firstDecimal = length - shownPlaces + 1;
  const long long intDigits = std::max(firstDecimal - 1, 0LL);
  if (static_cast<long long>(width) < intDigits + (negative ? 1 : 0)) return false;
  std::string plain = negative ? "-" : "";
  plain += digits.substr(0, static_cast<std::size_t>(intDigits));
  if (firstDecimal <= length) {
    plain += decimalChar;
    // Fewer digits than decimals: the missing ones are leading zeros.
    if (firstDecimal < 1) plain.append(static_cast<std::size_t>(1 - firstDecimal), '0');
    plain += digits.substr(static_cast<std::size_t>(intDigits));
  }
  if (plain.size() > width) {
    out.append(plain, 0, width);
    return true;
  }
  out.append(width - plain.size(), ' ');
  out.append(plain);
  return true;
}

}  // namespace

void MaskPicture::AppendDigits(std::string& out, bool negative, std::string_view digits) const {
  LoadCharacters();
  const std::size_t start = out.size();
  out.append(mask_);
  const long long length = static_cast<long long>(mask_.size());
  MaskedNumber n{.mask = mask_,
                 .digits = digits,
                 .field = out.data() + start,
                 .negative = negative,
                 .maskSigned = signed_,
                 .decimalChar = Chars().decimal,
                 .thousandsChar = Chars().thousands,
                 .length = length,
                 .decimalPlaces = decimals_,
                 // The rightmost mask position stands for this digit:
                 // past the last one by the places right of the point
                 // that show no digit (a sign there).
                 .digit = static_cast<long long>(digits.size()) - shownPlaces_ + decimals_,
                 .position = length};
  PlaceDigits(n);
  // Digits left over, or a minus that found no position left of them.
  if (n.digit != 0 || (n.TakesFloatingMinus() && n.position == 0)) {
    out.resize(start);
    if (!AppendPlain(out, mask_.size(), negative, digits, shownPlaces_, Chars().decimal)) AppendOverflow(out);
    return;
  }
  FillLeftOfDigits(n);
}

std::string FormatWithMask(std::string_view mask, double value) { return MaskPicture(mask).Format(value); }

namespace {

// The edit mask FormatAmount prints an amount through, in pesetas or in
// euros, for a zero amount or any other.
std::string AmountMask(std::string_view picture, bool pesetas, bool nonZero) {
  const std::size_t n = picture.size();
  int decimals = 0;
  bool seenPoint = false, unitsShow = nonZero, group = false;
  char fillLetter = 'Z';
  enum class Sign { kNone, kLeading, kTrailing } sign = Sign::kNone;
  char signChar = '\0';
  for (std::size_t i = 0; i < n; ++i) {
    const char c = picture[i];
    if (c == '.') {
      seenPoint = true;
      ++decimals;
    } else if (c == '9') {
      if (seenPoint) ++decimals;
      else unitsShow = true;
    } else if (c == ',') {
      group = true;
    } else if (c == 'Z' || c == '*') {
      fillLetter = c;
    } else if (c == '-' || c == '+') {
      sign = i == 0 ? Sign::kLeading : Sign::kTrailing;
      signChar = c;
    }
  }

  std::string mask(n, fillLetter);
  if (unitsShow && n > 0) mask = mask.substr(1) + '9';
  if (group) {
    for (long long q = static_cast<long long>(n) - 3; q >= 1; q -= 4) {
      const auto at = static_cast<std::size_t>(q);
      mask = mask.substr(1, at - 1) + ',' + mask.substr(at);
    }
  }

  if (!pesetas) decimals += seenPoint ? 2 : 3;
  auto keepRight = [n](std::string& m) {
    if (m.size() > n) m.erase(0, m.size() - n);
  };
  if (decimals > 0) {
    mask += '.';
    mask.append(static_cast<std::size_t>(decimals - 1), unitsShow ? '9' : 'Z');
    keepRight(mask);
  }
  if (sign == Sign::kTrailing) {
    mask += signChar;
    keepRight(mask);
  } else if (sign == Sign::kLeading && !mask.empty()) {
    mask[0] = signChar;
  }
  return mask;
}

// The amount in the currency shown, as FormatAmount prints it.
double ShownAmount(double cents, bool pesetas) {
  return pesetas ? cents / 100 * static_cast<double>(kPesetaRate) : cents / 100;
}

// Amounts of euro cents whose digits, with the mask's places after the
// cents as zeros, are exactly what the floating point path rounds to: below
// 2^50 the double of cents / 100 * 10^places is within a quarter of it.
constexpr std::uint64_t kExactUnits = std::uint64_t{1} << 50;

}  // namespace

std::string FormatAmount(std::string_view picture, double cents) {
  const bool pesetas = Cur().shown == 'P';
  return MaskPicture(AmountMask(picture, pesetas, cents != 0)).Format(ShownAmount(cents, pesetas));
}

AmountPicture::AmountPicture(std::string_view picture)
    : masks_{{MaskPicture(AmountMask(picture, false, false)), MaskPicture(AmountMask(picture, false, true))},
             {MaskPicture(AmountMask(picture, true, false)), MaskPicture(AmountMask(picture, true, true))}} {}

std::string AmountPicture::Format(std::int64_t cents) const {
  std::string out;
  AppendTo(out, cents);
  return out;
}

void AmountPicture::AppendTo(std::string& out, std::int64_t cents) const {
  const bool pesetas = Cur().shown == 'P';
  const MaskPicture& mask = MaskFor(pesetas, cents != 0);
  // Euros shown with at least the cents: the digits of the cents, and
  // zeros for any further places.
  const long long extraPlaces = mask.shownPlaces_ - 2;
  if (!pesetas && extraPlaces >= 0 && extraPlaces <= 8) {
    const std::uint64_t magnitude =
        cents < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
    const auto scale = static_cast<std::uint64_t>(PowerOfTen(extraPlaces));
    if (magnitude <= kExactUnits / scale) {
      char digits[32];
      std::size_t size = 0;
      if (magnitude != 0) {
        size = static_cast<std::size_t>(std::to_chars(digits, digits + 20, magnitude).ptr - digits);
        std::fill_n(digits + size, extraPlaces, '0');
        size += static_cast<std::size_t>(extraPlaces);
      }
      mask.AppendDigits(out, cents < 0, std::string_view(digits, size));
      return;
    }
  }
  mask.AppendTo(out, ShownAmount(static_cast<double>(cents), pesetas));
}

void SetCurrency(std::string_view letters) {
  Currency& c = Cur();
  const char first = letters.empty() ? '\0' : base::AsciiUpper(letters[0]);
  std::size_t comma = letters.find(',');
  if (comma != std::string_view::npos) {
    char letter = '\0';
    for (char ch : letters.substr(comma + 1))
      if (ch != ' ') {
        letter = base::AsciiUpper(ch);
        break;
      }
    if (first == 'A') {
      c.base = letter;
      c.shown = letter;
    } else {
      c.alt = letter;
    }
    return;
  }
  if (first == 'P') c.shown = c.alt != '\0' ? c.alt : c.base;
  else c.shown = c.base;
}

}  // namespace format
