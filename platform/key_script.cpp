#include "platform/key_script.h"

#include <array>
#include <cctype>
#include <charconv>
#include <optional>

#include "base/cp850.h"
#include "platform/fixed_screen.h"
#include "platform/key_codes.h"
#include "platform/key_decoder.h"

namespace platform {
namespace {

struct NamedEntry {
  std::string_view name;
  NamedKey key;
};
constexpr std::array<NamedEntry, 22> kNamed{{
    {"F1", NamedKey::kF1},     {"F2", NamedKey::kF2},     {"F3", NamedKey::kF3},
    {"F4", NamedKey::kF4},     {"F5", NamedKey::kF5},     {"F6", NamedKey::kF6},
    {"F7", NamedKey::kF7},     {"F8", NamedKey::kF8},     {"F9", NamedKey::kF9},
    {"F10", NamedKey::kF10},   {"F11", NamedKey::kF11},   {"F12", NamedKey::kF12},
    {"Up", NamedKey::kUp},     {"Down", NamedKey::kDown}, {"Left", NamedKey::kLeft},
    {"Right", NamedKey::kRight}, {"Home", NamedKey::kHome}, {"End", NamedKey::kEnd},
    {"PgUp", NamedKey::kPgUp}, {"PgDn", NamedKey::kPgDn}, {"Ins", NamedKey::kIns},
    {"Del", NamedKey::kDel},
}};

std::optional<NamedKey> FindNamed(std::string_view name) {
  for (const NamedEntry& n : kNamed)
    if (n.name == name) return n.key;
  return std::nullopt;
}

std::optional<InputEvent> PlainKey(std::string_view name) {
  if (name == "Enter") return KeyEvent(keys::kEnter);
  if (name == "Esc") return KeyEvent(keys::kEsc);
  if (name == "Tab") return KeyEvent(keys::kTab);
  if (name == "ShiftTab") return KeyEvent(keys::kShiftTab, kShift);
  if (name == "Backspace") return KeyEvent(keys::kBackspace);
  if (auto k = FindNamed(name)) return NamedKeyEvent(*k, 0);
  return std::nullopt;
}

// "Shift+F1", "Ctrl+Left", "Ctrl+B", "Alt+X", "Alt+F4".
std::optional<InputEvent> ModifiedKey(std::string_view name) {
  int modifier = 0;
  std::string_view rest;
  for (auto [prefix, bit] : {std::pair<std::string_view, int>{"Shift+", kXShift}, {"Ctrl+", kXCtrl}, {"Alt+", kXAlt}}) {
    if (name.starts_with(prefix)) {
      modifier = bit;
      rest = name.substr(prefix.size());
    }
  }
  if (modifier == 0 || rest.empty()) return std::nullopt;
  if (auto k = FindNamed(rest)) return NamedKeyEvent(*k, modifier);
  if (rest.size() == 1 && std::isalpha(static_cast<unsigned char>(rest[0]))) {
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
    if (modifier == kXCtrl) return KeyEvent(letter - 'A' + 1, kLeftCtrl);
    if (modifier == kXAlt) return WithAlt(KeyEvent(std::tolower(static_cast<unsigned char>(letter))));
  }
  if (modifier == kXAlt) {
    if (auto plain = PlainKey(rest)) return WithAlt(*plain);
  }
  return std::nullopt;
}

bool ParseInt(std::string_view text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Splits "Click 3 10" into its words.
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

// The steps of one braced item, or an error text.
std::string BracedSteps(std::string_view item, std::vector<ScriptStep>& out) {
  if (item == "Snap") {
    out.push_back({ScriptStep::Kind::kSnap, {}});
    return {};
  }
  const std::vector<std::string_view> words = Words(item);
  if (!words.empty() && words[0] == "Pause") {
    int ms = 0;
    if (words.size() != 2 || !ParseInt(words[1], ms) || ms < 0)
      return "{Pause MS} wants a number of milliseconds";
    ScriptStep step{ScriptStep::Kind::kPause, {}};
    step.pauseMs = ms;
    out.push_back(step);
    return {};
  }
  if (!words.empty() && words[0] == "Resize") {
    ScriptStep step{ScriptStep::Kind::kResize, {}};
    if (words.size() != 2 || !ParseScreenSize(words[1], step.rows, step.columns))
      return "{Resize COLUMNSxROWS} wants a size such as 70x20";
    out.push_back(step);
    return {};
  }
  if (!words.empty() && words[0] == "Click") {
    int row = 0, column = 0;
    if (words.size() != 3 || !ParseInt(words[1], row) || !ParseInt(words[2], column) || row < 1 || column < 1)
      return "{Click R C} wants a row and a column from 1";
    InputEvent e;
    e.kind = InputEvent::Kind::kMouse;
    e.buttons = 1;
    e.row = row;
    e.column = column;
    out.push_back({ScriptStep::Kind::kEvent, e});
    return {};
  }
  if (!words.empty() && words[0] == "AltPad") {
    if (words.size() != 2 || words[1].size() > 3) return "{AltPad N} wants one to three digits";
    for (char d : words[1]) {
      if (d < '0' || d > '9') return "{AltPad N} wants one to three digits";
      out.push_back({ScriptStep::Kind::kEvent, WithAlt(KeyEvent(d))});
    }
    out.push_back({ScriptStep::Kind::kEvent, InputEvent{}});  // Alt let go
    return {};
  }
  if (auto e = PlainKey(item)) {
    out.push_back({ScriptStep::Kind::kEvent, *e});
    return {};
  }
  if (auto e = ModifiedKey(item)) {
    out.push_back({ScriptStep::Kind::kEvent, *e});
    return {};
  }
  return "unknown key {" + std::string(item) + "}";
}

}  // namespace

KeyScript ParseKeyScript(std::string_view text) {
  KeyScript script;
  int line = 1;
  int column = 1;
  auto fail = [&](const std::string& what) {
    script.steps.clear();
    script.error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
    return script;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
      column = 1;
      ++i;
      continue;
    }
    if (c == '\r') {
      ++i;
      continue;
    }
    if (c == '{') {
      if (i + 1 < text.size() && text[i + 1] == '{') {
        script.steps.push_back({ScriptStep::Kind::kEvent, KeyEvent('{')});
        i += 2;
        column += 2;
        continue;
      }
      const std::size_t close = text.find('}', i);
      const std::size_t newline = text.find('\n', i);
      if (close == std::string_view::npos || (newline != std::string_view::npos && newline < close))
        return fail("unclosed {");
      const std::string error = BracedSteps(text.substr(i + 1, close - i - 1), script.steps);
      if (!error.empty()) return fail(error);
      column += static_cast<int>(close - i + 1);
      i = close + 1;
      continue;
    }
    const auto decoded = base::DecodeUtf8(text, i);
    const auto byte = base::UnicodeToCp850(decoded.cp);
    if (!byte || *byte == 0)
      return fail("\"" + std::string(text.substr(i, decoded.length)) + "\" has no code page 850 key");
    script.steps.push_back({ScriptStep::Kind::kEvent, KeyEvent(*byte)});
    i += decoded.length;
    ++column;
  }
  return script;
}

}  // namespace platform
