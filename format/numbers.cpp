#include "format/numbers.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/strings.h"

namespace format {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int DigitValue(char c) { return IsDigit(c) ? c - '0' : 0; }

// The decimal digits of a non-negative whole number held in a double; the
// empty text for 0, as the number texts print nothing for it.
std::string WholeDigits(double x) {
  if (!(x >= 1)) return {};  // 0, negatives and NaN
  if (!std::isfinite(x)) x = DBL_MAX;
  if (x < 18446744073709551616.0) {  // 2^64: an unsigned integer has the same digits
    char digits[24];
    return std::string(digits, std::to_chars(digits, digits + sizeof digits, static_cast<std::uint64_t>(x)).ptr);
  }
  // A double below 1e309 has at most 309 integer digits.
  char buf[400];
  int n = std::snprintf(buf, sizeof buf, "%.0f", x);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(std::min(n, static_cast<int>(sizeof buf) - 1)));
}

// The digits of a number as many decimals as it has, as a whole number
// with `decimals` of its digits after the point. A whole number keeps every
// digit (2^53 is 9007199254740992); a fraction keeps the 15 significant
// digits a double holds: multiplying by 10 until nothing is left after the
// point would print 19.99 as 19.989999999999996.
std::string SignificantDigits(double x, int& decimals) {
  decimals = 0;
  if (!(x > 0)) return {};
  if (!std::isfinite(x)) x = DBL_MAX;
  if (std::floor(x) == x) return WholeDigits(x);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", x);  // d.dddddddddddddde+XX
  std::string mantissa;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (IsDigit(*p)) mantissa += *p;
  const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();
  const int fraction = static_cast<int>(mantissa.size()) - 1 - exponent;
  if (fraction > 0) {
    decimals = fraction;
  } else {
    mantissa.append(static_cast<std::size_t>(-fraction), '0');
  }
  // Leading zeros of a number below 1 come back through the padding.
  mantissa.erase(0, std::min(mantissa.find_first_not_of('0'), mantissa.size()));
  return mantissa;
}

// Pads on the left with `fill` and cuts on the left to exactly `width`.
std::string FitLeft(std::string s, std::size_t width, char fill) {
  if (s.size() > width) return s.substr(s.size() - width);
  return std::string(width - s.size(), fill) + s;
}

bool HasLetter(std::string_view picture, char upper) {
  return std::any_of(picture.begin(), picture.end(), [upper](char c) { return base::AsciiUpper(c) == upper; });
}

// Widths beyond any printed field; they only keep absurd pictures from
// asking for gigabytes.
constexpr int kMaxWidth = 1000;
constexpr int kMaxDecimals = 300;

}  // namespace

std::string PackDigits(std::string_view digits) {
  const std::size_t n = digits.size();
  std::string text = FitLeft(std::string(base::Trim(digits)), n, '0');
  std::replace(text.begin(), text.end(), ' ', '0');
  std::string packed;
  packed.reserve((n + 1) / 2);
  for (std::size_t i = 0; i < n; i += 2) {
    int tens = DigitValue(text[i]);
    int units = i + 1 < n ? DigitValue(text[i + 1]) : 0;
    packed += static_cast<char>(128 + 10 * tens + units);
  }
  return packed;
}

std::string UnpackDigits(std::string_view packed) {
  std::string digits;
  digits.reserve(packed.size() * 2);
  for (char c : packed) {
    int v = (static_cast<unsigned char>(c) & 0x7F) % 100;
    digits += static_cast<char>('0' + v / 10);
    digits += static_cast<char>('0' + v % 10);
  }
  return digits;
}

double UnpackedValue(std::string_view packed) {
  // Up to 14 digits the whole number is exact in a double; longer ones are
  // read from their text, to round as strtod does.
  if (packed.size() > 7) return NumberValue(UnpackDigits(packed));
  std::uint64_t value = 0;
  for (char c : packed) value = value * 100 + (static_cast<unsigned char>(c) & 0x7F) % 100;
  return static_cast<double>(value);
}

std::string ZeroPad(double value, std::int16_t width) {
  if (width < 1) return {};
  if (std::isnan(value)) value = 0;
  return FitLeft(PlainNumberText(std::fabs(value)), static_cast<std::size_t>(width), '0');
}

std::string ZeroPadWhole(std::int64_t value, std::int16_t width) {
  if (width < 1) return {};
  const std::uint64_t magnitude =
      value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char digits[24];
  std::size_t size = 0;
  if (magnitude != 0) size = static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, magnitude).ptr - digits);
  const auto w = static_cast<std::size_t>(width);
  if (size >= w) return std::string(digits + (size - w), w);
  std::string text(w - size, '0');
  text.append(digits, size);
  return text;
}

std::string NumberText(double value, std::string_view picture) {
  if (std::isnan(value)) value = 0;
  // The picture: digits before the point give the width, digits
  // after it the decimals; letters may stand anywhere.
  int width = 0;
  int decimals = 0;
  bool hasPoint = false;
  for (char c : picture) {
    if (c == '.') {
      hasPoint = true;
    } else if (IsDigit(c)) {
      int& target = hasPoint ? decimals : width;
      target = std::min(target * 10 + (c - '0'), 100000);
    }
  }
  width = std::min(width, kMaxWidth);
  decimals = std::min(decimals, kMaxDecimals);
  const bool noPoint = HasLetter(picture, 'V');
  const bool zeroBeforePoint = HasLetter(picture, 'Z');
  const bool plusSign = HasLetter(picture, 'S');
  const bool letterN = HasLetter(picture, 'N');
  const bool letterM = HasLetter(picture, 'M');

  const bool negative = value < 0;
  const double magnitude = std::fabs(value);
  std::string digits;
  int decimalDigits = 0;  // how many of `digits` are decimals
  if (width > 0 || hasPoint) {
    digits = WholeDigits(std::nearbyint(magnitude * std::pow(10.0, decimals)));
    decimalDigits = decimals;
  } else {
    digits = SignificantDigits(magnitude, decimalDigits);
  }
  const auto decimalCount = static_cast<std::size_t>(decimalDigits);
  if (digits.size() < decimalCount) digits = FitLeft(digits, decimalCount, '0');
  std::string integerPart = digits.substr(0, digits.size() - decimalCount);
  std::string decimalPart = digits.substr(digits.size() - decimalCount);

  if (!noPoint && !decimalPart.empty()) decimalPart.insert(decimalPart.begin(), '.');
  if (zeroBeforePoint && integerPart.empty()) integerPart = "0";
  if (width > 0) integerPart = FitLeft(integerPart, static_cast<std::size_t>(width), '0');

  std::string sign;
  if (negative) {
    sign = (letterN || letterM) ? "N" : "-";
  } else if (plusSign) {
    sign = "+";
  } else if (letterM) {
    sign = " ";
  }
  if (!sign.empty()) {
    if (width > 0)
      integerPart[0] = sign[0];
    else
      integerPart.insert(0, sign);
  }
  return integerPart + decimalPart;
}

std::string PlainNumberText(double value) { return NumberText(value, ""); }

double NumberValue(std::string_view text) {
  std::string compact;
  compact.reserve(text.size());
  for (char c : text)
    if (c != ' ') compact += c;
  std::size_t i = 0;
  bool negative = false;
  if (i < compact.size() && (compact[i] == '+' || compact[i] == '-')) negative = compact[i++] == '-';
  std::string number;
  while (i < compact.size() && IsDigit(compact[i])) number += compact[i++];
  if (i < compact.size() && compact[i] == '.') {
    number += compact[i++];
    while (i < compact.size() && IsDigit(compact[i])) number += compact[i++];
  }
  if (number.empty() || number == ".") return 0;
  // The C library reads the digits exactly (up to the double's precision);
  // an overlong number reads as infinity, which the callers compare safely.
  double v = std::strtod(number.c_str(), nullptr);
  return negative ? -v : v;
}

bool CheckNumberText(std::string_view text, std::string_view allowed) {
  bool pointUsed = allowed.find('.') == std::string_view::npos;
  bool signUsed = allowed.find('-') == std::string_view::npos && allowed.find('+') == std::string_view::npos;
  bool bad = false;
  for (char c : text) {
    if (c == '+' || c == '-') {
      bad = bad || signUsed;
      signUsed = true;
    } else if (c == '.') {
      bad = bad || pointUsed;
      pointUsed = true;
      signUsed = true;
    } else if (IsDigit(c)) {
      signUsed = true;
    } else if (c != ' ') {
      bad = true;
    }
  }
  return bad;
}

bool CheckNumberInRange(std::string_view text, double minimum, double maximum, std::int16_t decimals) {
  if (!(maximum >= minimum) || decimals < 0 || decimals > 16) return true;
  std::string allowed;
  if (decimals > 0) allowed += '.';
  if (minimum < 0) allowed += '-';
  if (CheckNumberText(text, allowed)) return true;
  const double scale = std::pow(10.0, decimals);
  auto stored = [scale](double v) { return std::floor(v * scale + 0.5); };
  const double v = stored(NumberValue(text));
  return v < stored(minimum) || v > stored(maximum);
}

std::string PackCode(std::string_view text) {
  const auto points = static_cast<std::size_t>(std::count(text.begin(), text.end(), '.'));
  std::int16_t width = 4;
  if ((text.size() == 6 && points == 0) || (text.size() == 11 && points < 2)) width = 6;

  std::vector<std::string_view> groups;
  std::size_t start = 0;
  for (;;) {
    std::size_t dot = text.find('.', start);
    if (dot == std::string_view::npos) {
      groups.push_back(text.substr(start));
      break;
    }
    groups.push_back(text.substr(start, dot - start));
    start = dot + 1;
  }
  if (base::Trim(groups.back()).empty()) groups.pop_back();

  std::string digits;
  for (std::string_view group : groups) {
    digits += ZeroPad(NumberValue(group), width);
    width = 4;
  }
  return PackDigits(digits);
}

}  // namespace format
