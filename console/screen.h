// The screen as the module sees it: the current pop-up window and its
// coordinates, colour styles with their stack, frames, scrolling.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace console {

// The current pop-up window; Level 0 = none (coordinates are screen ones).
struct PopupWindowState {
  std::int16_t Level = 0;
  std::int16_t Top = 0;
  std::int16_t Left = 0;
  std::int16_t Bottom = 0;
  std::int16_t Right = 0;
  bool operator==(const PopupWindowState&) const = default;
};

struct ScreenState {
  PopupWindowState window;
  std::int16_t style = 0;
  std::string styleStack;  // one byte per saved style index, last = top
};

ScreenState& Screen();
PopupWindowState& PopupWindow();
// Back to no window, style 0, empty stack (tests, a new run).
void ResetScreen();

std::int16_t ScreenRows();
std::int16_t ScreenColumns();

// (1, 1) is the first cell inside the current window's frame.
void LocateInWindow(std::int16_t row, std::int16_t column);
std::int16_t WindowFirstRow();
std::int16_t WindowFirstColumn();
std::int16_t WindowLastColumn();

// "+" saves the style, "-" restores it, "U" field, "R" reverse, "N" normal.
void SetStyle(std::string_view letters);

// Frame style 0 erase, 1 single, 2 double; blanks the inside too.
void DrawFrame(std::int16_t style);

// Corners counted from 0; lines > 0 scrolls up, < 0 down.
void ScrollArea(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right, std::int16_t lines);

void FlushKeys();

// Writes `text` at (row, column) of the current window in the current colour.
void WriteAt(std::int16_t row, std::int16_t column, std::string_view text);

}  // namespace console
