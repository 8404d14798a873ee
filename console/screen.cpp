#include "console/screen.h"

#include <cctype>

#include "config/session.h"
#include "format/text.h"
#include "platform/terminal.h"

namespace console {

namespace {
platform::Terminal& Term() { return platform::CurrentTerminal(); }
}  // namespace

ScreenState& Screen() {
  static ScreenState state;
  return state;
}

PopupWindowState& PopupWindow() { return Screen().window; }

void ResetScreen() { Screen() = ScreenState{}; }

std::int16_t ScreenRows() { return static_cast<std::int16_t>(Term().Rows()); }
std::int16_t ScreenColumns() { return static_cast<std::int16_t>(Term().Columns()); }

void LocateInWindow(std::int16_t row, std::int16_t column) {
  const PopupWindowState& w = PopupWindow();
  if (w.Level == 0) {
    Term().SetCursor(row, column);
  } else {
    Term().SetCursor(row + w.Top, column + w.Left);
  }
}

std::int16_t WindowFirstRow() {
  return PopupWindow().Level == 0 ? std::int16_t{1} : static_cast<std::int16_t>(PopupWindow().Top + 1);
}

std::int16_t WindowFirstColumn() {
  return PopupWindow().Level == 0 ? std::int16_t{1} : static_cast<std::int16_t>(PopupWindow().Left + 1);
}

std::int16_t WindowLastColumn() {
  return PopupWindow().Level == 0 ? ScreenColumns() : static_cast<std::int16_t>(PopupWindow().Right - 1);
}

void SetStyle(std::string_view letters) {
  if (format::IsAllChar(letters, 32)) return;
  std::string upper(letters);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ScreenState& s = Screen();
  std::int16_t index = 0;
  if (upper.find('+') != std::string::npos) s.styleStack.push_back(static_cast<char>(s.style));
  if (upper.find('-') != std::string::npos) {
    if (!s.styleStack.empty()) {
      index = static_cast<unsigned char>(s.styleStack.back());
      s.styleStack.pop_back();
    }
  } else if (upper.find('U') != std::string::npos) {
    index = 4;
  } else {
    if (upper.find('R') != std::string::npos) index = 2;
    if (upper.find('N') != std::string::npos) index = static_cast<std::int16_t>(index + 1);
  }
  // A damaged stack byte must not index past the five pairs.
  if (index < 0 || index > 4) index = 0;
  const auto& pair = config::Session().ColourPairs[static_cast<std::size_t>(index)];
  Term().SetColour(pair.foreground, pair.background);
  s.style = index;
}

void DrawFrame(std::int16_t style) {
  const PopupWindowState& w = PopupWindow();
  if (w.Level == 0) return;
  struct Chars { char tl, tr, bl, br, h, v; };
  static constexpr Chars kFrames[3] = {
      {' ', ' ', ' ', ' ', ' ', ' '},
      {'\xDA', '\xBF', '\xC0', '\xD9', '\xC4', '\xB3'},
      {'\xC9', '\xBB', '\xC8', '\xBC', '\xCD', '\xBA'},
  };
  const Chars& c = kFrames[(style >= 0 && style <= 2) ? style : 0];
  const int inner = w.Right - w.Left - 1;
  const std::string horizontal(static_cast<std::size_t>(inner > 0 ? inner : 0), c.h);
  const std::string blanks(horizontal.size(), ' ');
  Term().SetCursor(w.Top, w.Left);
  Term().Write(std::string(1, c.tl) + horizontal + c.tr);
  for (int row = w.Top + 1; row <= w.Bottom - 1; ++row) {
    Term().SetCursor(row, w.Left);
    Term().Write(std::string(1, c.v) + blanks + c.v);
  }
  Term().SetCursor(w.Bottom, w.Left);
  Term().Write(std::string(1, c.bl) + horizontal + c.br);
}

void ScrollArea(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right, std::int16_t lines) {
  if (lines == 0) return;
  Term().Scroll(top + 1, left + 1, bottom + 1, right + 1, lines);
}

void FlushKeys() { Term().DiscardInput(); }

void WriteAt(std::int16_t row, std::int16_t column, std::string_view text) {
  LocateInWindow(row, column);
  Term().Write(text);
}

}  // namespace console
