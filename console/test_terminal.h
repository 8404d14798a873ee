// An in-memory terminal for the console tests: an 80 x 25 grid, a queue of
// input events, and counters for what cannot be seen in the cells.
#pragma once

#include <deque>
#include <utility>
#include <string>
#include <vector>

#include "config/session.h"
#include "platform/terminal.h"

namespace console::testing {

class TestTerminal : public platform::Terminal {
 public:
  TestTerminal() : cells_(25 * 80) { platform::SetCurrentTerminal(this); }
  ~TestTerminal() override { platform::SetCurrentTerminal(nullptr); }

  int Rows() const override { return 25; }
  int Columns() const override { return 80; }
  void SetCursor(int row, int column) override {
    if (row >= 1 && row <= 25) row_ = row;
    if (column >= 1 && column <= 80) column_ = column;
  }
  int CursorRow() const override { return row_; }
  int CursorColumn() const override { return column_; }
  void HideCursor() override { cursorShown = false; }
  void ShowCursor(int size) override {
    cursorShown = true;
    cursorSize = size;
  }
  void Write(std::string_view text) override {
    for (char c : text) {
      At(row_, column_) = platform::Cell{static_cast<std::uint8_t>(c), attr_};
      if (++column_ > 80) {
        column_ = 1;
        if (row_ < 25) ++row_;
      }
    }
  }
  void SetColour(int foreground, int background) override {
    if (foreground < 16) attr_ = static_cast<std::uint8_t>((attr_ & 0xF0) | foreground);
    if (background < 16) attr_ = static_cast<std::uint8_t>((attr_ & 0x0F) | background << 4);
  }
  std::uint8_t CurrentAttribute() const override { return attr_; }
  platform::Cell ReadCell(int row, int column) const override {
    return cells_[static_cast<std::size_t>((row - 1) * 80 + column - 1)];
  }
  void Scroll(int top, int left, int bottom, int right, int lines) override {
    ++scrolls;
    const int height = bottom - top + 1;
    std::vector<platform::Cell> copy = cells_;
    for (int r = top; r <= bottom; ++r) {
      const int from = r + lines;
      for (int c = left; c <= right; ++c) {
        At(r, c) = (from >= top && from <= bottom) ? copy[static_cast<std::size_t>((from - 1) * 80 + c - 1)]
                                                   : platform::Cell{' ', attr_};
      }
    }
    (void)height;
  }
  // Like the real terminal, output is seen when it is flushed or when the
  // program waits for input.
  void Flush() override { visible_ = cells_; }
  platform::InputEvent Poll(int) override {
    visible_ = cells_;
    cursorAtPoll = {row_, column_};
    if (events.empty()) return {};
    platform::InputEvent e = events.front();
    events.pop_front();
    return e;
  }
  void DiscardInput() override { events.clear(); }
  bool InsertMode() const override { return insert_; }
  void SetInsertMode(bool on) override { insert_ = on; }
  int MouseButtons() const override { return mouseButtons; }
  void EnableMouse(bool on) override { mouseOn = on; }
  std::string ClipboardText() override { return clipboard; }
  void SetClipboardText(std::string_view text) override { clipboard = std::string(text); }
  void Beep() override { ++beeps; }
  void Suspend() override { ++suspends; }
  void Resume() override {}

  // Test helpers.
  void Key(int code, std::uint8_t modifiers = 0, bool keypad = false) {
    platform::InputEvent e;
    e.kind = platform::InputEvent::Kind::kKey;
    e.key = static_cast<std::uint16_t>(code);
    e.modifiers = modifiers;
    e.keypad = keypad;
    events.push_back(e);
  }
  void Keys(std::string_view text) {
    for (char c : text) Key(static_cast<unsigned char>(c));
  }
  void Click(int row, int column) {
    platform::InputEvent e;
    e.kind = platform::InputEvent::Kind::kMouse;
    e.buttons = 1;
    e.row = row;
    e.column = column;
    events.push_back(e);
  }
  std::string Text(int row, int column, int count) const {
    std::string s;
    for (int i = 0; i < count; ++i) s.push_back(static_cast<char>(ReadCell(row, column + i).ch));
    return s;
  }
  // What the operator sees of those cells: the grid as last flushed.
  std::string VisibleText(int row, int column, int count) const {
    std::string s;
    for (int i = 0; i < count; ++i) {
      const std::size_t at = static_cast<std::size_t>((row - 1) * 80 + column + i - 1);
      s.push_back(at < visible_.size() ? static_cast<char>(visible_[at].ch) : ' ');
    }
    return s;
  }
  void Fill() {
    for (std::size_t i = 0; i < cells_.size(); ++i) {
      cells_[i] = platform::Cell{static_cast<std::uint8_t>('A' + i % 26), static_cast<std::uint8_t>(i % 256)};
    }
  }
  const std::vector<platform::Cell>& Cells() const { return cells_; }

  std::deque<platform::InputEvent> events;
  std::string clipboard;
  int mouseButtons = 0;
  bool mouseOn = false;
  bool cursorShown = false;
  int cursorSize = 0;
  int beeps = 0;
  int scrolls = 0;
  int suspends = 0;
  std::pair<int, int> cursorAtPoll;  // where the cursor was when input was last read

 private:
  platform::Cell& At(int row, int column) { return cells_[static_cast<std::size_t>((row - 1) * 80 + column - 1)]; }

  std::vector<platform::Cell> cells_;
  std::vector<platform::Cell> visible_;
  int row_ = 1, column_ = 1;
  std::uint8_t attr_ = 7;
  bool insert_ = false;
};

// Distinct colour pairs so that each style can be told apart by its attribute.
inline void DistinctColours() {
  auto& pairs = config::Session().ColourPairs;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    pairs[i].foreground = static_cast<std::int16_t>(i + 1);
    pairs[i].background = static_cast<std::int16_t>(8 - i);
  }
}

inline std::uint8_t StyleAttribute(int index) {
  const auto& p = config::Session().ColourPairs[static_cast<std::size_t>(index)];
  return static_cast<std::uint8_t>(p.foreground + 16 * p.background);
}

}  // namespace console::testing

#include <gtest/gtest.h>

#include "config/test_files.h"
#include "console/field_editor.h"
#include "console/hot_keys.h"
#include "console/key_options.h"
#include "console/key_reader.h"
#include "console/screen.h"

namespace console::testing {

// Fresh console state, distinct colours and a scratch temporary directory.
class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config::ResetSession();
    config::Session().TempDir = scratch.path() + "/";
    DistinctColours();
    ResetScreen();
    ResetKeyOptions();
    ResetKeyReader();
    SetFieldOptions("");
    Hot() = HotKeys{};
  }
  void TearDown() override {
    ResetScreen();
    ResetKeyOptions();
    ResetKeyReader();
    SetFieldOptions("");
    Hot() = HotKeys{};
  }

  config::testing::ScratchDir scratch;
  TestTerminal term;
};

}  // namespace console::testing
