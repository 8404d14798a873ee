#include "console/calculator_model.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "format/masks.h"
#include "platform/key_codes.h"

namespace console {

using namespace platform::keys;
namespace {

// A value the 16-digit display cannot hold: it shows as "!" and is never
// typed into a field. Division by zero and overflow land here.
constexpr double kOverflow = 1e23;
constexpr double kDisplayLimit = 1e16;

double Pow10(int n) { return std::pow(10.0, n); }

void StartEntry(CalcState& s) {
  if (!s.entering) {
    s.CalcEntry = 0;
    s.point = false;
    s.decimals = 0;
  }
}

void Normalise(CalcState& s, double value) {
  if (!std::isfinite(value) || std::fabs(value) >= kDisplayLimit) {
    s.CalcEntry = value < 0 ? -kOverflow : kOverflow;
    s.point = false;
    s.decimals = 0;
    return;
  }
  int n = 0;
  if (value >= 1) n = static_cast<int>(std::floor(std::log10(value))) + 1;
  int decimals = 0;
  while (value != std::trunc(value) && decimals + n < 15) {
    value *= 10;
    ++decimals;
  }
  value = std::nearbyint(value);
  while (decimals > 0 && std::fmod(value, 10.0) == 0) {
    value /= 10;
    --decimals;
  }
  s.CalcEntry = decimals > 0 ? value / Pow10(decimals) : value;
  s.decimals = static_cast<std::int16_t>(decimals);
  s.point = decimals > 0;
}

void Record(CalcState& s, char op) {
  if (s.TapeTop > kTapeTopmost) --s.TapeTop;
  for (std::size_t i = 0; i + 1 < s.tape.size(); ++i) s.tape[i] = s.tape[i + 1];
  s.tape.back() = TapeSlot{s.CalcEntry, s.point, s.decimals, op};
}

void OperatorStep(CalcState& s, char k) {
  double acc = s.CalcAccumulator;
  const double e = s.CalcEntry;
  if (s.pending == "+") acc += e;
  else if (s.pending == "-") acc -= e;
  else if (s.pending == "*") acc *= e;
  else if (s.pending == "/") acc = e == 0 ? kOverflow : acc / e;
  else acc = e;
  if (!std::isfinite(acc) || std::fabs(acc) >= kDisplayLimit) acc = acc < 0 ? -kOverflow : kOverflow;
  s.CalcAccumulator = acc;
  Record(s, k);
  Normalise(s, acc);
  std::string next(1, k);
  if (k == '=') {
    Record(s, ' ');
    next.clear();
  }
  s.entering = false;
  s.cleared = false;
  s.pending = next;
}

// A digit typed: into the integer part, or as the next decimal (at most 15).
void TypeDigit(CalcState& s, int digit) {
  StartEntry(s);
  if (!s.point) {
    s.CalcEntry = 10 * s.CalcEntry + digit;
  } else if (s.decimals < 15) {
    ++s.decimals;
    s.CalcEntry += digit / Pow10(s.decimals);
  }
  s.entering = true;
}

// Backspace: the last digit typed goes; with no decimals left, the point.
void DeleteLastDigit(CalcState& s) {
  if (!s.point) {
    s.CalcEntry = std::trunc(s.CalcEntry / 10);
  } else if (--s.decimals < 0) {
    s.point = false;
    s.decimals = 0;
  } else {
    const double scale = Pow10(s.decimals);
    s.CalcEntry = std::trunc(std::nearbyint(s.CalcEntry * scale * 10) / 10) / scale;
  }
  s.entering = s.entering && s.CalcEntry != 0;
}

// "C" clears a step at a time: the number being typed, then the
// accumulator, then the tape.
CalcAction Clear(CalcState& s) {
  if (s.entering) {
    s.entering = false;
    s.CalcEntry = s.CalcAccumulator;
    s.point = false;
    s.decimals = 0;
    s.lastKey = s.pending;
    return CalcAction::Display;
  }
  if (!s.cleared) {
    s.CalcEntry = 0;
    s.CalcAccumulator = 0;
    s.point = false;
    s.decimals = 0;
    s.lastKey.clear();
    s.cleared = true;
    return CalcAction::Display;
  }
  s.TapeTop = kTapeNoneShown;
  return CalcAction::Reopen;
}

}  // namespace

CalcAction CalcHandleKey(CalcState& s, std::int16_t key) {
  int k = key;
  if (k >= 'a' && k <= 'z') k -= 'a' - 'A';
  if (k > 0 && k < 256) s.lastKey = std::string(1, static_cast<char>(k));
  else s.lastKey.clear();
  if (k >= '0' && k <= '9') {
    TypeDigit(s, k - '0');
    return CalcAction::Display;
  }
  switch (k) {
    case '.':
      StartEntry(s);
      if (!s.point) {
        s.point = true;
        s.decimals = 0;
      }
      s.entering = true;
      return CalcAction::Display;
    case kBackspace:
      DeleteLastDigit(s);
      return CalcAction::Display;
    case 'T':
      s.CalcEntry = -s.CalcEntry;
      return CalcAction::Display;
    case '+': case '-': case '*': case '/':
      OperatorStep(s, static_cast<char>(k));
      return CalcAction::Tape;
    case '=': case kEnter:
      if (!s.entering) return CalcAction::None;
      s.lastKey = "=";
      OperatorStep(s, '=');
      return CalcAction::Tape;
    case '%':
      Record(s, '%');
      if (s.pending == "+" || s.pending == "-") Normalise(s, s.CalcAccumulator / 100 * s.CalcEntry);
      else Normalise(s, s.CalcEntry / 100);
      return CalcAction::Tape;
    case 'R':
      s.CalcEntry = std::nearbyint(s.CalcEntry * 100) / 100;
      s.CalcAccumulator = s.CalcEntry;
      s.point = true;
      s.decimals = 2;
      Record(s, 'R');
      return CalcAction::Tape;
    case 'C':
      return Clear(s);
    case kLeft: case kCtrlLeft:
      s.CalcColumn = s.CalcColumn <= 1 ? kCalcLastColumn : static_cast<std::int16_t>(s.CalcColumn - 1);
      return CalcAction::Move;
    case kRight: case kCtrlRight:
      s.CalcColumn = s.CalcColumn >= kCalcLastColumn ? 1 : static_cast<std::int16_t>(s.CalcColumn + 1);
      return CalcAction::Move;
    case 'F': case kAltF:
      return CalcAction::Finish;
    case kEsc:
      return CalcAction::Cancel;
    default:
      return CalcAction::None;
  }
}

std::string CalcNumberText(double value, bool point, std::int16_t decimals) {
  // The sign keeps the first position; the digits take the other 21, so
  // decimals shorten the integer part.
  std::string digits = "Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9";
  if (point) digits += '.';
  if (decimals > 0) digits.append(static_cast<std::size_t>(decimals), '9');
  std::string text = format::FormatWithMask("-" + digits.substr(digits.size() - 21), value);
  if (text.size() < 22) text.insert(0, 22 - text.size(), ' ');
  return text;
}

std::string CalcResultText(const CalcState& s) {
  const double signed_value = s.entering ? s.CalcEntry : s.CalcAccumulator;
  const double v = std::fabs(signed_value);
  if (!std::isfinite(v) || v >= kDisplayLimit) return {};
  const int k = s.decimals < 2 ? 2 : s.decimals;
  const double scaled = std::nearbyint(v * Pow10(k));
  if (scaled == 0) return {};
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, scaled, std::chars_format::fixed, 0);
  if (ec != std::errc()) return {};
  std::string digits(buffer, end);
  if (k > 2) {
    const std::size_t cut = static_cast<std::size_t>(k - 2);
    digits.insert(digits.size() >= cut ? digits.size() - cut : 0, ".");
  }
  // The variations take negative amounts: a result without its sign would
  // type the opposite amount.
  return signed_value < 0 ? "-" + digits : digits;
}

namespace {

std::string Number(double v) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}
std::string Flag(bool b) { return b ? "-1" : "0"; }
// A double quote cannot stand between the quotes of this file: a text
// holding one (the last key was a '"') is kept as the empty text, so that
// the state can still be read back.
std::string Quoted(std::string_view t) {
  return "\"" + std::string(t.find('"') == std::string_view::npos ? t : std::string_view()) + "\"";
}

struct Item {
  std::string text;
  bool quoted = false;
};

// Items separated by commas or line ends; quoted texts may hold commas.
bool SplitItems(std::string_view text, std::vector<Item>& items) {
  std::size_t i = 0;
  const auto blank = [&](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (true) {
    while (i < text.size() && blank(text[i])) ++i;
    if (i >= text.size()) return true;
    Item item;
    if (text[i] == '"') {
      const std::size_t close = text.find('"', i + 1);
      if (close == std::string_view::npos) return false;
      item.text = std::string(text.substr(i + 1, close - i - 1));
      item.quoted = true;
      i = close + 1;
    } else {
      const std::size_t start = i;
      while (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') ++i;
      item.text = std::string(text.substr(start, i - start));
      while (!item.text.empty() && blank(item.text.back())) item.text.pop_back();
    }
    items.push_back(std::move(item));
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && text[i] == ',') ++i;
  }
}

bool ToDouble(const Item& item, double& out) {
  if (item.quoted || item.text.empty()) return false;
  const char* first = item.text.data();
  const char* last = first + item.text.size();
  if (*first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && end == last && std::isfinite(out);
}

bool ToInt(const Item& item, std::int16_t& out, int low, int high) {
  double v = 0;
  if (!ToDouble(item, v) || v != std::trunc(v) || v < low || v > high) return false;
  out = static_cast<std::int16_t>(v);
  return true;
}

bool ToFlag(const Item& item, bool& out) {
  double v = 0;
  if (!ToDouble(item, v) || (v != 0 && v != -1 && v != 1)) return false;
  out = v != 0;
  return true;
}

bool IsOperator(std::string_view t, std::string_view allowed) {
  return t.empty() || (t.size() == 1 && allowed.find(t[0]) != std::string_view::npos);
}

}  // namespace

std::string CalcStateText(const CalcState& s) {
  std::string out;
  out += std::to_string(s.CalcColumn) + "," + std::to_string(s.TapeTop) + "," + Number(s.CalcEntry) + "," +
         Number(s.CalcAccumulator) + "\r\n";
  out += Flag(s.cleared) + "," + Flag(s.entering) + "," + Flag(s.point) + "," + std::to_string(s.decimals) + "\r\n";
  out += Quoted(s.lastKey) + "," + Quoted(s.pending) + "\r\n";
  for (const TapeSlot& slot : s.tape)
    out += Number(slot.value) + "," + Flag(slot.point) + "," + std::to_string(slot.decimals) + "," +
           Quoted(std::string(1, slot.op)) + "\r\n";
  return out;
}

bool ParseCalcState(std::string_view text, CalcState& state) {
  state = CalcState{};
  std::vector<Item> items;
  if (!SplitItems(text, items)) return false;
  if (items.empty()) return true;
  if (items.size() != 10 + 4 * static_cast<std::size_t>(kTapeSlots)) return false;
  CalcState s;
  bool ok = ToInt(items[0], s.CalcColumn, 1, kCalcLastColumn) && ToInt(items[1], s.TapeTop, kTapeTopmost, kTapeNoneShown) &&
            ToDouble(items[2], s.CalcEntry) && ToDouble(items[3], s.CalcAccumulator) &&
            ToFlag(items[4], s.cleared) && ToFlag(items[5], s.entering) && ToFlag(items[6], s.point) &&
            ToInt(items[7], s.decimals, 0, 15) && items[8].quoted && items[9].quoted &&
            items[8].text.size() <= 1 && IsOperator(items[9].text, "+-*/");
  s.lastKey = items[8].text;
  s.pending = items[9].text;
  for (std::size_t i = 0; ok && i < s.tape.size(); ++i) {
    const Item* slot = &items[10 + 4 * i];
    TapeSlot& t = s.tape[i];
    ok = ToDouble(slot[0], t.value) && ToFlag(slot[1], t.point) && ToInt(slot[2], t.decimals, 0, 15) &&
         slot[3].quoted && slot[3].text.size() == 1;
    if (ok) t.op = slot[3].text[0];
  }
  if (!ok) return false;
  state = s;
  return true;
}

}  // namespace console
