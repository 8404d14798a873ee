#include "format/masks.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <vector>

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

// The decimal digits of a non-negative whole number held in a double; empty for 0.
std::string WholeDigits(double x) {
  if (x < 1) return {};
  std::vector<char> buffer(400);
  int n = std::snprintf(buffer.data(), buffer.size(), "%.0f", x);
  return std::string(buffer.data(), static_cast<std::size_t>(n > 0 ? n : 0));
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

std::string FormatWithMask(std::string_view mask, double value) {
  LoadCharacters();
  const char decimalChar = Chars().decimal, thousandsChar = Chars().thousands;
  const long long length = static_cast<long long>(mask.size());
  std::string out(mask);
  if (std::isinf(value)) return std::string(mask.size(), '!');
  if (std::isnan(value)) value = 0;

  long long D = 0, R = 0;
  std::size_t point = mask.find('.');
  if (point != std::string_view::npos) {
    for (std::size_t i = point + 1; i < mask.size(); ++i)
      if (IsOneOf(mask[i], "9Zz*-+")) ++D;
    for (std::size_t i = point + 1; i < mask.size() && IsOneOf(mask[i], "9Zz*"); ++i) ++R;
  }
  const bool isSigned = mask.find_first_of("-+") != std::string_view::npos;
  bool neg = value < 0;

  double x = std::nearbyint(std::fabs(value) * std::pow(10.0, static_cast<double>(R)));
  // Hundreds of decimal places overflow the scale: 0 stays 0, anything else cannot fit.
  if (std::isnan(x)) x = 0;
  if (std::isinf(x)) return std::string(mask.size(), '!');
  const std::string s = WholeDigits(x);
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
  auto put = [&](long long k, char c) { out[static_cast<std::size_t>(k - 1)] = c; };

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
    const long long intDigits = std::max(p - 1, 0LL);
    if (length < intDigits + (neg ? 1 : 0)) return std::string(mask.size(), '!');
    std::string plain = neg ? "-" : "";
    plain += s.substr(0, static_cast<std::size_t>(intDigits));
    if (p <= len) {
      plain += decimalChar;
      // Fewer digits than decimals: the missing ones are leading zeros.
      if (p < 1) plain.append(static_cast<std::size_t>(1 - p), '0');
      plain += s.substr(static_cast<std::size_t>(intDigits));
    }
    if (static_cast<long long>(plain.size()) > length) return plain.substr(0, mask.size());
    return std::string(mask.size() - plain.size(), ' ') + plain;
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
        } else if (k < length - D || x == 0) {
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
  return out;
}

std::string FormatAmount(std::string_view picture, double cents) {
  const std::size_t n = picture.size();
  int decimals = 0;
  bool seenPoint = false, unitsShow = cents != 0, group = false;
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

  double v;
  if (Cur().shown == 'P') {
    v = cents / 100 * static_cast<double>(kPesetaRate);
  } else {
    v = cents / 100;
    decimals += seenPoint ? 2 : 3;
  }
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
  return FormatWithMask(mask, v);
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
