// The text console the programs draw on and read keys from.
//
// A grid of cells (a code page 850 byte and an attribute = foreground +
// 16 x background, colours 0-15 in PC numbering: 1 blue, 4 red). Rows and
// columns count from 1. Keys arrive as PC key codes: a character key gives
// its code page 850 byte, a key without a character 256 x its PC scan code
// (F1 0x3b00, Alt+X 0x2d00, Ctrl+Left 0x7300, Shift+F1 0x5400 ...; named in
// key_codes.h). A mouse click is an event of its own, never a key code.
//
// Back ends: CursesTerminal (a real terminal, through ncursesw) and
// ScriptedTerminal (keys from a key script, screen dumps to a file).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

struct Cell {
  std::uint8_t ch = ' ';
  std::uint8_t attr = 7;
  bool operator==(const Cell&) const = default;
};

// Modifier bits kept with each key event.
enum Modifier : std::uint8_t {
  kRightAlt = 1,
  kLeftAlt = 2,
  kRightCtrl = 4,
  kLeftCtrl = 8,
  kShift = 16,
};

struct InputEvent {
  enum class Kind { kNone, kKey, kMouse };
  Kind kind = Kind::kNone;
  std::uint16_t key = 0;        // kKey: character code or 256 x scan code
  std::uint8_t modifiers = 0;   // kKey: Modifier bits
  bool keypad = false;          // kKey: a digit typed on the numeric keypad
  std::uint8_t buttons = 0;     // kMouse: bit 0 left, bit 1 right, bit 2 middle
  int row = 0, column = 0;      // kMouse: screen cell, from 1
};

class Terminal {
 public:
  virtual ~Terminal() = default;

  virtual int Rows() const = 0;
  virtual int Columns() const = 0;

  // A row or column outside the screen leaves that coordinate unchanged.
  virtual void SetCursor(int row, int column) = 0;
  virtual int CursorRow() const = 0;
  virtual int CursorColumn() const = 0;
  virtual void HideCursor() = 0;
  // Shows the cursor; size in percent of the cell height (large = block).
  virtual void ShowCursor(int sizePercent) = 0;

  // Writes at the cursor in the current colour, the cursor advancing and
  // wrapping to the next line at the right edge.
  virtual void Write(std::string_view cp850) = 0;
  // A value of 16 or more keeps that part of the colour.
  virtual void SetColour(int foreground, int background) = 0;
  virtual std::uint8_t CurrentAttribute() const = 0;
  virtual Cell ReadCell(int row, int column) const = 0;
  // Scrolls the rectangle (1-based, inclusive) up by `lines` (> 0) or down
  // by -lines (< 0); freed lines are blanks in the current colour.
  virtual void Scroll(int top, int left, int bottom, int right, int lines) = 0;

  // Makes what was written visible (the real terminal batches output).
  virtual void Flush() = 0;

  // The next input event, waiting at most `timeoutMs` (0: do not wait).
  virtual InputEvent Poll(int timeoutMs) = 0;
  virtual void DiscardInput() = 0;

  // The Insert toggle of the keyboard (the field editor's insert mode).
  virtual bool InsertMode() const = 0;
  virtual void SetInsertMode(bool on) = 0;

  virtual int MouseButtons() const = 0;
  virtual void EnableMouse(bool on) = 0;

  virtual std::string ClipboardText() = 0;
  virtual void SetClipboardText(std::string_view cp850) = 0;

  virtual void Beep() = 0;

  // Hands the terminal to another program (the print program) and takes it
  // back afterwards; the screen is redrawn from the cells on resume.
  virtual void Suspend() = 0;
  virtual void Resume() = 0;

  // Appends the current screen to the dump file, where there is one.
  virtual void Snapshot() {}

  // Asks the terminal to grow to at least `rows` x `columns` (a terminal
  // emulator's window-size request). True when it now is that large.
  virtual bool RequestSize(int /*rows*/, int /*columns*/) { return false; }

  // The rows of the active pop-up window (0, 0: none), for a view that
  // cannot show every row at once.
  virtual void SetFocusRows(int /*top*/, int /*bottom*/) {}
};

// The terminal in use; set once by the program's start.
Terminal& CurrentTerminal();
bool HasTerminal();
void SetCurrentTerminal(Terminal* terminal);

}  // namespace platform
