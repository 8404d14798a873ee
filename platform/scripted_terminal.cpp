#include "platform/scripted_terminal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "base/cp850.h"
#include "platform/file_system.h"
#include "platform/session_end.h"
#include "platform/signals.h"

namespace platform {
namespace {

// Polls that find no key, without waiting, before a program that only ever
// polls (a loop waiting for something that cannot come) counts as waiting.
constexpr int kIdlePollLimit = 100000;

}  // namespace

ScriptedTerminal::ScriptedTerminal(std::vector<ScriptStep> steps, std::string dumpPath, int rows, int columns)
    : steps_(std::move(steps)),
      dumpPath_(std::move(dumpPath)),
      rows_(rows),
      columns_(columns),
      cells_(static_cast<std::size_t>(rows * columns)) {}

Cell& ScriptedTerminal::At(int row, int column) {
  return cells_[static_cast<std::size_t>((row - 1) * columns_ + column - 1)];
}

void ScriptedTerminal::SetCursor(int row, int column) {
  if (row >= 1 && row <= rows_) row_ = row;
  if (column >= 1 && column <= columns_) column_ = column;
}

void ScriptedTerminal::Write(std::string_view cp850) {
  for (char c : cp850) {
    At(row_, column_) = Cell{static_cast<std::uint8_t>(c), attribute_};
    if (++column_ > columns_) {
      column_ = 1;
      if (row_ < rows_) ++row_;
    }
  }
}

void ScriptedTerminal::SetColour(int foreground, int background) {
  if (foreground >= 0 && foreground < 16)
    attribute_ = static_cast<std::uint8_t>((attribute_ & 0xF0) | foreground);
  if (background >= 0 && background < 16)
    attribute_ = static_cast<std::uint8_t>((attribute_ & 0x0F) | background << 4);
}

Cell ScriptedTerminal::ReadCell(int row, int column) const {
  if (row < 1 || row > rows_ || column < 1 || column > columns_) return Cell{};
  return cells_[static_cast<std::size_t>((row - 1) * columns_ + column - 1)];
}

void ScriptedTerminal::Scroll(int top, int left, int bottom, int right, int lines) {
  top = std::max(top, 1);
  left = std::max(left, 1);
  bottom = std::min(bottom, rows_);
  right = std::min(right, columns_);
  if (top > bottom || left > right || lines == 0) return;
  const std::vector<Cell> before = cells_;
  for (int r = top; r <= bottom; ++r) {
    const int from = r + lines;
    for (int c = left; c <= right; ++c) {
      At(r, c) = (from >= top && from <= bottom)
                     ? before[static_cast<std::size_t>((from - 1) * columns_ + c - 1)]
                     : Cell{' ', attribute_};
    }
  }
}

InputEvent ScriptedTerminal::Poll(int timeoutMs) {
  EndSessionIfTerminated();
  while (next_ < steps_.size()) {
    const ScriptStep& step = steps_[next_++];
    if (step.kind == ScriptStep::Kind::kSnap) {
      Snapshot();
      continue;
    }
    if (step.kind == ScriptStep::Kind::kPause) {
      PauseScript(step.pauseMs);
      continue;
    }
    if (step.kind == ScriptStep::Kind::kResize) {
      Resize(step.rows, step.columns);
      // Back to the program, as a real terminal's resize is, before the
      // next step: it redraws for the new size first.
      return InputEvent{};
    }
    idlePolls_ = 0;
    return step.event;
  }
  // Asking without waiting is how programs look for type-ahead; asking with
  // a wait, or looking forever, means they want a key the script lacks.
  if (timeoutMs > 0 || ++idlePolls_ > kIdlePollLimit) ScriptEnded();
  return InputEvent{};
}

void ScriptedTerminal::Resize(int rows, int columns) {
  // The cells that still fit stay, as on a terminal.
  std::vector<Cell> cells(static_cast<std::size_t>(rows * columns));
  for (int r = 1; r <= std::min(rows, rows_); ++r)
    for (int c = 1; c <= std::min(columns, columns_); ++c)
      cells[static_cast<std::size_t>((r - 1) * columns + c - 1)] = At(r, c);
  cells_ = std::move(cells);
  rows_ = rows;
  columns_ = columns;
  row_ = std::min(row_, rows_);
  column_ = std::min(column_, columns_);
}

std::string ScriptedTerminal::ScreenText() const {
  std::string text;
  for (int r = 1; r <= rows_; ++r) {
    std::string line;
    for (int c = 1; c <= columns_; ++c) {
      const std::uint8_t ch = ReadCell(r, c).ch;
      // A zero byte shows as a blank, as on the console.
      base::AppendUtf8(line, ch == 0 ? U' ' : base::Cp850ToUnicode(ch));
    }
    line.erase(line.find_last_not_of(' ') + 1);
    text += line;
    text += '\n';
  }
  return text;
}

void ScriptedTerminal::Snapshot() {
  if (dumpPath_.empty()) return;
  std::ofstream out(dumpPath_, std::ios::binary | std::ios::app);
  out << "=== screen " << ++dumps_ << " ===\n" << ScreenText();
}

void ScriptedTerminal::PauseScript(int ms) {
  // In short slices, so that a termination request ends the pause at once.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(20)));
    EndSessionIfTerminated();
  }
}

void ScriptedTerminal::ScriptEnded() {
  Snapshot();
  // Unwinding, not exit(): on the way to main the run's locks are released
  // and its temporary files removed.
  throw SessionEnded{kScriptEndedStatus, "key script ended"};
}

std::unique_ptr<Terminal> OpenScriptedTerminal(const std::string& keysPath, const std::string& screenPath,
                                               std::string& error, int rows, int columns) {
  const ReadResult read = ReadWholeFile(keysPath);
  if (!read.ok()) {
    error = "cannot read the key script " + keysPath + ": " + read.status.Describe();
    return nullptr;
  }
  KeyScript script = ParseKeyScript(read.bytes);
  if (!script.ok()) {
    error = keysPath + ": " + script.error;
    return nullptr;
  }
  return std::make_unique<ScriptedTerminal>(std::move(script.steps), screenPath, rows, columns);
}

}  // namespace platform
