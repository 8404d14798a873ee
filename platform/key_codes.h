// Key codes as the programs see them: a key with a character gives its code
// page 850 byte, a key without one 256 x its PC scan code (low byte 0).
// Codes are 16-bit signed, so F11 (0x8500) and above are negative numbers;
// compare them with these names, never with a bare hexadecimal literal.
//
// The option texts of the screens list keys in the same codes, written in
// lower-case hexadecimal ("d" Enter, "1b" Esc, "4d00" Right).
#pragma once

#include <cstdint>

namespace platform {

using KeyCode = std::int16_t;

namespace keys {

// The code of a key without a character, from its PC scan code.
constexpr KeyCode ScanKey(int scanCode) { return static_cast<KeyCode>(static_cast<std::uint16_t>(scanCode << 8)); }

// Control characters.
inline constexpr KeyCode kCtrlB = 0x02;
inline constexpr KeyCode kCtrlC = 0x03;
inline constexpr KeyCode kBackspace = 0x08;
inline constexpr KeyCode kTab = 0x09;
inline constexpr KeyCode kEnter = 0x0d;
inline constexpr KeyCode kCtrlS = 0x13;
inline constexpr KeyCode kCtrlV = 0x16;
inline constexpr KeyCode kCtrlY = 0x19;
inline constexpr KeyCode kEsc = 0x1b;
inline constexpr KeyCode kSpace = 0x20;
// The euro sign of the suite's code page, which Alt+E types.
inline constexpr KeyCode kEuro = 0xd5;

// Keys without a character.
inline constexpr KeyCode kCtrl2 = ScanKey(0x03);  // also Ctrl+Space: the character 0
inline constexpr KeyCode kShiftTab = ScanKey(0x0f);
inline constexpr KeyCode kAltE = ScanKey(0x12);
inline constexpr KeyCode kAltF = ScanKey(0x21);
inline constexpr KeyCode kAltX = ScanKey(0x2d);
inline constexpr KeyCode kAltC = ScanKey(0x2e);
inline constexpr KeyCode kF1 = ScanKey(0x3b);
inline constexpr KeyCode kF2 = ScanKey(0x3c);
inline constexpr KeyCode kF3 = ScanKey(0x3d);
inline constexpr KeyCode kF4 = ScanKey(0x3e);
inline constexpr KeyCode kF5 = ScanKey(0x3f);
inline constexpr KeyCode kF6 = ScanKey(0x40);
inline constexpr KeyCode kF7 = ScanKey(0x41);
inline constexpr KeyCode kF8 = ScanKey(0x42);
inline constexpr KeyCode kF9 = ScanKey(0x43);
inline constexpr KeyCode kF10 = ScanKey(0x44);
inline constexpr KeyCode kHome = ScanKey(0x47);
inline constexpr KeyCode kUp = ScanKey(0x48);
inline constexpr KeyCode kPgUp = ScanKey(0x49);
inline constexpr KeyCode kLeft = ScanKey(0x4b);
inline constexpr KeyCode kCentre = ScanKey(0x4c);  // keypad 5 without Num Lock
inline constexpr KeyCode kRight = ScanKey(0x4d);
inline constexpr KeyCode kEnd = ScanKey(0x4f);
inline constexpr KeyCode kDown = ScanKey(0x50);
inline constexpr KeyCode kPgDn = ScanKey(0x51);
inline constexpr KeyCode kIns = ScanKey(0x52);
inline constexpr KeyCode kDel = ScanKey(0x53);
// Shift+F1 to Shift+F10, Ctrl+F1 to Ctrl+F10 and Alt+F1 to Alt+F10 follow
// F1 to F10 in blocks of ten.
inline constexpr KeyCode kShiftF1 = ScanKey(0x54);
inline constexpr KeyCode kCtrlF1 = ScanKey(0x5e);
inline constexpr KeyCode kCtrlF4 = ScanKey(0x61);
inline constexpr KeyCode kAltF1 = ScanKey(0x68);
inline constexpr KeyCode kAltF4 = ScanKey(0x6b);
inline constexpr KeyCode kCtrlLeft = ScanKey(0x73);
inline constexpr KeyCode kCtrlRight = ScanKey(0x74);
inline constexpr KeyCode kCtrlHome = ScanKey(0x77);
inline constexpr KeyCode kF11 = ScanKey(0x85);
inline constexpr KeyCode kF12 = ScanKey(0x86);
inline constexpr KeyCode kShiftF11 = ScanKey(0x87);
inline constexpr KeyCode kCtrlF11 = ScanKey(0x89);
inline constexpr KeyCode kAltF11 = ScanKey(0x8b);
inline constexpr KeyCode kAltTab = ScanKey(0xa5);

// True for F1 to F10 without modifiers.
constexpr bool IsF1ToF10(KeyCode key) { return key >= kF1 && key <= kF10 && (key & 0xff) == 0; }

}  // namespace keys
}  // namespace platform
