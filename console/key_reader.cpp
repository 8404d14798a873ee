#include "console/key_reader.h"

#include <optional>

#include "console/hot_keys.h"
#include "console/screen.h"
#include "platform/terminal.h"

namespace console {

namespace {

// How long one wait for input lasts before the caller polls again; it keeps
// a waiting screen from spinning on the processor.
constexpr int kWaitSliceMs = 100;

// A key that ended an Alt + keypad composition without being a digit; it is
// handed out on the next read instead of being lost.
std::optional<platform::InputEvent>& Held() {
  static std::optional<platform::InputEvent> held;
  return held;
}

int KeypadDigit(std::uint16_t key) {
  switch (key) {
    case 0x5200: return 0;
    case 0x4f00: return 1;
    case 0x5000: return 2;
    case 0x5100: return 3;
    case 0x4b00: return 4;
    case 0x4c00: return 5;
    case 0x4d00: return 6;
    case 0x4700: return 7;
    case 0x4800: return 8;
    case 0x4900: return 9;
    default: return -1;
  }
}

platform::InputEvent NextEvent(int timeoutMs) {
  if (Held()) {
    platform::InputEvent e = *Held();
    Held().reset();
    return e;
  }
  platform::Terminal& term = platform::CurrentTerminal();
  // A terminal that shows only part of the screen keeps the window the
  // operator is answering in view.
  const PopupWindowState& window = PopupWindow();
  if (window.Level > 0)
    term.SetFocusRows(window.Top, window.Bottom);
  else
    term.SetFocusRows(0, 0);
  return term.Poll(timeoutMs);
}

void ReadKeyWithin(int timeoutMs, std::int16_t& key, std::int16_t& button, std::int16_t& mouseRow,
                   std::int16_t& mouseColumn) {
  KeyReaderState& s = KeyReader();
  key = button = mouseRow = mouseColumn = 0;
  if (!s.TypeAhead.empty()) {
    key = static_cast<std::int16_t>(static_cast<unsigned char>(s.TypeAhead.front()));
    s.TypeAhead.erase(0, 1);
    return;
  }
  platform::Terminal& term = platform::CurrentTerminal();
  if (s.mouseState == 0) s.mouseState = term.MouseButtons() == 0 ? 3 : 2;
  if (s.mouseState == 2) {
    term.EnableMouse(true);
    s.mouseState = 1;
  }

  platform::InputEvent e = NextEvent(timeoutMs);
  // Alt held while digits are typed on the keypad composes a character code.
  std::string digits;
  while (e.kind == platform::InputEvent::Kind::kKey && (e.modifiers & platform::kLeftAlt) != 0) {
    const int digit = KeypadDigit(e.key);
    if (digit < 0) break;
    digits.push_back(static_cast<char>('0' + digit));
    // Input that stops arriving means Alt was let go.
    e = NextEvent(kWaitSliceMs);
  }
  if (!digits.empty()) {
    if (e.kind != platform::InputEvent::Kind::kNone) Held() = e;
    int value = 0;
    for (char c : digits) value = (value * 10 + (c - '0')) % 256;
    e = platform::InputEvent{};
    e.kind = platform::InputEvent::Kind::kKey;
    e.key = static_cast<std::uint16_t>(value);
  }

  if (e.kind == platform::InputEvent::Kind::kKey) {
    int code = e.key;
    const bool function = code >= 0x3b00 && code <= 0x4400 && (code & 0xFF) == 0;
    const bool f11f12 = code == 0x8500 || code == 0x8600;
    if (code == 0x1200) {
      code = 213;
    } else if ((e.modifiers & (platform::kRightAlt | platform::kLeftAlt)) != 0) {
      if (function) code += 0x2d00;
      if (f11f12) code += 0x600;
    } else if ((e.modifiers & (platform::kRightCtrl | platform::kLeftCtrl)) != 0) {
      if (function) code += 0x2300;
      if (f11f12) code += 0x400;
      if (code == 0x4700) code = 0x7700;
      if (code == 0x4d00) code = 0x7400;
      if (code == 0x4b00) code = 0x7300;
    } else if ((e.modifiers & platform::kShift) != 0) {
      if (function) code += 0x1900;
      if (f11f12) code += 0x200;
    }
    key = static_cast<std::int16_t>(static_cast<std::uint16_t>(code));
  } else if (e.kind == platform::InputEvent::Kind::kMouse && s.mouseState == 1 && e.buttons != 0) {
    button = e.buttons;
    mouseRow = static_cast<std::int16_t>(e.row);
    mouseColumn = static_cast<std::int16_t>(e.column);
  }

  const auto runHotKey = [&](bool& open, const std::function<std::string()>& popUp) {
    if (open || !popUp) return;
    open = true;
    std::string result = popUp();
    open = false;
    s.TypeAhead += result;
  };
  if (key == 0x2d00) runHotKey(s.calculatorOpen, Hot().Calculator);
  if (key == 0x2e00) runHotKey(s.calendarOpen, Hot().Calendar);

  if (s.mouseState == 1 && (key > 0 || button > 0)) {
    term.EnableMouse(false);
    s.mouseState = 2;
  }
}

}  // namespace

HotKeys& Hot() {
  static HotKeys hot;
  return hot;
}

KeyReaderState& KeyReader() {
  static KeyReaderState state;
  return state;
}

void ResetKeyReader() {
  KeyReader() = KeyReaderState{};
  Held().reset();
}

void ReadKey(std::int16_t& key, std::int16_t& button, std::int16_t& mouseRow, std::int16_t& mouseColumn) {
  ReadKeyWithin(0, key, button, mouseRow, mouseColumn);
}

namespace detail {
void WaitKeyDetailed(std::int16_t& key, std::int16_t& button, std::int16_t& row, std::int16_t& column) {
  do {
    ReadKeyWithin(kWaitSliceMs, key, button, row, column);
  } while (key == 0 && button == 0);
}
}  // namespace detail

void WaitKey(std::int16_t& key) {
  std::int16_t button = 0, row = 0, column = 0;
  detail::WaitKeyDetailed(key, button, row, column);
  if (button != 0) key = static_cast<std::int16_t>(static_cast<std::uint16_t>((256 * column + 64 * button + row) & 0xFFFF));
}

std::int16_t WaitKey() {
  std::int16_t key = 0;
  WaitKey(key);
  return key;
}

}  // namespace console
