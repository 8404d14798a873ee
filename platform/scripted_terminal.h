// A terminal in memory, driven by a key script: how tests, benchmarks and
// anyone automating the module run the real programs.
//
// The screen is a grid of code page 850 cells. Keys come from the script
// (key_script.h); {Snap} and the end of the script append the screen to the
// dump file as "=== screen N ===" and the rows in UTF-8 with their trailing
// blanks removed. When the program waits for a key and the script is used
// up, the screen is dumped and the session ends (SessionEnded with status 3
// and the reason "key script ended", which main writes to standard error).
// {Pause MS} keeps the program waiting; a termination signal ends the
// pause and the session. {Resize COLUMNSxROWS} gives the terminal a new
// size, keeping the cells that fit.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/key_script.h"
#include "platform/terminal.h"

namespace platform {

inline constexpr int kScriptEndedStatus = 3;

class ScriptedTerminal : public Terminal {
 public:
  // `dumpPath` empty: no dumps.
  ScriptedTerminal(std::vector<ScriptStep> steps, std::string dumpPath, int rows = 25, int columns = 80);

  int Rows() const override { return rows_; }
  int Columns() const override { return columns_; }
  void SetCursor(int row, int column) override;
  int CursorRow() const override { return row_; }
  int CursorColumn() const override { return column_; }
  void HideCursor() override { cursorShown_ = false; }
  void ShowCursor(int) override { cursorShown_ = true; }
  void Write(std::string_view cp850) override;
  void SetColour(int foreground, int background) override;
  std::uint8_t CurrentAttribute() const override { return attribute_; }
  Cell ReadCell(int row, int column) const override;
  void Scroll(int top, int left, int bottom, int right, int lines) override;
  void Flush() override {}
  InputEvent Poll(int timeoutMs) override;
  void DiscardInput() override {}
  bool InsertMode() const override { return insert_; }
  void SetInsertMode(bool on) override { insert_ = on; }
  int MouseButtons() const override { return 2; }
  void EnableMouse(bool) override {}
  std::string ClipboardText() override { return clipboard_; }
  void SetClipboardText(std::string_view cp850) override { clipboard_ = std::string(cp850); }
  void Beep() override { ++beeps_; }
  void Suspend() override {}
  void Resume() override {}
  void Snapshot() override;

  // The screen as a dump shows it: rows in UTF-8, trailing blanks removed.
  std::string ScreenText() const;
  bool CursorShown() const { return cursorShown_; }
  int Beeps() const { return beeps_; }
  // Steps of the script not yet used.
  std::size_t Remaining() const { return steps_.size() - next_; }

 private:
  Cell& At(int row, int column);
  void Resize(int rows, int columns);
  void PauseScript(int ms);
  [[noreturn]] void ScriptEnded();

  std::vector<ScriptStep> steps_;
  std::size_t next_ = 0;
  std::string dumpPath_;
  int rows_, columns_;
  std::vector<Cell> cells_;
  int row_ = 1, column_ = 1;
  std::uint8_t attribute_ = 7;
  bool cursorShown_ = true;
  bool insert_ = false;
  std::string clipboard_;
  int beeps_ = 0;
  int dumps_ = 0;
  int idlePolls_ = 0;
};

// Reads the key script at `keysPath`; dumps go to `screenPath` (empty:
// none). The terminal has `rows` x `columns` cells. Null with `error` set
// when the script cannot be read or is wrong.
std::unique_ptr<Terminal> OpenScriptedTerminal(const std::string& keysPath, const std::string& screenPath,
                                               std::string& error, int rows = 25, int columns = 80);

}  // namespace platform
