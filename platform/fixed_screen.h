// The module's screen is 80 x 25 cells on every terminal.
//
// Its windows, help records, calculator and calendar are laid out for that
// grid (and the window stack keeps two digits per coordinate), so a larger
// terminal shows the grid centred, with the same cells and the same mouse
// hits, and a 24-row terminal shows 24 of its 25 rows: the view follows the
// cursor and the active pop-up window.
//
// A terminal smaller than that (at the start, or made smaller while the
// program runs) shows one line saying the size needed instead, and keys and
// clicks are thrown away meanwhile, since they would act on what cannot be
// seen; the program goes on writing into the grid, and once the terminal is
// large enough again the whole screen is drawn from it as it stands.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/terminal.h"

namespace platform {

inline constexpr int kScreenRows = 25;
inline constexpr int kScreenColumns = 80;
// The smallest terminal the screen can be used on.
inline constexpr int kMinimumRows = 24;
inline constexpr int kMinimumColumns = 80;

// The line shown on a terminal too small for the screen (code page 850),
// given the size needed and the terminal's present size.
using SizeNotice = std::function<std::string(int neededRows, int neededColumns, int rows, int columns)>;

class FixedScreen final : public Terminal {
 public:
  // Without a `notice`, the line is said in English.
  explicit FixedScreen(std::unique_ptr<Terminal> device, int rows = kScreenRows, int columns = kScreenColumns,
                       SizeNotice notice = {});

  int Rows() const override { return rows_; }
  int Columns() const override { return columns_; }
  void SetCursor(int row, int column) override;
  int CursorRow() const override { return row_; }
  int CursorColumn() const override { return column_; }
  void HideCursor() override;
  void ShowCursor(int sizePercent) override;
  void Write(std::string_view cp850) override;
  void SetColour(int foreground, int background) override;
  std::uint8_t CurrentAttribute() const override { return attribute_; }
  Cell ReadCell(int row, int column) const override;
  void Scroll(int top, int left, int bottom, int right, int lines) override;
  void Flush() override;
  InputEvent Poll(int timeoutMs) override;
  void DiscardInput() override { device_->DiscardInput(); }
  bool InsertMode() const override { return device_->InsertMode(); }
  void SetInsertMode(bool on) override { device_->SetInsertMode(on); }
  int MouseButtons() const override { return device_->MouseButtons(); }
  void EnableMouse(bool on) override { device_->EnableMouse(on); }
  std::string ClipboardText() override { return device_->ClipboardText(); }
  void SetClipboardText(std::string_view cp850) override { device_->SetClipboardText(cp850); }
  void Beep() override { device_->Beep(); }
  void Suspend() override { device_->Suspend(); }
  void Resume() override;
  void Snapshot() override;
  void SetFocusRows(int top, int bottom) override;

  // Where the screen lies on the terminal: its first row and column there
  // (from 1), and the first screen row shown (1 unless the view is short).
  int DeviceTop() const { return top_ + 1; }
  int DeviceLeft() const { return left_ + 1; }
  int FirstRowShown() const { return viewStart_ + 1; }
  // The terminal is too small: it shows the notice, and input is dropped.
  bool TooSmall() const { return tooSmall_; }
  Terminal& Device() { return *device_; }

 private:
  Cell& At(int row, int column);
  int ShownRows() const;
  // Lays the screen out on the terminal's present size; true when it moved.
  bool Place();
  // Picks the rows shown on a short terminal; true when they changed.
  bool ChooseView();
  void DrawSpan(int row, int first, int last);
  void RedrawAll();
  void PlaceDeviceCursor();
  // Brings the terminal up to date with the grid (or the notice); true when
  // it had been resized.
  bool Refresh();
  void ShowNotice();

  std::unique_ptr<Terminal> device_;
  int rows_, columns_;
  std::vector<Cell> cells_;
  int row_ = 1, column_ = 1;
  std::uint8_t attribute_ = 7;
  bool cursorShown_ = true;
  int cursorSize_ = 25;
  int focusTop_ = 0, focusBottom_ = 0;
  int deviceRows_ = 0, deviceColumns_ = 0;
  int top_ = 0, left_ = 0;  // device cells before the screen's first row / column
  int viewStart_ = 0;       // screen rows above the view
  SizeNotice notice_;
  bool tooSmall_ = false;
  std::string noticeShown_;  // the notice on the terminal now, if any
};

// The screen on `device` (null: null). When the device is smaller than the
// screen it is first asked to grow; when it is still smaller than
// kMinimumColumns x kMinimumRows it shows the notice until it is enlarged.
std::unique_ptr<FixedScreen> OpenFixedScreen(std::unique_ptr<Terminal> device, SizeNotice notice = {});

// Reads a terminal size written as COLUMNSxROWS ("120x40"); false when the
// text is not one.
bool ParseScreenSize(std::string_view text, int& rows, int& columns);

}  // namespace platform
