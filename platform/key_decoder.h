// Turns what a terminal sends into PC key events.
//
// Two kinds of input reach the decoder: keys that ncurses recognised from
// the terminal database, known by their keyname() text ("KEY_F(13)",
// "kLFT5", "KEY_BTAB" ...), and raw bytes (UTF-8 characters, control
// characters, Esc-prefixed Alt keys and xterm sequences that the database
// did not describe, such as "\x1b[1;5D" under TERM=screen).
//
// Keys come out as the classic PC codes with the modifier bits set, already
// combined (Shift+F3 is 0x5600, Ctrl+Left 0x7300, Alt+X 0x2d00), so applying
// the module's own normalisation again changes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/terminal.h"

namespace platform {

// Keys without a character, before any modifier is applied.
enum class NamedKey {
  kF1, kF2, kF3, kF4, kF5, kF6, kF7, kF8, kF9, kF10, kF11, kF12,
  kUp, kDown, kLeft, kRight, kHome, kEnd, kPgUp, kPgDn, kIns, kDel,
  kCentre,  // keypad 5 without Num Lock
};

// xterm modifier bits: the parameter m of "CSI 1;m X" is 1 + these.
enum XtermModifier : int { kXShift = 1, kXAlt = 2, kXCtrl = 4 };

// The event of key `code` (a character or 256 x a scan code) with PC
// modifier bits.
InputEvent KeyEvent(int code, std::uint8_t modifiers = 0);

// The PC event of a named key with xterm modifier bits.
InputEvent NamedKeyEvent(NamedKey key, int xtermModifiers);

// A key ncurses reported, by its keyname(). Empty for names that are no
// key of ours (KEY_MOUSE, KEY_RESIZE, unknown capabilities).
std::optional<InputEvent> DecodeKeyName(std::string_view name);

// The same key typed with Alt (the terminal sent Esc before it).
InputEvent WithAlt(const InputEvent& event);

// The result of decoding the front of a byte buffer.
struct DecodedBytes {
  InputEvent event;     // kNone when the bytes were no key (dropped)
  std::size_t used = 0; // 0: the bytes so far are the start of a longer
                        // sequence; wait for more
};

// Decodes the first key of `bytes` (not empty). With `moreMayCome` false an
// unfinished sequence is settled as it stands (a lone Esc is the Esc key).
DecodedBytes DecodeBytes(std::string_view bytes, bool moreMayCome);

}  // namespace platform
