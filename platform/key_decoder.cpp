#include "platform/key_decoder.h"

#include <array>
#include <string>

#include "base/cp850.h"
#include "platform/key_codes.h"

namespace platform {

InputEvent KeyEvent(int code, std::uint8_t modifiers) {
  InputEvent e;
  e.kind = InputEvent::Kind::kKey;
  e.key = static_cast<std::uint16_t>(code);
  e.modifiers = modifiers;
  return e;
}

namespace {

constexpr std::uint8_t kEsc = 27;

// PC scan codes of each named key: plain (Shift gives the same code for the
// grey keys), then Shift, Ctrl, Alt.
struct KeyCodes {
  std::uint8_t plain, shift, ctrl, alt;
};

constexpr std::array<KeyCodes, 23> kCodes = {{
    {0x3b, 0x54, 0x5e, 0x68},  // F1
    {0x3c, 0x55, 0x5f, 0x69},
    {0x3d, 0x56, 0x60, 0x6a},
    {0x3e, 0x57, 0x61, 0x6b},
    {0x3f, 0x58, 0x62, 0x6c},
    {0x40, 0x59, 0x63, 0x6d},
    {0x41, 0x5a, 0x64, 0x6e},
    {0x42, 0x5b, 0x65, 0x6f},
    {0x43, 0x5c, 0x66, 0x70},
    {0x44, 0x5d, 0x67, 0x71},  // F10
    {0x85, 0x87, 0x89, 0x8b},  // F11
    {0x86, 0x88, 0x8a, 0x8c},  // F12
    {0x48, 0x48, 0x8d, 0x98},  // Up
    {0x50, 0x50, 0x91, 0xa0},  // Down
    {0x4b, 0x4b, 0x73, 0x9b},  // Left
    {0x4d, 0x4d, 0x74, 0x9d},  // Right
    {0x47, 0x47, 0x77, 0x97},  // Home
    {0x4f, 0x4f, 0x75, 0x9f},  // End
    {0x49, 0x49, 0x84, 0x99},  // PgUp
    {0x51, 0x51, 0x76, 0xa1},  // PgDn
    {0x52, 0x52, 0x92, 0xa2},  // Ins
    {0x53, 0x53, 0x93, 0xa3},  // Del
    {0x4c, 0x4c, 0x8f, 0x4c},  // keypad 5
}};

// Scan codes of the letters A to Z.
constexpr std::array<std::uint8_t, 26> kLetterScan = {
    0x1e, 0x30, 0x2e, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
    0x31, 0x18, 0x19, 0x10, 0x13, 0x1f, 0x14, 0x16, 0x2f, 0x11, 0x2d, 0x15, 0x2c};

// Scan codes of the keys whose character Alt turns into a key of its own.
struct AltScan {
  int character;
  std::uint8_t scan;
};
constexpr std::array<AltScan, 15> kAltScan = {{
    {keys::kEnter, 0x1c}, {keys::kBackspace, 0x0e}, {keys::kTab, 0xa5}, {keys::kEsc, 0x01},
    {'-', 0x82}, {'=', 0x83}, {'[', 0x1a}, {']', 0x1b}, {';', 0x27}, {'\'', 0x28},
    {'`', 0x29}, {'\\', 0x2b}, {',', 0x33}, {'.', 0x34}, {'/', 0x35},
}};

// The keypad key of each digit, which Alt+digits compose into a character.
constexpr std::array<std::uint8_t, 10> kKeypadScan = {0x52, 0x4f, 0x50, 0x51, 0x4b,
                                                      0x4c, 0x4d, 0x47, 0x48, 0x49};

std::uint8_t PcModifiers(int xterm) {
  std::uint8_t m = 0;
  if (xterm & kXShift) m |= kShift;
  if (xterm & kXAlt) m |= kLeftAlt;
  if (xterm & kXCtrl) m |= kLeftCtrl;
  return m;
}

// A character typed on its own: its code page 850 byte.
InputEvent CharacterEvent(char32_t cp) {
  if (cp == 127) return KeyEvent(keys::kBackspace);  // most terminals send DEL for Backspace
  if (cp == 0) return KeyEvent(keys::kCtrl2);  // Ctrl+Space / Ctrl+2
  auto b = base::UnicodeToCp850(cp);
  if (!b) return InputEvent{};
  return KeyEvent(*b);
}

struct ParsedNumber {
  int value = 0;
  bool present = false;
};

// Names of the modified keys in the extended terminfo capabilities.
struct ExtendedName {
  std::string_view stem;
  NamedKey key;
};
constexpr std::array<ExtendedName, 10> kExtended = {{
    {"kUP", NamedKey::kUp},     {"kDN", NamedKey::kDown},  {"kLFT", NamedKey::kLeft},
    {"kRIT", NamedKey::kRight}, {"kHOM", NamedKey::kHome}, {"kEND", NamedKey::kEnd},
    {"kPRV", NamedKey::kPgUp},  {"kNXT", NamedKey::kPgDn}, {"kIC", NamedKey::kIns},
    {"kDC", NamedKey::kDel},
}};

struct PlainName {
  std::string_view name;
  NamedKey key;
  int modifiers;
};
constexpr std::array<PlainName, 25> kPlainNames = {{
    {"KEY_UP", NamedKey::kUp, 0},         {"KEY_DOWN", NamedKey::kDown, 0},
    {"KEY_LEFT", NamedKey::kLeft, 0},     {"KEY_RIGHT", NamedKey::kRight, 0},
    {"KEY_HOME", NamedKey::kHome, 0},     {"KEY_END", NamedKey::kEnd, 0},
    {"KEY_PPAGE", NamedKey::kPgUp, 0},    {"KEY_NPAGE", NamedKey::kPgDn, 0},
    {"KEY_IC", NamedKey::kIns, 0},        {"KEY_DC", NamedKey::kDel, 0},
    {"KEY_B2", NamedKey::kCentre, 0},     {"KEY_A1", NamedKey::kHome, 0},
    {"KEY_A3", NamedKey::kPgUp, 0},       {"KEY_C1", NamedKey::kEnd, 0},
    {"KEY_C3", NamedKey::kPgDn, 0},       {"KEY_FIND", NamedKey::kHome, 0},
    {"KEY_SELECT", NamedKey::kEnd, 0},    {"KEY_SR", NamedKey::kUp, kXShift},
    {"KEY_SF", NamedKey::kDown, kXShift}, {"KEY_SLEFT", NamedKey::kLeft, kXShift},
    {"KEY_SRIGHT", NamedKey::kRight, kXShift}, {"KEY_SHOME", NamedKey::kHome, kXShift},
    {"KEY_SEND", NamedKey::kEnd, kXShift}, {"KEY_SIC", NamedKey::kIns, kXShift},
    {"KEY_SDC", NamedKey::kDel, kXShift},
}};

// The function keys above 12 that terminfo gives to modified F1-F12.
std::optional<InputEvent> FunctionKeyNumber(int n) {
  if (n < 1 || n > 63) return std::nullopt;
  static constexpr std::array<int, 6> kModifiers = {0, kXShift, kXCtrl, kXCtrl | kXShift,
                                                    kXAlt, kXAlt | kXShift};
  const int group = (n - 1) / 12;
  const int index = (n - 1) % 12;
  return NamedKeyEvent(static_cast<NamedKey>(index), kModifiers[static_cast<std::size_t>(group)]);
}

// Final byte of a CSI/SS3 sequence naming a key on its own.
std::optional<NamedKey> FinalKey(char c) {
  switch (c) {
    case 'A': return NamedKey::kUp;
    case 'B': return NamedKey::kDown;
    case 'C': return NamedKey::kRight;
    case 'D': return NamedKey::kLeft;
    case 'E': return NamedKey::kCentre;
    case 'H': return NamedKey::kHome;
    case 'F': return NamedKey::kEnd;
    case 'P': return NamedKey::kF1;
    case 'Q': return NamedKey::kF2;
    case 'R': return NamedKey::kF3;
    case 'S': return NamedKey::kF4;
    default: return std::nullopt;
  }
}

// The key of "CSI n ~".
std::optional<NamedKey> TildeKey(int n) {
  switch (n) {
    case 1: case 7: return NamedKey::kHome;
    case 2: return NamedKey::kIns;
    case 3: return NamedKey::kDel;
    case 4: case 8: return NamedKey::kEnd;
    case 5: return NamedKey::kPgUp;
    case 6: return NamedKey::kPgDn;
    case 11: return NamedKey::kF1;
    case 12: return NamedKey::kF2;
    case 13: return NamedKey::kF3;
    case 14: return NamedKey::kF4;
    case 15: return NamedKey::kF5;
    case 17: return NamedKey::kF6;
    case 18: return NamedKey::kF7;
    case 19: return NamedKey::kF8;
    case 20: return NamedKey::kF9;
    case 21: return NamedKey::kF10;
    case 23: return NamedKey::kF11;
    case 24: return NamedKey::kF12;
    default: return std::nullopt;
  }
}

int ModifierParameter(int m) { return m >= 1 ? (m - 1) & 7 : 0; }

// The numbers of a sequence, separated by ";" ("ESC [ 1 ; 5 C" has 1 and
// 5), up to four; a number stops growing at five digits.
struct SequenceParameters {
  std::array<int, 4> values{};
  std::size_t count = 0;

  // Reads digits and ";" from bytes[at]; returns where they end.
  std::size_t Read(std::string_view bytes, std::size_t at) {
    for (; at < bytes.size(); ++at) {
      const char c = bytes[at];
      if (c >= '0' && c <= '9') {
        if (count == 0) count = 1;
        int& p = values[count - 1];
        if (p < 10000) p = p * 10 + (c - '0');
      } else if (c == ';') {
        if (count == 0) count = 1;
        if (count < values.size()) ++count;
      } else {
        break;
      }
    }
    return at;
  }
};

// "ESC [ < b ; column ; row M": a press of the left button is a click;
// wheel, motion and releases are no clicks.
InputEvent SgrMouseEvent(char final, const SequenceParameters& p) {
  InputEvent e;
  constexpr int kShiftAltCtrl = 4 | 8 | 16;  // modifier bits a click may carry
  if (final == 'M' && p.count >= 3 && (p.values[0] & ~kShiftAltCtrl) == 0) {
    e.kind = InputEvent::Kind::kMouse;
    e.buttons = 1;
    e.column = p.values[1];
    e.row = p.values[2];
  }
  return e;
}

// "ESC O x": cursor and function keys, and the keypad in application mode.
InputEvent Ss3Event(char final, const SequenceParameters& p) {
  const int mods = p.count >= 1 ? ModifierParameter(p.values[p.count - 1]) : 0;
  if (auto k = FinalKey(final)) return NamedKeyEvent(*k, mods);
  if (final >= 'p' && final <= 'y') {  // keypad digits in application mode
    InputEvent e = KeyEvent('0' + (final - 'p'));
    e.keypad = true;
    return e;
  }
  switch (final) {
    case 'M': return KeyEvent(keys::kEnter);
    case 'j': return KeyEvent('*');
    case 'k': return KeyEvent('+');
    case 'm': return KeyEvent('-');
    case 'n': return KeyEvent('.');
    case 'o': return KeyEvent('/');
    default: return InputEvent{};
  }
}

// "ESC [ n ; m ~" and "ESC [ 1 ; m x": keys with xterm's modifier parameter.
InputEvent CsiEvent(char final, const SequenceParameters& p) {
  const int mods = p.count >= 2 ? ModifierParameter(p.values[1]) : 0;
  if (final == '~') {
    if (auto k = TildeKey(p.values[0])) return NamedKeyEvent(*k, mods);
    return InputEvent{};
  }
  if (final == 'Z') return KeyEvent(keys::kShiftTab, kShift);
  if (auto k = FinalKey(final)) return NamedKeyEvent(*k, mods);
  return InputEvent{};
}

// Decodes "ESC [ ..." or "ESC O ..." (bytes[1] is '[' or 'O').
DecodedBytes DecodeSequence(std::string_view bytes, bool moreMayCome) {
  const bool ss3 = bytes[1] == 'O';
  std::size_t i = 2;
  const bool sgrMouse = !ss3 && i < bytes.size() && bytes[i] == '<';
  if (sgrMouse) ++i;
  SequenceParameters params;
  i = params.Read(bytes, i);
  if (i >= bytes.size()) {
    if (moreMayCome) return {InputEvent{}, 0};
    if (bytes.size() == 2)  // Alt+[ or Alt+O typed on its own
      return {WithAlt(KeyEvent(static_cast<unsigned char>(bytes[1]))), 2};
    return {InputEvent{}, bytes.size()};  // a broken sequence: dropped
  }
  const char final = bytes[i];
  const std::size_t used = i + 1;
  const auto c = static_cast<unsigned char>(final);
  if (c < 0x40 || c > 0x7e) return {InputEvent{}, used};  // not a sequence we know
  if (sgrMouse) return {SgrMouseEvent(final, params), used};
  if (ss3) return {Ss3Event(final, params), used};
  return {CsiEvent(final, params), used};
}

// Length of the UTF-8 sequence a lead byte starts (0: not a lead byte).
std::size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xe0) == 0xc0) return 2;
  if ((lead & 0xf0) == 0xe0) return 3;
  if ((lead & 0xf8) == 0xf0) return 4;
  return 0;
}

DecodedBytes DecodeCharacter(std::string_view bytes, bool moreMayCome) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  const std::size_t n = Utf8Length(lead);
  if (n == 0) return {InputEvent{}, 1};
  if (n == 1) return {CharacterEvent(lead), 1};
  if (bytes.size() < n) {
    for (std::size_t i = 1; i < bytes.size(); ++i)
      if ((static_cast<unsigned char>(bytes[i]) & 0xc0) != 0x80) return {InputEvent{}, i};
    if (moreMayCome) return {InputEvent{}, 0};
    return {InputEvent{}, bytes.size()};
  }
  char32_t cp = lead & (0x7f >> n);
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if ((b & 0xc0) != 0x80) return {InputEvent{}, i};  // broken: drop what came so far
    cp = (cp << 6) | (b & 0x3f);
  }
  return {CharacterEvent(cp), n};
}

}  // namespace

InputEvent NamedKeyEvent(NamedKey key, int xtermModifiers) {
  const KeyCodes& codes = kCodes[static_cast<std::size_t>(key)];
  // Alt wins over Ctrl, Ctrl over Shift, as the module's own normalisation.
  std::uint8_t scan = codes.plain;
  if (xtermModifiers & kXAlt)
    scan = codes.alt;
  else if (xtermModifiers & kXCtrl)
    scan = codes.ctrl;
  else if (xtermModifiers & kXShift)
    scan = codes.shift;
  return KeyEvent(scan << 8, PcModifiers(xtermModifiers));
}

std::optional<InputEvent> DecodeKeyName(std::string_view name) {
  if (name.starts_with("KEY_F(") && name.ends_with(")")) {
    int n = 0;
    for (char c : name.substr(6, name.size() - 7)) {
      if (c < '0' || c > '9') return std::nullopt;
      n = n * 10 + (c - '0');
      if (n > 100) return std::nullopt;
    }
    return FunctionKeyNumber(n);
  }
  for (const PlainName& p : kPlainNames)
    if (p.name == name) return NamedKeyEvent(p.key, p.modifiers);
  if (name == "KEY_BTAB") return KeyEvent(keys::kShiftTab, kShift);
  if (name == "KEY_BACKSPACE") return KeyEvent(keys::kBackspace);
  if (name == "KEY_ENTER") return KeyEvent(keys::kEnter);
  if (name == "KEY_PREVIOUS") return NamedKeyEvent(NamedKey::kPgUp, 0);
  if (name == "KEY_NEXT") return NamedKeyEvent(NamedKey::kPgDn, 0);
  // Extended capabilities: stem + 2..8, the digit being 1 + xterm modifiers.
  if (name.size() >= 3 && name.back() >= '2' && name.back() <= '8') {
    const std::string_view stem = name.substr(0, name.size() - 1);
    for (const ExtendedName& x : kExtended)
      if (x.stem == stem) return NamedKeyEvent(x.key, name.back() - '1');
  }
  return std::nullopt;
}

InputEvent WithAlt(const InputEvent& event) {
  if (event.kind != InputEvent::Kind::kKey) return event;
  const int key = event.key;
  if (key >= 0x100) {
    for (const KeyCodes& c : kCodes)
      if (key == c.plain << 8 || key == c.shift << 8 || key == c.ctrl << 8) {
        InputEvent e = KeyEvent(c.alt << 8, static_cast<std::uint8_t>(event.modifiers | kLeftAlt));
        return e;
      }
    if (key == keys::kShiftTab) return KeyEvent(keys::kAltTab, kLeftAlt | kShift);
    InputEvent e = event;
    e.modifiers |= kLeftAlt;
    return e;
  }
  if (key >= 'a' && key <= 'z') return KeyEvent(kLetterScan[key - 'a'] << 8, kLeftAlt);
  if (key >= 'A' && key <= 'Z') return KeyEvent(kLetterScan[key - 'A'] << 8, kLeftAlt | kShift);
  if (key >= '0' && key <= '9') {
    // Terminals cannot tell the keypad digits from the others; taking
    // them as the keypad keeps Alt+digits composing characters.
    InputEvent e = KeyEvent(kKeypadScan[static_cast<std::size_t>(key - '0')] << 8, kLeftAlt);
    e.keypad = true;
    return e;
  }
  for (const AltScan& a : kAltScan)
    if (key == a.character) return KeyEvent(a.scan << 8, kLeftAlt);
  if (key >= 1 && key <= 26)  // Ctrl+Alt+letter
    return KeyEvent(kLetterScan[static_cast<std::size_t>(key - 1)] << 8, kLeftAlt | kLeftCtrl);
  InputEvent e = event;
  e.modifiers |= kLeftAlt;
  return e;
}

DecodedBytes DecodeBytes(std::string_view bytes, bool moreMayCome) {
  if (bytes.empty()) return {InputEvent{}, 0};
  if (static_cast<unsigned char>(bytes[0]) != kEsc) return DecodeCharacter(bytes, moreMayCome);
  if (bytes.size() == 1) {
    if (moreMayCome) return {InputEvent{}, 0};
    return {KeyEvent(kEsc), 1};
  }
  if (bytes[1] == '[' || bytes[1] == 'O') return DecodeSequence(bytes, moreMayCome);
  // Esc Esc: the first is a key of its own; the second starts afresh
  // (some terminals send Alt+F1 as Esc + the F1 sequence).
  if (static_cast<unsigned char>(bytes[1]) == kEsc) {
    if (bytes.size() == 2 && moreMayCome) return {InputEvent{}, 0};
    if (bytes.size() >= 3 && (bytes[2] == '[' || bytes[2] == 'O')) {
      DecodedBytes inner = DecodeSequence(bytes.substr(1), moreMayCome);
      if (inner.used == 0) return inner;
      if (inner.event.kind == InputEvent::Kind::kKey) inner.event = WithAlt(inner.event);
      return {inner.event, inner.used + 1};
    }
    return {KeyEvent(kEsc), 1};
  }
  DecodedBytes inner = DecodeCharacter(bytes.substr(1), moreMayCome);
  if (inner.used == 0) return inner;
  if (inner.event.kind == InputEvent::Kind::kKey) inner.event = WithAlt(inner.event);
  return {inner.event, inner.used + 1};
}

}  // namespace platform
