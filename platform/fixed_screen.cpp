#include "platform/fixed_screen.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

namespace platform {

namespace {

std::string EnglishNotice(int neededRows, int neededColumns, int rows, int columns) {
  return "The terminal is too small: " + std::to_string(neededColumns) + " x " + std::to_string(neededRows) +
         " is needed (it is " + std::to_string(columns) + " x " + std::to_string(rows) + ")";
}

}  // namespace

FixedScreen::FixedScreen(std::unique_ptr<Terminal> device, int rows, int columns, SizeNotice notice)
    : device_(std::move(device)), rows_(rows), columns_(columns), cells_(static_cast<std::size_t>(rows * columns)),
      notice_(notice ? std::move(notice) : SizeNotice(EnglishNotice)) {
  Place();
  ChooseView();
  RedrawAll();
  Refresh();
}

Cell& FixedScreen::At(int row, int column) {
  return cells_[static_cast<std::size_t>((row - 1) * columns_ + column - 1)];
}

int FixedScreen::ShownRows() const { return std::min(rows_, deviceRows_); }

bool FixedScreen::Place() {
  const int rows = device_->Rows(), columns = device_->Columns();
  if (rows == deviceRows_ && columns == deviceColumns_) return false;
  deviceRows_ = rows;
  deviceColumns_ = columns;
  top_ = rows > rows_ ? (rows - rows_) / 2 : 0;
  left_ = columns > columns_ ? (columns - columns_) / 2 : 0;
  // What the terminal showed around the screen before goes.
  device_->SetColour(7, 0);
  device_->Scroll(1, 1, rows, columns, rows);
  noticeShown_.clear();
  const bool wasTooSmall = tooSmall_;
  tooSmall_ = rows < std::min(rows_, kMinimumRows) || columns < columns_;
  if (tooSmall_) {
    device_->HideCursor();
  } else if (wasTooSmall && cursorShown_) {
    device_->ShowCursor(cursorSize_);
  }
  return true;
}

bool FixedScreen::Refresh() {
  const bool moved = Place();
  if (tooSmall_) {
    ShowNotice();
  } else {
    if (ChooseView() || moved) RedrawAll();
    PlaceDeviceCursor();
  }
  return moved;
}

namespace {

// The notice in lines of at most `width` characters, broken between words
// (a word longer than a line is cut), no more than `rows` of them: a narrow
// terminal shows all of it rather than its first words.
std::vector<std::string> NoticeLines(const std::string& text, int width, int rows) {
  std::vector<std::string> lines;
  const auto w = static_cast<std::size_t>(width);
  std::string line;
  std::size_t at = 0;
  while (at < text.size()) {
    if (text[at] == ' ') {
      ++at;
      continue;
    }
    std::size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(at, end - at);
    at = end;
    if (!line.empty() && line.size() + 1 + word.size() <= w) {
      line += ' ' + word;
      continue;
    }
    if (!line.empty()) lines.push_back(line);
    while (word.size() > w) {
      lines.push_back(word.substr(0, w));
      word.erase(0, w);
    }
    line = word;
  }
  if (!line.empty()) lines.push_back(line);
  if (lines.size() > static_cast<std::size_t>(rows)) lines.resize(static_cast<std::size_t>(rows));
  return lines;
}

}  // namespace

void FixedScreen::ShowNotice() {
  // Made afresh each time: the session's language may have been read since.
  const std::string text = notice_(std::min(rows_, kMinimumRows), columns_, deviceRows_, deviceColumns_);
  if (deviceColumns_ < 1 || deviceRows_ < 1) return;
  const std::vector<std::string> lines = NoticeLines(text, deviceColumns_, deviceRows_);
  std::string shown;
  for (const std::string& line : lines) shown += line + '\n';
  if (shown == noticeShown_) return;
  device_->SetColour(7, 0);
  // A notice of other words may have taken other rows.
  if (!noticeShown_.empty()) device_->Scroll(1, 1, deviceRows_, deviceColumns_, deviceRows_);
  // Centred both ways; one line stands on the middle row.
  const int count = static_cast<int>(lines.size());
  const int first = std::max(1, (deviceRows_ + 1) / 2 - (count - 1) / 2);
  for (int i = 0; i < count; ++i) {
    const std::string& line = lines[static_cast<std::size_t>(i)];
    device_->SetCursor(first + i, 1 + (deviceColumns_ - static_cast<int>(line.size())) / 2);
    device_->Write(line);
  }
  noticeShown_ = shown;
}

bool FixedScreen::ChooseView() {
  const int shown = ShownRows();
  int start = 0;
  if (shown >= 1 && shown < rows_) {
    const int latest = rows_ - shown;
    // The active window's bottom rows matter most (the calculator's
    // display, a message's last line); a window that fits is shown whole.
    if (focusTop_ > 0 && focusBottom_ >= focusTop_) start = std::clamp(focusBottom_ - shown, 0, latest);
    // The cursor the operator types at is always in view.
    if (cursorShown_) start = std::clamp(start, std::max(0, row_ - shown), std::min(latest, row_ - 1));
  }
  if (start == viewStart_) return false;
  viewStart_ = start;
  return true;
}

void FixedScreen::DrawSpan(int row, int first, int last) {
  if (tooSmall_) return;
  const int deviceRow = row - viewStart_;
  if (deviceRow < 1 || deviceRow > ShownRows()) return;
  last = std::min(last, deviceColumns_ - left_);
  int column = std::max(first, 1);
  while (column <= last) {
    const std::uint8_t attr = At(row, column).attr;
    std::string run;
    const int from = column;
    for (; column <= last && At(row, column).attr == attr; ++column) run.push_back(static_cast<char>(At(row, column).ch));
    device_->SetCursor(top_ + deviceRow, left_ + from);
    device_->SetColour(attr & 15, attr >> 4);
    device_->Write(run);
  }
}

void FixedScreen::RedrawAll() {
  for (int r = 1; r <= rows_; ++r) DrawSpan(r, 1, columns_);
}

void FixedScreen::PlaceDeviceCursor() {
  const int deviceRow = row_ - viewStart_;
  if (deviceRow >= 1 && deviceRow <= ShownRows() && column_ + left_ <= deviceColumns_) {
    device_->SetCursor(top_ + deviceRow, left_ + column_);
  } else {
    device_->SetCursor(top_ + 1, left_ + 1);
  }
}

void FixedScreen::SetCursor(int row, int column) {
  if (row >= 1 && row <= rows_) row_ = row;
  if (column >= 1 && column <= columns_) column_ = column;
}

void FixedScreen::HideCursor() {
  cursorShown_ = false;
  device_->HideCursor();
}

void FixedScreen::ShowCursor(int sizePercent) {
  cursorShown_ = true;
  cursorSize_ = sizePercent;
  // The notice has no cursor; it comes back with the screen.
  if (!tooSmall_) device_->ShowCursor(sizePercent);
}

void FixedScreen::Write(std::string_view cp850) {
  if (cp850.empty()) return;
  int spanRow = row_, spanFirst = column_, spanLast = column_;
  for (char c : cp850) {
    At(row_, column_) = Cell{static_cast<std::uint8_t>(c), attribute_};
    spanLast = column_;
    if (column_ < columns_) {
      ++column_;
    } else if (row_ < rows_) {
      DrawSpan(spanRow, spanFirst, spanLast);
      column_ = 1;
      ++row_;
      spanRow = row_;
      spanFirst = spanLast = 1;
      continue;
    }
    // At the bottom right corner the cursor stays, as on the console.
  }
  DrawSpan(spanRow, spanFirst, spanLast);
}

void FixedScreen::SetColour(int foreground, int background) {
  if (foreground >= 0 && foreground < 16)
    attribute_ = static_cast<std::uint8_t>((attribute_ & 0xF0) | foreground);
  if (background >= 0 && background < 16)
    attribute_ = static_cast<std::uint8_t>((attribute_ & 0x0F) | background << 4);
}

Cell FixedScreen::ReadCell(int row, int column) const {
  if (row < 1 || row > rows_ || column < 1 || column > columns_) return Cell{};
  return cells_[static_cast<std::size_t>((row - 1) * columns_ + column - 1)];
}

void FixedScreen::Scroll(int top, int left, int bottom, int right, int lines) {
  top = std::max(top, 1);
  left = std::max(left, 1);
  bottom = std::min(bottom, rows_);
  right = std::min(right, columns_);
  if (lines == 0 || top > bottom || left > right) return;
  const int height = bottom - top + 1;
  lines = std::clamp(lines, -height, height);
  const Cell blank{' ', attribute_};
  for (int i = 0; i < height; ++i) {
    // Up: fill from the top, each row taking the one `lines` below it.
    const int row = lines > 0 ? top + i : bottom - i;
    const int source = row + lines;
    for (int c = left; c <= right; ++c) At(row, c) = (source >= top && source <= bottom) ? At(source, c) : blank;
  }
  for (int r = top; r <= bottom; ++r) DrawSpan(r, left, right);
}

void FixedScreen::Flush() {
  Refresh();
  device_->Flush();
}

InputEvent FixedScreen::Poll(int timeoutMs) {
  Refresh();
  const bool tooSmallBefore = tooSmall_;
  InputEvent e = device_->Poll(timeoutMs);
  // A terminal resized while we waited: the screen goes to its new place.
  if (Refresh()) device_->Flush();
  // Typed at a screen that could not be seen: taken for nothing.
  if (tooSmallBefore || tooSmall_) return InputEvent{};
  if (e.kind == InputEvent::Kind::kMouse) {
    const int deviceRow = e.row - top_;
    const int column = e.column - left_;
    // A click beside the screen hits nothing of it.
    if (deviceRow < 1 || deviceRow > ShownRows() || column < 1 || column > columns_) return InputEvent{};
    e.row = deviceRow + viewStart_;
    e.column = column;
  }
  return e;
}

void FixedScreen::Resume() {
  device_->Resume();
  // The other program may have left the terminal another size.
  Refresh();
  device_->Flush();
}

void FixedScreen::Snapshot() {
  Refresh();
  device_->Snapshot();
}

void FixedScreen::SetFocusRows(int top, int bottom) {
  focusTop_ = top;
  focusBottom_ = bottom;
}

std::unique_ptr<FixedScreen> OpenFixedScreen(std::unique_ptr<Terminal> device, SizeNotice notice) {
  if (!device) return nullptr;
  if (device->Rows() < kScreenRows || device->Columns() < kScreenColumns)
    device->RequestSize(std::max(device->Rows(), kScreenRows), std::max(device->Columns(), kScreenColumns));
  return std::make_unique<FixedScreen>(std::move(device), kScreenRows, kScreenColumns, std::move(notice));
}

bool ParseScreenSize(std::string_view text, int& rows, int& columns) {
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string_view::npos) return false;
  const std::string_view c = text.substr(0, x), r = text.substr(x + 1);
  int cv = 0, rv = 0;
  const auto [cEnd, cErr] = std::from_chars(c.data(), c.data() + c.size(), cv);
  const auto [rEnd, rErr] = std::from_chars(r.data(), r.data() + r.size(), rv);
  if (c.empty() || r.empty() || cErr != std::errc() || rErr != std::errc() || cEnd != c.data() + c.size() ||
      rEnd != r.data() + r.size())
    return false;
  // Sizes no terminal has are typing errors.
  if (cv < 1 || rv < 1 || cv > 1000 || rv > 1000) return false;
  rows = rv;
  columns = cv;
  return true;
}

}  // namespace platform
