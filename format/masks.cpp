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

enum class Fill { kNone, kBlank, kStar };

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

void MaskPicture::AppendDigits(std::string& out, bool neg, std::string_view s) const {
  LoadCharacters();
  const char decimalChar = Chars().decimal, thousandsChar = Chars().thousands;
  const std::string_view mask = mask_;
  const long long length = static_cast<long long>(mask.size());
  const long long R = shownPlaces_;
  long long D = decimals_;
  const bool isSigned = signed_;
  const std::size_t base = out.size();
  out.append(mask);

  const long long len = static_cast<long long>(s.size());
  long long j = len - R + D;
  const long long p = len - R + 1;
  // s[j] counting from 1; '\0' beyond the digits.
  auto digit = [&](long long at) { return (at >= 1 && at <= len) ? s[static_cast<std::size_t>(at - 1)] : '\0'; };
  auto zerosFrom = [&](long long from) {
    for (long long i = std::max(from, 1LL); i <= len; ++i)
      if (s[static_cast<std::size_t>(i - 1)] != '0') return false;
    return true;
  };

  Fill fill = Fill::kNone;
  bool exhausted = false;
  auto fillChar = [&] { return fill == Fill::kStar ? '*' : ' '; };
  auto put = [&](long long k, char c) { out[base + static_cast<std::size_t>(k - 1)] = c; };

  long long k = length;
  for (; k >= 1 && j > 0; --k) {
    const char c = mask[static_cast<std::size_t>(k - 1)];
    const char d = digit(j);
    switch (c) {
      case '9':
        put(k, d ? d : '0');
        fill = Fill::kNone;
        exhausted = false;
        --j;
        break;
      case 'Z':
      case 'z':
        if (k < length - D) {
          put(k, d ? d : ' ');
          fill = Fill::kBlank;
          exhausted = !d;
        } else if (D > 0 && zerosFrom(j)) {
          put(k, ' ');
          fill = Fill::kBlank;
          exhausted = true;
        } else {
          put(k, d ? d : '0');
          fill = Fill::kBlank;
          exhausted = false;
        }
        --j;
        break;
      case '*':
        put(k, d ? d : '*');
        fill = Fill::kStar;
        exhausted = !d;
        --j;
        break;
      case '.':
        put(k, exhausted ? fillChar() : decimalChar);
        D = 0;
        break;
      case ',':
        put(k, thousandsChar);
        break;
      case '-':
        put(k, neg ? '-' : ' ');
        if (D > 0) --j;
        break;
      case '+':
        put(k, neg ? '-' : '+');
        if (D > 0) --j;
        break;
      default:
        break;
    }
  }

  if (j != 0 || (!isSigned && neg && k == 0)) {
    out.resize(base);
    const long long intDigits = std::max(p - 1, 0LL);
    if (length < intDigits + (neg ? 1 : 0)) return AppendOverflow(out);
    std::string plain = neg ? "-" : "";
    plain += s.substr(0, static_cast<std::size_t>(intDigits));
    if (p <= len) {
      plain += decimalChar;
      // Fewer digits than decimals: the missing ones are leading zeros.
      if (p < 1) plain.append(static_cast<std::size_t>(1 - p), '0');
      plain += s.substr(static_cast<std::size_t>(intDigits));
    }
    if (static_cast<long long>(plain.size()) > length) {
      out.append(plain, 0, mask.size());
      return;
    }
    out.append(mask.size() - plain.size(), ' ');
    out.append(plain);
    return;
  }

  for (; k >= 1; --k) {
    const char c = mask[static_cast<std::size_t>(k - 1)];
    const bool floatingMinus = neg && !isSigned;
    switch (c) {
      case '9':
        if (floatingMinus && k < length - D) {
          put(k, '-');
          neg = false;
        } else {
          put(k, '0');
        }
        fill = Fill::kNone;
        exhausted = false;
        break;
      case 'Z':
      case 'z':
        if (floatingMinus) {
          put(k, '-');
          neg = false;
        } else if (k < length - D || s.empty()) {
          put(k, ' ');
          fill = Fill::kBlank;
          exhausted = true;
        } else {
          put(k, '0');
          fill = Fill::kBlank;
          exhausted = false;
        }
        break;
      case '*':
        if (floatingMinus) {
          put(k, '-');
          neg = false;
        } else {
          put(k, k < length - D ? '*' : '0');
          fill = Fill::kStar;
          exhausted = false;
        }
        break;
      case ',':
        if (floatingMinus) {
          put(k, '-');
          neg = false;
        } else {
          put(k, fill != Fill::kNone ? fillChar() : thousandsChar);
        }
        break;
      case '.':
        put(k, exhausted ? fillChar() : decimalChar);
        break;
      case '-':
        put(k, neg ? '-' : ' ');
        break;
      case '+':
        put(k, neg ? '-' : '+');
        break;
      default:
        break;
    }
  }
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
