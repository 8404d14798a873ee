#include "console/key_reader.h"

#include <optional>

#include "console/hot_keys.h"
#include "console/screen.h"
#include "data/files.h"
#include "platform/key_decoder.h"
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

int KeypadDigit(KeyCode key) {
  // Num Lock off: the keypad's digits arrive as the keys printed beside them.
  switch (key) {
    case keys::kIns: return 0;
    case keys::kEnd: return 1;
    case keys::kDown: return 2;
    case keys::kPgDn: return 3;
    case keys::kLeft: return 4;
    case keys::kCentre: return 5;
    case keys::kRight: return 6;
    case keys::kHome: return 7;
    case keys::kUp: return 8;
    case keys::kPgUp: return 9;
    default: return -1;
  }
}

// The PC code of a key with the modifiers held: Alt before Ctrl before
// Shift, as the classic keyboard reports them.
KeyCode Normalised(KeyCode code, std::uint8_t modifiers) {
  using namespace keys;
  const bool f11f12 = code == kF11 || code == kF12;
  int shift = 0;  // what the modifier adds to the key's code
  if (code == kAltE) return kEuro;
  if ((modifiers & (platform::kRightAlt | platform::kLeftAlt)) != 0) {
    if (IsF1ToF10(code)) shift = kAltF1 - kF1;
    if (f11f12) shift = kAltF11 - kF11;
  } else if ((modifiers & (platform::kRightCtrl | platform::kLeftCtrl)) != 0) {
    if (IsF1ToF10(code)) shift = kCtrlF1 - kF1;
    if (f11f12) shift = kCtrlF11 - kF11;
    if (code == kHome) return kCtrlHome;
    if (code == kRight) return kCtrlRight;
    if (code == kLeft) return kCtrlLeft;
  } else if ((modifiers & platform::kShift) != 0) {
    if (IsF1ToF10(code)) shift = kShiftF1 - kF1;
    if (f11f12) shift = kShiftF11 - kF11;
  }
  return static_cast<KeyCode>(static_cast<std::uint16_t>(code + shift));
}

// A terminal that shows only part of the screen keeps the window the
// operator is answering in view.
platform::InputEvent PollInView(int timeoutMs) {
  platform::Terminal& term = platform::CurrentTerminal();
  const PopupWindowState& window = PopupWindow();
  if (window.Level > 0)
    term.SetFocusRows(window.Top, window.Bottom);
  else
    term.SetFocusRows(0, 0);
  return term.Poll(timeoutMs);
}

platform::InputEvent NextEvent(int timeoutMs) {
  if (Held()) {
    platform::InputEvent e = *Held();
    Held().reset();
    return e;
  }
  if (timeoutMs != 0) data::BeforeWaiting();
  return PollInView(timeoutMs);
}

// Alt held while digits are typed on the keypad composes a character code
// (modulo 256) from them; the event after the digits is held for the next
// read. Any other event is returned as it is.
platform::InputEvent ComposeAltDigits(platform::InputEvent e) {
  std::string digits;
  while (e.kind == platform::InputEvent::Kind::kKey && (e.modifiers & platform::kLeftAlt) != 0) {
    const int digit = KeypadDigit(static_cast<KeyCode>(e.key));
    if (digit < 0) break;
    digits.push_back(static_cast<char>('0' + digit));
    // Input that stops arriving means Alt was let go.
    e = NextEvent(kWaitSliceMs);
  }
  if (digits.empty()) return e;
  if (e.kind != platform::InputEvent::Kind::kNone) Held() = e;
  int value = 0;
  for (char c : digits) value = (value * 10 + (c - '0')) % 256;
  return platform::KeyEvent(value);
}

// Opens a pop-up hot key asks for, unless it is open already (the
// calculator's own Alt+X does nothing); what it returns is typed next.
void RunHotKey(bool& open, const std::function<std::string()>& popUp) {
  if (open || !popUp) return;
  open = true;
  std::string result = popUp();
  open = false;
  KeyReader().TypeAhead += result;
}

Input ReadWithin(int timeoutMs) {
  KeyReaderState& s = KeyReader();
  if (!s.TypeAhead.empty()) {
    const auto key = static_cast<KeyCode>(static_cast<unsigned char>(s.TypeAhead.front()));
    s.TypeAhead.erase(0, 1);
    return key;
  }
  platform::Terminal& term = platform::CurrentTerminal();
  if (s.mouseState == MouseState::kNotProbed)
    s.mouseState = term.MouseButtons() == 0 ? MouseState::kNoMouse : MouseState::kOff;
  if (s.mouseState == MouseState::kOff) {
    term.EnableMouse(true);
    s.mouseState = MouseState::kOn;
  }

  const platform::InputEvent e = ComposeAltDigits(NextEvent(timeoutMs));
  Input in;
  if (e.kind == platform::InputEvent::Kind::kKey) {
    in = Normalised(static_cast<KeyCode>(e.key), e.modifiers);
  } else if (e.kind == platform::InputEvent::Kind::kMouse && s.mouseState == MouseState::kOn && e.buttons != 0) {
    in = Input::ClickAt(e.row, e.column, e.buttons);
  }
  if (in.key == keys::kAltX) RunHotKey(s.calculatorOpen, Hot().Calculator);
  if (in.key == keys::kAltC) RunHotKey(s.calendarOpen, Hot().Calendar);

  if (s.mouseState == MouseState::kOn && (in.key > 0 || in.IsClick())) {
    term.EnableMouse(false);
    s.mouseState = MouseState::kOff;
  }
  return in;
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

Input ReadInput() { return ReadWithin(0); }

void FollowTerminal() {
  if (Held()) return;
  const platform::InputEvent e = PollInView(0);
  if (e.kind != platform::InputEvent::Kind::kNone) Held() = e;
}

void ForgetKeptInput() { Held().reset(); }

Input WaitInput() {
  for (;;) {
    Input in = ReadWithin(kWaitSliceMs);
    if (!in.Empty()) return in;
  }
}

}  // namespace console
